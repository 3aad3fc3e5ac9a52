// The file readers: delimited text files and .xls workbooks turned into rows
// of UTF-8 text, and the factory that picks one by file kind.
//
// The BIFF8 workbooks are written by python3-xlwt (tests that need it skip
// without it); a small writer below makes BIFF5 (Excel 95) workbooks itself.

#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "Regional.h"
#include "XlsWriter.h"
#include "untFileToStringArray.h"

namespace {

using Rows = TTwoStringDynArray;

const char* const kGbkZhongWen = "\xD6\xD0\xCE\xC4";  // "中文" in GBK
const char* const kReplacement = "\xEF\xBF\xBD";      // U+FFFD

class ReaderFiles {
  public:
    std::string path(const std::string& name) const {
        return dir.filePath(QString::fromStdString(name)).toStdString();
    }
    std::string write(const std::string& name, const std::string& bytes) const {
        std::string p = path(name);
        std::ofstream(p, std::ios::binary) << bytes;
        return p;
    }
    QTemporaryDir dir;
};

// The message of the ImportError that f throws; fails the test when it throws
// none.
template <typename F>
std::string errorOf(F&& f) {
    try {
        f();
    } catch (const ImportError& e) {
        return e.what();
    }
    ADD_FAILURE() << "no ImportError";
    return {};
}

// ---- text files ----

// The workstation's code page is GBK for these tests, whatever the environment.
class ReaderText : public ::testing::Test {
  protected:
    void SetUp() override {
        saved_ = ledgerhost::regional().codePage;
        ledgerhost::regional().codePage = "GBK";
    }
    void TearDown() override { ledgerhost::regional().codePage = saved_; }

    Rows read(const std::string& bytes, std::int32_t startRow = 0, const std::string& delim = "^") {
        TTextToArray r(files.write("in.txt", bytes));
        r.StartRow = startRow;
        r.Delimiter = delim;
        r.LoadArray();
        return r.Data;
    }

    ReaderFiles files;

