// Undoing groups, and the bank's own opening balance as the cashier's
// initialisation entered it.

#include "Reconcile.h"
#include "ReconcileRows.h"

namespace reconcile {

using namespace detail;

namespace {

// Undoes the groups listed in reconcile_undo, set by set: the rows of the
// account leave them, and the groups are marked undone. Each row taken out
// of a group gets an entry in its history naming the group (the row itself
// keeps no trace of it), all by one statement per table.
void undoListed(Database& db, const Account& account, const std::string& user) {
    const std::string now = nowText(db);
    for (const char* table : {"CaGlide", "CaCollateGlide"}) {
        Stmt h = db.prepare(
            std::string("INSERT INTO row_history (table_name, row_id, set_code, operation, "
                        "user_code, changed_at, program, ref_id) SELECT '") +
            table + "', id, set_code, 'unreconcile', ?2, ?3, ?4, reconcile_group FROM " + table +
            " WHERE as_code = ?1 AND " + inBookSets(account, 5) +
            " AND reconcile_group IN (SELECT id FROM reconcile_undo) ORDER BY id");
        h.bind(1, account.asCode).bind(2, user).bind(3, now).bind(4, ledgerhost::programName());
        bindBookSets(h, account, 5);
        h.run();
        Stmt s = db.prepare(std::string("UPDATE ") + table +
                            " SET reconciled = 0, reconcile_group = NULL WHERE as_code = ?1 AND " +
                            inBookSets(account, 2) +
                            " AND reconcile_group IN (SELECT id FROM reconcile_undo)");
        s.bind(1, account.asCode);
        bindBookSets(s, account, 2);
        s.run();
    }
    Stmt o = db.prepare(
        "UPDATE reconcile_opening_items SET reconcile_group = NULL WHERE set_code = ? AND "
        "as_code = ? AND reconcile_group IN (SELECT id FROM reconcile_undo)");
    o.bind(1, account.setCode).bind(2, account.asCode);
    o.run();
    // A group of its own is marked undone; a run's group gets a row of its own
    // that says who made it (the run) and who undid it.
    Stmt g = db.prepare(
        "UPDATE reconcile_groups SET undone_by = ?, undone_at = ? "
        "WHERE id IN (SELECT id FROM reconcile_undo)");
    g.bind(1, user).bind(2, now);
    g.run();
    Stmt r = db.prepare(
        "INSERT INTO reconcile_groups (id, set_code, as_code, made_by, made_at, automatic, "
        "undone_by, undone_at, program) SELECT u.id, r.set_code, r.as_code, r.made_by, r.made_at, "
        "1, ?, ?, r.program "
        "FROM reconcile_undo u JOIN reconcile_runs r ON u.id >= r.first_group AND "
        "u.id <= r.last_group WHERE NOT EXISTS (SELECT 1 FROM reconcile_groups k WHERE k.id = "
        "u.id)");
    r.bind(1, user).bind(2, now);
    r.run();
}

void startUndoList(Database& db) {
    db.exec(
        "CREATE TEMP TABLE IF NOT EXISTS reconcile_undo (id INTEGER PRIMARY KEY); "
        "DELETE FROM reconcile_undo;");
}

}  // namespace

void Reconciler::undoGroup(std::int64_t group) {
    Transaction t(db_);
    checkUnlocked();
    // A group of its own, or a run's group that has none (an undone one has).
    Stmt s = db_.prepare(
        "SELECT 1 FROM reconcile_groups WHERE id = ?1 AND set_code = ?2 AND as_code = ?3 "
        "AND undone_at IS NULL UNION ALL SELECT 1 FROM reconcile_runs WHERE first_group <= ?1 "
        "AND last_group >= ?1 AND set_code = ?2 AND as_code = ?3 "
        "AND NOT EXISTS (SELECT 1 FROM reconcile_groups WHERE id = ?1)");
    s.bind(1, group).bind(2, account_.setCode).bind(3, account_.asCode);
    if (!s.step()) throw ReconcileError("该对账记录已取消或不属于本账户，请重新查询。");
    startUndoList(db_);
    Stmt add = db_.prepare("INSERT INTO reconcile_undo (id) VALUES (?)");
    add.bind(1, group);
    add.run();
    undoListed(db_, account_, user_);
    t.commit();
}

int Reconciler::undoRange(const std::string& from, const std::string& until) {
    if (!from.empty()) dayNumber(from);
    if (!until.empty()) dayNumber(until);
    checkInYear(until);
    Transaction t(db_);
    checkUnlocked();
    startUndoList(db_);
    const std::string sets = inBookSets(account_, 4);
    Stmt s = db_.prepare(
        "INSERT INTO reconcile_undo (id) "
        "SELECT reconcile_group FROM CaGlide WHERE " +
        sets +
        " AND as_code = ?1 AND create_date >= ?2 AND create_date <= ?3 AND reconcile_group IS NOT "
        "NULL UNION SELECT reconcile_group FROM CaCollateGlide WHERE " +
        sets +
        " AND as_code = ?1 AND create_date >= ?2 AND create_date <= ?3 AND reconcile_group IS NOT "
        "NULL");
    s.bind(1, account_.asCode);
    s.bind(2, lowerBound(from)).bind(3, upperBound(until));
    bindBookSets(s, account_, 4);
    s.run();
    const int groups = db_.changes();
    undoListed(db_, account_, user_);
    t.commit();
    return groups;
}

std::optional<std::int64_t> Reconciler::bankOpening() {
    return ledgerhost::bankOpening(db_, account_.setCode, account_.asCode);
}

void Reconciler::setClosingBalance(const std::string& date, std::int64_t cents) {
    dayNumber(date);
    checkInYear(date);
    Transaction t(db_);
    checkUnlocked();
    Stmt s = db_.prepare(
        "INSERT INTO reconcile_closings (set_code, as_code, closing_date, cents, made_by, "
        "made_at) VALUES (?,?,?,?,?,?) ON CONFLICT (set_code, as_code, closing_date) DO UPDATE "
        "SET cents = excluded.cents, made_by = excluded.made_by, made_at = excluded.made_at");
    s.bind(1, account_.setCode).bind(2, account_.asCode).bind(3, date).bind(4, cents);
    s.bind(5, user_).bind(6, nowText(db_));
    s.run();
    t.commit();
}

void Reconciler::removeClosingBalance(const std::string& date) {
    Transaction t(db_);
    checkUnlocked();
    Stmt s = db_.prepare(
        "DELETE FROM reconcile_closings WHERE set_code = ? AND as_code = ? AND closing_date = ?");
    s.bind(1, account_.setCode).bind(2, account_.asCode).bind(3, date);
    s.run();
    t.commit();
}

std::optional<BankFigure> Reconciler::closingBalance(const std::string& date) {
    Stmt s = db_.prepare(
        "SELECT closing_date, cents, made_by, made_at FROM reconcile_closings "
        "WHERE set_code = ? AND as_code = ? AND closing_date = ?");
    s.bind(1, account_.setCode).bind(2, account_.asCode).bind(3, date);
    if (!s.step()) return std::nullopt;
    return BankFigure{s.text(0), s.i64(1), true, s.text(2), s.text(3)};
}

}  // namespace reconcile
