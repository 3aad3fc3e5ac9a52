// Export and print of the report sheet: the csv, xlsx and pdf files read back,
// the paths an export refuses, and printing of empty, short and long sheets.

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QPrinter>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <functional>

#include "Cell.h"
#include "ReportOutput.h"

using namespace ledgerhost;

namespace {

void text(SheetModel& m, int col, int row, const QString& t) {
    m.cell(col, row).text = t;
}

// A money cell as the journal grid makes it: two decimals, grouping, optionally
// hidden when zero.
void money(SheetModel& m, int col, int row, double v, bool hideZero = true) {
    CellData& c = m.cell(col, row);
    c.number = v;
    c.isNumber = true;
    c.numType = 1;
    c.separator = 2;
    c.hideZero = hideZero;
}

// Title, an information row, two heading rows with merged headings, and two
// data rows: 5 columns (A..E), rows 1..6.
void fillSmallSheet(SheetModel& m) {
    m.setColCount(6);
    m.setRowCount(7);
    m.titleRow = 1;
    text(m, 1, 1, QStringLiteral("银行对账单"));
    m.spans.push_back({1, 1, 5, 1});
    text(m, 1, 2, QStringLiteral("总公司[001]"));
    m.spans.push_back({1, 2, 2, 1});
    text(m, 1, 3, QStringLiteral("日期"));
    m.spans.push_back({1, 3, 1, 2});
    text(m, 2, 3, QStringLiteral("摘要"));
    m.spans.push_back({2, 3, 1, 2});
    text(m, 3, 3, QStringLiteral("金额"));
    m.spans.push_back({3, 3, 2, 1});
    text(m, 3, 4, QStringLiteral("借方"));
    text(m, 4, 4, QStringLiteral("贷方"));
    text(m, 5, 3, QStringLiteral("备注"));
    text(m, 1, 5, QStringLiteral("01-05"));
    text(m, 2, 5, QStringLiteral("收货款, 甲公司"));
    money(m, 3, 5, 1234567.5);
    money(m, 4, 5, 0);
    text(m, 5, 5, QStringLiteral("说\"明\""));
    text(m, 1, 6, QStringLiteral("01-06"));
    text(m, 2, 6, QStringLiteral("退款"));
    money(m, 3, 6, -88);
    m.cell(3, 6).alert = true;
    money(m, 4, 6, 0, false);
    text(m, 5, 6, QStringLiteral("第一行\n第二行"));
}

QByteArray readAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Unpacks a zip file into a folder with python's standard zipfile module (the
// system's python first: a version manager's shim takes seconds to start).
bool unzip(const QString& zip, const QString& into) {
    QString python =
        QStandardPaths::findExecutable(QStringLiteral("python3"), {QStringLiteral("/usr/bin")});
    if (python.isEmpty()) python = QStandardPaths::findExecutable(QStringLiteral("python3"));
    QProcess p;
    p.start(python,
            {QStringLiteral("-c"),
             QStringLiteral(
                 "import sys, zipfile; zipfile.ZipFile(sys.argv[1]).extractall(sys.argv[2])"),
             zip, into});
    return p.waitForFinished(30000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

int pdfPageCount(const QByteArray& pdf) {
    static const QRegularExpression page(QStringLiteral("/Type\\s*/Page(?![s\\w])"));
    return static_cast<int>(QString::fromLatin1(pdf).count(page));
}

class ReportOutputTest : public ::testing::Test {
  protected:
    QString file(const QString& name) const { return dir.filePath(name); }
    QTemporaryDir dir;
    SheetModel sheet;
};

TEST_F(ReportOutputTest, CsvHasBomCrlfQuotingAndUngroupedNumbers) {
    fillSmallSheet(sheet);
    QString error;
    ASSERT_TRUE(exportSheet(sheet, file("out.csv"), &error)) << error.toStdString();
    QByteArray bytes = readAll(file("out.csv"));
    ASSERT_TRUE(bytes.startsWith("\xEF\xBB\xBF"));
    QList<QByteArray> lines = bytes.mid(3).split('\n');
    ASSERT_EQ(lines.size(), 8);  // six rows ended by CRLF, one with a quoted LF inside
    struct Case {
        int line;
        const char* expected;
    };
    for (const Case& c : {
             Case{0, "银行对账单,,,,\r"},
             Case{3, ",,借方,贷方,\r"},
             Case{4, "01-05,\"收货款, 甲公司\",1234567.50,,\"说\"\"明\"\"\"\r"},
             Case{5, "01-06,退款,-88.00,0.00,\"第一行"},
             Case{6, "第二行\"\r"},
         }) {
        EXPECT_EQ(lines[c.line].toStdString(), c.expected) << "line " << c.line;
    }
    EXPECT_TRUE(bytes.endsWith("\r\n"));
    EXPECT_EQ(bytes.count("\r\n"), 6);
}

TEST_F(ReportOutputTest, XlsxKeepsMergesNumbersFormatsAndStrings) {
    fillSmallSheet(sheet);
    QString error;
    ASSERT_TRUE(exportSheet(sheet, file("out.xlsx"), &error)) << error.toStdString();
    ASSERT_TRUE(unzip(file("out.xlsx"), file("x"))) << "python3 with zipfile is needed";
    const QString ws = QString::fromUtf8(readAll(file("x/xl/worksheets/sheet1.xml")));
    const QString strings = QString::fromUtf8(readAll(file("x/xl/sharedStrings.xml")));
    const QString styles = QString::fromUtf8(readAll(file("x/xl/styles.xml")));

    struct Case {
        const char* what;
        const QString* xml;
        const char* pattern;
    };
    for (const Case& c : {
             Case{"title merged", &ws, R"(<mergeCell ref="A1:E1"/>)"},
             Case{"heading merged down", &ws, R"(<mergeCell ref="A3:A4"/>)"},
             Case{"heading merged across", &ws, R"(<mergeCell ref="C3:D3"/>)"},
             Case{"number cell", &ws, R"(<c r="C5"[^>]*><v>1234567.5</v></c>)"},
             Case{"negative number", &ws, R"(<c r="C6"[^>]*><v>-88</v></c>)"},
             Case{"zero kept as a number", &ws, R"(<c r="D5"[^>]*><v>0</v></c>)"},
             Case{"text as shared string", &ws, R"(<c r="B5"[^>]*t="s"[^>]*>)"},
             Case{"heading rows repeat", &ws, R"(<pane [^>]*ySplit="4")"},
             Case{"string", &strings, "收货款, 甲公司"},
             Case{"title string", &strings, "银行对账单"},
             Case{"grouped format", &styles, R"(formatCode="#,##0.00")"},
             Case{"hide-zero format", &styles, R"(formatCode="#,##0.00;-#,##0.00;;@")"},
             Case{"large title", &styles, R"(<sz val="16"/>)"},
             Case{"alert in red", &styles, R"(<color rgb="FFFF0000"/>)"},
         }) {
        EXPECT_TRUE(c.xml->contains(QRegularExpression(QString::fromUtf8(c.pattern)))) << c.what;
    }
    // Nothing but the workbook is left in the folder.
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList{"out.xlsx"});
}

TEST_F(ReportOutputTest, TheHeadingEndsWhereTheSheetSays) {
    struct Case {
        int headingEnd;
        const char* pane;
    };
    for (const Case& c : {Case{-1, R"(ySplit="4")"}, Case{3, R"(ySplit="3")"}}) {
        SheetModel m;
        fillSmallSheet(m);
        m.headingEnd = c.headingEnd;
        const QString out = file(QStringLiteral("h%1.xlsx").arg(c.headingEnd));
        QString error;
        ASSERT_TRUE(exportSheet(m, out, &error)) << error.toStdString();
        ASSERT_TRUE(unzip(out, out + ".d"));
        EXPECT_TRUE(QString::fromUtf8(readAll(out + ".d/xl/worksheets/sheet1.xml"))
                        .contains(QString::fromUtf8(c.pane)))
            << c.headingEnd;
    }
}

TEST_F(ReportOutputTest, OverlappingAndSingleCellMergesDoNotFailTheXlsx) {
    fillSmallSheet(sheet);
    sheet.spans.push_back({2, 3, 2, 2});  // overlaps two earlier areas
    sheet.spans.push_back({5, 5, 1, 1});  // a single cell
    sheet.spans.push_back({4, 6, 5, 5});  // reaches past the sheet: clipped to D6:E6
    QString error;
    ASSERT_TRUE(exportSheet(sheet, file("out.xlsx"), &error)) << error.toStdString();
    ASSERT_TRUE(unzip(file("out.xlsx"), file("x"))) << "python3 with zipfile is needed";
    const QString ws = QString::fromUtf8(readAll(file("x/xl/worksheets/sheet1.xml")));
    EXPECT_TRUE(ws.contains(R"(<mergeCells count="6">)")) << ws.toStdString();
    EXPECT_TRUE(ws.contains(R"(<mergeCell ref="D6:E6"/>)"));
}

TEST_F(ReportOutputTest, EveryFormatWritesAnEmptySheetAndOverwritesAnEarlierFile) {
    for (const char* name : {"empty.csv", "empty.xlsx", "empty.pdf"}) {
        QString error;
        ASSERT_TRUE(exportSheet(sheet, file(name), &error)) << name << error.toStdString();
        ASSERT_TRUE(exportSheet(sheet, file(name), &error)) << name << error.toStdString();
        EXPECT_GT(QFileInfo(file(name)).size(), 0) << name;
    }
}

TEST_F(ReportOutputTest, PdfIsALandscapeDocumentOfTheSheet) {
    fillSmallSheet(sheet);
    QString error;
    ASSERT_TRUE(exportSheet(sheet, file("out.pdf"), &error)) << error.toStdString();
    QByteArray pdf = readAll(file("out.pdf"));
    EXPECT_TRUE(pdf.startsWith("%PDF"));
    EXPECT_GT(pdf.size(), 2000);
    EXPECT_EQ(pdfPageCount(pdf), 1);
    // A4 landscape: 842 x 595 points.
    EXPECT_TRUE(QString::fromLatin1(pdf).contains(
        QRegularExpression(R"(/MediaBox \[0 0 84[12][\.\d]* 59[45])")));
}

TEST_F(ReportOutputTest, RefusedTargetsAnswerFalseWithAReasonAndWriteNothing) {
    fillSmallSheet(sheet);
    QDir(dir.path()).mkdir(QStringLiteral("taken.xlsx"));
    struct Case {
        QString path;
        QString mentions;
    };
    const QString missing = file(QStringLiteral("没有的文件夹/out.xlsx"));
    for (const Case& c : {
             Case{missing, missing},
             Case{file("没有的文件夹/out.csv"), QStringLiteral("不存在")},
             Case{file("没有的文件夹/out.pdf"), QStringLiteral("不存在")},
             Case{file("taken.xlsx"), QStringLiteral("文件夹")},
             Case{file("out.doc"), QStringLiteral("不支持的导出格式：.doc")},
             Case{file("noextension"), QStringLiteral("不支持的导出格式")},
         }) {
        QString error;
        EXPECT_FALSE(exportSheet(sheet, c.path, &error)) << c.path.toStdString();
        EXPECT_TRUE(error.contains(c.mentions)) << error.toStdString();
    }
    EXPECT_FALSE(exportSheet(sheet, file("out.doc"), nullptr));
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList{});
}

TEST_F(ReportOutputTest, PrintPaintsEverySheetSizeOntoPages) {
    struct Case {
        const char* what;
        std::function<void(SheetModel&)> fill;
        int minPages, maxPages;
    };
    const Case cases[] = {
        {"empty sheet", [](SheetModel&) {}, 1, 1},
        {"title only",
         [](SheetModel& m) {
             m.titleRow = 1;
             text(m, 1, 1, QStringLiteral("标题"));
         },
         1, 1},
        {"small sheet", fillSmallSheet, 1, 1},
        {"300 data rows",
         [](SheetModel& m) {
             fillSmallSheet(m);
             m.setRowCount(305);
             for (int r = 5; r <= 304; ++r) {
                 text(m, 1, r, QString::number(r));
                 money(m, 3, r, r * 1000.25);
             }
             m.spans.push_back({2, 100, 1, 120});  // a tall area across page breaks
         },
         3, 20},
    };
    for (const Case& c : cases) {
        SheetModel m;
        c.fill(m);
        QPrinter printer(QPrinter::HighResolution);
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(file("print.pdf"));
        printSheet(m, printer, QStringLiteral("银行对账单"));
        QByteArray pdf = readAll(file("print.pdf"));
        ASSERT_TRUE(pdf.startsWith("%PDF")) << c.what;
        int pages = pdfPageCount(pdf);
        EXPECT_GE(pages, c.minPages) << c.what;
        EXPECT_LE(pages, c.maxPages) << c.what;
    }
}

}  // namespace