  private:
    std::string saved_;
};

TEST_F(ReaderText, SplitsLinesAndFields) {
    struct Case {
        const char* name;
        std::string bytes;
        std::int32_t startRow;
        std::string delim;
        Rows want;
    };
    const std::string six = "a\nb\nc\nd\ne\nf";
    const std::vector<Case> cases = {
        {"start row 0 reads all", "a\nb", 0, "^", {{"a"}, {"b"}}},
        {"start row 1 reads all", "a\nb", 1, "^", {{"a"}, {"b"}}},
        {"start row 2 skips one", "h^x\na\nb", 2, "^", {{"a"}, {"b"}}},
        {"last line is start row", six, 6, "^", {{"f"}}},
        {"ragged rows", "a^b^c\nd\ne^f", 0, "^", {{"a", "b", "c"}, {"d"}, {"e", "f"}}},
        {"CR LF, CR and LF", "a\r\nb\rc\nd", 0, "^", {{"a"}, {"b"}, {"c"}, {"d"}}},
        {"final LF adds no line", "a\nb\n", 0, "^", {{"a"}, {"b"}}},
        {"final CR LF adds no line", "a\r\n", 0, "^", {{"a"}}},
        {"blank lines inside are rows", "a\n\r\n\rb", 0, "^", {{"a"}, {""}, {""}, {"b"}}},
        {"lone line break", "\n", 0, "^", {{""}}},
        {"empty file", "", 0, "^", {}},
        {"empty and trailing pieces kept", "a^^b^", 0, "^", {{"a", "", "b", ""}}},
        {"no trimming", " a ^ b\t", 0, "^", {{" a ", " b\t"}}},
        {"several-character delimiter", "1||2|3||", 0, "||", {{"1", "2|3", ""}}},
        {"tab delimiter", "1\t2", 0, "\t", {{"1", "2"}}},
    };
    for (const Case& c : cases) EXPECT_EQ(read(c.bytes, c.startRow, c.delim), c.want) << c.name;
}

TEST_F(ReaderText, FewerLinesThanStartRowLeavesDataAlone) {
    TTextToArray r(files.write("five.txt", "a\nb\nc\nd\ne\n"));
    r.StartRow = 6;
    r.Data = {{"kept"}};
    r.LoadArray();
    EXPECT_EQ(r.Data, (Rows{{"kept"}}));
    EXPECT_EQ(r.Lines.size(), 5u);
}

TEST_F(ReaderText, EncodingsGiveTheSameText) {
    const std::string utf8 = "中文^金额\n工资^12.5\n";
    const std::string gbk = "\xD6\xD0\xCE\xC4^\xBD\xF0\xB6\xEE\n\xB9\xA4\xD7\xCA^12.5\n";
    const Rows want = {{"中文", "金额"}, {"工资", "12.5"}};
    EXPECT_EQ(read(utf8), want) << "UTF-8";
    EXPECT_EQ(read("\xEF\xBB\xBF" + utf8), want) << "UTF-8 with BOM";
    EXPECT_EQ(read(gbk), want) << "GBK";
}

// GBK texts whose bytes happen to be valid UTF-8 decode, as UTF-8, to odd
// two-byte letters (֧ȡ, תϢ, ͷ, ժҪ); they are read as GBK. Real UTF-8
// Chinese, Latin-1 letters and pure ASCII stay UTF-8.
TEST_F(ReaderText, PicksTheEncodingThatReadsAsText) {
    struct Case {
        const char* name;
        std::string bytes;
        Rows want;
    };
    const std::string header = "date^amount^memo\n";
    const Rows head = {{"date", "amount", "memo"}};
    auto with = [&](Rows rows) {
        Rows all = head;
        all.insert(all.end(), rows.begin(), rows.end());
        return all;
    };
    const Case cases[] = {
        {"GBK 支取", header + "2024-01-02^5^\xD6\xA7\xC8\xA1\n",
         with({{"2024-01-02", "5", "支取"}})},
        {"GBK 转息", header + "2024-01-02^5^\xD7\xAA\xCF\xA2\n",
         with({{"2024-01-02", "5", "转息"}})},
        {"GBK 头", header + "2024-01-02^5^\xCD\xB7\n", with({{"2024-01-02", "5", "头"}})},
        {"GBK 摘要", "\xD5\xAA\xD2\xAA^amount\n", {{"摘要", "amount"}}},
        {"UTF-8 Chinese", header + "2024-01-02^5^支取转息\n",
         with({{"2024-01-02", "5", "支取转息"}})},
        {"UTF-8 BOM, odd letters kept", "\xEF\xBB\xBF\xD6\xA7\xC8\xA1", {{"\xD6\xA7\xC8\xA1"}}},
        {"UTF-8 Latin-1", "café^1\n", {{"café", "1"}}},
        {"ASCII", header, head},
    };
    for (const Case& c : cases) EXPECT_EQ(read(c.bytes), c.want) << c.name;
}

TEST_F(ReaderText, UndecodableBytesBecomeReplacementCharacters) {
    const std::string r = kReplacement;
    // 0xFF is no GBK lead byte; a lead byte at the very end has no second half.
    EXPECT_EQ(read(std::string(kGbkZhongWen) + "^\xFF^x"), (Rows{{"中文", r, "x"}}));
    EXPECT_EQ(read("ab^\xD6"), (Rows{{"ab", r}}));
    // The rest of the file still reads.
    EXPECT_EQ(read("\xFF\nb^c"), (Rows{{r}, {"b", "c"}}));
}

TEST_F(ReaderText, UnreadableFileNamesTheFile) {
    const std::string missing = files.path("missing.txt");
    TTextToArray r(missing);
    r.Data = {{"kept"}};
    std::string msg = errorOf([&] { r.LoadArray(); });
    EXPECT_NE(msg.find("无法读取文件 " + missing), std::string::npos) << msg;
    EXPECT_NE(msg.find("文件不存在"), std::string::npos) << msg;
    EXPECT_EQ(r.Data, (Rows{{"kept"}}));

    TTextToArray folder(files.dir.path().toStdString());
    msg = errorOf([&] { folder.LoadArray(); });
    EXPECT_NE(msg.find("文件夹"), std::string::npos) << msg;
}

// ---- workbooks ----

// A python3 that has xlwt, or empty text.
const std::string& pythonWithXlwt() {
    static const std::string found = [] {
        for (const char* py : {"/usr/bin/python3", "python3"}) {
            std::string cmd = std::string(py) + " -c \"import xlwt\" >/dev/null 2>&1";
            if (std::system(cmd.c_str()) == 0) return std::string(py);
        }
        return std::string();
    }();
    return found;
}

// Writes a one-sheet BIFF8 workbook (plus an empty second sheet) whose cells
// are the Python expression `cells`: a list of (row, column, value), 0-based.
// Dates, date-times and times get a matching number format.
const char* const kXlwtScript = R"(
import sys, datetime, xlwt
wb = xlwt.Workbook(encoding='utf-8')
ws = wb.add_sheet('S1')
styles = {datetime.datetime: 'YYYY-MM-DD hh:mm:ss', datetime.date: 'YYYY-MM-DD', datetime.time: 'hh:mm:ss'}
for r, c, v in CELLS:
    f = styles.get(type(v))
    ws.write(r, c, v, xlwt.easyxf(num_format_str=f)) if f else ws.write(r, c, v)
wb.add_sheet('S2').write(0, 0, 'second sheet')
wb.save(sys.argv[1])
)";

