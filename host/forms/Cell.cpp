#include "Cell.h"

#include <QColor>
#include <QHeaderView>
#include <QLocale>
#include <QMetaObject>
#include <cmath>

namespace ledgerhost {

QString formatCellNumber(const CellData& c) {
    if (!c.isNumber) return c.text;
    if (c.hideZero && std::fabs(c.number) < 0.005) return {};
    if (c.numType == 1 || c.separator == 2) {
        QLocale l = c.separator == 2 ? QLocale(QLocale::English) : QLocale::c();
        if (c.separator != 2) l.setNumberOptions(QLocale::OmitGroupSeparator);
        return l.toString(c.number, 'f', 2);
    }
    return QString::number(c.number, 'g', 15);
}

QString SharedTexts::operator()(std::string_view utf8) {
    if (utf8.empty()) return {};
    return keyed(utf8, [utf8] {
        return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
    });
}

SheetModel::SheetModel(QObject* parent) : QAbstractTableModel(parent) {}

void SheetModel::setRowCount(int n) {
    int rows = std::max(0, n - 1);
    if (rows == rows_) return;
    if (rows < rows_) {
        beginResetModel();
        rows_ = rows;
        cells_.resize(static_cast<std::size_t>(rows_) * cols_);
        scheduleTrim();
        std::erase_if(spans, [&](const CellSpan& s) { return s.row > rows_; });
        endResetModel();
    } else {
        beginInsertRows({}, rows_, rows - 1);
        rows_ = rows;
        cells_.resize(static_cast<std::size_t>(rows_) * cols_);
        endInsertRows();
    }
}

void SheetModel::setColCount(int n) {
    int cols = std::max(1, n - 1);
    if (cols == cols_) return;
    beginResetModel();
    std::vector<CellData> fresh(static_cast<std::size_t>(rows_) * cols);
    for (int r = 0; r < rows_; ++r)
        for (int c = 0; c < std::min(cols, cols_); ++c)
            fresh[static_cast<std::size_t>(r) * cols + c] =
                std::move(cells_[static_cast<std::size_t>(r) * cols_ + c]);
    cells_ = std::move(fresh);
    cols_ = cols;
    endResetModel();
}

CellData& SheetModel::grownCell(int col, int row) {
    if (row < 1) row = 1;
    if (col < 1) col = 1;
    if (col > cols_) setColCount(col + 1);
    if (row > rows_) setRowCount(row + 1);
    touch();
    return cells_[static_cast<std::size_t>(row - 1) * cols_ + (col - 1)];
}

const CellData* SheetModel::cellAt(int col, int row) const {
    if (row < 1 || col < 1 || row > rows_ || col > cols_) return nullptr;
    return &cells_[static_cast<std::size_t>(row - 1) * cols_ + (col - 1)];
}

QString SheetModel::displayText(int col, int row) const {
    const CellData* c = cellAt(col, row);
    return c ? formatCellNumber(*c) : QString();
}

void SheetModel::touch() {
    if (touchPending_) return;
    touchPending_ = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            touchPending_ = false;
            if (rows_ > 0) emit dataChanged(index(0, 0), index(rows_ - 1, cols_ - 1));
        },
        Qt::QueuedConnection);
}

// A grid is usually emptied only to be filled again in the same event (the
// journal's RebuildGrid): the storage is kept for that, and given back once the
// event is done if the sheet stayed much smaller than it.
void SheetModel::scheduleTrim() {
    if (trimPending_) return;
    trimPending_ = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            trimPending_ = false;
            if (cells_.capacity() > 2 * cells_.size() + 4096) cells_.shrink_to_fit();
        },
        Qt::QueuedConnection);
}

int SheetModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : rows_;
}
int SheetModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : cols_;
}

QVariant SheetModel::data(const QModelIndex& index, int role) const {
    const CellData* c = cellAt(index.column() + 1, index.row() + 1);
    if (!c) return {};
    switch (role) {
        case Qt::DisplayRole:
            return formatCellNumber(*c);
        case Qt::TextAlignmentRole:
            if (index.row() + 1 == titleRow) return int(Qt::AlignCenter);
            return int((c->isNumber || c->numType == 1 ? Qt::AlignRight : Qt::AlignLeft) |
                       Qt::AlignVCenter);
        case Qt::FontRole:
            if (index.row() + 1 == titleRow) return titleFont;
            return {};
        case Qt::ForegroundRole:
            if (c->alert) return QColor(Qt::red);
            if (c->reconciled) return QColor(0x1e, 0x6b, 0x2e);
            return {};
        case Qt::BackgroundRole:
            if (c->reconciled) return QColor(0xe8, 0xf5, 0xe9);
            return {};
        case Qt::ToolTipRole:
            if (c->reconciled) return QStringLiteral("已对账：修改或删除前须先取消对账");
            return {};
        default:
            return {};
    }
}

QVariant SheetModel::headerData(int section, Qt::Orientation o, int role) const {
    if (role != Qt::DisplayRole) return {};
    if (o == Qt::Vertical) return section + 1;
    QString name;
    for (int n = section + 1; n > 0; n = (n - 1) / 26) name.prepend(QChar('A' + (n - 1) % 26));
    return name;
}

TCell::TCell(QWidget* parent) : QTableView(parent), model_(new SheetModel(this)) {
    setModel(model_);
    setObjectName(QStringLiteral("Cell"));
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    verticalHeader()->setDefaultSectionSize(22);
    horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setWordWrap(false);
}

void TCell::SetRows(int rows, int) {
    int before = model_->rowCount();
    model_->setRowCount(rows);
    if (model_->rowCount() < before) clearSpans();
}

int TCell::GetRows(int) const {
    return model_->sheetRows();
}
void TCell::SetCols(int cols, int) {
    model_->setColCount(cols);
}
int TCell::GetCols(int) const {
    return model_->sheetCols();
}

QString TCell::GetCellString(int col, int row) const {
    const CellData* c = model_->cellAt(col, row);
    return c ? c->text : QString();
}

double TCell::GetCellDouble(int col, int row) const {
    const CellData* c = model_->cellAt(col, row);
    return c && c->isNumber ? c->number : 0.0;
}

void TCell::MergeCells(int col1, int row1, int col2, int row2) {
    if (col2 < col1) std::swap(col1, col2);
    if (row2 < row1) std::swap(row1, row2);
    model_->cell(col2, row2);  // make sure the area exists
    model_->spans.push_back({col1, row1, col2 - col1 + 1, row2 - row1 + 1});
    setSpan(row1 - 1, col1 - 1, row2 - row1 + 1, col2 - col1 + 1);
}

int TCell::GetCurrentRow() const {
    QModelIndex i = currentIndex();
    return i.isValid() ? i.row() + 1 : 0;
}

void TCell::SetCurrentRow(int row) {
    if (row < 1 || row > model_->rowCount()) {
        setCurrentIndex({});
        return;
    }
    setCurrentIndex(model_->index(row - 1, 0));
}

}  // namespace ledgerhost
