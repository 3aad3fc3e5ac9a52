// A second program for the tests that need several processes on one database:
//   store_helper create-demo PATH        creates the demo database the way
//                                        `chuna` does on first start, then opens it;
//                                        prints "created" or "opened"
//   store_helper write PATH TAG COUNT    signs in as u1 to book set 001 and stores
//                                        COUNT statement rows of account 1001, one
//                                        store operation each, as the journal
//                                        window does; summaries "TAG-<n>"
//   store_helper import PATH TAG BATCHES SIZE
//                                        stores BATCHES transactions of SIZE statement
//                                        rows each (summaries "TAG-<n>"), as an import
//                                        does, printing "committed <k>" after each
//   store_helper hold PATH               opens the database, prints "open" and keeps
//                                        it open until its standard input closes
//   store_helper edit DB ID SUMMARY      signs in as u1 to book set 001, loads cash
//                                        journal row ID as the journal window
//                                        does, prints "loaded", and after a line
//                                        on its standard input saves it with
//                                        SUMMARY: prints "saved", or "refused "
//                                        and the refusal
//   store_helper workstation DB TAG ROWS FILE...
//                                        a workstation of the multi-workstation
//                                        test: signs in as u1 to book set 001 and,
//                                        before each ICBC statement FILE and after
//                                        the last, stores ROWS statement rows one
//                                        store operation each (see workstationRow),
//                                        then imports the file as chuna-import
//                                        does; prints "half <n>" when the n-th
//                                        file's import (from 0) is half done and
//                                        "stored <n> <rows>" once it is stored
// Exits 0 on success; prints the error and exits 1 otherwise.
#include <QCoreApplication>
#include <QDate>
#include <cstdio>
#include <iostream>
#include <string>

#include "DayTotals.h"
#include "DemoData.h"
#include "Glide.h"
#include "Session.h"
#include "Store.h"
#include "untGlideImport.h"

using namespace ledgerhost;