class ReaderExcel : public ::testing::Test {
  protected:
    std::string xls(const std::string& cells) {
        if (pythonWithXlwt().empty()) return {};
        std::string script = kXlwtScript;
        script.replace(script.find("CELLS"), 5, cells);
        std::string py = files.write("make.py", script);
        std::string out = files.path("book" + std::to_string(++made_) + ".xls");
        std::string cmd = pythonWithXlwt() + " '" + py + "' '" + out + "'";
        if (std::system(cmd.c_str()) != 0) ADD_FAILURE() << "xlwt failed for " << cells;
        return out;
    }
    ReaderFiles files;
    int made_ = 0;
};

#define NEED_XLWT() \
    if (pythonWithXlwt().empty()) GTEST_SKIP() << "python3-xlwt is not installed"

TEST_F(ReaderExcel, RangeFromStartRow) {
    NEED_XLWT();
    struct Case {
        const char* name;
        std::string cells;
        std::int32_t startRow;
        std::int32_t rowCount, colCount;
        Rows want;
    };
    const std::vector<Case> cases = {
        {"five rows then an empty one",
         "[(r, c, 'r%dc%d' % (r, c)) for r in range(5) for c in range(2)]",
         1,
         6,
         2,
         {{"r0c0", "r0c1"},
          {"r1c0", "r1c1"},
          {"r2c0", "r2c1"},
          {"r3c0", "r3c1"},
          {"r4c0", "r4c1"},
          {"", ""}}},
        {"start row below a header",
         "[(0,0,'head'),(0,1,'h2'),(0,2,'h3'),(1,0,'a'),(1,1,'b'),(2,1,'c')]",
         2,
         3,
         2,
         {{"a", "b"}, {"", "c"}, {"", ""}}},
        {"empty start row", "[(0,0,'a'),(2,0,'b')]", 2, 1, 0, {{}}},
        {"start row past the sheet", "[(0,0,'a')]", 40, 1, 0, {{}}},
        {"gap at D: column E never read",
         "[(r, c, 'v%d' % c) for r in range(2) for c in (0, 1, 2, 4)]",
         1,
         3,
         3,
         {{"v0", "v1", "v2"}, {"v0", "v1", "v2"}, {"", "", ""}}},
        {"later row with values only right of the range",
         "[(0,0,'a'),(0,1,'b'),(1,10,'x'),(2,199,'y')]",
         1,
         4,
         2,
         {{"a", "b"}, {"", ""}, {"", ""}, {"", ""}}},
        {"a value only in column 201 ends the scan",
         "[(0,0,'a'),(1,200,'far'),(2,0,'after')]",
         1,
         2,
         1,
         {{"a"}, {""}}},
        {"at most 200 columns", "[(0, c, c) for c in range(210)]", 1, 2, 200, {}},
    };
    for (const Case& c : cases) {
        TExcelToArray r(xls(c.cells));
        r.StartRow = c.startRow;
        r.LoadArray();
        EXPECT_EQ(r.RowCount, c.rowCount) << c.name;
        EXPECT_EQ(r.ColCount, c.colCount) << c.name;
        ASSERT_EQ(r.Data.size(), static_cast<std::size_t>(c.rowCount)) << c.name;
        for (const auto& row : r.Data)
            EXPECT_EQ(row.size(), static_cast<std::size_t>(c.colCount)) << c.name;
        if (!c.want.empty()) {
            EXPECT_EQ(r.Data, c.want) << c.name;
        }

        TExcelToArray range(r.FileName);
        range.StartRow = c.startRow;
        range.CalcRange();
        EXPECT_EQ(range.RowCount, c.rowCount) << c.name;
        EXPECT_EQ(range.ColCount, c.colCount) << c.name;
        EXPECT_TRUE(range.Data.empty()) << c.name;
    }
}

