#include "untFileToStringArray.h"

#include <optional>

#include "Codec.h"
#include "Digest.h"
#include "ImportFiles.h"
#include "ImportLog.h"
#include "Records.h"
#include "Trim.h"

namespace {

// Widest part of a row the workbook reader looks at.
constexpr int kMaxCols = 200;

[[noreturn]] void fail(const std::string& fileName, const std::string& reason) {
    throw ImportError("无法读取文件 " + fileName + "：" + reason);
}

// The host's read errors carry the message the user sees; here they become
// the readers' own error.
[[noreturn]] void rethrowRead(const ledgerhost::FileReadError& e) {
    if (e.ReaderMissing) throw ImportError(kNoWorkbookReader);
    throw ImportError(e.what());
}

// Splits at CR LF, CR or LF; a break at the very end closes the last line
// without starting an empty one.
std::vector<std::string> splitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0, i = 0, n = text.size();
    while (i < n) {
        char c = text[i];
        if (c == '\r' || c == '\n') {
            lines.emplace_back(text, start, i - start);
            i += (c == '\r' && i + 1 < n && text[i + 1] == '\n') ? 2 : 1;
            start = i;
        } else {
            ++i;
        }
    }
    if (start < n) lines.emplace_back(text, start);
    return lines;
}

}  // namespace

// An open workbook with its first worksheet selected (the host's reader, with
// its errors turned into ImportError).
class XlsBook {
  public:
    explicit XlsBook(const std::string& fileName) {
        try {
            book_ = std::make_unique<ledgerhost::XlsWorkbook>(fileName);
        } catch (const ledgerhost::FileReadError& e) {
            rethrowRead(e);
        }
    }

    // Text of the cell at a 0-based row and column; nothing when the cell is
    // empty or outside the sheet.
    std::optional<std::string> cell(std::int64_t row, int col) const {
        try {
            return book_->cellText(row, col);
        } catch (const ledgerhost::FileReadError& e) {
            rethrowRead(e);
        }
    }

    const std::string& digest() const { return book_->digest(); }

  private:
    std::unique_ptr<ledgerhost::XlsWorkbook> book_;
};

TFileToArray::TFileToArray(std::string fileName) : FileName(std::move(fileName)) {}
TFileToArray::~TFileToArray() = default;

void TTextToArray::LoadLines() {
    std::string text;
    try {
        std::string bytes = ledgerhost::readFileBytes(FileName);
        Digest = ledgerhost::contentDigest(bytes);
        text = ledgerhost::decodeFileText(bytes);
    } catch (const ledgerhost::FileReadError& e) {
        rethrowRead(e);
    } catch (const std::exception& e) {
        // The workstation's code page is not one this system can convert.
        fail(FileName, e.what());
    }
    Lines = splitLines(text);
    loaded_ = true;
}

void TTextToArray::forEachBlock(const std::function<bool(std::string_view)>& block,
                                ledgerhost::ContentDigest* digest) {
    std::string carry;
    bool more = true;
    ledgerhost::readFileBlocks(FileName, [&](std::string_view bytes) {
        if (digest) digest->add(bytes);
        carry.append(bytes);
        // Up to the last line break; a CR at the very end may be the first
        // half of a CR LF, so the block ends at the break before it.
        std::size_t cut = carry.find_last_of("\r\n");
        if (cut != std::string::npos && carry[cut] == '\r' && cut + 1 == carry.size())
            cut = cut == 0 ? std::string::npos : carry.find_last_of("\r\n", cut - 1);
        if (cut == std::string::npos) return true;
        more = block(std::string_view(carry).substr(0, cut + 1));
        carry.erase(0, cut + 1);
        return more;
    });
    if (more && !carry.empty()) block(carry);
}

void TTextToArray::ScanFile(std::size_t maxLine) {
    loaded_ = false;
    Lines.clear();
    decoding_ = std::make_unique<ledgerhost::TextDecoding>(maxLine);
    try {
        ledgerhost::ContentDigest digest;
        ledgerhost::readFileBlocks(FileName, [&](std::string_view bytes) {
            digest.add(bytes);
            decoding_->scan(bytes);
            return true;
        });
        if (decoding_->finishScan())
            forEachBlock([&](std::string_view lines) {
                decoding_->checkCodePage(lines);
                return true;
            });
        Digest = digest.hex();
    } catch (const ledgerhost::FileReadError& e) {
        rethrowRead(e);
    } catch (const std::exception& e) {
        // Not text in one encoding, or a code page this system cannot convert.
        fail(FileName, e.what());
    }
    LineCount = decoding_->lines();
}

