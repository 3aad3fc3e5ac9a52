#include "History.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QVariant>
#include <map>
#include <set>

#include "DayTotals.h"
#include "Glide.h"
#include "GlideParts.h"
#include "Numbers.h"
#include "Records.h"
#include "SignIn.h"
#include "Users.h"

namespace ledgerhost {

using glide::checkedTable;

namespace {

QJsonObject parsed(const std::string& json) {
    return QJsonDocument::fromJson(QByteArray::fromStdString(json)).object();
}

std::string text(const QJsonObject& o, const char* key) {
    const QJsonValue v = o.value(QLatin1String(key));
    if (v.isString()) return v.toString().toStdString();
    if (v.isDouble()) return QString::number(v.toInteger()).toStdString();
    return {};
}

std::int64_t integer(const QJsonObject& o, const char* key) {
    return o.value(QLatin1String(key)).toInteger();
}

// The fields a person reads, in the order the entry dialog shows them; the
// bookkeeping columns (id, version, reconciliation marks) are left out.
struct Field {
    const char* column;
    const char* caption;
    bool cents;
};
const Field kFields[] = {
    {"create_date", "日期", false},  {"date_or_no", "统一号", false},
    {"as_code", "账户", false},      {"summary", "摘要", false},
    {"deb_cents", "借方金额", true}, {"cre_cents", "贷方金额", true},
    {"pay_code", "支票号", false},   {"pm_code", "结算方式", false},
    {"cr_code", "对方单位", false},  {"dp_code", "部门", false},
    {"remark", "备注", false},       {"voucher_id", "凭证", false},
    {"apply_user", "录入人", false}, {"set_code", "账套", false},
};

std::string shown(const QJsonObject& o, const Field& f) {
    if (f.cents) return formatCents(integer(o, f.column));
    const std::string t = text(o, f.column);
    return t.empty() ? "（空）" : t;
}

// "日期 2024-03-01，统一号 5，摘要 …": the row as a person reads it.
std::string describeRow(const std::string& json) {
    const QJsonObject o = parsed(json);
    std::string out;
    for (const Field& f : kFields) {
        if (!f.cents && text(o, f.column).empty()) continue;
        if (std::string(f.column) == "set_code" || std::string(f.column) == "apply_user") continue;
        out += (out.empty() ? "" : "，") + std::string(f.caption) + " " + shown(o, f);
    }
    return out;
}

// "摘要：甲 → 乙；借方金额：100.00 → 200.00": what an update changed.
std::string describeChange(const std::string& before, const std::string& after) {
    const QJsonObject a = parsed(before), b = parsed(after);
    std::string out;
    for (const Field& f : kFields) {
        if (a.value(QLatin1String(f.column)) == b.value(QLatin1String(f.column))) continue;
        out += (out.empty() ? "" : "；") + std::string(f.caption) + "：" + shown(a, f) + " → " +
               shown(b, f);
    }
    return out.empty() ? "内容没有变化" : out;
}

std::map<std::string, std::string> userNames(Database& db) {
    std::map<std::string, std::string> out;
    Stmt s = db.prepare("SELECT code, name FROM users");
    while (s.step()) out[s.text(0)] = s.text(1);
    return out;
}

// Who made a reconciliation group and when: the group's own row (a manual
// group, or a run's group that was undone), else the run it belongs to.
std::optional<HistoryEntry> groupMade(Database& db, std::int64_t group) {
    Stmt g = db.prepare(
        "SELECT made_by, made_at, automatic, program FROM reconcile_groups WHERE id = ?");
    g.bind(1, group);
    HistoryEntry e;
    e.Operation = "reconcile";
    if (g.step()) {
        e.User = g.text(0);
        e.At = g.text(1);
        e.Program = g.text(3);
        e.Description =
            std::string(g.i32(2) ? "自动对账" : "手工对账") + "，对账组 " + std::to_string(group);
        return e;
    }
    Stmt r = db.prepare(
        "SELECT made_by, made_at, program FROM reconcile_runs WHERE first_group <= ?1 AND "
        "last_group >= ?1");
    r.bind(1, group);
    if (!r.step()) return std::nullopt;
    e.User = r.text(0);
    e.At = r.text(1);
    e.Program = r.text(2);
    e.Description = "自动对账，对账组 " + std::to_string(group);
    return e;
}

std::string importNote(Database& db, std::int64_t refId, std::int64_t rows) {
    if (refId > 0) {
        Stmt s = db.prepare("SELECT file_name, row_count FROM import_log WHERE id = ?");
        s.bind(1, refId);
        if (s.step()) return "导入文件 " + s.text(0) + "（共 " + std::to_string(s.i64(1)) + " 行）";
    }
    return "从凭证中导入（共 " + std::to_string(rows) + " 行）";
}

bool plainName(const QString& name) {
    if (name.isEmpty()) return false;
    for (QChar c : name)
        if (!(c.isDigit() || c == QLatin1Char('_') ||
              (c >= QLatin1Char('a') && c <= QLatin1Char('z'))))
            return false;
    return !name.front().isDigit();
}

std::string nameOf(const std::map<std::string, std::string>& names, const std::string& code) {
    const auto it = names.find(code);
    return it == names.end() || it->second.empty() ? code : it->second;
}

}  // namespace

std::string rowValues(Database& db, const std::string& table, std::int64_t id) {
    Stmt s = db.prepare("SELECT * FROM " + checkedTable(table) + " WHERE id = ?");
    s.bind(1, id);
    if (!s.step()) return {};
    QJsonObject o;
    for (int c = 0; c < s.columnCount(); ++c) {
        const QString name = QString::fromStdString(s.columnName(c));
        switch (s.columnKind(c)) {
            case Stmt::Kind::Null:
                o.insert(name, QJsonValue::Null);
                break;
            case Stmt::Kind::Integer:
                o.insert(name, QJsonValue(static_cast<qint64>(s.i64(c))));
                break;
            case Stmt::Kind::Real:
                o.insert(name, s.dbl(c));
                break;
            case Stmt::Kind::Text:
                o.insert(name, QString::fromStdString(s.text(c)));
                break;
        }
    }
    return QJsonDocument(o).toJson(QJsonDocument::Compact).toStdString();
}

std::string operationName(const std::string& operation) {
    static const std::map<std::string, std::string> names = {
        {"insert", "新增"},  {"import", "导入"},    {"update", "修改"},          {"delete", "删除"},
        {"restore", "恢复"}, {"reconcile", "对账"}, {"unreconcile", "取消对账"},
    };
    const auto it = names.find(operation);
    return it == names.end() ? operation : it->second;
}

void recordRowChange(Database& db, const std::string& table, std::int64_t id,
                     const std::string& setCode, const std::string& operation,
                     const std::string& user, const std::string& before, const std::string& after) {
    Stmt s = db.prepare(
        "INSERT INTO row_history (table_name, row_id, set_code, operation, user_code, "
        "changed_at, program, before_values, after_values) VALUES (?,?,?,?,?,?,?,?,?)");
    s.bind(1, checkedTable(table)).bind(2, id).bind(3, setCode).bind(4, operation);
    s.bind(5, user).bind(6, db.serverTime()).bind(7, programName());
    if (before.empty())
        s.bindNull(8);
    else
        s.bind(8, before);
    if (after.empty())
        s.bindNull(9);
    else
        s.bind(9, after);
    s.run();
}

namespace {

std::int64_t highestId(Database& db, const std::string& table) {
    Stmt s = db.prepare("SELECT COALESCE(MAX(id), 0) FROM " + checkedTable(table));
    s.step();
    return s.i64(0);
}

}  // namespace

BatchHistory::BatchHistory(Database& db, std::string table)
    : db_(db), table_(std::move(table)), before_(highestId(db, table_)) {}

void BatchHistory::record(const std::string& setCode, const std::string& user, std::int64_t refId) {
    const std::int64_t last = highestId(db_, table_);
    if (last <= before_) return;
    Stmt s = db_.prepare(
        "INSERT INTO row_history (table_name, row_id, last_row_id, set_code, operation, "
        "user_code, changed_at, program, ref_id) VALUES (?,?,?,?,'import',?,?,?,?)");
    s.bind(1, table_).bind(2, before_ + 1).bind(3, last).bind(4, setCode).bind(5, user);
    s.bind(6, db_.serverTime()).bind(7, programName());
    if (refId > 0)
        s.bind(8, refId);
    else
        s.bindNull(8);
    s.run();
}

std::vector<HistoryEntry> rowHistory(Database& db, const std::string& table, std::int64_t id) {
    checkedTable(table);
    std::vector<HistoryEntry> out;
    bool inserted = false;
    {
        Stmt s = db.prepare(
            "SELECT operation, changed_at, user_code, program, before_values, after_values, "
            "ref_id FROM row_history WHERE table_name = ? AND row_id = ? AND last_row_id IS NULL "
            "ORDER BY id");
        s.bind(1, table).bind(2, id);
        while (s.step()) {
            HistoryEntry e{s.text(0), s.text(1), s.text(2), {},
                           s.text(3), s.text(4), s.text(5), {}};
            inserted = inserted || e.Operation == "insert";
            if (e.Operation == "update")
                e.Description = describeChange(e.Before, e.After);
            else if (e.Operation == "delete")
                e.Description = describeRow(e.Before);
            else if (e.Operation == "unreconcile" && !s.isNull(6))
                e.Description = "取消对账组 " + std::to_string(s.i64(6));
            else
                e.Description = describeRow(e.After);
            // A group undone was made before: its making goes just before.
            if (e.Operation == "unreconcile" && !s.isNull(6))
                if (auto made = groupMade(db, s.i64(6))) out.push_back(std::move(*made));
            out.push_back(std::move(e));
        }
    }
    if (!inserted) {
        // The import that brought the row in: imports' id ranges do not
        // overlap, so it is the last one starting at or before the row.
        Stmt s = db.prepare(
            "SELECT changed_at, user_code, program, ref_id, row_id, last_row_id FROM row_history "
            "WHERE table_name = ? AND operation = 'import' AND row_id <= ? ORDER BY row_id DESC "
            "LIMIT 1");
        s.bind(1, table).bind(2, id);
        if (s.step() && s.i64(5) >= id) {
            HistoryEntry e{"import", s.text(0), s.text(1), {}, s.text(2), {}, {}, {}};
            e.Description = importNote(db, s.isNull(3) ? 0 : s.i64(3), s.i64(5) - s.i64(4) + 1);
            out.insert(out.begin(), std::move(e));
        }
    }
    // A group the row is in now is its latest step: a reconciled row cannot
    // be changed until the group is undone.
    {
        Stmt s = db.prepare("SELECT reconcile_group FROM " + table + " WHERE id = ?");
        s.bind(1, id);
        if (s.step() && !s.isNull(0))
            if (auto made = groupMade(db, s.i64(0))) out.push_back(std::move(*made));
    }
    const auto names = userNames(db);
    for (HistoryEntry& e : out) {
        const auto it = names.find(e.User);
        if (it != names.end()) e.UserName = it->second;
    }
    return out;
}

std::vector<DeletedRow> deletedRows(Database& db, const std::string& setCode) {
    std::vector<DeletedRow> out;
    std::set<std::pair<std::string, std::int64_t>> seen;
    Stmt s = db.prepare(
        "SELECT h.table_name, h.row_id, h.before_values, h.user_code, h.changed_at, h.program "
        "FROM row_history h WHERE h.set_code = ? AND h.operation = 'delete' "
        "AND NOT EXISTS (SELECT 1 FROM CaGlide t WHERE h.table_name = 'CaGlide' AND t.id = "
        "h.row_id) AND NOT EXISTS (SELECT 1 FROM CaCollateGlide t WHERE h.table_name = "
        "'CaCollateGlide' AND t.id = h.row_id) ORDER BY h.id DESC");
    s.bind(1, setCode);
    while (s.step()) {
        DeletedRow r{s.text(0), s.i64(1), s.text(2), s.text(3), {}, s.text(4), s.text(5)};
        if (seen.insert({r.Table, r.Id}).second) out.push_back(std::move(r));
    }
    const auto names = userNames(db);
    for (DeletedRow& r : out) r.DeletedByName = nameOf(names, r.DeletedBy);
    return out;
}

void restoreDeletedRow(Database& db, const std::string& actor, const std::string& table,
                       std::int64_t id) {
    checkedTable(table);
    Transaction t(db);
    requireAdministrator(db, actor);
    std::string values;
    {
        Stmt s = db.prepare(
            "SELECT before_values FROM row_history WHERE table_name = ? AND row_id = ? AND "
            "operation = 'delete' ORDER BY id DESC LIMIT 1");
        s.bind(1, table).bind(2, id);
        if (!s.step() || s.isNull(0))
            throw StoreError("没有这条记录（编号 " + std::to_string(id) +
                             "）的删除记录，无法恢复。");
        values = s.text(0);
    }
    {
        Stmt s = db.prepare("SELECT 1 FROM " + table + " WHERE id = ?");
        s.bind(1, id);
        if (s.step()) throw StoreError("这条记录已经恢复，不能再恢复一次。");
    }
    const QJsonObject row = parsed(values);
    const std::string set = text(row, "set_code"), as = text(row, "as_code"),
                      date = text(row, "create_date"), summary = text(row, "summary");
    const std::int64_t number = integer(row, "date_or_no");
    auto book = TBookSet::load(db, set);
    if (!book) throw StoreError("账套 " + set + " 已不存在，不能恢复这条记录。");
    if (book->Closed) throw StoreError("账套 " + set + " 已关闭，不能恢复这条记录。");
    if (book->EntryLocked) throw StoreError("账套 " + book->DispCode + " 已锁定，不能恢复记录。");
    if (!closedYearProblem(*book, date).empty())
        throw StoreError("这条记录的日期 " + date + " 所在的年度已经结转，不能恢复。");
    if (std::string why = journalRowProblem(*book, date, summary); !why.empty())
        throw StoreError("不能恢复这条记录：" + why);
    BankAccountPtr account = accountForRows(db, set, as);
    if (!account) throw StoreError("账户 " + as + " 已不存在，不能恢复这条记录。");
    if (account->State != kAccountInUse)
        throw StoreError("账号 " + account->AccountNo + " 已停用，不能恢复这条记录。");
    {
        Stmt s = db.prepare("SELECT 1 FROM " + table +
                            " WHERE set_code = ? AND as_code = ? AND date_or_no = ?");
        s.bind(1, set).bind(2, as).bind(3, number);
        if (s.step())
            throw StoreError("统一号 " + std::to_string(number) + " 已被账号 " +
                             account->AccountNo + " 的另一条记录使用，不能恢复这条记录。");
    }
    // Every column as it was; the names come from the store's own JSON, and
    // only plain column names are put into the statement.
    std::string columns, marks;
    std::vector<QJsonValue> bound;
    for (auto it = row.begin(); it != row.end(); ++it) {
        if (!plainName(it.key())) throw StoreError("删除记录中的列名不对，无法恢复。");
        columns += (columns.empty() ? "" : ", ") + it.key().toStdString();
        marks += marks.empty() ? "?" : ", ?";
        bound.push_back(it.value());
    }
    Stmt ins = db.prepare("INSERT INTO " + table + " (" + columns + ") VALUES (" + marks + ")");
    for (std::size_t i = 0; i < bound.size(); ++i) {
        const int at = static_cast<int>(i + 1);
        const QJsonValue& v = bound[i];
        const QVariant var = v.toVariant();
        if (v.isNull() || v.isUndefined())
            ins.bindNull(at);
        else if (v.isString())
            ins.bind(at, v.toString().toStdString());
        else if (var.typeId() == QMetaType::LongLong || var.typeId() == QMetaType::Int)
            ins.bind(at, static_cast<std::int64_t>(v.toInteger()));
        else
            ins.bind(at, v.toDouble());
    }
    ins.run();
    // The kept day totals take the row back as every other writer does.
    DayTotalsChange kept;
    kept.add(set, as, date, integer(row, "deb_cents"), integer(row, "cre_cents"));
    kept.apply(db, table);
    recordRowChange(db, table, id, set, "restore", actor, {}, rowValues(db, table, id));
    t.commit();
}

std::string rowChangedProblem(Database& db, const std::string& table, std::int64_t id,
                              std::int64_t version) {
    Stmt s = db.prepare("SELECT row_version FROM " + checkedTable(table) + " WHERE id = ?");
    s.bind(1, id);
    const bool exists = s.step();
    if (exists && s.i64(0) == version) return {};
    // Who changed it last, and when.
    Stmt h = db.prepare(
        "SELECT user_code, changed_at FROM row_history WHERE table_name = ? AND row_id = ? AND "
        "operation IN ('update', 'delete', 'restore') AND last_row_id IS NULL ORDER BY id DESC "
        "LIMIT 1");
    h.bind(1, table).bind(2, id);
    if (!h.step())
        return exists ? "这条记录已被其他用户修改，请刷新后再操作。"
                      : "该记录已不存在，可能已被删除。";
    const std::string who = nameOf(userNames(db), h.text(0));
    if (!exists)
        return "该记录已不存在：已被 " + who + " 于 " + h.text(1) + " 删除，请刷新后再操作。";
    return "这条记录已被 " + who + " 于 " + h.text(1) + " 修改，请刷新后再操作。";
}

}  // namespace ledgerhost
