#include "ReportOutput.h"

#include <xlsxwriter.h>

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFontMetricsF>
#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QPrinter>
#include <QSaveFile>
#include <QTemporaryFile>
#include <algorithm>
#include <cmath>
#include <functional>
#include <map>
#include <optional>
#include <unordered_map>
#include <utility>
#include <vector>

#include "Cell.h"
#include "Seams.h"
#include "Store.h"

namespace ledgerhost {

namespace {

// The report grids put the title in row 1 and their column headings in the
// rows up to row 4 (an information row and two heading rows); the rows after
// that are data. A sheet shorter than its heading has no heading rows; a sheet
// laid out otherwise says where its heading ends.
constexpr int kHeadingRows = 4;

// Rows of a sheet sampled to size its columns: every heading row and at most
// this many data rows spread over the whole sheet.
constexpr int kWidthSampleRows = 2000;

QString quoted(const QString& s) {
    return QStringLiteral("“") + s + QStringLiteral("”");
}

// Column letters as a spreadsheet names them (1 -> A, 27 -> AA).
QString columnName(int col) {
    QString name;
    for (int n = col; n > 0; n = (n - 1) / 26) name.prepend(QChar('A' + (n - 1) % 26));
    return name;
}

QString cellName(int col, int row) {
    return columnName(col) + QString::number(row);
}

bool isNumberStyled(const CellData& c) {
    return c.isNumber || c.numType == 1;
}

// The sheet's shape as the writers see it: its extent, the title and heading
// rows, and the merged areas cleaned up (clipped to the sheet, single cells and
// areas overlapping an earlier one dropped, so that every cell belongs to at
// most one area).
class SheetLayout {
  public:
    explicit SheetLayout(const SheetModel& sheet)
        : lastRow(sheet.sheetRows() - 1), lastCol(sheet.sheetCols() - 1) {
        titleRow = sheet.titleRow >= 1 && sheet.titleRow <= lastRow ? sheet.titleRow : 0;
        const int headings = sheet.headingEnd >= 0 ? sheet.headingEnd : kHeadingRows;
        headingEnd = lastRow >= headings ? headings : 0;
        for (CellSpan s : sheet.spans) {
            if (s.col < 1 || s.row < 1 || s.cols < 1 || s.rows < 1) continue;
            if (s.col > lastCol || s.row > lastRow) continue;
            s.cols = std::min(s.cols, lastCol - s.col + 1);
            s.rows = std::min(s.rows, lastRow - s.row + 1);
            if (s.cols == 1 && s.rows == 1) continue;
            bool free = true;
            for (int r = s.row; free && r < s.row + s.rows; ++r)
                for (int c = s.col; free && c < s.col + s.cols; ++c) free = spanAt(c, r) < 0;
            if (!free) continue;
            int index = static_cast<int>(spans.size());
            spans.push_back(s);
            for (int r = s.row; r < s.row + s.rows; ++r) {
                auto& owners = owner_[r];
                if (owners.empty()) owners.assign(static_cast<std::size_t>(lastCol) + 1, -1);
                for (int c = s.col; c < s.col + s.cols; ++c) owners[c] = index;
            }
        }
    }

    // The index in spans of the merged area holding the cell; -1 when none.
    int spanAt(int col, int row) const {
        auto it = owner_.find(row);
        return it == owner_.end() ? -1 : it->second[col];
    }
    bool isHeading(int row) const { return row <= headingEnd && row != titleRow; }

    // Rows that size the columns: the heading rows and a spread of data rows.
    std::vector<int> sampleRows() const {
        std::vector<int> rows;
        for (int r = 1; r <= headingEnd; ++r)
            if (r != titleRow) rows.push_back(r);
        int first = headingEnd + 1, count = lastRow - headingEnd;
        int step = std::max(1, count / kWidthSampleRows);
        for (int r = first; r <= lastRow; r += step)
            if (r != titleRow) rows.push_back(r);
        return rows;
    }

