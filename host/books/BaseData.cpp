#include "BaseData.h"

#include <cstdio>
#include <optional>

#include "OfficeRules.h"
#include "Records.h"
#include "Users.h"

namespace ledgerhost {

using office::checkCode;
using office::checkName;

namespace {

// Kept in base_info, with inner codes of their own; the column of the rows
// (journal rows and voucher lines) that names an item; the inner codes'
// prefix.
struct InfoKind {
    const char* kind;
    const char* name;
    const char* rowColumn;
    const char* prefix;
};
constexpr InfoKind kInfoKinds[] = {
    {kPayMode, "结算方式", "pm_code", "PM"},
    {kDepartment, "部门", "dp_code", "DP"},
    {kCurrents, "对方单位", "cr_code", "CU"},
};

const InfoKind* infoKind(const std::string& kind) {
    for (const InfoKind& k : kInfoKinds)
        if (kind == k.kind) return &k;
    return nullptr;
}

void checkKind(const std::string& kind, const std::string& setCode, Database& db) {
    if (baseKindName(kind).empty())
        throw StoreError("没有“" + kind +
                         "”这类基础资料（可用 PAY_MODE、DEPARTMENT、CURRENTS、SUMMARY、"
                         "VOUCHER_TYPE）。");
    if (kind == kVoucherTypeKind) {
        if (setCode.empty()) throw StoreError("凭证类别属于账套，请指定账套。");
        office::existingBookSet(db, setCode);
    }
}

// The voucher type's number from its code.
int voucherTypeId(const std::string& code) {
    if (code.empty() || code.size() > 6 ||
        code.find_first_not_of("0123456789") != std::string::npos || std::stoi(code) <= 0)
        throw StoreError("凭证类别的编码应为正整数，而不是“" + code + "”。");
    return std::stoi(code);
}

std::optional<BaseItem> find(Database& db, const std::string& kind, const std::string& code,
                             const std::string& setCode) {
    for (BaseItem& i : listBaseItems(db, kind, setCode))
        if (i.Code == code) return i;
    return std::nullopt;
}

// Why the item may not be deleted: a row names it.
bool inUse(Database& db, const std::string& kind, const BaseItem& item,
           const std::string& setCode) {
    if (const InfoKind* k = infoKind(kind)) {
        const std::string col = k->rowColumn;
        Stmt s = db.prepare("SELECT 1 FROM CaGlide WHERE " + col +
                            " = ?1 UNION ALL SELECT 1 FROM CaCollateGlide WHERE " + col +
                            " = ?1 UNION ALL SELECT 1 FROM voucher_lines WHERE " + col +
                            " = ?1 LIMIT 1");
        s.bind(1, item.InCode);
        return s.step();
    }
    if (kind == kVoucherTypeKind) {
        Stmt s = db.prepare(
            "SELECT 1 FROM CaGlide WHERE set_code = ?1 AND voucher_class = ?2 UNION ALL "
            "SELECT 1 FROM CaCollateGlide WHERE set_code = ?1 AND voucher_class = ?2 UNION ALL "
            "SELECT 1 FROM vouchers WHERE set_code = ?1 AND voucher_class = ?2 LIMIT 1");
        s.bind(1, setCode).bind(2, voucherTypeId(item.Code));
        return s.step();
    }
    return false;  // summaries are copied into rows as text
}

// A free inner code: the kind's prefix and the next number.
std::string newInCode(Database& db, const InfoKind& k) {
    Stmt taken = db.prepare("SELECT 1 FROM base_info WHERE kind = ? AND in_code = ?");
    Stmt count = db.prepare("SELECT COUNT(*) FROM base_info WHERE kind = ?");
    count.bind(1, k.kind);
    count.step();
    for (std::int64_t n = count.i64(0) + 1;; ++n) {
        char code[32];
        std::snprintf(code, sizeof code, "%s%02lld", k.prefix, static_cast<long long>(n));
        taken.reset();
        taken.bind(1, k.kind).bind(2, code);
        if (!taken.step()) return code;
    }
}

std::string described(const std::string& kind, const BaseItem& i) {
    return baseKindName(kind) + " " + i.Code + " " + i.Name;
}

}  // namespace

const std::vector<std::string>& baseKinds() {
    static const std::vector<std::string> kinds = {kPayMode, kDepartment, kCurrents, kSummaryKind,
                                                   kVoucherTypeKind};
    return kinds;
}

std::string baseKindName(const std::string& kind) {
    if (const InfoKind* k = infoKind(kind)) return k->name;
    if (kind == kSummaryKind) return "常用摘要";
    if (kind == kVoucherTypeKind) return "凭证类别";
    return {};
}

std::vector<BaseItem> listBaseItems(Database& db, const std::string& kind,
                                    const std::string& setCode) {
    std::vector<BaseItem> out;
    if (infoKind(kind)) {
        Stmt s = db.prepare(
            "SELECT in_code, code, name FROM base_info WHERE kind = ? ORDER BY position, code");
        s.bind(1, kind);
        while (s.step()) out.push_back({s.text(0), s.text(1), s.text(2)});
    } else if (kind == kSummaryKind) {
        Stmt s = db.prepare("SELECT code, text FROM summaries ORDER BY code");
        while (s.step()) out.push_back({s.text(0), s.text(0), s.text(1)});
    } else if (kind == kVoucherTypeKind) {
        Stmt s = db.prepare("SELECT id, name FROM voucher_types WHERE set_code = ? ORDER BY id");
        s.bind(1, setCode);
        while (s.step()) {
            const std::string id = std::to_string(s.i64(0));
            out.push_back({id, id, s.text(1)});
        }
    }
    return out;
}

std::string addBaseItem(Database& db, const std::string& actor, const std::string& kind,
                        const BaseItem& item, const std::string& setCode) {
    Transaction t(db);
    requireAdministrator(db, actor);
    checkKind(kind, setCode, db);
    checkCode(baseKindName(kind), item.Code);
    checkName(baseKindName(kind), item.Name);
    if (auto other = find(db, kind, item.Code, setCode))
        throw StoreError(baseKindName(kind) + "编码 " + item.Code + " 已经存在（" + other->Name +
                         "）。");
    std::string inCode = item.Code;
    if (const InfoKind* k = infoKind(kind)) {
        inCode = newInCode(db, *k);
        Stmt s = db.prepare(
            "INSERT INTO base_info (kind, in_code, code, name, position) SELECT ?1, ?2, ?3, ?4, "
            "COALESCE(MAX(position), 0) + 1 FROM base_info WHERE kind = ?1");
        s.bind(1, kind).bind(2, inCode).bind(3, item.Code).bind(4, item.Name);
        s.run();
    } else if (kind == kSummaryKind) {
        Stmt s = db.prepare("INSERT INTO summaries (code, text) VALUES (?, ?)");
        s.bind(1, item.Code).bind(2, item.Name);
        s.run();
    } else {
        Stmt s = db.prepare("INSERT INTO voucher_types (set_code, id, name) VALUES (?, ?, ?)");
        s.bind(1, setCode).bind(2, voucherTypeId(item.Code)).bind(3, item.Name);
        s.run();
    }
    t.commit();
    return inCode;
}

void editBaseItem(Database& db, const std::string& actor, const std::string& kind,
                  const std::string& code, const BaseItem& item, const std::string& setCode) {
    Transaction t(db);
    requireAdministrator(db, actor);
    checkKind(kind, setCode, db);
    auto stored = find(db, kind, code, setCode);
    if (!stored) throw StoreError(baseKindName(kind) + " " + code + " 不存在。");
    checkName(baseKindName(kind), item.Name);
    const std::string newCode = kind == kVoucherTypeKind || item.Code.empty() ? code : item.Code;
    if (newCode != code) {
        checkCode(baseKindName(kind), newCode);
        if (auto other = find(db, kind, newCode, setCode))
            throw StoreError(baseKindName(kind) + "编码 " + newCode + " 已经存在（" + other->Name +
                             "）。");
    }
    if (infoKind(kind)) {
        Stmt s =
            db.prepare("UPDATE base_info SET code = ?, name = ? WHERE kind = ? AND in_code = ?");
        s.bind(1, newCode).bind(2, item.Name).bind(3, kind).bind(4, stored->InCode);
        s.run();
    } else if (kind == kSummaryKind) {
        Stmt s = db.prepare("UPDATE summaries SET code = ?, text = ? WHERE code = ?");
        s.bind(1, newCode).bind(2, item.Name).bind(3, code);
        s.run();
    } else {
        Stmt s = db.prepare("UPDATE voucher_types SET name = ? WHERE set_code = ? AND id = ?");
        s.bind(1, item.Name).bind(2, setCode).bind(3, voucherTypeId(code));
        s.run();
    }
    t.commit();
}

void deleteBaseItem(Database& db, const std::string& actor, const std::string& kind,
                    const std::string& code, const std::string& setCode) {
    Transaction t(db);
    requireAdministrator(db, actor);
    checkKind(kind, setCode, db);
    auto stored = find(db, kind, code, setCode);
    if (!stored) throw StoreError(baseKindName(kind) + " " + code + " 不存在。");
    if (inUse(db, kind, *stored, setCode))
        throw StoreError(described(kind, *stored) + " 已被记录使用，不能删除（可以改名）。");
    if (infoKind(kind)) {
        Stmt s = db.prepare("DELETE FROM base_info WHERE kind = ? AND in_code = ?");
        s.bind(1, kind).bind(2, stored->InCode);
        s.run();
    } else if (kind == kSummaryKind) {
        Stmt s = db.prepare("DELETE FROM summaries WHERE code = ?");
        s.bind(1, code);
        s.run();
    } else {
        Stmt s = db.prepare("DELETE FROM voucher_types WHERE set_code = ? AND id = ?");
        s.bind(1, setCode).bind(2, voucherTypeId(code));
        s.run();
    }
    t.commit();
}

}  // namespace ledgerhost
