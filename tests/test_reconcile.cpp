// Bank reconciliation core: automatic and manual matching, undo, the rows'
// reconciled mark, opening items and the balance reconciliation statement.
#include <gtest/gtest.h>

#include <functional>
#include <optional>

#include "CashierInit.h"
#include "Fixture.h"
#include "Glide.h"
#include "JournalHelpers.h"
#include "Reconcile.h"

using namespace ledgerhost;
using namespace testutil;
using reconcile::ReconcileError;
using reconcile::Reconciler;
using reconcile::RowRef;
using reconcile::Source;

namespace {

class ReconcileTest : public BookTest {
  protected:
    Reconciler rec() {
        return Reconciler(db(), Reconciler::findAccount(db(), "001", "6222001"), "u1");
    }
    // A bank-journal row (in = debit) or a statement row (in = credit).
    std::int64_t journal(const std::string& date, double in, double out,
                         const std::string& cheque = "") {
        return withCheque("CaGlide", addRow(db(), "CaGlide", "001", "1001", date, in, out, "j"),
                          cheque);
    }
    std::int64_t statement(const std::string& date, double in, double out,
                           const std::string& cheque = "") {
        return withCheque("CaCollateGlide",
                          addRow(db(), "CaCollateGlide", "001", "1001", date, out, in, "s"),
                          cheque);
    }
    std::int64_t withCheque(const std::string& table, std::int64_t id, const std::string& cheque) {
        Stmt s = db().prepare("UPDATE " + table + " SET pay_code = ? WHERE id = ?");
        s.bind(1, cheque).bind(2, id);
        s.run();
        return id;
    }
    std::int64_t groupOf(const std::string& table, std::int64_t id) {
        Stmt s = db().prepare("SELECT coalesce(reconcile_group, 0), reconciled FROM " + table +
                              " WHERE id = ?");
        s.bind(1, id);
        EXPECT_TRUE(s.step());
        EXPECT_EQ(s.i64(0) != 0, s.i32(1) != 0) << "reconciled must follow the group";
        return s.i64(0);
    }
    // The bank's opening as the cashier's initialisation keeps it (these
    // tests' book set is confirmed already, so it is written directly).
    void setBankOpening(std::int64_t cents) {
        Stmt s = db().prepare(
            "INSERT INTO reconcile_openings (set_code, as_code, bank_opening_cents) VALUES "
            "('001', '1001', ?1) ON CONFLICT (set_code, as_code) DO UPDATE SET "
            "bank_opening_cents = excluded.bank_opening_cents");
        s.bind(1, cents).run();
    }
    std::int64_t count(const std::string& sql) {
        Stmt s = db().prepare(sql);
        s.step();
        return s.i64(0);
    }
};

TEST_F(ReconcileTest, AutomaticMatchingRules) {
    struct Row {
        bool isJournal;
        const char* date;
        double in, out;
        const char* cheque;
    };
    struct Case {
        const char* what;
        std::vector<Row> rows;
        int window;
        std::vector<std::pair<int, int>> pairs;  // (row index, row index)
    };
    const std::vector<Case> cases = {
        {"cheque number wins over a nearer date",
         {{true, "2024-03-01", 100, 0, "A1"},
          {false, "2024-03-01", 100, 0, ""},
          {false, "2024-03-20", 100, 0, "A1"}},
         7,
         {{0, 2}}},
        {"nearest date wins",
         {{true, "2024-03-05", 100, 0, ""},
          {false, "2024-03-10", 100, 0, ""},
          {false, "2024-03-04", 100, 0, ""}},
         7,
         {{0, 2}}},
        {"two equally near candidates: left alone",
         {{true, "2024-03-05", 100, 0, ""},
          {false, "2024-03-03", 100, 0, ""},
          {false, "2024-03-07", 100, 0, ""}},
         7,
         {}},
        {"two journal rows for one statement row at the same distance: left alone",
         {{true, "2024-03-03", 0, 50, ""},
          {true, "2024-03-07", 0, 50, ""},
          {false, "2024-03-05", 0, 50, ""}},
         7,
         {}},
        {"a cheque number twice on one side at different dates: the nearer date pairs",
         {{true, "2024-03-01", 0, 50, "C7"},
          {true, "2024-03-20", 0, 50, "C7"},
          {false, "2024-03-18", 0, 50, "C7"}},
         7,
         {{1, 2}}},
        {"two cheques of one number and amount: left alone",
         {{true, "2024-03-03", 0, 50, "C9"},
          {true, "2024-03-03", 0, 50, "C9"},
          {false, "2024-03-05", 0, 50, "C9"}},
         7,
         {}},
        {"money in does not pair with money out",
         {{true, "2024-03-05", 100, 0, ""}, {false, "2024-03-05", 0, 100, ""}},
         7,
         {}},
        {"different amounts do not pair",
         {{true, "2024-03-05", 100, 0, ""}, {false, "2024-03-05", 100.01, 0, ""}},
         7,
         {}},
        {"different cheque numbers do not pair, even on one day",
         {{true, "2024-03-05", 0, 80, "X1"}, {false, "2024-03-05", 0, 80, "X2"}},
         7,
         {}},
        {"a cheque number on one side only does not pair by date",
         {{true, "2024-03-05", 0, 80, "X1"}, {false, "2024-03-05", 0, 80, ""}},
         7,
         {}},
        {"eight days apart is outside a window of 7",
         {{true, "2024-03-01", 100, 0, ""}, {false, "2024-03-09", 100, 0, ""}},
         7,
         {}},
        {"and inside a window of 8",
         {{true, "2024-03-01", 100, 0, ""}, {false, "2024-03-09", 100, 0, ""}},
         8,
         {{0, 1}}},
        {"same amounts far apart pair each with its own",
         {{true, "2024-03-01", 30, 0, ""},
          {true, "2024-03-20", 30, 0, ""},
          {false, "2024-03-21", 30, 0, ""},
          {false, "2024-03-02", 30, 0, ""}},
         7,
         {{0, 3}, {1, 2}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        db().exec("DELETE FROM CaGlide; DELETE FROM CaCollateGlide; DELETE FROM reconcile_groups");
        std::vector<std::int64_t> ids;
        for (const Row& r : c.rows)
            ids.push_back(r.isJournal ? journal(r.date, r.in, r.out, r.cheque)
                                      : statement(r.date, r.in, r.out, r.cheque));
        const auto result = rec().autoMatch("2024-01-01", "2024-12-31", c.window);
        EXPECT_EQ(result.pairs(), static_cast<int>(c.pairs.size()));
        std::vector<std::int64_t> expectedGroup(c.rows.size(), 0);
        for (const auto& [a, b] : c.pairs) {
            const std::int64_t ga =
                groupOf(c.rows[a].isJournal ? "CaGlide" : "CaCollateGlide", ids[a]);
            const std::int64_t gb =
                groupOf(c.rows[b].isJournal ? "CaGlide" : "CaCollateGlide", ids[b]);
            EXPECT_NE(ga, 0);
            EXPECT_EQ(ga, gb);
            expectedGroup[a] = expectedGroup[b] = 1;
        }
        for (std::size_t i = 0; i < c.rows.size(); ++i)
            if (!expectedGroup[i])
                EXPECT_EQ(groupOf(c.rows[i].isJournal ? "CaGlide" : "CaCollateGlide", ids[i]), 0)
                    << "row " << i << " must be left";
        int journalRows = 0;
        for (const Row& r : c.rows) journalRows += r.isJournal;
        EXPECT_EQ(result.leftJournal, journalRows - result.pairs());
        EXPECT_EQ(result.leftStatement,
                  static_cast<int>(c.rows.size()) - journalRows - result.pairs());
    }
}

TEST_F(ReconcileTest, AutomaticMatchingNeverRematchesReconciledRowsAndKeepsToTheRange) {
    const auto j1 = journal("2024-03-05", 100, 0);
    const auto s1 = statement("2024-03-05", 100, 0);
    const auto s2 = statement("2024-03-06", 100, 0);
    const auto j3 = journal("2024-04-05", 70, 0);
    const auto s3 = statement("2024-04-05", 70, 0);
    auto r = rec();
    const auto g = r.match({{Source::Journal, j1}}, {{Source::Statement, s1}});
    EXPECT_EQ(r.autoMatch("2024-03-01", "2024-03-31").pairs(), 0);
    EXPECT_EQ(groupOf("CaGlide", j1), g);
    EXPECT_EQ(groupOf("CaCollateGlide", s1), g);
    EXPECT_EQ(groupOf("CaCollateGlide", s2), 0);
    EXPECT_EQ(groupOf("CaGlide", j3), 0) << "outside the range";
    EXPECT_EQ(groupOf("CaCollateGlide", s3), 0);
    EXPECT_EQ(count("SELECT COUNT(*) FROM reconcile_groups"), 1);
    // A second run makes nothing new.
    EXPECT_EQ(r.autoMatch("2024-01-01", "2024-12-31").pairs(), 1);
    EXPECT_EQ(r.autoMatch("2024-01-01", "2024-12-31").pairs(), 0);
    EXPECT_EQ(count("SELECT COUNT(*) FROM reconcile_runs WHERE made_by = 'u1' AND by_date = 1"), 1)
        << "one run row; a run that pairs nothing stores nothing";
}

TEST_F(ReconcileTest, AutomaticRunsAndManualGroupsShareOneNumbering) {
    const auto j1 = journal("2024-03-05", 100, 0);
    const auto s1 = statement("2024-03-05", 100, 0);
    const auto j2 = journal("2024-03-06", 0, 20, "C1");
    const auto s2 = statement("2024-03-09", 0, 20, "C1");
    const auto j3 = journal("2024-03-07", 30, 0);
    const auto s3 = statement("2024-03-08", 30, 0);
    const auto j4 = journal("2024-03-10", 40, 0);
    const auto s4 = statement("2024-03-10", 40, 0);
    auto r = rec();
    const auto manual = r.match({{Source::Journal, j4}}, {{Source::Statement, s4}});
    ASSERT_EQ(r.autoMatch("2024-03-01", "2024-03-31").pairs(), 3);
    // One run row for its pairs; their groups follow the manual one, in the
    // journal rows' date order.
    EXPECT_EQ(count("SELECT COUNT(*) FROM reconcile_runs"), 1);
    EXPECT_EQ(count("SELECT COUNT(*) FROM reconcile_groups"), 1);
    EXPECT_EQ(count("SELECT first_group FROM reconcile_runs"), manual + 1);
    EXPECT_EQ(count("SELECT last_group FROM reconcile_runs"), manual + 3);
    EXPECT_EQ(count("SELECT by_cheque FROM reconcile_runs"), 1);
    EXPECT_EQ(groupOf("CaGlide", j1), manual + 1);
    EXPECT_EQ(groupOf("CaCollateGlide", s1), manual + 1);
    EXPECT_EQ(groupOf("CaCollateGlide", s2), manual + 2);
    EXPECT_EQ(groupOf("CaGlide", j3), manual + 3);
    EXPECT_EQ(groupOf("CaCollateGlide", s3), manual + 3);
    const auto j5 = journal("2024-03-20", 50, 0);
    const auto s5 = statement("2024-03-25", 50, 0);
    EXPECT_EQ(r.match({{Source::Journal, j5}}, {{Source::Statement, s5}}), manual + 4);

    // Undoing one pair of a run leaves the others; the undone group is kept
    // with the run's maker and who undid it.
    r.undoGroup(manual + 2);
    EXPECT_EQ(groupOf("CaGlide", j2), 0);
    EXPECT_EQ(groupOf("CaCollateGlide", s2), 0);
    EXPECT_EQ(groupOf("CaGlide", j1), manual + 1);
    EXPECT_EQ(groupOf("CaGlide", j3), manual + 3);
    EXPECT_EQ(
        count("SELECT COUNT(*) FROM reconcile_groups WHERE id = " + std::to_string(manual + 2) +
              " AND automatic = 1 AND made_by = 'u1' AND undone_by = 'u1'"),
        1);
    EXPECT_THROW(r.undoGroup(manual + 2), ReconcileError) << "already undone";
    EXPECT_THROW(Reconciler(db(), reconcile::Account{"001", "9999", "x", "x", 0}, "u1")
                     .undoGroup(manual + 1),
                 ReconcileError)
        << "another account's group";
    EXPECT_EQ(groupOf("CaGlide", j1), manual + 1);

    EXPECT_EQ(r.undoRange("2024-03-01", "2024-03-31"), 4);
    EXPECT_EQ(count("SELECT COUNT(*) FROM reconcile_groups WHERE undone_at IS NULL"), 0);
    EXPECT_EQ(count("SELECT COUNT(*) FROM reconcile_groups"), 5);
    EXPECT_EQ(r.autoMatch("2024-03-01", "2024-03-31").pairs(), 5);
    EXPECT_EQ(groupOf("CaGlide", j1), manual + 5) << "ids are never reused";
}

TEST_F(ReconcileTest, GroupsOfAnOlderFileStayAndNewOnesFollowThem) {
    // A file of the version before runs were stored: an automatic pair has a
    // group row of its own.
    const auto j1 = journal("2024-03-05", 100, 0);
    const auto s1 = statement("2024-03-05", 100, 0);
    const auto j2 = journal("2024-03-06", 70, 0);
    const auto s2 = statement("2024-03-06", 70, 0);
    db().exec(
        "INSERT INTO reconcile_groups (id, set_code, as_code, made_by, made_at, automatic) "
        "VALUES (7, '001', '1001', 'u1', '2024-03-10 09:00:00', 1);"
        "UPDATE CaGlide SET reconciled = 1, reconcile_group = 7 WHERE id = " +
        std::to_string(j1) +
        ";"
        "UPDATE CaCollateGlide SET reconciled = 1, reconcile_group = 7 WHERE id = " +
        std::to_string(s1) +
        ";DROP TABLE reconcile_runs; DROP TABLE reconcile_closings;"
        "ALTER TABLE CaGlide DROP COLUMN bank_balance_cents;"
        "ALTER TABLE CaCollateGlide DROP COLUMN bank_balance_cents;");
    if (db().engine() == Database::Engine::SQLite)
        db().exec("PRAGMA user_version = 4");
    else
        db().exec("UPDATE ledger_meta SET value = '4' WHERE key = 'schema_version'");
    session.reset();
    session = std::make_unique<HostSession>(path(), "001", "u1");
    EXPECT_EQ(db().schemaVersion(), Database::kSchemaVersion);

    auto r = rec();
    ASSERT_EQ(r.autoMatch("2024-03-01", "2024-03-31").pairs(), 1);
    EXPECT_EQ(groupOf("CaGlide", j2), 8);
    EXPECT_EQ(groupOf("CaCollateGlide", s2), 8);
    r.undoGroup(7);
    EXPECT_EQ(groupOf("CaGlide", j1), 0);
    EXPECT_EQ(count("SELECT COUNT(*) FROM reconcile_groups WHERE id = 7 AND undone_by = 'u1'"), 1);
    EXPECT_EQ(count("SELECT COUNT(*) FROM reconcile_groups"), 1);
}

TEST_F(ReconcileTest, ManualGroupsNeedAgreeingTotals) {
    const auto deposit = statement("2024-03-06", 300, 0);
    const auto receipt1 = journal("2024-03-05", 100, 0);
    const auto receipt2 = journal("2024-03-05", 200, 0);
    const auto receipt3 = journal("2024-03-05", 250, 0);
    const auto fee = journal("2024-03-07", 0, 10);
    const auto feeA = statement("2024-03-07", 0, 4);
    const auto feeB = statement("2024-03-07", 0, 6);
    auto r = rec();

    struct Refusal {
        const char* what;
        std::vector<RowRef> j, s;
        const char* message;
    };
    const std::vector<Refusal> refusals = {
        {"totals differ",
         {{Source::Journal, receipt1}, {Source::Journal, receipt3}},
         {{Source::Statement, deposit}},
         "相差 50.00"},
        {"senses differ", {{Source::Journal, fee}}, {{Source::Statement, deposit}}, "相差 -310.00"},
        {"a row of the other side on this side",
         {{Source::Statement, feeA}},
         {{Source::Statement, feeB}},
         "不是本账户"},
        {"nothing on one side", {}, {{Source::Statement, deposit}}, "请在两边选择"},
        {"one row chosen twice",
         {{Source::Journal, receipt3}, {Source::Journal, receipt3}},
         {{Source::Statement, deposit}, {Source::Statement, feeA}},
         "选择了两次"},
    };
    for (const Refusal& f : refusals) {
        SCOPED_TRACE(f.what);
        try {
            r.match(f.j, f.s);
            ADD_FAILURE() << "accepted";
        } catch (const ReconcileError& e) {
            EXPECT_NE(std::string(e.what()).find(f.message), std::string::npos) << e.what();
        }
        EXPECT_EQ(count("SELECT COUNT(*) FROM reconcile_groups"), 0);
        EXPECT_EQ(count("SELECT COUNT(*) FROM CaGlide WHERE reconciled = 1") +
                      count("SELECT COUNT(*) FROM CaCollateGlide WHERE reconciled = 1"),
                  0);
    }

    const auto slip = r.match({{Source::Journal, receipt1}, {Source::Journal, receipt2}},
                              {{Source::Statement, deposit}});
    const auto split =
        r.match({{Source::Journal, fee}}, {{Source::Statement, feeA}, {Source::Statement, feeB}});
    EXPECT_NE(slip, split);
    EXPECT_EQ(groupOf("CaGlide", receipt1), slip);
    EXPECT_EQ(groupOf("CaGlide", receipt2), slip);
    EXPECT_EQ(groupOf("CaCollateGlide", deposit), slip);
    EXPECT_EQ(groupOf("CaCollateGlide", feeB), split);
    EXPECT_EQ(groupOf("CaGlide", receipt3), 0);
    EXPECT_EQ(count("SELECT automatic FROM reconcile_groups WHERE id = " + std::to_string(slip)),
              0);
    // A row already in a group is not taken into a second one.
    EXPECT_THROW(
        r.match({{Source::Journal, receipt3}, {Source::Journal, fee}}, {{Source::Statement, feeA}}),
        ReconcileError);
}

TEST_F(ReconcileTest, ReconciledRowsCannotChangeUntilTheGroupIsUndone) {
    const auto j = journal("2024-03-05", 100, 0);
    const auto s = statement("2024-03-05", 100, 0);
    const auto j2 = journal("2024-03-15", 0, 20);
    const auto s2 = statement("2024-03-16", 0, 20);
    auto r = rec();
    ASSERT_EQ(r.autoMatch("2024-03-01", "2024-03-31").pairs(), 2);
    const std::int64_t g = groupOf("CaGlide", j);

    TCaGlide row(kCashJournalTable);
    row.Id = j;
    EXPECT_FALSE(row.CanDelete());
    EXPECT_NE(row.ErrorText.find("已对账"), std::string::npos) << row.ErrorText;
    TCaGlide stmtRow(kStatementTable);
    stmtRow.Id = s;
    EXPECT_FALSE(stmtRow.CanDelete());

    r.undoGroup(g);
    EXPECT_EQ(groupOf("CaGlide", j), 0);
    EXPECT_EQ(groupOf("CaCollateGlide", s), 0);
    EXPECT_NE(groupOf("CaGlide", j2), 0) << "the other group stays";
    EXPECT_TRUE(row.CanDelete()) << row.ErrorText;
    EXPECT_THROW(r.undoGroup(g), ReconcileError) << "already undone";

    EXPECT_EQ(r.undoRange("2024-03-01", "2024-03-31"), 1);
    EXPECT_EQ(groupOf("CaCollateGlide", s2), 0);
    EXPECT_EQ(r.undoRange("2024-03-01", "2024-03-31"), 0);
    // Undone groups stay on record, with who undid them; their ids are not reused.
    EXPECT_EQ(count("SELECT COUNT(*) FROM reconcile_groups WHERE undone_at IS NULL"), 0);
    EXPECT_EQ(count("SELECT COUNT(*) FROM reconcile_groups WHERE undone_by = 'u1'"), 2);
    EXPECT_EQ(r.autoMatch("2024-03-01", "2024-03-31").pairs(), 2);
    EXPECT_GT(groupOf("CaGlide", j), g + 1);
}

TEST_F(ReconcileTest, JournalWindowsShowReconciledRowsByColourAndTooltipOnly) {
    journal("2024-03-05", 100, 0);
    statement("2024-03-06", 100, 0);
    journal("2024-03-07", 0, 30);
    for (int kind : {3, 1}) {  // the statement, then the bank journal
        SCOPED_TRACE(kind);
        auto before = std::make_unique<TFrmCashGlide>(nullptr, 1, kind);
        before->show();
        queryRange(*before, QDate(2024, 3, 1), QDate(2024, 3, 31));
        const int cols = before->Cell->GetCols();
        const auto summaries = shownSummaries(*before);
        before.reset();

        if (kind == 3) rec().autoMatch("2024-03-01", "2024-03-31");
        TFrmCashGlide w(nullptr, 1, kind);
        w.show();
        queryRange(w, QDate(2024, 3, 1), QDate(2024, 3, 31));
        EXPECT_EQ(w.Cell->GetCols(), cols);
        EXPECT_EQ(shownSummaries(w), summaries);
        const auto* model = w.Cell->model();
        const int matched = gridRowOf(w, kind == 3 ? "s" : "j");
        ASSERT_GT(matched, 0);
        EXPECT_TRUE(
            model->index(matched - 1, 7).data(Qt::ToolTipRole).toString().contains("已对账"));
        EXPECT_TRUE(model->index(matched - 1, 0).data(Qt::BackgroundRole).isValid());
        if (kind == 1) {
            // The unmatched payment and the summary rows look as before.
            const int other = matched + 1;
            EXPECT_EQ(w.Cell->GetCellDouble(10, other), 30.0);
            EXPECT_FALSE(model->index(other - 1, 7).data(Qt::ToolTipRole).isValid());
            EXPECT_FALSE(model->index(4, 7).data(Qt::BackgroundRole).isValid());
        }
    }
}

TEST_F(ReconcileTest, AutomaticRunIsAllOrNothingWhenTheStoreFails) {
    for (int d = 1; d <= 9; ++d) {
        const std::string date = "2024-03-0" + std::to_string(d);
        journal(date, 10 * d, 0);
        statement(date, 10 * d, 0);
    }
    const auto last = statement("2024-03-20", 999, 0);
    journal("2024-03-20", 999, 0);
    // The store refuses the write of one row in the middle of the run.
    const std::string refused = std::to_string(last - 4);
    if (db().engine() == Database::Engine::SQLite)
        db().exec(
            "CREATE TRIGGER refuse BEFORE UPDATE OF reconciled ON CaCollateGlide "
            "WHEN NEW.id = " +
            refused + " BEGIN SELECT RAISE(ABORT, 'disk trouble'); END");
    else
        db().exec(
            "CREATE FUNCTION refuse_row() RETURNS trigger LANGUAGE plpgsql AS "
            "$$ BEGIN RAISE EXCEPTION 'disk trouble'; END $$;"
            "CREATE TRIGGER refuse BEFORE UPDATE OF reconciled ON CaCollateGlide FOR EACH ROW "
            "WHEN (NEW.id = " +
            refused + ") EXECUTE FUNCTION refuse_row()");
    EXPECT_THROW(rec().autoMatch("2024-03-01", "2024-03-31"), StoreError);
    EXPECT_EQ(count("SELECT COUNT(*) FROM reconcile_groups"), 0);
    EXPECT_EQ(count("SELECT COUNT(*) FROM reconcile_runs"), 0);
    EXPECT_EQ(
        count("SELECT COUNT(*) FROM CaGlide WHERE reconciled = 1 OR reconcile_group IS NOT NULL"),
        0);
    EXPECT_EQ(count("SELECT COUNT(*) FROM CaCollateGlide WHERE reconciled = 1 OR reconcile_group "
                    "IS NOT NULL"),
              0);
    db().exec(db().engine() == Database::Engine::SQLite ? "DROP TRIGGER refuse"
                                                        : "DROP TRIGGER refuse ON CaCollateGlide");
    EXPECT_EQ(rec().autoMatch("2024-03-01", "2024-03-31").pairs(), 10);
}

TEST_F(ReconcileTest, BalanceStatementWithOpeningItems) {
    // Journal opens at 1,000.00 (the account's opening balance). At the bank
    // a cheque of 300.00 written last December had not been presented and a
    // 50.00 fee not yet booked: the bank's own opening is 1,250.00. The
    // cashier's initialisation enters them before it is confirmed.
    BookOptions unconfirmed;
    unconfirmed.initConfirmed = false;
    open(unconfirmed);
    ledgerhost::setBankOpening(db(), "u1", "001", "1001", 125000);
    const auto cheque = addOpeningItem(db(), "u1", "001", "1001",
                                       {0, kItemBookedOut, "2023-12-28", "Z7", "旧支票", 30000});
    addOpeningItem(db(), "u1", "001", "1001", {0, kItemBankOut, "2023-12-31", "", "手续费", 5000});
    confirmInitialisation(db(), "u1", "001");
    auto r = rec();
    journal("2024-03-05", 500, 0);
    statement("2024-03-06", 500, 0);
    statement("2024-03-10", 0, 300, "Z7");                 // the old cheque presented
    const auto unbooked = statement("2024-03-20", 80, 0);  // interest, not yet booked
    journal("2024-03-25", 0, 40);                          // paid, not yet at the bank

    reconcile::Report rep = r.report("2024-03-31");
    EXPECT_EQ(rep.journalBalance, 100000 + 50000 - 4000);
    EXPECT_EQ(rep.bankBalance, 125000 + 50000 - 30000 + 8000);
    EXPECT_TRUE(rep.balanced()) << reconcile::reportText(rep);
    EXPECT_EQ(rep.bookedOutNotBank.size(), 2u);  // the old cheque and the 40.00
    // The old cheque pairs with its presentation by number, the deposit by date.
    EXPECT_EQ(r.autoMatch("2024-01-01", "2024-03-31").pairs(), 2);
    EXPECT_NE(count("SELECT coalesce(reconcile_group, 0) FROM reconcile_opening_items WHERE id = " +
                    std::to_string(cheque)),
              0);
    // The old fee, booked now, is matched by hand with its opening item.
    const auto feeBooked = journal("2024-03-12", 0, 50);
    const auto openingFee = r.statementRows("2024-03-01", "2024-03-31", true);
    ASSERT_EQ(openingFee.size(), 2u);  // the opening fee and the interest
    EXPECT_EQ(openingFee[0].ref.source, Source::Opening);
    r.match({{Source::Journal, feeBooked}}, {openingFee[0].ref});

    rep = r.report("2024-03-31");
    EXPECT_TRUE(rep.balanced()) << reconcile::reportText(rep);
    ASSERT_EQ(rep.bankInNotBooked.size(), 1u);
    EXPECT_EQ(rep.bankInNotBooked[0].ref.id, unbooked);
    EXPECT_TRUE(rep.bankOutNotBooked.empty());
    ASSERT_EQ(rep.bookedOutNotBank.size(), 1u);
    EXPECT_EQ(rep.bookedOutNotBank[0].cents, 4000);
    EXPECT_EQ(rep.adjustedJournal, 149000);

    // As at an earlier date, groups settled later are still outstanding.
    rep = r.report("2024-03-05");
    EXPECT_TRUE(rep.balanced()) << reconcile::reportText(rep);
    EXPECT_EQ(rep.bookedInNotBank.size(), 1u);
    EXPECT_EQ(rep.bookedOutNotBank.size(), 1u);
    EXPECT_EQ(rep.bankOutNotBooked.size(), 1u);
    EXPECT_EQ(rep.adjustedBank, 145000);

    // A planted difference shows, with an outstanding item of its amount.
    db().exec("UPDATE CaCollateGlide SET cre_cents = 54000 WHERE cre_cents = 50000");
    rep = r.report("2024-03-31");
    EXPECT_FALSE(rep.balanced());
    EXPECT_EQ(rep.difference(), -4000);
    ASSERT_EQ(rep.suspects.size(), 1u);
    EXPECT_EQ(rep.suspects[0].cents, 4000);
    const std::string text = reconcile::reportText(rep);
    EXPECT_NE(text.find("相差 -40.00"), std::string::npos) << text;
}

TEST_F(ReconcileTest, StatementReadsWhileAnotherProgramWrites) {
    journal("2024-03-05", 100, 0);
    Database other(path());
    std::optional<Transaction> writing(std::in_place, other);
    db().setBusyTimeoutMs(0);
    EXPECT_EQ(rec().report("2024-03-31").journalBalance, 110000);
    EXPECT_THROW(rec().autoMatch("2024-03-01", "2024-03-31"), StoreError) << "a write waits";
    writing.reset();
}

TEST_F(ReconcileTest, BadInputIsRefusedInWords) {
    EXPECT_THROW(Reconciler::findAccount(db(), "001", "nope"), ReconcileError);
    EXPECT_THROW(Reconciler::findAccount(db(), "001", "CASH"), ReconcileError) << "a cash account";
    auto r = rec();
    for (const char* bad :
         {"2024-02-30", "2024-13-01", "20240301", "2023-02-29", "abcd-ef-gh", "2023-12-31"})
        EXPECT_THROW(r.report(bad), ReconcileError) << bad;
    EXPECT_THROW(r.autoMatch("2023-01-01", "2023-12-31"), ReconcileError) << "before the year";
    EXPECT_THROW(r.autoMatch("2024-01-01", "2024-12-31", -1), ReconcileError);
    EXPECT_EQ(reconcile::formatCents(-123456789), "-1,234,567.89");
    EXPECT_EQ(reconcile::formatCents(5), "0.05");
}

TEST_F(ReconcileTest, LockedBookSetChangesNothing) {
    const auto j = journal("2024-03-05", 100, 0);
    const auto s = statement("2024-03-05", 100, 0);
    const auto j2 = journal("2024-03-06", 50, 0);
    const auto s2 = statement("2024-03-06", 50, 0);
    const auto g = rec().match({{Source::Journal, j2}}, {{Source::Statement, s2}});
    db().exec(
        "INSERT INTO reconcile_opening_items (set_code, as_code, kind, item_date, cents) "
        "VALUES ('001', '1001', 3, '2023-12-31', 100)");
    db().exec("UPDATE book_sets SET entry_locked = 1 WHERE code = '001'");
    auto r = rec();
    const std::vector<std::pair<const char*, std::function<void()>>> commands = {
        {"automatic", [&] { r.autoMatch("2024-03-01", "2024-03-31"); }},
        {"manual",
         [&] {
             r.match({{Source::Journal, j}}, {{Source::Statement, s}});
         }},
        {"undo a group", [&] { r.undoGroup(g); }},
        {"undo the range", [&] { r.undoRange("2024-03-01", "2024-03-31"); }},
        {"a closing balance", [&] { r.setClosingBalance("2024-03-31", 100); }},
    };
    for (const auto& [what, command] : commands) {
        SCOPED_TRACE(what);
        try {
            command();
            ADD_FAILURE() << "done in a locked book set";
        } catch (const ReconcileError& e) {
            EXPECT_STREQ(e.what(), "账套已锁定，不能对账。");
        }
    }
    EXPECT_EQ(groupOf("CaGlide", j), 0);
    EXPECT_EQ(groupOf("CaGlide", j2), g);
    EXPECT_EQ(count("SELECT COUNT(*) FROM reconcile_openings"), 0);
    EXPECT_EQ(count("SELECT COUNT(*) FROM reconcile_opening_items"), 1);
    EXPECT_EQ(count("SELECT COUNT(*) FROM reconcile_closings"), 0);
    EXPECT_NO_THROW(r.report("2024-03-31")) << "reading is allowed";
}

TEST_F(ReconcileTest, ManagedBookSetsRowsOnTheAccountTakePart) {
    // Book set 002 has no account 1001 of its own: its rows use 001's.
    const auto j = addRow(db(), "CaGlide", "002", "1001", "2024-03-05", 70, 0, "分公司收款");
    const auto s = addRow(db(), "CaCollateGlide", "002", "1001", "2024-03-06", 0, 70, "s");
    journal("2024-03-07", 0, 20);
    auto r = rec();
    setBankOpening(100000);
    EXPECT_EQ(r.journalRows("2024-03-01", "2024-03-31").size(), 2u);
    EXPECT_EQ(r.statementRows("2024-03-01", "2024-03-31").size(), 1u);
    EXPECT_EQ(r.autoMatch("2024-03-01", "2024-03-31").pairs(), 1);
    EXPECT_NE(groupOf("CaGlide", j), 0);
    EXPECT_EQ(groupOf("CaGlide", j), groupOf("CaCollateGlide", s));
    const auto rep = r.report("2024-03-31");
    EXPECT_EQ(rep.journalBalance, 100000 + 7000 - 2000);
    EXPECT_EQ(rep.bankBalance, 100000 + 7000);
    EXPECT_TRUE(rep.agrees()) << reconcile::reportText(rep);
    EXPECT_EQ(r.undoRange("2024-03-01", "2024-03-31"), 1);
    EXPECT_EQ(groupOf("CaGlide", j), 0);
}

TEST_F(ReconcileTest, StatementIsCheckedAgainstTheBanksOwnFigures) {
    auto withBalance = [&](const std::string& date, double in, double out,
                           std::optional<std::int64_t> balance) {
        const auto id = statement(date, in, out);
        if (balance)
            db().exec("UPDATE CaCollateGlide SET bank_balance_cents = " + std::to_string(*balance) +
                      " WHERE id = " + std::to_string(id));
    };
    struct Case {
        const char* what;
        std::optional<std::int64_t> opening;
        std::vector<std::optional<std::int64_t>> balances;  // of rows +100 (03-02), -30 (03-09)
        std::optional<std::int64_t> closing;                // entered for 2024-03-31
        bool agrees;
        std::int64_t bankDifference;
        const char* partsFrom;
        const char* says;
    };
    const std::vector<Case> cases = {
        {"no figure of the bank's",
         100000,
         {std::nullopt, std::nullopt},
         std::nullopt,
         true,
         0,
         "",
         "没有银行的余额可核对"},
        {"reported balances agree",
         100000,
         {110000, 107000},
         std::nullopt,
         true,
         0,
         "",
         "对账单余额与银行所报余额相符（2024-03-09：1,070.00）"},
        {"a line the bank has not got",
         100000,
         {110000, 106000},
         std::nullopt,
         false,
         1000,
         "2024-03-09",
         "相差 10.00"},
        {"an entered closing balance that differs",
         100000,
         {110000, std::nullopt},
         106000,
         false,
         1000,
         "2024-03-31",
         "录入的对账单期末余额（u1 于"},
        {"an entered closing balance that agrees",
         100000,
         {std::nullopt, std::nullopt},
         107000,
         true,
         0,
         "",
         "对账单余额与录入的对账单期末余额"},
        {"no opening: named, not counted as 0",
         std::nullopt,
         {110000, 107000},
         std::nullopt,
         false,
         -100000,
         "2024-03-09",
         "按银行所报余额推算，年初余额应为 1,000.00"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        db().exec(
            "DELETE FROM CaCollateGlide; DELETE FROM reconcile_openings; DELETE FROM "
            "reconcile_closings");
        auto r = rec();
        if (c.opening) setBankOpening(*c.opening);
        withBalance("2024-03-02", 100, 0, c.balances[0]);
        withBalance("2024-03-09", 0, 30, c.balances[1]);
        if (c.closing) r.setClosingBalance("2024-03-31", *c.closing);
        const reconcile::Report rep = r.report("2024-03-31");
        const std::string text = reconcile::reportText(rep);
        EXPECT_EQ(rep.agrees(), c.agrees) << text;
        EXPECT_EQ(rep.bankDifference(), c.bankDifference) << text;
        EXPECT_EQ(rep.partsFrom(), c.partsFrom) << text;
        EXPECT_NE(text.find(c.says), std::string::npos) << text;
        if (!c.agrees && rep.bankDifference() != 0)
            EXPECT_NE(reconcile::reportCsv(rep).find("与银行相差,"), std::string::npos);
    }
    // A break the stored rows can explain: the row where the balances part.
    db().exec("DELETE FROM CaCollateGlide; DELETE FROM reconcile_closings");
    withBalance("2024-03-02", 100, 0, 110000);
    withBalance("2024-03-09", 0, 30, 108000);  // the bank says 10.00 less went out
    withBalance("2024-03-12", 5, 0, 108500);
    const reconcile::Report rep = rec().report("2024-03-31");
    ASSERT_EQ(rep.breaks.size(), 1u);
    EXPECT_EQ(rep.breaks[0].date, "2024-03-09");
    EXPECT_EQ(rep.breaks[0].since, "2024-03-02");
    EXPECT_EQ(rep.breaks[0].difference(), 1000);
    EXPECT_NE(reconcile::reportCsv(rep).find("余额不符,2024-03-09"), std::string::npos);
}

}  // namespace