    // The widest text of each column (index 1..lastCol) as `measure` measures
    // it; cells of areas merged across columns and the title row do not count.
    template <class Measure>
    std::vector<double> naturalWidths(const SheetModel& sheet, Measure measure) const {
        std::vector<double> widths(static_cast<std::size_t>(lastCol) + 1, 0.0);
        for (int r : sampleRows()) {
            for (int c = 1; c <= lastCol; ++c) {
                int s = spanAt(c, r);
                if (s >= 0 && spans[s].cols > 1) continue;
                if (s >= 0 && (spans[s].col != c || spans[s].row != r)) continue;
                QString t = sheet.displayText(c, r);
                if (!t.isEmpty()) widths[c] = std::max(widths[c], measure(t));
            }
        }
        return widths;
    }

    int lastRow, lastCol;
    int titleRow = 0;
    int headingEnd = 0;
    std::vector<CellSpan> spans;

  private:
    std::unordered_map<int, std::vector<int>> owner_;
};

// Checks that the file can be created where asked; answers the reason when not.
QString targetProblem(const QString& path) {
    if (isStoreFile(path.toStdString())) return QString::fromUtf8(kStoreFileRefused);
    QFileInfo fi(path);
    if (fi.isDir()) return QStringLiteral("无法写入%1：这是一个文件夹。").arg(quoted(path));
    QDir dir = fi.absoluteDir();
    if (!dir.exists())
        return QStringLiteral("无法写入%1：文件夹%2不存在。")
            .arg(quoted(path), quoted(QDir::toNativeSeparators(dir.absolutePath())));
    return {};
}

// ---- csv ----

// Numbers go out as the grid shows them (two decimals, hidden zeros empty) but
// without grouping separators, so that a spreadsheet reads them back as numbers.
QString csvText(const SheetModel& sheet, int col, int row) {
    const CellData* c = sheet.cellAt(col, row);
    if (!c) return {};
    if (!c->isNumber) return c->text;
    if (c->hideZero && std::fabs(c->number) < 0.005) return {};
    if (c->numType == 1 || c->separator == 2) return QString::number(c->number, 'f', 2);
    return QString::number(c->number, 'g', 15);
}

QString csvField(QString t) {
    if (t.contains(',') || t.contains('"') || t.contains('\n') || t.contains('\r'))
        t = '"' + t.replace(QStringLiteral("\""), QStringLiteral("\"\"")) + '"';
    return t;
}

bool writeCsv(const SheetModel& sheet, const QString& path, QString* error) {
    QSaveFile f(path);
    if (!f.open(QIODevice::WriteOnly)) {
        *error = QStringLiteral("无法写入%1：%2").arg(quoted(path), f.errorString());
        return false;
    }
    const int rows = sheet.sheetRows() - 1, cols = sheet.sheetCols() - 1;
    QByteArray out = "\xEF\xBB\xBF";
    QString line;
    for (int r = 1; r <= rows; ++r) {
        line.clear();
        for (int c = 1; c <= cols; ++c) {
            if (c > 1) line += ',';
            line += csvField(csvText(sheet, c, r));
        }
        out += line.toUtf8();
        out += "\r\n";
        if (out.size() >= (1 << 20)) {
            if (f.write(out) != out.size()) break;
            out.clear();
        }
    }
    if (f.write(out) != out.size() || !f.commit()) {
        *error = QStringLiteral("无法写入%1：%2").arg(quoted(path), f.errorString());
        return false;
    }
    return true;
}

// ---- xlsx ----

QString lxwMessage(lxw_error e) {
    switch (e) {
        case LXW_ERROR_MEMORY_MALLOC_FAILED:
            return QStringLiteral("内存不足。");
        case LXW_ERROR_CREATING_XLSX_FILE:
            return QStringLiteral("无法创建文件，请检查文件夹是否可写。");
        case LXW_ERROR_CREATING_TMPFILE:
        case LXW_ERROR_READING_TMPFILE:
            return QStringLiteral("无法使用临时文件，请检查磁盘空间。");
        case LXW_ERROR_ZIP_FILE_OPERATION:
        case LXW_ERROR_ZIP_PARAMETER_ERROR:
        case LXW_ERROR_ZIP_BAD_ZIP_FILE:
        case LXW_ERROR_ZIP_INTERNAL_ERROR:
        case LXW_ERROR_ZIP_FILE_ADD:
        case LXW_ERROR_ZIP_CLOSE:
            return QStringLiteral("写入压缩文件失败，请检查磁盘空间。");
        case LXW_ERROR_MAX_STRING_LENGTH_EXCEEDED:
            return QStringLiteral("文字超过 Excel 单元格的上限（32767 个字符）。");
        case LXW_ERROR_WORKSHEET_INDEX_OUT_OF_RANGE:
            return QStringLiteral("表格超过 Excel 工作表的行数或列数上限。");
        default:
            return QStringLiteral("Excel 写入错误（%1）。").arg(QString::fromUtf8(lxw_strerror(e)));
    }
}

// The number format that shows a cell as the grid does; nullptr for General.
const char* numberFormatOf(const CellData& c) {
    const bool grouped = c.separator == 2, twoDecimals = grouped || c.numType == 1;
    if (c.hideZero) {
        if (grouped) return "#,##0.00;-#,##0.00;;@";
        if (twoDecimals) return "0.00;-0.00;;@";
        return "General;-General;;@";
    }
    if (grouped) return "#,##0.00";
    if (twoDecimals) return "0.00";
    return nullptr;
}

// Excel's column width unit is about one Latin character; CJK characters take two.
double charWidth(const QString& s) {
    double w = 0;
    for (QChar ch : s) w += ch.unicode() >= 0x2E80 ? 2.0 : 1.0;
    return w;
}

class XlsxWriter {
  public:
    XlsxWriter(const SheetModel& sheet, const SheetLayout& layout)
        : sheet_(sheet), layout_(layout) {}
    ~XlsxWriter() {
        if (book_) workbook_close(book_);  // only after a failure: frees it
    }