TEST_F(ReaderExcel, CellTextForms) {
    NEED_XLWT();
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"12", "12"},
        {"-7", "-7"},
        {"12.0", "12"},
        {"2.0 ** 31", "2147483648"},
        {"1e20", "100000000000000000000"},
        {"0.1", "0.1"},
        {"1234.56", "1234.56"},
        {"-0.5", "-0.5"},
        {"1e-7", "0.0000001"},
        {"'中文'", "中文"},
        {"' padded '", " padded "},
        {"True", "1"},
        {"datetime.date(2024, 3, 15)", "2024-03-15"},
        {"datetime.datetime(2024, 3, 15, 10, 30, 5)", "2024-03-15 10:30:05"},
        {"datetime.time(10, 30, 5)", "10:30:05"},
    };
    std::string cells = "[";
    for (std::size_t i = 0; i < cases.size(); ++i)
        cells += "(0," + std::to_string(i) + "," + cases[i].first + "),";
    TExcelToArray r(xls(cells + "]"));
    r.StartRow = 1;
    r.LoadArray();
    ASSERT_EQ(r.ColCount, static_cast<std::int32_t>(cases.size()));
    for (std::size_t i = 0; i < cases.size(); ++i)
        EXPECT_EQ(r.Data[0][i], cases[i].second) << cases[i].first;
}

