// The host's converter: reading .xls, .xlsx and comma-separated files into
// captions and rows, the mapping, and the import of journal rows.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <map>

#include "Codec.h"
#include "Convert.h"
#include "DayTotals.h"
#include "Fixture.h"
#include "Workbook.h"
#include "Xlsx.h"

using namespace ledgerhost;
using namespace testutil;

namespace {

using Strings = std::vector<std::string>;

// The text of a file row's cells from column 0 to `width`, empty cells "".
Strings cellTexts(const TFileRow& row, int width) {
    Strings out;
    for (int c = 0; c < width; ++c) {
        const TFileCell* cell = row.cell(c);
        out.push_back(cell ? cell->Text : std::string());
    }
    return out;
}

std::string mappedTo(const TManageConvert& conv, const std::string& field) {
    for (const auto& m : conv.ColumnMaps)
        if (m.FieldCaption == field) return m.FileColumn;
    ADD_FAILURE() << "no field " << field;
    return {};
}

void mapField(TManageConvert& conv, const std::string& field, const std::string& column) {
    for (auto& m : conv.ColumnMaps)
        if (m.FieldCaption == field) m.FileColumn = column;
}

// A minimal .xlsx: the workbook, its relationships, the first worksheet's
// <sheetData> content, shared strings and cell styles (numFmtId per style).
struct XlsxParts {
    std::string sheetData;
    Strings shared;
    std::vector<int> styleFormats;
    std::string customFormats;  // <numFmt .../> elements
    bool date1904 = false;
    std::string sheetTarget = "worksheets/sheet1.xml";
};

std::string xmlEscape(const std::string& s) {
    std::string out;
    for (char c : s) {
        if (c == '&')
            out += "&amp;";
        else if (c == '<')
            out += "&lt;";
        else
            out += c;
    }
    return out;
}

class ConvertFiles : public BookTest {
  protected:
    std::string path(const std::string& name) const {
        return dir.filePath(QString::fromStdString(name)).toStdString();
    }
    std::string write(const std::string& name, const std::string& bytes) const {
        QFile f(QString::fromStdString(path(name)));
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes.data(), static_cast<qint64>(bytes.size()));
        return path(name);
    }
    // Comma-separated lines, CR LF, UTF-8.
    std::string csv(const std::string& name, const Strings& lines) const {
        std::string text;
        for (const auto& l : lines) text += l + "\r\n";
        return write(name, text);
    }
    // A file of `size` bytes that takes no room on the disk.
    std::string sparse(const std::string& name, std::int64_t size) const {
        QFile f(QString::fromStdString(path(name)));
        EXPECT_TRUE(f.open(QIODevice::WriteOnly) && f.resize(size));
        return path(name);
    }
    // Lines of 1,000 fields "1", `count` fields in all.
    static std::string manyFields(int count) {
        std::string text;
        for (int i = 1; i <= count; ++i) text += (i % 1000 == 0 || i == count) ? "1\n" : "1,";
        return text;
    }
    // A sheet whose `cells` cells all show shared string 0.
    static std::string repeatedSharedString(int cells) {
        std::string rows;
        for (int r = 1; r <= cells; ++r)
            rows += "<row r=\"" + std::to_string(r) + "\"><c r=\"A" + std::to_string(r) +
                    "\" t=\"s\"><v>0</v></c></row>";
        return rows;
    }
    bool python(const QStringList& args) const {
        return QProcess::execute("/usr/bin/python3", args) == 0;
    }
    // An .xls with cells given as a Python list of (row, col, value); date
    // values get a date format.
    std::string xlsCells(const std::string& name, const std::string& cells) const {
        std::string script =
            "import sys, datetime, xlwt\n"
            "wb = xlwt.Workbook(encoding='utf-8')\n"
            "ws = wb.add_sheet('S1')\n"
            "for r, c, v in " +
            cells +
            ":\n"
            "    if isinstance(v, datetime.date):\n"
            "        ws.write(r, c, v, xlwt.easyxf(num_format_str='YYYY-MM-DD'))\n"
            "    else:\n"
            "        ws.write(r, c, v)\n"
            "wb.save(sys.argv[1])\n";
        EXPECT_TRUE(
            python({"-c", QString::fromStdString(script), QString::fromStdString(path(name))}));
        return path(name);
    }
    std::string xlsx(const std::string& name, const XlsxParts& p) const {
        std::map<std::string, std::string> parts;
        parts["[Content_Types].xml"] =
            R"(<?xml version="1.0" encoding="UTF-8"?><Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types"/>)";
        parts["xl/workbook.xml"] =
            std::string(R"(<?xml version="1.0" encoding="UTF-8"?>)") +
            R"(<workbook xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main" )"
            R"(xmlns:r="http://schemas.openxmlformats.org/officeDocument/2006/relationships">)" +
            (p.date1904 ? R"(<workbookPr date1904="1"/>)" : "") +
            R"(<sheets><sheet name="明细" sheetId="1" r:id="rId7"/><sheet name="二" sheetId="2" r:id="rId8"/></sheets></workbook>)";
        parts["xl/_rels/workbook.xml.rels"] =
            R"(<?xml version="1.0" encoding="UTF-8"?><Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">)"
            R"(<Relationship Id="rId8" Type="worksheet" Target="worksheets/sheet2.xml"/>)"
            R"(<Relationship Id="rId7" Type="worksheet" Target=")" +
            p.sheetTarget + R"("/></Relationships>)";
        const std::string sheetPart =
            p.sheetTarget.front() == '/' ? p.sheetTarget.substr(1) : "xl/" + p.sheetTarget;
        parts[sheetPart] =
            R"(<?xml version="1.0" encoding="UTF-8"?><x:worksheet xmlns:x="http://schemas.openxmlformats.org/spreadsheetml/2006/main"><x:sheetData>)" +
            p.sheetData + "</x:sheetData></x:worksheet>";
        parts["xl/worksheets/sheet2.xml"] =
            R"(<worksheet><sheetData><row r="1"><c r="A1" t="inlineStr"><is><t>second</t></is></c></row></sheetData></worksheet>)";
        std::string sst = "<sst>";
        for (const auto& s : p.shared) sst += "<si><t>" + xmlEscape(s) + "</t></si>";
        parts["xl/sharedStrings.xml"] = sst + "</sst>";
        std::string styles =
            "<styleSheet><numFmts>" + p.customFormats +
            "</numFmts><cellStyleXfs><xf numFmtId=\"14\"/></cellStyleXfs><cellXfs>";
        for (int f : p.styleFormats) styles += "<xf numFmtId=\"" + std::to_string(f) + "\"/>";
        parts["xl/styles.xml"] = styles + "</cellXfs></styleSheet>";
        return zip(name, parts);
    }
    std::string zip(const std::string& name,
                    const std::map<std::string, std::string>& parts) const {
        QJsonObject o;
        for (const auto& [k, v] : parts) o[QString::fromStdString(k)] = QString::fromStdString(v);
        std::string json = write(name + ".json", QJsonDocument(o).toJson().toStdString());
        const char* script =
            "import json, sys, zipfile\n"
            "parts = json.load(open(sys.argv[1], encoding='utf-8'))\n"
            "with zipfile.ZipFile(sys.argv[2], 'w', zipfile.ZIP_DEFLATED) as z:\n"
            "    for n, t in parts.items(): z.writestr(n, t.encode('utf-8'))\n";
        EXPECT_TRUE(python(
            {"-c", script, QString::fromStdString(json), QString::fromStdString(path(name))}));
        return path(name);
    }

    // Every stored journal row, in order, as the fields a test looks at.
    struct Stored {
        std::string asCode, date, summary, payCode, pm, cr, dp, remark, user, flag, setCode;
        std::int64_t number, deb, cre;
    };
    std::vector<Stored> stored() {
        std::vector<Stored> out;
        Stmt s = db().prepare(
            "SELECT as_code, create_date, summary, pay_code, pm_code, cr_code, dp_code, remark, "
            "apply_user, glide_flag, set_code, date_or_no, deb_cents, cre_cents "
            "FROM CaCollateGlide ORDER BY id");
        while (s.step())
            out.push_back({s.text(0), s.text(1), s.text(2), s.text(3), s.text(4), s.text(5),
                           s.text(6), s.text(7), s.text(8), s.text(9), s.text(10), s.i64(11),
                           s.i64(12), s.i64(13)});
        return out;
    }
    std::string importError(TCaGlideConvert& conv) {
        try {
            conv.ImportData();
        } catch (const ConvertError& e) {
            return e.what();
        }
        ADD_FAILURE() << "no ConvertError";
        return {};
    }
    std::unique_ptr<TCaGlideConvert> converter(const std::string& file) {
        auto c = std::make_unique<TCaGlideConvert>(file, ctCaGlide, true);
        c->GlideMng = &mng;
        return c;
    }

    TCaGlideMng mng{"CaCollateGlide"};
};