    // Writes the workbook to `file`; answers the reason on failure.
    QString write(const QString& file) {
        QByteArray name = QFile::encodeName(file);
        book_ = workbook_new(name.constData());
        if (!book_) return lxwMessage(LXW_ERROR_MEMORY_MALLOC_FAILED);
        ws_ = workbook_add_worksheet(book_, "Sheet1");
        if (!ws_) return lxwMessage(LXW_ERROR_MEMORY_MALLOC_FAILED);
        QString problem = writeCells();
        if (problem.isEmpty()) problem = writeLayout();
        if (problem.isEmpty()) problem = writePictures();
        if (!problem.isEmpty()) return problem;
        lxw_workbook* book = std::exchange(book_, nullptr);
        lxw_error e = workbook_close(book);
        return e == LXW_NO_ERROR ? QString() : lxwMessage(e);
    }

  private:
    // kTitleAcross: the title centred over the whole row when it is not merged.
    enum Role { kBody, kBodyMerged, kTitle, kTitleAcross, kHeading };

    Role roleOf(int row, bool merged) const {
        if (row == layout_.titleRow) return merged ? kTitle : kTitleAcross;
        if (layout_.isHeading(row)) return kHeading;
        return merged ? kBodyMerged : kBody;
    }

    // The format for a role and number format, made once per pair; nullptr
    // when neither asks for anything, or when libxlsxwriter is out of memory
    // (failed_ is then set).
    lxw_format* formatFor(Role role, const char* numFormat, bool alert = false) {
        if (role == kBody && !numFormat && !alert) return nullptr;
        auto key = std::make_pair(int(role) | (alert ? 0x100 : 0),
                                  std::string(numFormat ? numFormat : ""));
        if (auto it = formats_.find(key); it != formats_.end()) return it->second;
        lxw_format* f = workbook_add_format(book_);
        if (!f) {
            failed_ = true;
            return nullptr;
        }
        if (numFormat) format_set_num_format(f, numFormat);
        if (alert) format_set_font_color(f, LXW_COLOR_RED);
        if (role == kTitle || role == kTitleAcross) {
            format_set_bold(f);
            format_set_font_size(f, 16);
            format_set_align(f, role == kTitle ? LXW_ALIGN_CENTER : LXW_ALIGN_CENTER_ACROSS);
        }
        if (role == kHeading) {
            format_set_bold(f);
            format_set_align(f, LXW_ALIGN_CENTER);
        }
        format_set_align(f, LXW_ALIGN_VERTICAL_CENTER);
        formats_.emplace(std::move(key), f);
        return f;
    }

