// Undoing groups, and the bank's own opening balance as the cashier's
// initialisation entered it.

#include "Reconcile.h"
#include "ReconcileRows.h"

using ledgerhost::BulkInsert;
using ledgerhost::Database;
using ledgerhost::Stmt;
using ledgerhost::Transaction;

namespace reconcile {

using namespace detail;

namespace {

// Undoes the groups listed in reconcile_undo, set by set: the rows of the
// account leave them, and the groups are marked undone.
void undoListed(Database& db, const Account& account, const std::string& user) {
    for (const char* table : {"CaGlide", "CaCollateGlide"}) {
        Stmt s = db.prepare(std::string("UPDATE ") + table +
                            " SET reconciled = 0, reconcile_group = NULL WHERE set_code = ? AND "
                            "as_code = ? AND reconcile_group IN (SELECT id FROM reconcile_undo)");
        s.bind(1, account.setCode).bind(2, account.asCode);
        s.run();
    }
    Stmt o = db.prepare(
        "UPDATE reconcile_opening_items SET reconcile_group = NULL WHERE set_code = ? AND "
        "as_code = ? AND reconcile_group IN (SELECT id FROM reconcile_undo)");
    o.bind(1, account.setCode).bind(2, account.asCode);
    o.run();
    // A group of its own is marked undone; a run's group gets a row of its own
    // that says who made it (the run) and who undid it.
    const std::string now = nowText();
    Stmt g = db.prepare(
        "UPDATE reconcile_groups SET undone_by = ?, undone_at = ? "
        "WHERE id IN (SELECT id FROM reconcile_undo)");
    g.bind(1, user).bind(2, now);
    g.run();
    Stmt r = db.prepare(
        "INSERT INTO reconcile_groups (id, set_code, as_code, made_by, made_at, automatic, "
        "undone_by, undone_at) SELECT u.id, r.set_code, r.as_code, r.made_by, r.made_at, 1, ?, ? "
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
    Transaction t(db_);
    startUndoList(db_);
    Stmt s = db_.prepare(
        "INSERT INTO reconcile_undo (id) "
        "SELECT reconcile_group FROM CaGlide WHERE set_code = ?1 AND as_code = ?2 "
        "AND create_date >= ?3 AND create_date <= ?4 AND reconcile_group IS NOT NULL "
        "UNION SELECT reconcile_group FROM CaCollateGlide WHERE set_code = ?1 AND as_code = ?2 "
        "AND create_date >= ?3 AND create_date <= ?4 AND reconcile_group IS NOT NULL");
    s.bind(1, account_.setCode).bind(2, account_.asCode);
    s.bind(3, lowerBound(from)).bind(4, upperBound(until));
    s.run();
    const int groups = db_.changes();
    undoListed(db_, account_, user_);
    t.commit();
    return groups;
}

std::int64_t Reconciler::bankOpening() {
    Stmt s = db_.prepare(
        "SELECT bank_opening_cents FROM reconcile_openings WHERE set_code = ? AND as_code = ?");
    s.bind(1, account_.setCode).bind(2, account_.asCode);
    return s.step() ? s.i64(0) : 0;
}

}  // namespace reconcile
