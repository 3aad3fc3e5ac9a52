#include "CarryForwardForm.h"

#include <QHeaderView>

#include "BookSets.h"
#include "CarryForward.h"
#include "Guard.h"
#include "ListPage.h"
#include "Numbers.h"
#include "Seams.h"
#include "Users.h"
#include "ui_FrmCarryForward.h"

using namespace ledgerhost;

namespace office {

namespace {

const char* const kCaption = "结转下年";

QString q(const std::string& s) {
    return QString::fromStdString(s);
}

void setUp(QTableWidget* t, const QStringList& headers) {
    t->setColumnCount(static_cast<int>(headers.size()));
    t->setHorizontalHeaderLabels(headers);
    t->verticalHeader()->hide();
}

void put(QTableWidget* t, int row, const QStringList& cells) {
    for (int c = 0; c < cells.size(); ++c) {
        auto* item = new QTableWidgetItem(cells[c]);
        if (c >= 3) item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
        t->setItem(row, c, item);
    }
}

}  // namespace

TFrmCarryForward::TFrmCarryForward(QWidget* owner, Database& db, std::string actor,
                                   std::string book)
    : QDialog(owner),
      ui(std::make_unique<Ui::FrmCarryForward>()),
      db_(db),
      actor_(std::move(actor)) {
    ui->setupUi(this);
    setWindowFlags(windowFlags() & ~Qt::WindowContextHelpButtonHint);
    requireAdministrator(db_, actor_);
    setUp(ui->tblBalances, {QStringLiteral("编码"), QStringLiteral("名称"), QStringLiteral("账号"),
                            QStringLiteral("日记账余额"), QStringLiteral("银行对账单余额")});
    setUp(ui->tblHistory, {QStringLiteral("年度"), QStringLiteral("结转人"),
                           QStringLiteral("结转时间"), QStringLiteral("账户数")});
    for (const BookSetInfo& b : listBookSets(db_))
        if (!b.Closed) ui->cmbBook->addItem(codeAndName(b.Code, b.Name), q(b.Code));
    ui->cmbBook->setCurrentIndex(std::max(0, ui->cmbBook->findData(q(book))));
    ui->lblProblem->setWordWrap(true);
    connect(ui->cmbBook, &QComboBox::currentIndexChanged, this,
            [this] { guarded(this, kCaption, [&] { reload(); }); });
    connect(ui->btnCarry, &QPushButton::clicked, this,
            guardedSlot(this, kCaption, &TFrmCarryForward::Carry));
    connect(ui->btnClose, &QPushButton::clicked, this, [this] { done(QDialog::Accepted); });
    reload();
}

TFrmCarryForward::~TFrmCarryForward() = default;

std::string TFrmCarryForward::book() const {
    return ui->cmbBook->currentData().toString().toStdString();
}

void TFrmCarryForward::reload() {
    ui->tblBalances->setRowCount(0);
    ui->tblHistory->setRowCount(0);
    ui->btnCarry->setEnabled(false);
    if (book().empty()) return;
    BookSetInfo info;
    for (const BookSetInfo& b : listBookSets(db_))
        if (b.Code == book()) info = b;
    ui->lblInfo->setText(QStringLiteral("账套 %1 %2，当前会计年度 %3；结转后进入 %4 年度，%3 "
                                        "年度的记录仍可查询和对账，但不能再修改。")
                             .arg(q(info.Code), q(info.Name))
                             .arg(info.Year)
                             .arg(info.Year + 1));
    const std::vector<ClosingBalance> balances = closingBalances(db_, book(), info.Year);
    ui->tblBalances->setRowCount(static_cast<int>(balances.size()));
    for (int r = 0; r < static_cast<int>(balances.size()); ++r) {
        const ClosingBalance& b = balances[r];
        put(ui->tblBalances, r,
            {q(b.AsCode), q(b.Name), q(b.AccountNo), q(formatCents(b.JournalCents)),
             b.BankCents ? q(formatCents(*b.BankCents)) : QString()});
    }
    ui->tblBalances->resizeColumnsToContents();
    const std::vector<ClosedYear> years = closedYears(db_, book());
    ui->tblHistory->setRowCount(static_cast<int>(years.size()));
    for (int r = 0; r < static_cast<int>(years.size()); ++r)
        put(ui->tblHistory, r,
            {QString::number(years[r].Year), q(years[r].ClosedBy), q(years[r].ClosedAt),
             QString::number(years[r].Balances.size())});
    ui->tblHistory->resizeColumnsToContents();
    const std::string problem = carryForwardProblem(db_, book(), db_.serverTime());
    ui->lblProblem->setText(problem.empty() ? QStringLiteral("可以结转。") : q(problem));
    ui->btnCarry->setEnabled(problem.empty());
    if (problem.empty()) ui->btnCarry->setFocus(Qt::OtherFocusReason);
}

void TFrmCarryForward::Carry() {
    int year = 0;
    for (const BookSetInfo& b : listBookSets(db_))
        if (b.Code == book()) year = b.Year;
    if (MessageBoxA(this,
                    "将账套 " + book() + " 的 " + std::to_string(year) + " 年度结转到 " +
                        std::to_string(year + 1) + " 年度？结转后 " + std::to_string(year) +
                        " 年度的记录不能再录入、修改或删除。",
                    kCaption, MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2) != IDYES)
        return;
    try {
        carryForward(db_, actor_, book(), db_.serverTime());
    } catch (const UserError& e) {
        MessageBoxA(this, e.what(), kCaption, MB_OK | MB_ICONWARNING);
        reload();
        return;
    }
    MessageBoxA(this,
                "账套 " + book() + " 的 " + std::to_string(year) + " 年度已结转到 " +
                    std::to_string(year + 1) + " 年度。",
                kCaption, MB_OK | MB_ICONINFORMATION);
    reload();
}

}  // namespace office