    QString failure(int col, int row, lxw_error e) const {
        return QStringLiteral("单元格 %1：%2").arg(cellName(col, row), lxwMessage(e));
    }

    // Writes one cell: a number, a string, or a blank that carries a format.
    QString writeCell(int col, int row, const CellData* c, lxw_format* f) {
        if (failed_) return lxwMessage(LXW_ERROR_MEMORY_MALLOC_FAILED);
        lxw_error e = LXW_NO_ERROR;
        const auto r = static_cast<lxw_row_t>(row - 1);
        const auto k = static_cast<lxw_col_t>(col - 1);
        if (c && c->isNumber) {
            e = worksheet_write_number(ws_, r, k, c->number, f);
        } else if (c && !c->text.isEmpty()) {
            QByteArray t = c->text.toUtf8();
            e = worksheet_write_string(ws_, r, k, t.constData(), f);
        } else if (f) {
            e = worksheet_write_blank(ws_, r, k, f);
        }
        return e == LXW_NO_ERROR ? QString() : failure(col, row, e);
    }

    QString writeMerge(const CellSpan& s) {
        const CellData* c = sheet_.cellAt(s.col, s.row);
        lxw_format* f = formatFor(roleOf(s.row, true),
                                  c && c->isNumber ? numberFormatOf(*c) : nullptr, c && c->alert);
        if (failed_) return lxwMessage(LXW_ERROR_MEMORY_MALLOC_FAILED);
        QByteArray text = c && !c->isNumber ? c->text.toUtf8() : QByteArray();
        lxw_error e = worksheet_merge_range(
            ws_, static_cast<lxw_row_t>(s.row - 1), static_cast<lxw_col_t>(s.col - 1),
            static_cast<lxw_row_t>(s.row + s.rows - 2), static_cast<lxw_col_t>(s.col + s.cols - 2),
            text.constData(), f);
        if (e != LXW_NO_ERROR) return failure(s.col, s.row, e);
        // A merged number: the area is merged empty, then the number written
        // into its first cell with the same format.
        if (c && c->isNumber) return writeCell(s.col, s.row, c, f);
        return {};
    }

    QString writeCells() {
        for (int r = 1; r <= layout_.lastRow; ++r) {
            for (int c = 1; c <= layout_.lastCol; ++c) {
                if (int s = layout_.spanAt(c, r); s >= 0) {
                    const CellSpan& span = layout_.spans[s];
                    if (span.col == c && span.row == r)
                        if (QString p = writeMerge(span); !p.isEmpty()) return p;
                    continue;
                }
                const CellData* cell = sheet_.cellAt(c, r);
                lxw_format* f = formatFor(roleOf(r, false),
                                          cell && cell->isNumber ? numberFormatOf(*cell) : nullptr,
                                          cell && cell->alert);
                if (QString p = writeCell(c, r, cell, f); !p.isEmpty()) return p;
            }
        }
        return {};
    }

    QString writeLayout() {
        auto check = [](lxw_error e) { return e == LXW_NO_ERROR ? QString() : lxwMessage(e); };
        std::vector<double> widths =
            layout_.naturalWidths(sheet_, [](const QString& t) { return charWidth(t); });
        for (int c = 1; c <= layout_.lastCol; ++c) {
            const auto k = static_cast<lxw_col_t>(c - 1);
            double w = std::clamp(widths[c] + 2.0, 6.0, 60.0);
            if (QString p = check(worksheet_set_column(ws_, k, k, w, nullptr)); !p.isEmpty())
                return p;
        }
        const int title = layout_.titleRow;
        if (title > 0) {
            const auto r = static_cast<lxw_row_t>(title - 1);
            if (QString p = check(worksheet_set_row(ws_, r, 30, nullptr)); !p.isEmpty()) return p;
        }
        if (layout_.headingEnd > 0) {
            // The heading rows (the title aside) stay in view and repeat on printed pages.
            const int first = title == 1 ? 2 : 1;
            const auto a = static_cast<lxw_row_t>(first - 1);
            const auto b = static_cast<lxw_row_t>(layout_.headingEnd - 1);
            if (QString p = check(worksheet_repeat_rows(ws_, a, b)); !p.isEmpty()) return p;
            worksheet_freeze_panes(ws_, static_cast<lxw_row_t>(layout_.headingEnd), 0);
        }
        worksheet_set_landscape(ws_);
        worksheet_set_paper(ws_, 9);  // A4
        worksheet_fit_to_pages(ws_, 1, 0);
        return {};
    }