const Strings kFields = {"日期",     "统一号",   "摘要", "借方金额", "贷方金额", "支票号",
                         "结算方式", "对方单位", "部门", "备注",     "账号"};

// ---- reading files ----

TEST_F(ConvertFiles, SameTableFromEveryKindOfFile) {
    // Captions with blanks around one of them and a column without caption.
    const std::vector<Strings> table = {
        {" 日期 ", "摘要", "", "借方金额"},
        {"2024-03-02", "收款", "x", "12.5"},
        {"", "", "", ""},
        {"2024-03-03", "付款", "", "7"},
    };
    std::string text;
    for (const auto& r : table) {
        for (std::size_t i = 0; i < r.size(); ++i) text += (i ? "," : "") + r[i];
        text += "\n";
    }
    std::string sheet;
    for (std::size_t r = 0; r < table.size(); ++r) {
        sheet += "<row r=\"" + std::to_string(r + 1) + "\">";
        for (std::size_t c = 0; c < table[r].size(); ++c)
            if (!table[r][c].empty())
                sheet += "<c r=\"" + std::string(1, char('A' + c)) + std::to_string(r + 1) +
                         "\" t=\"inlineStr\"><is><t>" + table[r][c] + "</t></is></c>";
        sheet += "</row>";
    }
    XlsxParts parts;
    parts.sheetData = sheet;
    std::string xlsPath = path("t.XLS");
    writeWorkbook(xlsPath, table);
    const std::pair<const char*, std::string> files[] = {
        {"csv", write("t.csv", text)},
        {"txt", write("t.txt", text)},
        {"xls", xlsPath},
        {"xlsx", xlsx("t.xlsx", parts)},
    };
    for (const auto& [kind, file] : files) {
        SCOPED_TRACE(kind);
        TCaGlideConvert conv(file, ctCaGlide, true);
        EXPECT_EQ(conv.FileName(), file);
        EXPECT_EQ(conv.GetFileColumnCaptions(), (Strings{"日期", "摘要", "列C", "借方金额"}));
        ASSERT_EQ(conv.ColumnMaps.size(), kFields.size());
        for (std::size_t i = 0; i < kFields.size(); ++i)
            EXPECT_EQ(conv.ColumnMaps[i].FieldCaption, kFields[i]);
        EXPECT_EQ(mappedTo(conv, "日期"), "日期");
        EXPECT_EQ(mappedTo(conv, "摘要"), "摘要");
        EXPECT_EQ(mappedTo(conv, "借方金额"), "借方金额");
        EXPECT_EQ(mappedTo(conv, "贷方金额"), "");
        ASSERT_EQ(conv.FileRows().size(), 2u);  // the blank row is left out
        EXPECT_EQ(conv.FileRows()[0].Number, 2);
        EXPECT_EQ(conv.FileRows()[1].Number, 4);
        EXPECT_EQ(cellTexts(conv.FileRows()[0], 4), (Strings{"2024-03-02", "收款", "x", "12.5"}));
    }
}

