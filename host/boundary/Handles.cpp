#include "Handles.h"

#include <cstring>
#include <mutex>
#include <string>
#include <unordered_map>

namespace ledgerhost {
namespace {

struct Entry {
    void* object;
    std::string type;  // type names compare equal across shared objects
};

struct Table {
    std::mutex mutex;
    std::unordered_map<std::uint32_t, Entry> entries;
    std::uint32_t next = 1;
};

Table& table() {
    static Table t;
    return t;
}

}  // namespace

std::uint32_t handleAdd(void* object, const std::type_info& type) {
    if (!object) return 0;
    Table& t = table();
    std::lock_guard lock(t.mutex);
    std::uint32_t h = t.next++;
    if (t.next == 0) t.next = 1;
    t.entries[h] = Entry{object, type.name()};
    return h;
}

void* handleGet(std::uint32_t handle, const std::type_info& type) {
    if (handle == 0) return nullptr;
    Table& t = table();
    std::lock_guard lock(t.mutex);
    auto it = t.entries.find(handle);
    if (it == t.entries.end() || it->second.type != type.name()) return nullptr;
    return it->second.object;
}

void handleRemove(std::uint32_t handle) {
    Table& t = table();
    std::lock_guard lock(t.mutex);
    t.entries.erase(handle);
}

std::uint32_t handleFind(const void* object, const std::type_info& type) {
    Table& t = table();
    std::lock_guard lock(t.mutex);
    for (const auto& [h, e] : t.entries)
        if (e.object == object && e.type == type.name()) return h;
    return 0;
}

}  // namespace ledgerhost