    // Each picture as a PNG on a worksheet of its own, "图表", "图表2", ….
    // libxlsxwriter reads the buffers when the workbook is closed, so they
    // are kept until then.
    QString writePictures() {
        for (std::size_t i = 0; i < sheet_.pictures.size(); ++i) {
            const QImage& image = sheet_.pictures[i];
            if (image.isNull()) continue;
            QByteArray name =
                (i == 0 ? QStringLiteral("图表") : QStringLiteral("图表%1").arg(i + 1)).toUtf8();
            lxw_worksheet* ws = workbook_add_worksheet(book_, name.constData());
            if (!ws) return lxwMessage(LXW_ERROR_MEMORY_MALLOC_FAILED);
            QByteArray& png = pngs_.emplace_back();
            QBuffer buffer(&png);
            buffer.open(QIODevice::WriteOnly);
            if (!image.save(&buffer, "PNG")) return QStringLiteral("无法保存图表图片。");
            lxw_error e = worksheet_insert_image_buffer(
                ws, 0, 0, reinterpret_cast<const unsigned char*>(png.constData()),
                static_cast<size_t>(png.size()));
            if (e != LXW_NO_ERROR) return lxwMessage(e);
            worksheet_set_landscape(ws);
            worksheet_set_paper(ws, 9);  // A4
            worksheet_fit_to_pages(ws, 1, 1);
        }
        return {};
    }

    const SheetModel& sheet_;
    const SheetLayout& layout_;
    std::vector<QByteArray> pngs_;
    lxw_workbook* book_ = nullptr;
    lxw_worksheet* ws_ = nullptr;
    std::map<std::pair<int, std::string>, lxw_format*> formats_;
    bool failed_ = false;
};

// The workbook is built in a temporary file and then saved over the target
// in one step (QSaveFile), so a failed export leaves an earlier file intact and
// the new file gets the permissions of any other file the user saves.
bool writeXlsx(const SheetModel& sheet, const QString& path, QString* error) {
    QTemporaryFile tmp(QDir::temp().filePath(QStringLiteral("ledger-export-XXXXXX.xlsx")));
    if (!tmp.open()) {
        *error = QStringLiteral("无法创建临时文件：%1").arg(tmp.errorString());
        return false;
    }
    tmp.close();
    SheetLayout layout(sheet);
    QString problem = XlsxWriter(sheet, layout).write(tmp.fileName());
    if (!problem.isEmpty()) {
        *error = QStringLiteral("无法写入%1：%2").arg(quoted(path), problem);
        return false;
    }
    if (!tmp.open()) {
        *error = QStringLiteral("无法读取临时文件：%1").arg(tmp.errorString());
        return false;
    }
    QSaveFile f(path);
    bool ok = f.open(QIODevice::WriteOnly);
    while (ok && !tmp.atEnd()) {
        QByteArray chunk = tmp.read(1 << 20);
        ok = !chunk.isEmpty() && f.write(chunk) == chunk.size();
    }
    if (!ok || !f.commit()) {
        *error = QStringLiteral("无法写入%1：%2").arg(quoted(path), f.errorString());
        return false;
    }
    return true;
}

// ---- painting (print and pdf) ----

// How much smaller than the body text a cell's text may be set to fit.
constexpr double kLeastTextScale = 0.6;

class SheetPainter {
  public:
    SheetPainter(const SheetModel& sheet, QPainter& p, QPaintDevice& device,
                 std::function<bool()> newPage, QString title)
        : sheet_(sheet),
          layout_(sheet),
          p_(p),
          device_(device),
          newPage_(std::move(newPage)),
          title_(std::move(title)) {
        if (title_.isEmpty() && layout_.titleRow > 0)
            title_ = sheet_.displayText(1, layout_.titleRow).trimmed();
        pageW_ = device.width();
        pageH_ = device.height();
        bodyFont_ = QFont(sheet.titleFont.family());
        bodyFont_.setPointSizeF(9);
        headFont_ = bodyFont_;
        headFont_.setBold(true);
        titleFont_ = bodyFont_;
        titleFont_.setPointSizeF(16);
        titleFont_.setBold(true);
        bodyMetrics_.emplace(bodyFont_, &device);
        headMetrics_.emplace(headFont_, &device);
        const QFontMetricsF& body = *bodyMetrics_;
        QFontMetricsF titleMetrics(titleFont_, &device);
        rowH_ = std::ceil(body.height() * 1.6);
        titleH_ = title_.isEmpty() ? 0 : std::ceil(titleMetrics.height() * 2.2);
        footerH_ = std::ceil(body.height() * 2.2);
        pad_ = mm(1.0);
        layOutColumns(body);
        paginate();
    }

