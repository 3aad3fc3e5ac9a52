#include "ImportFiles.h"

#include <freexl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "Digest.h"
#include "Store.h"
#include "XlsCheck.h"

namespace ledgerhost {

// A plain reason for a failed open or read, from errno.
std::string errnoReason(int err) {
    switch (err) {
        case ENOENT:
        case ENOTDIR:
            return "文件不存在";
        case EACCES:
        case EPERM:
            return "没有读取权限";
        case EISDIR:
            return "这是一个文件夹，不是文件";
        default:
            return std::string("读取出错（") + std::strerror(err) + "）";
    }
}

namespace {

[[noreturn]] void fail(const std::string& fileName, const std::string& reason) {
    throw FileReadError("无法读取文件 " + fileName + "：" + reason);
}

std::string freexlReason(int code) {
    switch (code) {
        case FREEXL_FILE_NOT_FOUND:
            return "文件不存在或无法打开";
        case FREEXL_INSUFFICIENT_MEMORY:
            return "内存不足";
        case FREEXL_INVALID_CFBF_HEADER:
        case FREEXL_CFBF_INVALID_SIGNATURE:
            return "不是Excel 97-2003工作簿（.xls）";
        case FREEXL_CFBF_READ_ERROR:
        case FREEXL_CFBF_SEEK_ERROR:
            return "文件不完整";
        case FREEXL_CFBF_INVALID_SECTOR_SIZE:
        case FREEXL_CFBF_EMPTY_FAT_CHAIN:
        case FREEXL_CFBF_ILLEGAL_FAT_ENTRY:
        case FREEXL_INVALID_MINI_STREAM:
        case FREEXL_CFBF_ILLEGAL_MINI_FAT_ENTRY:
        case FREEXL_CRAFTED_FILE:
            return "文件已损坏";
        case FREEXL_BIFF_INVALID_BOF:
        case FREEXL_BIFF_INVALID_SST:
        case FREEXL_BIFF_ILLEGAL_SST_INDEX:
        case FREEXL_ILLEGAL_RK_VALUE:
            return "工作簿内容已损坏";
        case FREEXL_BIFF_WORKBOOK_NOT_FOUND:
            return "文件中没有工作簿";
        case FREEXL_BIFF_ILLEGAL_SHEET_INDEX:
            return "工作簿中没有工作表";
        case FREEXL_INVALID_CHARACTER:
        case FREEXL_UNSUPPORTED_CHARSET:
            return "工作簿的字符集无法识别";
        default:
            return "无法识别的错误（代码 " + std::to_string(code) + "）";
    }
}

using File = std::unique_ptr<std::FILE, int (*)(std::FILE*)>;

const char* const kPasswordProtected = "文件设有密码保护";

// The whole of an open workbook file, for the check before the reader opens
// it. A file larger than any workbook is refused as damaged without reading it.
std::string workbookBytes(std::FILE* f, const std::string& fileName) {
    long size = -1;
    if (std::fseek(f, 0, SEEK_END) == 0) size = std::ftell(f);
    if (size < 0 || std::fseek(f, 0, SEEK_SET) != 0) fail(fileName, errnoReason(errno));
    if (static_cast<std::uint64_t>(size) > kMaxXlsFileSize)
        fail(fileName, freexlReason(FREEXL_CRAFTED_FILE));
    std::string bytes(static_cast<std::size_t>(size), '\0');
    bytes.resize(std::fread(bytes.data(), 1, bytes.size(), f));
    if (std::ferror(f)) fail(fileName, errnoReason(errno));
    return bytes;
}

// Looks at the file before the workbook reader does, so that a missing file, a
// folder or a file of another kind gets a plain reason, and a damaged file
// that would trip the reader is refused.
// Answers the open file, for the reader to read the very file checked.
File checkWorkbookFile(const std::string& fileName, XlsFormulaCells& formulas,
                       std::string& digest) {
    if (isStoreFile(fileName)) throw FileReadError(kStoreFileRefused);
    File f(std::fopen(fileName.c_str(), "rb"), &std::fclose);
    if (!f) fail(fileName, errnoReason(errno));
    unsigned char head[8] = {};
    std::size_t n = std::fread(head, 1, sizeof head, f.get());
    if (std::ferror(f.get())) fail(fileName, errnoReason(errno));
    if (n == sizeof head && std::memcmp(head, "\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8) == 0) {
        // The workbook reader trusts the lengths and sector numbers in the
        // file; a file that would make it read past its buffers is refused.
        const std::string bytes = workbookBytes(f.get(), fileName);
        switch (checkXls(bytes, &formulas)) {
            case XlsFault::None:
                digest = contentDigest(bytes);
                return f;
            case XlsFault::Encrypted:
                fail(fileName, kPasswordProtected);
            default:
                fail(fileName, freexlReason(FREEXL_CRAFTED_FILE));
        }
    }
    if (n >= 4 && std::memcmp(head, "PK\x03\x04", 4) == 0)
        fail(fileName,
             "这是Excel 2007及以后版本的工作簿（.xlsx），请另存为Excel "
             "97-2003工作簿（.xls）后再导入");
    fail(fileName, freexlReason(FREEXL_INVALID_CFBF_HEADER));
}

}  // namespace

std::string fileDigest(const std::string& fileName) {
    ContentDigest digest;
    readFileBlocks(fileName, [&](std::string_view bytes) {
        digest.add(bytes);
        return true;
    });
    return digest.hex();
}

std::string CellBudget::reason() const {
    if (cells_ > kMaxImportCells)
        return "工作表超过 " + std::to_string(kMaxImportCells) + " 个单元格（一次导入的上限）";
    return "单元格的文字超过 " + std::to_string(kMaxImportCellText >> 20) + " MB（一次导入的上限）";
}

void checkTextFileSize(const std::string& fileName) {
    struct stat st;
    if (stat(fileName.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
        static_cast<std::uint64_t>(st.st_size) > kMaxImportTextFile)
        fail(fileName,
             "文件超过 " + std::to_string(kMaxImportTextFile >> 20) + " MB（一次导入的上限）");
}

std::string readFileBytes(const std::string& fileName) {
    if (fileName.empty()) throw FileReadError("没有指定要读取的文件");
    if (isStoreFile(fileName)) throw FileReadError(kStoreFileRefused);
    File f(std::fopen(fileName.c_str(), "rb"), &std::fclose);
    if (!f) fail(fileName, errnoReason(errno));
    std::string bytes;
    // Sized once from the file's length, so a large file is not held twice
    // while the string grows.
    struct stat st;
    if (fstat(fileno(f.get()), &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0)
        bytes.reserve(static_cast<std::size_t>(st.st_size));
    char buf[65536];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f.get())) > 0) bytes.append(buf, n);
    // A folder opens but does not read (EISDIR).
    if (std::ferror(f.get())) fail(fileName, errnoReason(errno));
    return bytes;
}

void readFileBlocks(const std::string& fileName,
                    const std::function<bool(std::string_view)>& block) {
    if (fileName.empty()) throw FileReadError("没有指定要读取的文件");
    if (isStoreFile(fileName)) throw FileReadError(kStoreFileRefused);
    File f(std::fopen(fileName.c_str(), "rb"), &std::fclose);
    if (!f) fail(fileName, errnoReason(errno));
    std::string buf(kFileBlock, '\0');
    std::size_t n;
    while ((n = std::fread(buf.data(), 1, buf.size(), f.get())) > 0)
        if (!block(std::string_view(buf.data(), n))) return;
    if (std::ferror(f.get())) fail(fileName, errnoReason(errno));
}

std::string numberText(double v) {
    if (v == 0) return "0";  // also for -0
    if (std::isnan(v)) return "nan";
    if (std::isinf(v)) return v > 0 ? "inf" : "-inf";
    // Shortest round-trip digits in plain notation; a whole number comes out
    // without a decimal point. The widest (the smallest subnormal) is about 330
    // characters.
    char buf[400];
    auto res = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed);
    return std::string(buf, res.ptr);
}

