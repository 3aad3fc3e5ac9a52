#include "ListPage.h"

#include <QHeaderView>
#include <QKeyEvent>
#include <QLineEdit>
#include <QRegularExpression>
#include <QTableWidget>

#include "Guard.h"

namespace office {

ListPage::ListPage(QTableWidget* table, QLineEdit* search, const QStringList& headers)
    : QObject(table), table_(table), search_(search) {
    table_->setColumnCount(static_cast<int>(headers.size()));
    table_->setHorizontalHeaderLabels(headers);
    table_->verticalHeader()->hide();
    table_->horizontalHeader()->setStretchLastSection(true);
    table_->setTabKeyNavigation(false);
    table_->installEventFilter(this);
    if (search_) {
        search_->installEventFilter(this);
        connect(search_, &QLineEdit::textChanged, this,
                [this] { ledgerhost::guarded(table_, "查找", [&] { filter(); }); });
    }
    connect(table_, &QTableWidget::cellDoubleClicked, this, &ListPage::editRequested);
}

void ListPage::setRows(const std::vector<QStringList>& rows, const QStringList& keys,
                       const QString& current) {
    table_->setRowCount(static_cast<int>(rows.size()));
    int currentRow = 0;
    for (int r = 0; r < static_cast<int>(rows.size()); ++r) {
        for (int c = 0; c < table_->columnCount(); ++c) {
            auto* cell = new QTableWidgetItem(c < rows[r].size() ? rows[r][c] : QString());
            if (c == 0) cell->setData(Qt::UserRole, keys.value(r));
            // Amounts stand to the right, as in the journal.
            static const QRegularExpression amount(QStringLiteral("^-?[0-9,]+\\.[0-9]{2}$"));
            if (amount.match(cell->text()).hasMatch())
                cell->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
            table_->setItem(r, c, cell);
        }
        if (!current.isEmpty() && keys.value(r) == current) currentRow = r;
    }
    // The last column keeps the rest of the width.
    for (int c = 0; c + 1 < table_->columnCount(); ++c) table_->resizeColumnToContents(c);
    filter();
    if (!rows.empty() && !table_->isRowHidden(currentRow)) table_->setCurrentCell(currentRow, 0);
}

QString ListPage::currentKey() const {
    const int r = table_->currentRow();
    if (r < 0 || table_->isRowHidden(r) || !table_->item(r, 0)) return {};
    return table_->item(r, 0)->data(Qt::UserRole).toString();
}

// A row shows when one of its cells holds the searched text.
void ListPage::filter() {
    const QString wanted = search_ ? search_->text().trimmed() : QString();
    int first = -1;
    for (int r = 0; r < table_->rowCount(); ++r) {
        bool match = wanted.isEmpty();
        for (int c = 0; c < table_->columnCount() && !match; ++c)
            match = table_->item(r, c) &&
                    table_->item(r, c)->text().contains(wanted, Qt::CaseInsensitive);
        table_->setRowHidden(r, !match);
        if (match && first < 0) first = r;
    }
    const int r = table_->currentRow();
    if ((r < 0 || table_->isRowHidden(r)) && first >= 0) table_->setCurrentCell(first, 0);
}

bool ListPage::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::KeyPress) return false;
    bool handled = false;
    ledgerhost::guarded(table_, "列表按键", [&] {
        auto* key = static_cast<QKeyEvent*>(event);
        const bool ctrlN = key->key() == Qt::Key_N && key->modifiers() == Qt::ControlModifier;
        if (key->key() == Qt::Key_Insert || ctrlN) {
            handled = true;
            emit addRequested();
        } else if (watched == table_ &&
                   (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter)) {
            handled = true;
            if (!currentKey().isEmpty()) emit editRequested();
        } else if (watched == table_ && key->key() == Qt::Key_Delete) {
            handled = true;
            if (!currentKey().isEmpty()) emit deleteRequested();
        } else if (search_ && watched == search_ &&
                   (key->key() == Qt::Key_Down || key->key() == Qt::Key_Return ||
                    key->key() == Qt::Key_Enter)) {
            handled = true;
            table_->setFocus(Qt::OtherFocusReason);
        } else if (search_ && watched == table_ && !key->text().isEmpty() &&
                   key->text()[0].isPrint() &&
                   !(key->modifiers() & (Qt::ControlModifier | Qt::AltModifier))) {
            handled = true;
            search_->setFocus(Qt::OtherFocusReason);
            search_->insert(key->text());
        }
    });
    return handled;
}

QString codeAndName(const std::string& code, const std::string& name) {
    return QString::fromStdString(code) + ' ' + QString::fromStdString(name);
}

}  // namespace office