    void paint() {
        const int rowPages = static_cast<int>(pages_.size());
        int pages = rowPages;
        for (const QImage& image : sheet_.pictures) pages += image.isNull() ? 0 : 1;
        for (int i = 0; i < rowPages; ++i) {
            if (i > 0) newPage_();
            paintPage(i, pages);
        }
        int page = rowPages;
        for (const QImage& image : sheet_.pictures) {
            if (image.isNull()) continue;
            newPage_();
            paintPicture(image, page++, pages);
        }
    }

  private:
    double mm(double v) const { return v * device_.logicalDpiX() / 25.4; }

    void layOutColumns(const QFontMetricsF& body) {
        const QFontMetricsF& head = *headMetrics_;
        std::vector<double> w = layout_.naturalWidths(sheet_, [&](const QString& t) {
            return std::max(body.horizontalAdvance(t), head.horizontalAdvance(t));
        });
        colX_.assign(static_cast<std::size_t>(layout_.lastCol) + 2, 0.0);
        double total = 0;
        for (int c = 1; c <= layout_.lastCol; ++c) {
            w[c] = std::max(w[c] + 2 * pad_, mm(8));
            total += w[c];
        }
        // A heading merged across columns (the account and the period over
        // the amounts) takes what the page has to spare beyond the columns'
        // own widths, so that it is set at its size where the page allows.
        double spare = pageW_ - total;
        for (const CellSpan& span : layout_.spans) {
            if (spare <= 0 || span.cols < 2 || !layout_.isHeading(span.row)) continue;
            const QString t = sheet_.displayText(span.col, span.row);
            double have = 0;
            for (int c = span.col; c < span.col + span.cols; ++c) have += w[c];
            const double add = std::min(spare, head.horizontalAdvance(t) + 2 * pad_ - have);
            if (add <= 0) continue;
            for (int c = span.col; c < span.col + span.cols; ++c) w[c] += add / span.cols;
            total += add;
            spare -= add;
        }
        const double scale = total > 0 ? pageW_ / total : 1.0;
        for (int c = 1; c <= layout_.lastCol; ++c) colX_[c + 1] = colX_[c] + w[c] * scale;
    }

    // Page breaks: the heading rows take the top of every page, the title the
    // top of the first; every page shows at least one data row.
    void paginate() {
        for (int r = 1; r <= layout_.headingEnd; ++r)
            if (r != layout_.titleRow) heading_.push_back(r);
        for (int r = layout_.headingEnd + 1; r <= layout_.lastRow; ++r)
            if (r != layout_.titleRow) body_.push_back(r);
        const double headingH = rowH_ * static_cast<double>(heading_.size());
        std::size_t next = 0;
        do {
            double room = pageH_ - footerH_ - headingH - (pages_.empty() ? titleH_ : 0);
            std::size_t fits = static_cast<std::size_t>(std::max(1.0, std::floor(room / rowH_)));
            std::size_t end = std::min(body_.size(), next + fits);
            pages_.push_back({next, end});
            next = end;
        } while (next < body_.size());
    }

