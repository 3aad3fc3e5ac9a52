#include "OfficeRules.h"

#include <algorithm>

namespace ledgerhost::office {

void checkCode(const std::string& what, const std::string& code) {
    if (code.empty()) throw StoreError(what + "编码不能为空。");
    if (std::any_of(code.begin(), code.end(),
                    [](char c) { return static_cast<unsigned char>(c) <= ' '; }))
        throw StoreError(what + "编码“" + code + "”不能含空格。");
    if (code.size() > 30) throw StoreError(what + "编码“" + code + "”太长（最多 30 个字符）。");
}

void checkName(const std::string& what, const std::string& name) {
    if (name.find_first_not_of(" \t") == std::string::npos)
        throw StoreError(what + "名称不能为空。");
    if (name.find_first_of("\r\n") != std::string::npos) throw StoreError(what + "名称不能换行。");
    if (name.size() > 200) throw StoreError(what + "名称太长。");
}

TBookSet existingBookSet(Database& db, const std::string& code, bool closedToo) {
    auto book = TBookSet::load(db, code);
    if (!book) throw StoreError("账套 " + code + " 不存在。");
    if (book->Closed && !closedToo) throw StoreError("账套 " + code + " 已关闭。");
    return *book;
}

bool bookSetHasRows(Database& db, const std::string& setCode) {
    Stmt s = db.prepare(
        "SELECT 1 FROM CaGlide WHERE set_code = ?1 UNION ALL "
        "SELECT 1 FROM CaCollateGlide WHERE set_code = ?1 LIMIT 1");
    s.bind(1, setCode);
    return s.step();
}

std::string nowText(Database& db) {
    return db.serverTime();
}

}  // namespace ledgerhost::office