TEST_F(ConvertFiles, CommaSeparatedText) {
    struct Case {
        const char* name;
        std::string bytes;
        Strings captions;
        std::vector<std::pair<std::int64_t, Strings>> rows;
    };
    const std::string gbk = utf8ToGbk("日期,摘要\r\n2024-03-02,收款\r\n");
    const Case cases[] = {
        {"quotes around commas, quotes and line breaks",
         "a,b,c\n\"x,y\",\"say \"\"hi\"\"\",\"two\r\nlines\"\nlast,,\"\"\n",
         {"a", "b", "c"},
         {{2, {"x,y", "say \"hi\"", "two\nlines"}}, {4, {"last", "", ""}}}},
        {"GBK", gbk, {"日期", "摘要"}, {{2, {"2024-03-02", "收款"}}}},
        {"UTF-8 with BOM, CR line ends, no final break",
         "\xEF\xBB\xBF日期,摘要\r2024-03-02,收款",
         {"日期", "摘要"},
         {{2, {"2024-03-02", "收款"}}}},
        {"blank lines before the captions and between rows",
         "\n , \na,b\n\n1,2\n",
         {"a", "b"},
         {{5, {"1", "2"}}}},
        {"full-width commas do not separate", "甲，乙,丙\n", {"甲，乙", "丙"}, {}},
        {"text after a closing quote is kept", "\"ab\"c,d\n", {"abc", "d"}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TCaGlideConvert conv(write("in.csv", c.bytes), ctCaGlide, true);
        EXPECT_EQ(conv.GetFileColumnCaptions(), c.captions);
        ASSERT_EQ(conv.FileRows().size(), c.rows.size());
        for (std::size_t i = 0; i < c.rows.size(); ++i) {
            EXPECT_EQ(conv.FileRows()[i].Number, c.rows[i].first);
            EXPECT_EQ(cellTexts(conv.FileRows()[i], static_cast<int>(c.captions.size())),
                      c.rows[i].second);
        }
    }
}

TEST_F(ConvertFiles, WithoutCaptionRowColumnsAreLetters) {
    TCaGlideConvert conv(write("n.csv", "1,2\n3,4,5\n"), ctCaGlide, false);
    EXPECT_EQ(conv.GetFileColumnCaptions(), (Strings{"A", "B", "C"}));
    ASSERT_EQ(conv.FileRows().size(), 2u);
    EXPECT_EQ(conv.FileRows()[0].Number, 1);
}

TEST_F(ConvertFiles, XlsxCellsAndReferences) {
    XlsxParts p;
    p.shared = {"日期", "金额", "备注"};
    p.styleFormats = {0, 14, 22, 164, 165};
    p.customFormats =
        R"(<numFmt numFmtId="164" formatCode="yyyy&quot;年&quot;m&quot;月&quot;d&quot;日&quot;"/>)"
        R"x(<numFmt numFmtId="165" formatCode="#,##0.00_);[Red]\(#,##0.00\)"/>)x";
    p.sheetData =
        R"(<row r="1"><c r="A1" t="s"><v>0</v></c><c r="B1" t="s"><v>1</v></c><c r="AB1" t="s"><v>2</v></c></row>)"
        // Rich text with a phonetic guide, a formula's string, a boolean, an error.
        R"(<row r="3"><c r="A3" s="1"><v>45353</v></c><c r="B3" s="4"><v>1234.5</v></c>)"
        R"(<c r="C3" t="inlineStr"><is><r><t>富</t></r><r><t>文本</t></r><rPh><t>ふ</t></rPh></is></c>)"
        R"(<c r="D3" t="str"><f>A1</f><v>公式</v></c><c r="E3" t="b"><v>1</v></c>)"
        R"(<c r="F3" t="e"><v>#N/A</v></c><c r="G3" s="3"><v>45354</v></c><c r="H3" s="2"><v>45353.75</v></c>)"
        R"(<c r="I3"/><c r="AB3"><v>-0.1</v></c></row>)"
        // Cells without references follow one another.
        R"(<row><c><v>1</v></c><c t="inlineStr"><is><t>x</t></is></c></row>)";
    XlsxSheet sheet = readXlsxFirstSheet(xlsx("cells.xlsx", p));
    EXPECT_FALSE(sheet.date1904);
    ASSERT_EQ(sheet.rows.size(), 3u);
    EXPECT_EQ(sheet.rows[0].number, 1);
    EXPECT_EQ(sheet.rows[1].number, 3);
    EXPECT_EQ(sheet.rows[2].number, 4);
    auto text = [&](std::size_t r, int col) -> std::string {
        for (const auto& [c, cell] : sheet.rows[r].cells)
            if (c == col) return cell.text;
        return "(none)";
    };
    EXPECT_EQ(text(0, 27), "备注");
    EXPECT_EQ(text(1, 0), "2024-03-02");
    EXPECT_EQ(text(1, 1), "1234.5");
    EXPECT_EQ(text(1, 2), "富文本");
    EXPECT_EQ(text(1, 3), "公式");
    EXPECT_EQ(text(1, 4), "1");
    EXPECT_EQ(text(1, 5), "#N/A");
    EXPECT_EQ(text(1, 6), "2024-03-03");
    EXPECT_EQ(text(1, 7), "2024-03-02 18:00:00");
    EXPECT_EQ(text(1, 8), "(none)");
    EXPECT_EQ(text(1, 27), "-0.1");
    EXPECT_EQ(text(2, 0), "1");
    EXPECT_EQ(text(2, 1), "x");
    const SheetCell& amount = sheet.rows[1].cells[1].second;
    ASSERT_TRUE(amount.number.has_value());
    EXPECT_EQ(*amount.number, 1234.5);

    // The sheet path may be absolute; 1904 workbooks are flagged.
    p.sheetTarget = "/xl/worksheets/first.xml";
    p.date1904 = true;
    EXPECT_TRUE(readXlsxFirstSheet(xlsx("b1904.xlsx", p)).date1904);
}

TEST(ConvertXlsx, CellReferencesAndDateNumbers) {
    const std::pair<const char*, std::optional<std::pair<int, std::int64_t>>> refs[] = {
        {"A1", std::pair{0, 1}},     {"AB12", std::pair{27, 12}},
        {"ab12", std::pair{27, 12}}, {"XFD1048576", std::pair{16383, 1048576}},
        {"XFE1", std::nullopt},      {"A1048577", std::nullopt},
        {"A0", std::nullopt},        {"1A", std::nullopt},
        {"A", std::nullopt},         {"", std::nullopt},
        {"A1B", std::nullopt},
    };
    for (const auto& [text, want] : refs) {
        auto got = parseCellRef(text);
        ASSERT_EQ(got.has_value(), want.has_value()) << text;
        if (got) {
            EXPECT_EQ(std::pair(got->col, got->row), *want) << text;
        }
    }
    const std::tuple<double, bool, std::optional<std::string>> dates[] = {
        {1, false, "1900-01-01"},
        {59, false, "1900-02-28"},
        {60, false, std::nullopt},
        {61, false, "1900-03-01"},
        {45353, false, "2024-03-02"},
        {45353.5, false, "2024-03-02 12:00:00"},
        {0.25, false, "06:00:00"},
        {0, true, "1904-01-01"},
        {-1, false, std::nullopt},
        {1e9, false, std::nullopt},
        {45353.99999999, false, "2024-03-03"},
    };
    for (const auto& [serial, in1904, want] : dates)
        EXPECT_EQ(excelDateText(serial, in1904), want) << serial;
}

TEST_F(ConvertFiles, UnreadableFilesSayWhyAndChangeNothing) {
    auto good = converter(csv("good.csv", {"日期,摘要", "2024-03-02,a"}));
    mapField(*good, "摘要", "");
    const std::string corruptXls = write(
        "bad.xls", std::string("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8) + std::string(600, '\x7F'));
    const std::pair<std::string, std::string> cases[] = {
        {path("missing.csv"), "文件不存在"},
        {corruptXls, "文件已损坏"},
        {write("bad.xlsx", "PK\x03\x04 not really a zip"), ".xlsx"},
        {write("empty.csv", ""), "文件是空的"},
        {write("open.csv", "a,b\n1,\"never closed\n2,3\n"), "第 2 行的引号没有结束"},
        {zip("nobook.xlsx", {{"hello.txt", "hi"}}), ".xlsx"},
        {dir.path().toStdString(), "文件夹"},
        {write("nul.csv", std::string("日期,摘要\n2024-03-02,a") + '\0' + "b\n"),
         "第 2 行含有空字符"},
        {write("mixed.csv", "日期,摘要\n2024-03-02," + utf8ToGbk("收款") + "，" +
                                utf8ToGbk("货款") + "\n2024-03-03,收款\n2024-03-04,付款\n"),
         "第 2 行的编码与文件其余各行不同"},
        {xlsx("formula.xlsx",
              {R"(<row r="1"><c r="A1" t="inlineStr"><is><t>日期</t></is></c></row>)"
               R"(<row r="2"><c r="A2"><v>45353</v></c><c r="B2"><f>1/0</f></c></row>)"}),
         "单元格 B2 的公式没有计算结果"},
        // Hostile files are refused at the import's limits, in bounded memory.
        {xlsx("repeated.xlsx", {repeatedSharedString(250), {std::string(300000, 'x')}}),
         "单元格的文字超过 64 MB（一次导入的上限）"},
        {write("fields.csv", manyFields(2'001'000)),
         "工作表超过 2000000 个单元格（一次导入的上限）"},
        {sparse("huge.csv", (std::int64_t{64} << 20) + 1), "文件超过 64 MB（一次导入的上限）"},
    };
    for (const auto& [file, reason] : cases) {
        SCOPED_TRACE(file);
        try {
            good->SetFileName(file);
            ADD_FAILURE() << "no error";
        } catch (const ConvertError& e) {
            std::string msg = e.what();
            EXPECT_NE(msg.find("无法读取文件 " + file), std::string::npos) << msg;
            EXPECT_NE(msg.find(reason), std::string::npos) << msg;
        }
        EXPECT_EQ(good->FileName(), path("good.csv"));
        EXPECT_EQ(good->GetFileColumnCaptions(), (Strings{"日期", "摘要"}));
        EXPECT_EQ(mappedTo(*good, "摘要"), "");
    }
}

// ---- importing ----

TEST_F(ConvertFiles, ImportsEveryFieldOfEveryRow) {
    std::string file =
        csv("all.csv",
            {"账号,日期,统一号,摘要,借方金额,贷方金额,支票号,结算方式,对方单位,部门,备注",
             "6222001,2024/3/2,7,\"货款,三月\",\"1,234.50\",,ZP01,01,乙公司,D01 财务部,备注一",
             "6222003,2024.3.5,,利息,,0.3,,支票,C01,销售部,", "  ,  ,  ",
             "6222001,2024-03-06,,,,,,,,,"});
    auto conv = converter(file);
    conv->ImportData();
    EXPECT_EQ(mng.PendingCount(), 0u);
    auto rows = stored();
    ASSERT_EQ(rows.size(), 3u);
    const Stored& a = rows[0];
    EXPECT_EQ(a.asCode, "1001");
    EXPECT_EQ(a.setCode, "001");
    EXPECT_EQ(a.date, "2024-03-02");
    EXPECT_EQ(a.number, 7);
    EXPECT_EQ(a.summary, "货款,三月");
    EXPECT_EQ(a.deb, 123450);
    EXPECT_EQ(a.cre, 0);
    EXPECT_EQ(a.payCode, "ZP01");
    EXPECT_EQ(a.pm, "PM1");
    EXPECT_EQ(a.cr, "CR2");
    EXPECT_EQ(a.dp, "DP1");
    EXPECT_EQ(a.remark, "备注一");
    EXPECT_EQ(a.user, "u1");
    EXPECT_EQ(a.flag, "1");
    const Stored& b = rows[1];
    EXPECT_EQ(b.asCode, "1003");
    EXPECT_EQ(b.date, "2024-03-05");
    EXPECT_EQ(b.cre, 30);
    EXPECT_EQ(b.pm, "PM2");
    EXPECT_EQ(b.cr, "CR1");
    EXPECT_EQ(b.dp, "DP2");
    EXPECT_EQ(rows[2].number, 8);  // the next free number of account 1001
}

TEST_F(ConvertFiles, DateForms) {
    const std::pair<const char*, const char*> cases[] = {
        {"2024-03-02", "2024-03-02"}, {"2024/3/2", "2024-03-02"},
        {"2024.03.02", "2024-03-02"}, {"2024年3月2日", "2024-03-02"},
        {"20240302", "2024-03-02"},   {"2024-03-02 10:30:00", "2024-03-02"},
        {"2024/12/31", "2024-12-31"},
    };
    Strings lines = {"日期,账号"};
    for (const auto& c : cases) lines.push_back(std::string(c.first) + ",6222001");
    converter(csv("dates.csv", lines))->ImportData();
    auto rows = stored();
    ASSERT_EQ(rows.size(), std::size(cases));
    for (std::size_t i = 0; i < rows.size(); ++i)
        EXPECT_EQ(rows[i].date, cases[i].second) << cases[i].first;
}

TEST_F(ConvertFiles, WorkbookDateNumbersAndAmounts) {
    NEED_XLWT();
    std::string xls = xlsCells("n.xls",
                               "[(0,0,'日期'),(0,1,'借方金额'),(0,2,'账号'),(0,3,'统一号'),"
                               "(1,0,45353),(1,1,1234.5),(1,2,6222001),(1,3,12),"
                               "(2,0,datetime.date(2024,3,4)),(2,1,'2,000'),(2,2,'6222001')]");
    XlsxParts p;
    p.styleFormats = {0, 14};
    p.sheetData =
        R"(<row r="1"><c r="A1" t="inlineStr"><is><t>日期</t></is></c><c r="B1" t="inlineStr"><is><t>借方金额</t></is></c>)"
        R"(<c r="C1" t="inlineStr"><is><t>账号</t></is></c></row>)"
        R"(<row r="2"><c r="A2"><v>45353</v></c><c r="B2"><v>1234.5</v></c><c r="C2"><v>6222001</v></c></row>)"
        R"(<row r="3"><c r="A3" s="1"><v>45355</v></c><c r="B3"><v>2000</v></c><c r="C3"><v>6222001</v></c></row>)";
    for (const std::string& file : {xls, xlsx("n.xlsx", p)}) {
        SCOPED_TRACE(file);
        db().exec("DELETE FROM CaCollateGlide");
        rebuildDayTotals(db());
        converter(file)->ImportData();
        auto rows = stored();
        ASSERT_EQ(rows.size(), 2u);
        EXPECT_EQ(rows[0].date, "2024-03-02");
        EXPECT_EQ(rows[0].deb, 123450);
        EXPECT_EQ(rows[1].date, "2024-03-04");
        EXPECT_EQ(rows[1].deb, 200000);
    }
}

TEST_F(ConvertFiles, WithoutAccountColumnRowsGoToTheQueriedAccount) {
    auto conv = converter(csv("q.csv", {"日期,摘要", "2024-03-02,a"}));
    EXPECT_NE(importError(*conv).find("没有指定账号"), std::string::npos);
    mng.CaGlideQry()->SetASCode("1002");
    EXPECT_EQ(importError(*conv), "当前账号已停用！");
    mng.CaGlideQry()->SetASCode("1003");
    conv->ImportData();
    auto rows = stored();
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].asCode, "1003");
}

TEST_F(ConvertFiles, BadRowsStoreNothingAndLeavePendingRowsAsTheyWere) {
    const std::string head = "日期,账号,借方金额,统一号,摘要,结算方式";
    const std::string ok = "2024-03-02,6222001,1,,a,";
    auto withRow = [&](int fileRow, const std::string& bad) {
        Strings lines = {head};
        while (static_cast<int>(lines.size()) < fileRow - 1) lines.push_back(ok);
        lines.push_back(bad);
        lines.push_back(ok);
        return lines;
    };
    struct Case {
        const char* name;
        Strings lines;
        std::string message;
    };
    const Case cases[] = {
        {"bad amount on row 7", withRow(7, "2024-03-02,6222001,12x,,a,"),
         "第 7 "
         "行（列“借方金额”）的金额“12x”不是金额：只能有数字、一个小数点，千位分隔符“,"
         "”只能三位一组。"},
        {"broken date", withRow(3, "2024-02-30,6222001,1,,a,"),
         "第 3 行（列“日期”）的日期“2024-02-30”无法识别。"},
        {"no date", withRow(2, " ,6222001,1,,a,"), "第 2 行（列“日期”）没有日期。"},
        {"unknown account", withRow(4, "2024-03-02,999,1,,a,"),
         "第 4 行（列“账号”）的账号“999”在当前账套中不存在。"},
        {"another book set's account", withRow(2, "2024-03-02,6222201,1,,a,"),
         "第 2 行（列“账号”）的账号“6222201”在当前账套中不存在。"},
        {"stopped account", withRow(5, "2024-03-02,6222002,1,,a,"),
         "第 5 行（列“账号”）的账号“6222002”已停用，不能导入。"},
        {"unknown pay mode", withRow(2, "2024-03-02,6222001,1,,a,汇票"),
         "第 2 行（列“结算方式”）的结算方式“汇票”不存在。"},
        {"unified number not a whole number", withRow(2, "2024-03-02,6222001,1,1.5,a,"),
         "第 2 行（列“统一号”）的统一号“1.5”不是正整数。"},
        {"summary of a total line", withRow(2, "2024-03-02,6222001,1,,期初余额,"),
         "第 2 行：摘要不能是“期初余额”：这是系统的合计行所用的文字。"},
        {"date of another year", withRow(3, "2023-12-31,6222001,1,,a,"),
         "第 3 行：日期 2023-12-31 不在账套的会计年度 2024 年内。"},
        {"amount in exponent form", withRow(2, "2024-03-02,6222001,1e14,,a,"),
         "第 2 "
         "行（列“借方金额”）的金额“1e14”不是金额：只能有数字、一个小数点，千位分隔符“,"
         "”只能三位一组。"},
        {"amount out of range", withRow(2, "2024-03-02,6222001,10000000000000,,a,"),
         "第 2 行（列“借方金额”）的金额“10000000000000”超出范围。"},
        {"captions only", {head}, "文件中没有要导入的数据。"},
    };
    // A row someone else added and has not stored yet stays pending.
    auto earlier = std::make_unique<TCaGlide>("CaCollateGlide");
    TCaGlide* earlierRow = earlier.get();
    mng.Add(std::move(earlier));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto conv = converter(csv("bad.csv", c.lines));
        EXPECT_EQ(importError(*conv), c.message);
        EXPECT_TRUE(stored().empty());
        ASSERT_EQ(mng.PendingCount(), 1u);
        EXPECT_EQ(mng.PendingAt(0), earlierRow);
    }
}