    void paintPage(int index, int pages) {
        double y = 0;
        if (index == 0 && !title_.isEmpty()) {
            p_.setFont(titleFont_);
            p_.setPen(Qt::black);
            p_.drawText(QRectF(0, 0, pageW_, titleH_), Qt::AlignCenter | Qt::TextSingleLine,
                        title_);
            y = titleH_;
        }
        // The sheet rows on this page, each with its top.
        rowTop_.clear();
        for (int r : heading_) {
            rowTop_[r] = y;
            y += rowH_;
        }
        const auto [from, to] = pages_[static_cast<std::size_t>(index)];
        for (std::size_t i = from; i < to; ++i) {
            rowTop_[body_[i]] = y;
            y += rowH_;
        }
        QPen pen(Qt::black);
        pen.setWidthF(mm(0.15));
        std::vector<bool> spanDone(layout_.spans.size(), false);
        auto paintRow = [&](int r) {
            for (int c = 1; c <= layout_.lastCol; ++c) {
                int s = layout_.spanAt(c, r);
                if (s < 0) {
                    paintCell(QRectF(colX_[c], rowTop_[r], colX_[c + 1] - colX_[c], rowH_), c, r,
                              pen);
                    continue;
                }
                if (spanDone[s]) continue;
                spanDone[s] = true;
                // A merged area: one cell over the part of it on this page.
                const CellSpan& span = layout_.spans[s];
                double top = -1, bottom = -1;
                for (int k = span.row; k < span.row + span.rows; ++k) {
                    auto it = rowTop_.find(k);
                    if (it == rowTop_.end()) continue;
                    if (top < 0 || it->second < top) top = it->second;
                    bottom = std::max(bottom, it->second + rowH_);
                }
                double left = colX_[span.col], right = colX_[span.col + span.cols];
                paintCell(QRectF(left, top, right - left, bottom - top), span.col, span.row, pen);
            }
        };
        for (int r : heading_) paintRow(r);
        for (std::size_t i = from; i < to; ++i) paintRow(body_[i]);

        p_.setFont(bodyFont_);
        p_.setPen(Qt::black);
        p_.drawText(QRectF(0, pageH_ - footerH_, pageW_, footerH_), Qt::AlignCenter,
                    QStringLiteral("第 %1 页 共 %2 页").arg(index + 1).arg(pages));
    }

    // A picture on a page of its own, as large as the page allows above the
    // page number, its proportions kept.
    void paintPicture(const QImage& image, int index, int pages) {
        const QRectF room(0, 0, pageW_, pageH_ - footerH_);
        QSizeF size = QSizeF(image.size()).scaled(room.size(), Qt::KeepAspectRatio);
        const QRectF target(room.left() + (room.width() - size.width()) / 2, room.top(),
                            size.width(), size.height());
        p_.setRenderHint(QPainter::SmoothPixmapTransform);
        p_.drawImage(target, image);
        p_.setFont(bodyFont_);
        p_.setPen(Qt::black);
        p_.drawText(QRectF(0, pageH_ - footerH_, pageW_, footerH_), Qt::AlignCenter,
                    QStringLiteral("第 %1 页 共 %2 页").arg(index + 1).arg(pages));
    }

    void paintCell(const QRectF& rect, int col, int row, const QPen& pen) {
        p_.setPen(pen);
        p_.setBrush(Qt::NoBrush);
        p_.drawRect(rect);
        QString text = sheet_.displayText(col, row);
        if (text.isEmpty()) return;
        const bool heading = layout_.isHeading(row) || row == layout_.titleRow;
        const CellData* c = sheet_.cellAt(col, row);
        int align = Qt::AlignVCenter | Qt::TextSingleLine;
        if (heading)
            align |= Qt::AlignHCenter;
        else if (c && isNumberStyled(*c))
            align |= Qt::AlignRight;
        else
            align |= Qt::AlignLeft;
        QRectF inner = rect.adjusted(pad_, 0, -pad_, 0);
        const QFontMetricsF& fm = heading ? *headMetrics_ : *bodyMetrics_;
        QFont font = heading ? headFont_ : bodyFont_;
        const double wide = fm.horizontalAdvance(text);
        if (wide > inner.width()) {
            // A text wider than its cell (the period over the amount columns,
            // a long amount) is set smaller until it fits, down to 60 % of the
            // size; only beyond that is it cut, so a page still says what it
            // shows.
            const double factor = std::max(kLeastTextScale, inner.width() / wide * 0.98);
            font.setPointSizeF(font.pointSizeF() * factor);
            const QFontMetricsF smaller(font, &device_);
            if (smaller.horizontalAdvance(text) > inner.width())
                text = smaller.elidedText(text, Qt::ElideRight, inner.width());
        }
        p_.setFont(font);
        p_.setPen(c && c->alert ? Qt::red : Qt::black);
        p_.drawText(inner, align, text);
    }