XlsWorkbook::XlsWorkbook(const std::string& fileName) : fileName_(fileName) {
    if (fileName.empty()) throw FileReadError("没有指定要读取的文件");
    const File checked = checkWorkbookFile(fileName, formulas_, digest_);
    // The reader opens the file by name; it is given the checked file's own
    // descriptor, so that a file put in its place after the check (another
    // workbook, or one crafted to trip the reader) is never read. Without
    // /proc the name is all there is.
    const std::string descriptor = "/proc/self/fd/" + std::to_string(fileno(checked.get()));
    const bool viaDescriptor = ::access(descriptor.c_str(), R_OK) == 0;
    int rc = freexl_open(viaDescriptor ? descriptor.c_str() : fileName.c_str(), &handle_);
    if (rc == FREEXL_NULL_HANDLE || rc == FREEXL_INVALID_HANDLE || rc == FREEXL_NULL_ARGUMENT) {
        close();
        throw FileReadError("无法读取文件 " + fileName + "：工作簿读取程序无法启动", true);
    }
    if (rc != FREEXL_OK) failWith(freexlReason(rc));
    unsigned int info = 0;
    // Only a plain workbook is readable. (Some versions of the reader answer
    // other values than FREEXL_BIFF_OBFUSCATED for an encrypted one; the
    // check before opening already refuses those.)
    if (freexl_get_info(handle_, FREEXL_BIFF_PASSWORD, &info) == FREEXL_OK &&
        info != FREEXL_BIFF_PLAIN)
        failWith(kPasswordProtected);
    if (freexl_get_info(handle_, FREEXL_BIFF_DATEMODE, &info) == FREEXL_OK)
        date1904_ = info == FREEXL_BIFF_DATEMODE_1904;
    if (freexl_get_info(handle_, FREEXL_BIFF_SHEET_COUNT, &info) != FREEXL_OK || info == 0)
        failWith(freexlReason(FREEXL_BIFF_ILLEGAL_SHEET_INDEX));
    rc = freexl_select_active_worksheet(handle_, 0);
    if (rc != FREEXL_OK) failWith(freexlReason(rc));
    unsigned int rows = 0;
    unsigned short cols = 0;
    rc = freexl_worksheet_dimensions(handle_, &rows, &cols);
    if (rc != FREEXL_OK) failWith(freexlReason(rc));
    rows_ = rows;
    cols_ = cols;
    // The reader leaves formula cells out, also of the sheet's extent when
    // the workbook records none.
    for (const auto& [at, result] : formulas_) {
        rows_ = std::max(rows_, at.first + 1);
        cols_ = static_cast<std::uint16_t>(std::max<std::uint32_t>(cols_, at.second + 1));
    }
}