TEST_F(ConvertFiles, MappingProblemsAreReportedBeforeAnything) {
    auto conv = converter(csv("m.csv", {"日期,账号", "2024-03-02,6222001"}));
    mapField(*conv, "日期", "");
    EXPECT_EQ(importError(*conv), "没有为“日期”指定文件列，无法导入。");
    mapField(*conv, "日期", "交易日");
    EXPECT_EQ(importError(*conv), "“日期”对应的文件列“交易日”在文件中不存在，请重新设置映射。");
    mapField(*conv, "日期", "日期");
    conv->ConvertType = ctNone;
    EXPECT_NE(importError(*conv).find("不能导入"), std::string::npos);
    conv->ConvertType = ctCaGlide;
    conv->GlideMng = nullptr;
    EXPECT_NE(importError(*conv).find("日记账"), std::string::npos);
    TCaGlideConvert none("", ctCaGlide, true);
    none.GlideMng = &mng;
    EXPECT_EQ(none.GetFileColumnCaptions(), Strings{});
    EXPECT_EQ(none.ColumnMaps.size(), kFields.size());
    EXPECT_NE(importError(none).find("没有选择要导入的文件"), std::string::npos);
    EXPECT_TRUE(stored().empty());
}

TEST_F(ConvertFiles, LockedBookSetImportsNothing) {
    session.reset();
    open(BookOptions{.entryLocked = true});
    auto conv = converter(csv("l.csv", {"日期,账号", "2024-03-02,6222001"}));
    EXPECT_EQ(importError(*conv), "账套 A001 已锁定，不能导入。");
    EXPECT_TRUE(stored().empty());
}

}  // namespace