    const SheetModel& sheet_;
    SheetLayout layout_;
    QPainter& p_;
    QPaintDevice& device_;
    std::function<bool()> newPage_;
    QString title_;
    QFont bodyFont_, headFont_, titleFont_;
    double pageW_ = 0, pageH_ = 0, rowH_ = 0, titleH_ = 0, footerH_ = 0, pad_ = 0;
    std::optional<QFontMetricsF> bodyMetrics_, headMetrics_;
    std::vector<double> colX_;
    std::vector<int> heading_, body_;
    std::vector<std::pair<std::size_t, std::size_t>> pages_;
    std::unordered_map<int, double> rowTop_;
};

bool writePdf(const SheetModel& sheet, const QString& path, QString* error,
              const QPageLayout& page) {
    QSaveFile f(path);
    if (!f.open(QIODevice::WriteOnly)) {
        *error = QStringLiteral("无法写入%1：%2").arg(quoted(path), f.errorString());
        return false;
    }
    {
        // At the writer's 1200 dpi, the resolution of a high-resolution
        // printer writing PDF, so that the page breaks are the preview's.
        QPdfWriter pdf(&f);
        pdf.setPageLayout(page);
        QPainter p;
        if (!p.begin(&pdf)) {
            *error = QStringLiteral("无法写入%1：不能生成 PDF。").arg(quoted(path));
            return false;
        }
        SheetPainter(
            sheet, p, pdf, [&pdf] { return pdf.newPage(); }, QString())
            .paint();
        if (!p.end()) {
            *error = QStringLiteral("无法写入%1：不能生成 PDF。").arg(quoted(path));
            return false;
        }
    }
    if (!f.commit()) {
        *error = QStringLiteral("无法写入%1：%2").arg(quoted(path), f.errorString());
        return false;
    }
    return true;
}

}  // namespace

QPageLayout reportPageLayout() {
    return QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Landscape, QMarginsF(10, 10, 10, 10),
                       QPageLayout::Millimeter);
}

bool exportSheet(const SheetModel& sheet, const QString& path, QString* error,
                 const QPageLayout& page) {
    QString ignored;
    if (!error) error = &ignored;
    const QString ext = QFileInfo(path).suffix().toLower();
    if (ext != QLatin1String("csv") && ext != QLatin1String("xlsx") &&
        ext != QLatin1String("pdf")) {
        *error = QStringLiteral("不支持的导出格式：%1（可导出为 .xlsx、.csv 或 .pdf 文件）")
                     .arg(ext.isEmpty() ? quoted(QFileInfo(path).fileName()) : "." + ext);
        return false;
    }
    if (QString problem = targetProblem(path); !problem.isEmpty()) {
        *error = problem;
        return false;
    }
    if (ext == QLatin1String("csv")) return writeCsv(sheet, path, error);
    if (ext == QLatin1String("xlsx")) return writeXlsx(sheet, path, error);
    return writePdf(sheet, path, error, page);
}

void printSheet(const SheetModel& sheet, QPrinter& printer, const QString& title) {
    // Printing to a file that is the open database would overwrite it.
    if (!printer.outputFileName().isEmpty() &&
        isStoreFile(printer.outputFileName().toStdString())) {
        MessageBoxA(applicationWindow(), kStoreFileRefused, "提示", MB_OK | MB_ICONWARNING);
        return;
    }
    QPainter p;
    if (!p.begin(&printer)) return;
    SheetPainter(
        sheet, p, printer, [&printer] { return printer.newPage(); }, title)
        .paint();
    p.end();
}

void paintSheet(const SheetModel& sheet, QPainter& painter, QPaintDevice& device,
                const std::function<bool()>& newPage, const QString& title) {
    SheetPainter(sheet, painter, device, newPage, title).paint();
}

}  // namespace ledgerhost
