#pragma once

// What the parts of the reconciliation core share: the date bounds of a
// range, reading the opening items of one side, and marking rows as members
// of a group. Internal to the core (Reconcile.cpp, Matching.cpp, Groups.cpp,
// Report.cpp).

#include <cstdint>
#include <string>
#include <vector>

#include "Reconcile.h"
#include "SignIn.h"

namespace reconcile {

// The store's names, as the core's own files use them.
using ledgerhost::BulkInsert;
using ledgerhost::Database;
using ledgerhost::Stmt;
using ledgerhost::Transaction;

}  // namespace reconcile

namespace reconcile::detail {

// The account's book sets as a condition, "set_code IN (?3, ?4)" with the
// parameters numbered from `first`, and their binding.
const std::vector<std::string>& bookSetsOf(const Account& a);
std::string inBookSets(const Account& a, int first, const char* column = "set_code");
void bindBookSets(ledgerhost::Stmt& s, const Account& a, int first);

// The bounds of a date range for the queries: an empty end is open.
std::string lowerBound(const std::string& from);
std::string upperBound(const std::string& until);

// One side's opening items. They date from before the year: unreconciled ones
// show in every range; reconciled ones only in a range that begins by the end
// of January of the year they opened.
void openingRows(ledgerhost::Database& db, const Account& account, bool journal,
                 const std::string& from, bool unreconciledOnly, std::vector<SideRow>& out);

// Rows dated before this are carried into a range that begins at `from`:
// the earlier of `from` and the first day of the book set's open year, since
// the rows of years carried forward that are still unreconciled take part in
// every later range, as the opening items do. With an open `from` nothing is
// carried ("0000-00-00").
std::string carriedBefore(ledgerhost::Database& db, const Account& account,
                          const std::string& from);

// Now by the database's clock, as the groups record it (and the rows'
// history, which lists them among its steps): "YYYY-MM-DD HH:MM:SS".
std::string nowText(ledgerhost::Database& db);

// The next free group id: above every manual group and every run's groups.
std::int64_t nextGroupId(ledgerhost::Database& db);

// A manual group of the account, made now by `user`.
std::int64_t makeManualGroup(ledgerhost::Database& db, const Account& a, const std::string& user);

// Marks rows as members of a group with prepared statements; a row that is
// gone or already in a group fails the whole command.
class Marker {
  public:
    explicit Marker(ledgerhost::Database& db)
        : journal_(db.prepare("UPDATE CaGlide SET reconciled = 1, reconcile_group = ? "
                              "WHERE id = ? AND reconcile_group IS NULL")),
          statement_(db.prepare("UPDATE CaCollateGlide SET reconciled = 1, reconcile_group = ? "
                                "WHERE id = ? AND reconcile_group IS NULL")),
          opening_(db.prepare("UPDATE reconcile_opening_items SET reconcile_group = ? "
                              "WHERE id = ? AND reconcile_group IS NULL")),
          db_(db) {}
    void mark(const RowRef& ref, std::int64_t group) {
        ledgerhost::Stmt& s = ref.source == Source::Journal     ? journal_
                              : ref.source == Source::Statement ? statement_
                                                                : opening_;
        s.reset();
        s.bind(1, group).bind(2, ref.id);
        s.run();
        if (db_.changes() != 1)
            throw ReconcileError("记录已被其他人对账或删除，本次对账没有保存，请重新查询。");
    }

  private:
    ledgerhost::Stmt journal_, statement_, opening_;
    ledgerhost::Database& db_;
};

}  // namespace reconcile::detail