// ---- strict reading, positions, numbers, remembered mappings, the log ----

// Amounts are plain decimals; a text record must have the caption line's
// field count (an unquoted "1,234.56" splits into two fields).
TEST_F(ConvertFiles, AmountsArePlainDecimalsAndRecordsKeepTheirWidth) {
    mng.CaGlideQry()->SetASCode("1001");
    const std::string head = "日期,借方金额,摘要";
    struct Case {
        const char* amount;
        std::int64_t cents;  // stored when `error` is empty
        const char* error;   // the end of the message
    };
    const Case cases[] = {
        {"\"1,234.56\"", 123456, ""},
        {"\"12,345,678.9\"", 1234567890, ""},
        {"-3", -300, ""},
        {"0.05", 5, ""},
        {"1,234.56", 0,
         "第 2 行有 4 个字段，而列说明有 3 个（含半角逗号的金额或文字要用双引号括起来）"},
        {"\"1.234,56\"", 0, "不是金额：只能有数字、一个小数点，千位分隔符“,”只能三位一组。"},
        {"\"1,2,3\"", 0, "不是金额：只能有数字、一个小数点，千位分隔符“,”只能三位一组。"},
        {"\"12,34\"", 0, "不是金额：只能有数字、一个小数点，千位分隔符“,”只能三位一组。"},
        {"TRUE", 0, "不是金额：只能有数字、一个小数点，千位分隔符“,”只能三位一组。"},
        {"1.2.3", 0, "不是金额：只能有数字、一个小数点，千位分隔符“,”只能三位一组。"},
        {"0.005", 0, "超过两位小数。"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.amount);
        db().exec("DELETE FROM CaCollateGlide; DELETE FROM import_log");
        rebuildDayTotals(db());
        const std::string file = csv("a.csv", {head, std::string("2024-03-02,") + c.amount + ",x"});
        std::string error;
        try {
            auto conv = converter(file);
            conv->ImportData();
        } catch (const ConvertError& e) {
            error = e.what();
        }
        if (*c.error == 0) {
            EXPECT_EQ(error, "");
            auto rows = stored();
            ASSERT_EQ(rows.size(), 1u);
            EXPECT_EQ(rows[0].deb, c.cents);
        } else {
            EXPECT_NE(error.find(c.error), std::string::npos) << error;
            EXPECT_TRUE(stored().empty());
        }
    }
    // A workbook number with more than two decimals is not rounded.
    XlsxParts p;
    p.sheetData =
        R"(<row r="1"><c r="A1" t="inlineStr"><is><t>日期</t></is></c><c r="B1" t="inlineStr"><is><t>借方金额</t></is></c></row>)"
        R"(<row r="2"><c r="A2" t="inlineStr"><is><t>2024-03-02</t></is></c><c r="B2"><v>0.125</v></c></row>)";
    auto conv = converter(xlsx("sub.xlsx", p));
    EXPECT_EQ(importError(*conv), "第 2 行（列“借方金额”）的金额“0.125”超过两位小数。");
}