void TTextToArray::ForEachLine(const std::function<bool(std::size_t, std::string&)>& each) {
    if (!decoding_) ScanFile(0);
    ReadDigest.clear();
    ledgerhost::ContentDigest digest;
    bool first = true, more = true;
    std::size_t index = 0;
    std::string line;
    try {
        forEachBlock(
            [&](std::string_view lines) {
                std::string text;
                try {
                    text = decoding_->decode(lines, first);
                } catch (const std::exception& e) {
                    fail(FileName, e.what());
                }
                first = false;
                // The lines as LoadLines splits them.
                std::size_t start = 0, i = 0;
                const std::size_t n = text.size();
                while (i < n && more) {
                    const char c = text[i];
                    if (c == '\r' || c == '\n') {
                        line.assign(text, start, i - start);
                        more = each(index++, line);
                        i += (c == '\r' && i + 1 < n && text[i + 1] == '\n') ? 2 : 1;
                        start = i;
                    } else {
                        ++i;
                    }
                }
                if (more && start < n) {
                    line.assign(text, start);
                    more = each(index++, line);
                }
                return more;
            },
            &digest);
    } catch (const ledgerhost::FileReadError& e) {
        rethrowRead(e);
    }
    if (more) ReadDigest = digest.hex();
}

void TTextToArray::LoadArray() {
    if (!loaded_) LoadLines();
    loaded_ = false;
    std::vector<std::string> lines = std::move(Lines);
    Lines.clear();
    if (StartRow > 1) {
        if (lines.size() < static_cast<std::size_t>(StartRow)) {
            Lines = std::move(lines);
            return;
        }
        lines.erase(lines.begin(), lines.begin() + (StartRow - 1));
    }
    TTwoStringDynArray rows;
    rows.reserve(lines.size());
    for (const std::string& line : lines)
        rows.push_back(ledgerhost::splitKeepingEmpty(line, Delimiter));
    Lines = std::move(lines);
    Data = std::move(rows);
}

// Checked before the workbook is opened, so that a bad setting is reported
// as such rather than as a problem with the file.
static void checkStartRow(std::int32_t startRow) {
    if (startRow < 1)
        throw ImportError("起始行 " + std::to_string(startRow) + " 无效：Excel文件的行从1开始");
}

void TExcelToArray::CalcRange() {
    checkStartRow(StartRow);
    XlsBook book(FileName);
    calcRange(book);
}

void TExcelToArray::calcRange(const XlsBook& book) {
    checkStartRow(StartRow);
    const std::int64_t first = StartRow - 1;  // 0-based sheet row
    int cols = 0;
    while (cols < kMaxCols && book.cell(first, cols)) ++cols;
    std::int64_t rows = 0;
    while (true) {
        const std::int64_t r = first + rows;
        ++rows;
        bool filled = false;
        for (int c = 0; c < kMaxCols && !filled; ++c) filled = book.cell(r, c).has_value();
        if (!filled) break;
    }
    ColCount = cols;
    RowCount = static_cast<std::int32_t>(rows);
}

void TExcelToArray::LoadArray() {
    checkStartRow(StartRow);
    XlsBook book(FileName);
    calcRange(book);
    Digest = book.digest();
    // The table holds every cell of its rows, the empty ones too.
    ledgerhost::CellBudget budget;
    TTwoStringDynArray rows(RowCount);
    for (std::int32_t i = 0; i < RowCount; ++i) {
        rows[i].resize(ColCount);
        for (std::int32_t j = 0; j < ColCount; ++j) {
            auto text = book.cell(std::int64_t{StartRow} - 1 + i, j);
            if (!budget.add(text ? text->size() : 0)) fail(FileName, budget.reason());
            if (text) rows[i][j] = std::move(*text);
        }
    }
    Data = std::move(rows);
}

std::unique_ptr<TFileToArray> TFileToArrayFactory::CreateFileToArray(std::uint8_t kind,
                                                                     const std::string& fileName) {
    switch (kind) {
        case fkExcel:
            return std::make_unique<TExcelToArray>(fileName);
        case fkText:
            return std::make_unique<TTextToArray>(fileName);
        default:
            return nullptr;
    }
}