TEST_F(ReaderExcel, BadFilesAndSettingsGiveClearErrors) {
    struct Case {
        const char* name;
        std::string path;
        std::int32_t startRow;
        std::string reason;
    };
    const std::string corrupt =
        files.write("corrupt.xls",
                    std::string("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8) + std::string(600, '\x7F'));
    const std::vector<Case> cases = {
        {"missing", files.path("missing.xls"), 1, "文件不存在"},
        {"not a workbook", files.write("text.xls", "a^b\n"), 1, "不是Excel 97-2003工作簿"},
        {"workbook of a later Excel", files.write("new.xlsx", std::string("PK\x03\x04", 4) + "zip"),
         1, ".xlsx"},
        {"folder", files.dir.path().toStdString(), 1, "文件夹"},
        {"corrupt", corrupt, 1, "文件已损坏"},
    };
    for (const Case& c : cases) {
        TExcelToArray r(c.path);
        r.StartRow = c.startRow;
        r.Data = {{"kept"}};
        std::string msg = errorOf([&] { r.LoadArray(); });
        EXPECT_NE(msg.find("无法读取文件 " + c.path + "："), std::string::npos)
            << c.name << ": " << msg;
        EXPECT_NE(msg.find(c.reason), std::string::npos) << c.name << ": " << msg;
        EXPECT_EQ(r.Data, (Rows{{"kept"}})) << c.name;
    }
    for (std::int32_t bad : {0, -1}) {
        TExcelToArray r(files.path("missing.xls"));
        r.StartRow = bad;
        EXPECT_NE(errorOf([&] { r.LoadArray(); }).find("起始行"), std::string::npos);
        EXPECT_NE(errorOf([&] { r.CalcRange(); }).find("起始行"), std::string::npos);
    }
}

TEST_F(ReaderExcel, TruncatedWorkbook) {
    NEED_XLWT();
    std::ifstream in(xls("[(0,0,'a')]"), std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), {});
    std::string half = files.write("half.xls", bytes.substr(0, bytes.size() / 2));
    TExcelToArray r(half);
    r.StartRow = 1;
    std::string msg = errorOf([&] { r.LoadArray(); });
    EXPECT_NE(msg.find("无法读取文件 " + half + "："), std::string::npos) << msg;
}

// ---- BIFF5 (Excel 95) workbooks, written by the demo's writer ----

using xlswriter::biff5Stream;
using xlswriter::compoundFile;

TEST_F(ReaderExcel, Biff5Workbooks) {
    std::vector<xlswriter::Cell> cells = {{0, 0, kGbkZhongWen},
                                          {0, 1, "", 1234.56},
                                          {0, 2, "x"},
                                          {1, 0, "\xB9\xA4\xD7\xCA"},
                                          {1, 1, "", 7}};
    TExcelToArray r(files.write("old.xls", compoundFile("Book", biff5Stream(936, cells, false))));
    r.StartRow = 1;
    r.LoadArray();
    EXPECT_EQ(r.Data, (Rows{{"中文", "1234.56", "x"}, {"工资", "7", ""}, {"", "", ""}}));

    // A directory entry whose name claims more than its 64-byte field.
    std::string damaged = compoundFile("Book", biff5Stream(936, cells, false));
    damaged[1024 + 64] = damaged[1024 + 65] = '\xFF';
    TExcelToArray bad(files.write("damaged.xls", damaged));
    bad.StartRow = 1;
    EXPECT_NE(errorOf([&] { bad.LoadArray(); }).find("文件已损坏"), std::string::npos);

    TExcelToArray locked(
        files.write("locked.xls", compoundFile("Book", biff5Stream(936, cells, true))));
    locked.StartRow = 1;
    std::string msg = errorOf([&] { locked.LoadArray(); });
    EXPECT_NE(msg.find("无法读取文件 " + locked.FileName + "：文件设有密码保护"), std::string::npos)
        << msg;
}

// Formula cells read as the results the workbook keeps cached for them; a
// formula without one is an error naming the cell, never an empty cell.
TEST_F(ReaderExcel, FormulaCellsReadAsTheirCachedResults) {
    using F = xlswriter::Cell::Formula;
    std::vector<xlswriter::Cell> cells = {
        {0, 0, "", 300, F::Number}, {0, 1, "\xBB\xF5\xBF\xEE", 0, F::Text},  // 货款
        {0, 2, "", 1, F::Boolean},  {0, 3, "", 7, F::Error},
        {0, 4, "", 0.5, F::Number}, {1, 0, "x"}};
    TExcelToArray r(files.write("formulas.xls", xlswriter::workbook(cells)));
    r.StartRow = 1;
    r.LoadArray();
    EXPECT_EQ(r.Data, (Rows{{"300", "货款", "1", "#DIV/0!", "0.5"},
                            {"x", "", "", "", ""},
                            {"", "", "", "", ""}}));

    cells.push_back({1, 2, "", 0, F::NoResult});
    TExcelToArray missing(files.write("missing.xls", xlswriter::workbook(cells)));
    missing.StartRow = 1;
    const std::string msg = errorOf([&] { missing.LoadArray(); });
    EXPECT_NE(msg.find("单元格 C2 的公式没有计算结果"), std::string::npos) << msg;
}

// ---- factory ----

TEST(ReaderFactory, KindCodes) {
    auto excel = TFileToArrayFactory::CreateFileToArray(fkExcel, "a.txt");
    ASSERT_NE(dynamic_cast<TExcelToArray*>(excel.get()), nullptr);
    EXPECT_EQ(excel->FileName, "a.txt");
    auto text = TFileToArrayFactory::CreateFileToArray(fkText, "b.xls");
    ASSERT_NE(dynamic_cast<TTextToArray*>(text.get()), nullptr);
    EXPECT_EQ(text->FileName, "b.xls");
    EXPECT_EQ(fkExcel, 2);
    EXPECT_EQ(fkText, 3);
    for (int kind : {0, 1, 4, 255})
        EXPECT_EQ(TFileToArrayFactory::CreateFileToArray(static_cast<std::uint8_t>(kind), "c"),
                  nullptr)
            << kind;
}

}  // namespace