TEST_F(ConvertFiles, SameNamedColumnsAreMappedByPosition) {
    mng.CaGlideQry()->SetASCode("1001");
    auto conv = converter(csv("two.csv", {"日期,金额,金额", "2024-03-02,1.00,2.00"}));
    for (auto& m : conv->ColumnMaps) {
        if (m.FieldCaption == "借方金额") m = {m.FieldCaption, "金额", 1};
        if (m.FieldCaption == "贷方金额") m = {m.FieldCaption, "金额", 2};
    }
    conv->ImportData();
    auto rows = stored();
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].deb, 100);
    EXPECT_EQ(rows[0].cre, 200);
}

// A unified number that is taken (in the store or by an earlier row of the
// file) is an error, never renumbered.
TEST_F(ConvertFiles, TakenUnifiedNumbersAreErrors) {
    testutil::addRow(db(), "CaCollateGlide", "001", "1001", "2024-03-01", 1, 0, "早", 5);
    const std::string head = "日期,统一号,借方金额,账号";
    struct Case {
        Strings lines;
        std::string message;
    };
    const Case cases[] = {
        {{head, "2024-03-02,5,1,6222001"},
         "第 2 行（列“统一号”）的统一号“5”在账号 6222001 中已经使用。"},
        {{head, "2024-03-02,7,1,6222001", "2024-03-03,7,1,6222001"},
         "第 3 行（列“统一号”）的统一号“7”在账号 6222001 中已经使用。"},
        {{head, "2024-03-02,\"1,2,3\",1,6222001"},
         "第 2 行（列“统一号”）的统一号“1,2,3”不是正整数。"},
    };
    for (const Case& c : cases) {
        auto conv = converter(csv("n.csv", c.lines));
        EXPECT_EQ(importError(*conv), c.message);
    }
    EXPECT_EQ(stored().size(), 1u);
    // The same number in another account is free.
    auto conv = converter(csv("ok.csv", {head, "2024-03-02,5,1,6222003"}));
    conv->ImportData();
    auto rows = stored();
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[1].number, 5);
}