XlsWorkbook::~XlsWorkbook() {
    close();
}

void XlsWorkbook::failWith(const std::string& reason) {
    close();
    fail(fileName_, reason);
}

void XlsWorkbook::close() {
    // freexl_open leaves a handle to release even when it fails.
    if (handle_) freexl_close(handle_);
    handle_ = nullptr;
}

// "B3" for the 0-based row 2 and column 1.
static std::string cellName(std::int64_t row, int col) {
    std::string letters;
    for (int n = col + 1; n > 0; n = (n - 1) / 26)
        letters.insert(letters.begin(), char('A' + (n - 1) % 26));
    return letters + std::to_string(row + 1);
}

SheetCell XlsWorkbook::cell(std::int64_t row, int col) const {
    SheetCell out;
    if (row < 0 || row >= rows_ || col < 0 || col >= cols_) return out;
    // A formula cell reads as its cached result, the way the program that
    // saved the workbook showed it.
    if (auto f = formulas_.find({static_cast<std::uint32_t>(row), static_cast<std::uint32_t>(col)});
        f != formulas_.end()) {
        const XlsFormulaResult& r = f->second;
        switch (r.kind) {
            case XlsFormulaResult::Kind::Number:
                if (!r.text.empty()) {
                    out.text = r.text;  // a date
                } else {
                    out.number = r.number;
                    out.text = numberText(r.number);
                }
                break;
            case XlsFormulaResult::Kind::Boolean:
                out.number = r.number;
                out.text = r.number != 0 ? "1" : "0";
                break;
            case XlsFormulaResult::Kind::Text:
            case XlsFormulaResult::Kind::Error:
                out.text = r.text;
                break;
            case XlsFormulaResult::Kind::None:
                fail(fileName_, "单元格 " + cellName(row, col) +
                                    " 的公式没有计算结果，请在Excel中重新计算并保存后再导入");
        }
        return out;
    }
    FreeXL_CellValue v;
    int rc = freexl_get_cell_value(handle_, static_cast<unsigned int>(row),
                                   static_cast<unsigned short>(col), &v);
    if (rc == FREEXL_ILLEGAL_CELL_ROW_COL) return out;
    if (rc != FREEXL_OK) fail(fileName_, freexlReason(rc));
    switch (v.type) {
        case FREEXL_CELL_INT:
            out.number = v.value.int_value;
            out.text = std::to_string(v.value.int_value);
            break;
        case FREEXL_CELL_DOUBLE:
            out.number = v.value.double_value;
            out.text = numberText(v.value.double_value);
            break;
        case FREEXL_CELL_TEXT:
        case FREEXL_CELL_SST_TEXT:
        case FREEXL_CELL_DATE:
        case FREEXL_CELL_DATETIME:
        case FREEXL_CELL_TIME:
            if (v.value.text_value) out.text = v.value.text_value;
            break;
        default:
            break;
    }
    return out;
}

std::optional<std::string> XlsWorkbook::cellText(std::int64_t row, int col) const {
    SheetCell c = cell(row, col);
    if (c.text.empty()) return std::nullopt;
    return std::move(c.text);
}

}  // namespace ledgerhost