namespace {

// The k-th row a workstation stores through the entry path: accounts 1001 and
// 1003 in turn, the amount in cents (k % 13 + 1) * 125, money in (a credit)
// for even k; the multi-workstation test computes the same.
TCaGlide workstationRow(const std::string& tag, int k) {
    TCaGlide row(kStatementTable);
    row.SetCode = "001";
    row.AS_Code = k % 2 ? "1003" : "1001";
    row.CreateDate = "2024-" + std::string(k % 12 < 9 ? "0" : "") + std::to_string(k % 12 + 1) +
                     "-" + std::string(k % 28 < 9 ? "0" : "") + std::to_string(k % 28 + 1);
    const double amount = fromCents((k % 13 + 1) * 125);
    (k % 2 ? row.DebMoney : row.CreMoney) = amount;
    row.Summary = tag + "-" + std::to_string(k);
    row.ApplyUser = "u1";
    row.OperFlag = "0";
    return row;
}

int workstation(const std::string& db, const std::string& tag, int rows,
                const std::vector<std::string>& files) {
    HostSession session(db, "001", "u1");
    int k = 0;
    auto store = [&] {
        for (int i = 0; i < rows; ++i, ++k) {
            TCaGlide row = workstationRow(tag, k);
            if (!row.Insert(true)) throw StoreError(row.ErrorText);
        }
    };
    for (std::size_t n = 0; n < files.size(); ++n) {
        store();
        TCaGlideMng mng(kStatementTable);
        bool told = false;
        auto progress = [&](int done, int total) {
            if (!told && done >= total / 2) {
                told = true;
                std::cout << "half " << n << std::endl;
            }
            return true;
        };
        const StatementImportResult r =
            importStatement(StatementKind::ICBC, files[n], &mng, progress);
        if (!r.stored) throw StoreError(r.message);
        std::cout << "stored " << n << " " << r.rows << std::endl;
    }
    store();
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const std::string command = argc > 1 ? argv[1] : "";
    try {
        if (command == "create-demo" && argc == 3) {
            const bool created = demo::createDemoDatabase(argv[2], QDate::currentDate());
            Database db(argv[2]);
            Stmt s = db.prepare("SELECT COUNT(*) FROM book_sets");
            s.step();
            if (s.i64(0) != 4) throw StoreError("the demo database is incomplete");
            std::cout << (created ? "created" : "opened") << std::endl;
            return 0;
        }
        if (command == "write" && argc == 5) {
            HostSession session(argv[2], "001", "u1");
            const int count = std::stoi(argv[4]);
            for (int i = 0; i < count; ++i) {
                TCaGlide row(kStatementTable);
                row.SetCode = "001";
                row.AS_Code = "1001";
                row.CreateDate = "2024-03-01";
                row.DebMoney = 1;
                row.Summary = std::string(argv[3]) + "-" + std::to_string(i);
                row.ApplyUser = "u1";
                row.OperFlag = "0";
                if (!row.Insert(true)) throw StoreError(row.ErrorText);
            }
            return 0;
        }
        if (command == "import" && argc == 6) {
            Database db(argv[2]);
            const int batches = std::stoi(argv[4]);
            const int size = std::stoi(argv[5]);
            Stmt insert = db.prepare(
                "INSERT INTO CaCollateGlide (set_code, as_code, create_date, date_or_no, "
                "summary, deb_cents, cre_cents) VALUES ('001', '1001', ?1, ?2, ?3, ?4, 0)");
            DayTotalsChange kept;
            for (int b = 0; b < batches; ++b) {
                Transaction t(db);
                for (int i = 0; i < size; ++i) {
                    const int n = b * size + i;
                    char date[16];
                    std::snprintf(date, sizeof date, "2024-%02d-%02d", 1 + n % 12, 1 + n % 28);
                    insert.bind(1, date).bind(2, n).bind(
                        3, std::string(argv[3]) + "-" + std::to_string(n));
                    insert.bind(4, static_cast<std::int64_t>(n % 9973));
                    insert.run();
                    kept.add("001", "1001", date, n % 9973, 0);
                }
                // Once per block, as the store's batch save does.
                kept.apply(db, kStatementTable);
                t.commit();
                std::cout << "committed " << b + 1 << std::endl;
            }
            return 0;
        }
        if (command == "hold" && argc == 3) {
            Database db(argv[2]);
            Stmt s = db.prepare("SELECT COUNT(*) FROM book_sets");
            s.step();
            std::cout << "open" << std::endl;
            std::string line;
            while (std::getline(std::cin, line)) {
            }
            return 0;
        }
        if (command == "edit" && argc == 5) {
            HostSession session(argv[2], "001", "u1");
            TCaGlideMng mng(kCashJournalTable);
            mng.CaGlideQry()->SetCode = "001";
            mng.Load();
            const std::int64_t id = std::stoll(argv[3]);
            for (int i = 0; i < mng.GetCount(); ++i) {
                TCaGlide& row = *mng.GetDetails(i);
                if (row.Id != id) continue;
                std::cout << "loaded" << std::endl;
                std::string line;
                std::getline(std::cin, line);
                row.Summary = argv[4];
                if (row.Update(true))
                    std::cout << "saved" << std::endl;
                else
                    std::cout << "refused " << row.ErrorText << std::endl;
                return 0;
            }
            throw StoreError("row " + std::string(argv[3]) + " not loaded");
        }
        if (command == "workstation" && argc >= 5) {
            std::vector<std::string> files(argv + 5, argv + argc);
            return workstation(argv[2], argv[3], std::stoi(argv[4]), files);
        }
    } catch (const std::exception& e) {
        std::cerr << "store_helper: " << e.what() << std::endl;
        return 1;
    }
    std::cerr << "usage: store_helper create-demo PATH | write PATH TAG COUNT | import PATH TAG "
                 "BATCHES SIZE | hold PATH | workstation DB TAG ROWS FILE..."
              << std::endl;
    return 2;
}
