#pragma once

#include <QAbstractTableModel>
#include <QFont>
#include <QImage>
#include <QString>
#include <QTableView>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "LhApi.h"

namespace ledgerhost {

// One cell of the report sheet.
struct LH_API CellData {
    QString text;
    double number = 0;
    bool isNumber = false;
    std::uint8_t numType = 0;    // 1: a number with two decimals
    std::uint8_t separator = 0;  // 2: grouping separators
    bool hideZero = false;
    bool reconciled = false;  // shown in the reconciled colour, with a tooltip
    bool alert = false;       // drawn in red (grid, print, xlsx): a figure that needs attention
    bool operator==(const CellData&) const = default;
};

struct LH_API CellSpan {
    int col, row, cols, rows;  // 1-based first cell and extent
};

// The sheet behind the grid: rows and columns numbered from 1 as the grid
// numbers them. Cells are kept row by row in one flat vector, so a sheet of
// many rows costs little more than its text.
class LH_API SheetModel final : public QAbstractTableModel {
    Q_OBJECT
  public:
    explicit SheetModel(QObject* parent = nullptr);

    // Row and column counts include the grid's heading row and column 0, so a
    // sheet of n rows has the rows 1 to n - 1.
    void setRowCount(int n);
    int sheetRows() const { return rows_ + 1; }
    void setColCount(int n);
    int sheetCols() const { return cols_ + 1; }

    // The cell, the sheet grown to hold it first when it lies outside.
    CellData& cell(int col, int row) {
        if (row < 1 || col < 1 || row > rows_ || col > cols_) return grownCell(col, row);
        if (!touchPending_) touch();
        return cells_[static_cast<std::size_t>(row - 1) * cols_ + (col - 1)];
    }
    const CellData* cellAt(int col, int row) const;
    QString displayText(int col, int row) const;
    void touch();  // announce changed cells once the current event is done

    std::vector<CellSpan> spans;
    QFont titleFont;
    int titleRow = 0;  // 0: none
    // The last of the heading rows that print and export repeat on each page;
    // -1: row 4, as the report grids lay out their title and headings.
    int headingEnd = -1;
    // Pictures that go with the sheet (a chart): printed and written to PDF
    // after its rows, each on a page of its own; in a workbook each on a
    // worksheet of its own ("图表"); not in CSV, which holds text only.
    std::vector<QImage> pictures;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation o, int role) const override;

  private:
    int rows_ = 0;  // sheet rows 1..rows_
    int cols_ = 12;
    std::vector<CellData> cells_;
    bool touchPending_ = false;
    bool trimPending_ = false;
    void scheduleTrim();
    CellData& grownCell(int col, int row);
};

// The spreadsheet grid of the base report form, with the operations the
// journal window uses. A QTableView over SheetModel: no widget per cell.
class LH_API TCell final : public QTableView {
    Q_OBJECT
  public:
    explicit TCell(QWidget* parent = nullptr);

    void SetRows(int rows, int sheet = 0);
    int GetRows(int sheet = 0) const;
    void SetCols(int cols, int sheet = 0);
    int GetCols(int sheet = 0) const;
    void S(int col, int row, const QString& text) {
        CellData& c = model_->cell(col, row);
        c.text = text;
        c.isNumber = false;
    }
    void D(int col, int row, double value) {
        CellData& c = model_->cell(col, row);
        c.number = value;
        c.isNumber = true;
        c.text.clear();
    }
    QString GetCellString(int col, int row) const;
    double GetCellDouble(int col, int row) const;
    void MergeCells(int col1, int row1, int col2, int row2);
    void SetCellNumType(int col, int row, int, int type) {
        model_->cell(col, row).numType = static_cast<std::uint8_t>(type);
    }
    void SetCellHideZero(int col, int row, int, int hide) {
        model_->cell(col, row).hideZero = hide != 0;
    }
    void SetCellSeparator(int col, int row, int, int style) {
        model_->cell(col, row).separator = static_cast<std::uint8_t>(style);
    }
    int GetCurSheet() const { return 0; }
    // The sheet row of the current cell; 0 when there is none.
    int GetCurrentRow() const;
    void SetCurrentRow(int row);

    // The text as the grid shows it (formatted numbers, hidden zeros).
    QString DisplayText(int col, int row) const { return model_->displayText(col, row); }
    SheetModel* sheet() const { return model_; }

  private:
    SheetModel* model_;
};

// Converts UTF-8 texts to QString, handing out one shared copy per distinct
// text: a sheet column of repeated texts (summaries, units, directions) then
// costs one string per distinct text instead of one per cell. Holds at most
// kLimit texts; when full it starts again empty.
class LH_API SharedTexts {
  public:
    static constexpr std::size_t kLimit = 4096;
    QString operator()(std::string_view utf8);
    // The text made for a key: made by make() the first time, shared after.
    template <class Make>
    QString keyed(std::string_view key, Make&& make) {
        if (auto it = texts_.find(key); it != texts_.end()) return it->second;
        if (texts_.size() >= kLimit) texts_.clear();
        return texts_.emplace(std::string(key), make()).first->second;
    }
    void clear() { texts_.clear(); }

  private:
    struct Hash {
        using is_transparent = void;
        std::size_t operator()(std::string_view s) const noexcept {
            return std::hash<std::string_view>()(s);
        }
    };
    std::unordered_map<std::string, QString, Hash, std::equal_to<>> texts_;
};

// Formats a number cell's value as the grid shows it.
LH_API QString formatCellNumber(const CellData& c);

}  // namespace ledgerhost
