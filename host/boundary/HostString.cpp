#include "HostString.h"

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <new>

namespace ledgerhost {
namespace {

struct Header {
    std::atomic<int> refs;
    std::size_t length;
};

Header* headerOf(HostStr s) {
    return reinterpret_cast<Header*>(s - sizeof(Header));
}

}  // namespace

HostStr hostStrNew(std::string_view bytes) {
    if (bytes.empty()) return nullptr;
    void* block = std::malloc(sizeof(Header) + bytes.size() + 1);
    if (!block) throw std::bad_alloc();
    auto* h = new (block) Header{{1}, bytes.size()};
    char* chars = reinterpret_cast<char*>(h + 1);
    std::memcpy(chars, bytes.data(), bytes.size());
    chars[bytes.size()] = '\0';
    return chars;
}

HostStr hostStrAddRef(HostStr s) {
    if (s) headerOf(s)->refs.fetch_add(1, std::memory_order_relaxed);
    return s;
}

void hostStrRelease(HostStr* var) {
    if (!var || !*var) return;
    Header* h = headerOf(*var);
    *var = nullptr;
    if (h->refs.fetch_sub(1, std::memory_order_acq_rel) == 1) {
        h->~Header();
        std::free(h);
    }
}

void hostStrAssign(HostStr* var, std::string_view bytes) {
    HostStr fresh = hostStrNew(bytes);
    hostStrRelease(var);
    *var = fresh;
}

std::size_t hostStrLength(HostStr s) {
    return s ? headerOf(s)->length : 0;
}

int hostStrRefCount(HostStr s) {
    return s ? headerOf(s)->refs.load() : 0;
}

std::string hostStrValue(HostStr s) {
    return s ? std::string(s, headerOf(s)->length) : std::string();
}

}  // namespace ledgerhost