TEST_F(ConvertFiles, TargetAccountWinsOverTheQueriedOne) {
    mng.CaGlideQry()->SetASCode("1001");
    auto conv = converter(csv("t.csv", {"日期,借方金额", "2024-03-02,1"}));
    conv->TargetASCode = "1003";
    conv->ImportData();
    EXPECT_EQ(conv->ImportedRows, 1);
    EXPECT_EQ(conv->ImportedAccounts, "6222003");
    auto rows = stored();
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].asCode, "1003");
    conv = converter(csv("s.csv", {"日期,借方金额", "2024-03-03,1"}));
    conv->TargetASCode = "1002";
    EXPECT_EQ(importError(*conv), "当前账号已停用！");
}

TEST_F(ConvertFiles, TheLastMappingOfACaptionLayoutIsOfferedAgain) {
    mng.CaGlideQry()->SetASCode("1001");
    auto conv = converter(csv("m1.csv", {"日期,收入,支出", "2024-03-02,1,"}));
    EXPECT_EQ(mappedTo(*conv, "借方金额"), "");
    mapField(*conv, "借方金额", "收入");
    mapField(*conv, "贷方金额", "支出");
    conv->ImportData();
    auto again = converter(csv("m2.csv", {"日期,收入,支出", "2024-04-02,,2"}));
    EXPECT_EQ(mappedTo(*again, "借方金额"), "收入");
    EXPECT_EQ(mappedTo(*again, "贷方金额"), "支出");
    auto other = converter(csv("m3.csv", {"日期,收入,支出,备注", "2024-04-02,,2,x"}));
    EXPECT_EQ(mappedTo(*other, "借方金额"), "");
}

TEST_F(ConvertFiles, TheSameContentAsksBeforeItIsStoredAgain) {
    mng.CaGlideQry()->SetASCode("1001");
    const std::string file = csv("twice.csv", {"日期,借方金额", "2024-03-02,1"});
    converter(file)->ImportData();
    auto conv = converter(file);
    std::string asked;
    conv->ConfirmAgain = [&](const ImportLogEntry& e) {
        asked = describeImport(e);
        return false;
    };
    EXPECT_THROW(conv->ImportData(), ImportDeclinedError);
    EXPECT_NE(asked.find("twice.csv"), std::string::npos) << asked;
    EXPECT_EQ(stored().size(), 1u);
    EXPECT_EQ(mng.PendingCount(), 0u);
    auto plain = converter(file);
    EXPECT_THROW(plain->ImportData(), AlreadyImportedError);
    conv->ConfirmAgain = [](const ImportLogEntry&) { return true; };
    conv->ImportData();
    EXPECT_EQ(stored().size(), 2u);
}
