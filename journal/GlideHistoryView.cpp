#include "GlideHistoryView.h"

#include <QDialogButtonBox>
#include <QHeaderView>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

#include "History.h"

using namespace ledgerhost;

TFrmGlideHistory::TFrmGlideHistory(QWidget* owner, Database& db, const std::string& table,
                                   std::int64_t id, const QString& title)
    : QDialog(owner) {
    setWindowTitle(QStringLiteral("修改记录 - %1").arg(title));
    setWindowFlags(windowFlags() & ~Qt::WindowContextHelpButtonHint);
    resize(860, 360);
    auto* layout = new QVBoxLayout(this);
    grid = new QTableWidget(this);
    grid->setObjectName(QStringLiteral("grid"));
    grid->setColumnCount(5);
    grid->setHorizontalHeaderLabels({QStringLiteral("时间"), QStringLiteral("操作"),
                                     QStringLiteral("操作员"), QStringLiteral("程序"),
                                     QStringLiteral("内容")});
    grid->setEditTriggers(QAbstractItemView::NoEditTriggers);
    grid->setSelectionBehavior(QAbstractItemView::SelectRows);
    grid->verticalHeader()->hide();
    grid->horizontalHeader()->setStretchLastSection(true);
    const auto entries = rowHistory(db, table, id);
    grid->setRowCount(static_cast<int>(entries.size()));
    for (int r = 0; r < grid->rowCount(); ++r) {
        const HistoryEntry& e = entries[static_cast<std::size_t>(r)];
        const std::string who = e.UserName.empty() ? e.User : e.User + " " + e.UserName;
        const std::string cells[] = {e.At, operationName(e.Operation), who, e.Program,
                                     e.Description};
        for (int c = 0; c < 5; ++c)
            grid->setItem(r, c, new QTableWidgetItem(QString::fromStdString(cells[c])));
    }
    grid->resizeColumnsToContents();
    grid->horizontalHeader()->setStretchLastSection(true);
    layout->addWidget(grid);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    buttons->button(QDialogButtonBox::Close)->setText(QStringLiteral("关闭"));
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
}
