#include "Xlsx.h"

#include "ImportFiles.h"
#include "Store.h"

#include <expat.h>
#include <unzip.h>

#include <QDate>
#include <QTime>
#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>

namespace ledgerhost {

namespace {

// Limits that keep a damaged or hostile file from exhausting memory: no part
// of a workbook this system imports comes near them.
constexpr std::uint64_t kMaxPartBytes = 1ull << 30;
constexpr int kMaxCol = 16384;  // XFD
constexpr std::int64_t kMaxRow = 1048576;

struct ReadFailure {
    std::string reason;
};

[[noreturn]] void failReason(const std::string& reason) {
    throw ReadFailure{reason};
}

const char* const kDamaged = "工作簿内容已损坏";

// The local part of an XML name ("x:row" -> "row", "r:id" -> "id").
std::string_view localName(const char* name) {
    std::string_view n(name);
    auto colon = n.rfind(':');
    return colon == std::string_view::npos ? n : n.substr(colon + 1);
}

const char* attribute(const char** attrs, std::string_view name) {
    for (int i = 0; attrs[i]; i += 2)
        if (localName(attrs[i]) == name) return attrs[i + 1];
    return nullptr;
}

// Receives the events of one XML part.
class XmlHandler {
  public:
    virtual ~XmlHandler() = default;
    virtual void start(std::string_view name, const char** attrs) = 0;
    virtual void end(std::string_view name) = 0;
    virtual void text(std::string_view data) {}
};

class Zip {
    struct Context {
        XmlHandler* handler;
        std::optional<ReadFailure> failure;
    };
    template <class F>
    static void guarded(void* p, F&& f) {
        auto parser = static_cast<XML_Parser>(p);
        auto* ctx = static_cast<Context*>(XML_GetUserData(parser));
        if (ctx->failure) return;
        try {
            f(*ctx->handler);
        } catch (const ReadFailure& e) {
            ctx->failure = e;
            XML_StopParser(parser, XML_FALSE);
        } catch (const std::bad_alloc&) {
            ctx->failure = ReadFailure{"内存不足"};
            XML_StopParser(parser, XML_FALSE);
        }
    }

  public:
    explicit Zip(const std::string& fileName) : zip_(unzOpen64(fileName.c_str())) {}
    ~Zip() {
        if (zip_) unzClose(zip_);
    }
    Zip(const Zip&) = delete;
    Zip& operator=(const Zip&) = delete;
    bool isOpen() const { return zip_ != nullptr; }

    // Feeds the part to the handler; false when the workbook has no such part.
    bool parse(const std::string& path, XmlHandler& handler) {
        if (unzLocateFile(zip_, path.c_str(), 2) != UNZ_OK) return false;
        unz_file_info64 info;
        if (unzGetCurrentFileInfo64(zip_, &info, nullptr, 0, nullptr, 0, nullptr, 0) != UNZ_OK)
            failReason("文件已损坏");
        if (info.uncompressed_size > kMaxPartBytes) failReason("工作簿过大，无法读取");
        if (unzOpenCurrentFile(zip_) != UNZ_OK) failReason("文件已损坏（或设有密码保护）");
        std::unique_ptr<XML_ParserStruct, void (*)(XML_Parser)> parser(XML_ParserCreate("UTF-8"),
                                                                       XML_ParserFree);
        Context ctx{&handler, {}};
        XML_SetUserData(parser.get(), &ctx);
        // The handlers get the parser, so that they can stop it: a failure
        // found inside a handler is kept and thrown once expat has returned,
        // never through its frames.
        XML_UseParserAsHandlerArg(parser.get());
        XML_SetElementHandler(
            parser.get(),
            [](void* p, const char* name, const char** attrs) {
                guarded(p, [&](XmlHandler& h) { h.start(localName(name), attrs); });
            },
            [](void* p, const char* name) {
                guarded(p, [&](XmlHandler& h) { h.end(localName(name)); });
            });
        XML_SetCharacterDataHandler(parser.get(), [](void* p, const char* s, int len) {
            guarded(p, [&](XmlHandler& h) {
                h.text(std::string_view(s, static_cast<std::size_t>(len)));
            });
        });
        // Workbook parts never declare a document type; refusing one keeps
        // entity tricks out.
        XML_SetStartDoctypeDeclHandler(parser.get(),
                                       [](void* p, const char*, const char*, const char*, int) {
                                           XML_StopParser(static_cast<XML_Parser>(p), XML_FALSE);
                                       });

        char buf[65536];
        std::uint64_t total = 0;
        bool ok = true;
        while (true) {
            int n = unzReadCurrentFile(zip_, buf, sizeof buf);
            if (n < 0) {
                unzCloseCurrentFile(zip_);
                failReason("文件已损坏");
            }
            total += static_cast<std::uint64_t>(n);
            if (total > kMaxPartBytes) {
                unzCloseCurrentFile(zip_);
                failReason("工作簿过大，无法读取");
            }
            ok = XML_Parse(parser.get(), buf, n, n == 0) == XML_STATUS_OK;
            if (!ok || n == 0) break;
        }
        int closed = unzCloseCurrentFile(zip_);
        if (ctx.failure) throw *ctx.failure;
        if (!ok) failReason(kDamaged);
        if (closed == UNZ_CRCERROR) failReason("文件已损坏");
        return true;
    }

  private:
    unzFile zip_;
};

// ---- workbook, relationships, shared strings, styles ----

struct WorkbookInfo : XmlHandler {
    std::string firstSheetRel;
    bool date1904 = false;
    bool sawSheet = false;
    void start(std::string_view name, const char** attrs) override {
        if (name == "workbookPr") {
            if (const char* v = attribute(attrs, "date1904"))
                date1904 = std::strcmp(v, "1") == 0 || std::strcmp(v, "true") == 0;
        } else if (name == "sheet" && !sawSheet) {
            sawSheet = true;
            if (const char* id = attribute(attrs, "id")) firstSheetRel = id;
        }
    }
    void end(std::string_view) override {}
};

struct Relationships : XmlHandler {
    std::map<std::string, std::string> targets;
    void start(std::string_view name, const char** attrs) override {
        if (name != "Relationship") return;
        const char* id = attribute(attrs, "Id");
        const char* target = attribute(attrs, "Target");
        if (id && target) targets[id] = target;
    }
    void end(std::string_view) override {}
};

// Runs of text in <t>, leaving out the phonetic guides (<rPh>) that East Asian
// workbooks attach to strings.
struct SharedStrings : XmlHandler {
    explicit SharedStrings(CellBudget& budget) : budget(budget) {}
    CellBudget& budget;  // the table counts as cells: it is held while they are read
    std::vector<std::string> items;
    std::string current;
    bool inItem = false, inText = false;
    int phonetic = 0;
    void start(std::string_view name, const char**) override {
        if (name == "si") {
            inItem = true;
            current.clear();
        } else if (name == "rPh") {
            ++phonetic;
        } else if (name == "t" && inItem && phonetic == 0) {
            inText = true;
        }
    }
    void end(std::string_view name) override {
        if (name == "si") {
            if (!budget.add(current.size())) failReason(budget.reason());
            items.push_back(std::move(current));
            current.clear();
            inItem = false;
        } else if (name == "rPh") {
            --phonetic;
        } else if (name == "t") {
            inText = false;
        }
    }
    void text(std::string_view data) override {
        if (!inText) return;
        current.append(data);
        if (!budget.fits(current.size())) failReason(budget.reason());
    }
};

// Whether a number format shows a date or a time: the built-in ones by number,
// custom ones by their day, month, year, hour or second parts outside quoted
// text, escapes and bracketed sections.
bool builtInDateFormat(int id) {
    return (id >= 14 && id <= 22) || (id >= 27 && id <= 36) || (id >= 45 && id <= 47) ||
           (id >= 50 && id <= 58);
}

bool dateFormatCode(std::string_view code) {
    bool quoted = false;
    for (std::size_t i = 0; i < code.size(); ++i) {
        char c = code[i];
        if (quoted) {
            quoted = c != '"';
        } else if (c == '"') {
            quoted = true;
        } else if (c == '\\' || c == '_' || c == '*') {
            ++i;  // the next character is shown as it is
        } else if (c == '[') {
            auto close = code.find(']', i);
            if (close == std::string_view::npos) return false;
            // Elapsed-time sections ("[h]", "[mm]", "[ss]") are times.
            std::string_view inner = code.substr(i + 1, close - i - 1);
            if (!inner.empty() && inner.find_first_not_of("hHmMsS") == std::string_view::npos)
                return true;
            i = close;
        } else if (std::string_view("yYmMdDhHsS").find(c) != std::string_view::npos) {
            return true;
        }
    }
    return false;
}

struct Styles : XmlHandler {
    std::map<int, bool> customIsDate;  // numFmtId -> date
    std::vector<int> xfFormats;        // cell style index -> numFmtId
    int cellXfs = 0;
    void start(std::string_view name, const char** attrs) override {
        if (name == "numFmt") {
            const char* id = attribute(attrs, "numFmtId");
            const char* code = attribute(attrs, "formatCode");
            if (id && code) customIsDate[std::atoi(id)] = dateFormatCode(code);
        } else if (name == "cellXfs") {
            ++cellXfs;
        } else if (name == "xf" && cellXfs > 0) {
            const char* id = attribute(attrs, "numFmtId");
            xfFormats.push_back(id ? std::atoi(id) : 0);
        }
    }
    void end(std::string_view name) override {
        if (name == "cellXfs") --cellXfs;
    }
    bool isDate(int style) const {
        if (style < 0 || style >= static_cast<int>(xfFormats.size())) return false;
        int id = xfFormats[static_cast<std::size_t>(style)];
        auto it = customIsDate.find(id);
        return it != customIsDate.end() ? it->second : builtInDateFormat(id);
    }
};

// ---- the worksheet ----

std::optional<double> readNumber(std::string_view s) {
    while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
    while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
    if (!s.empty() && s.front() == '+') s.remove_prefix(1);
    double v = 0;
    auto [p, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
    if (s.empty() || ec != std::errc() || p != s.data() + s.size()) return std::nullopt;
    return v;
}

// "B3" for row 3 (from 1) and column 1 (from 0).
std::string cellName(std::int64_t row, int col) {
    std::string letters;
    for (int n = col + 1; n > 0; n = (n - 1) / 26)
        letters.insert(letters.begin(), char('A' + (n - 1) % 26));
    return letters + std::to_string(row);
}

class SheetReader : public XmlHandler {
  public:
    SheetReader(const std::vector<std::string>& shared, const Styles& styles, bool date1904,
                CellBudget& budget)
        : shared_(shared), styles_(styles), date1904_(date1904), budget_(budget) {}

    std::vector<XlsxRow> rows;

    void start(std::string_view name, const char** attrs) override {
        if (name == "row") {
            const char* r = attribute(attrs, "r");
            std::int64_t number = lastRow_ + 1;
            if (r) {
                auto v = readNumber(r);
                if (!v || *v < 1 || *v > kMaxRow || *v != std::floor(*v)) failReason(kDamaged);
                number = static_cast<std::int64_t>(*v);
            }
            lastRow_ = number;
            lastCol_ = -1;
            row_ = XlsxRow{number, {}};
            inRow_ = true;
        } else if (name == "c" && inRow_) {
            const char* r = attribute(attrs, "r");
            if (r) {
                auto ref = parseCellRef(r);
                if (!ref) failReason(std::string("单元格引用 ") + r + " 无效");
                col_ = ref->col;
            } else {
                col_ = lastCol_ + 1;
                if (col_ >= kMaxCol) failReason(kDamaged);
            }
            lastCol_ = col_;
            const char* t = attribute(attrs, "t");
            type_ = t ? t : "n";
            const char* s = attribute(attrs, "s");
            style_ = s ? std::atoi(s) : 0;
            value_.clear();
            hasValue_ = false;
            hasFormula_ = false;
            inCell_ = true;
        } else if (inCell_ && name == "f") {
            hasFormula_ = true;
        } else if (inCell_ && name == "v") {
            inValue_ = true;
            hasValue_ = true;
        } else if (inCell_ && name == "is") {
            inInline_ = true;
            hasValue_ = true;
        } else if (inInline_ && name == "rPh") {
            ++phonetic_;
        } else if (inInline_ && name == "t" && phonetic_ == 0) {
            inValue_ = true;
        }
    }

    void end(std::string_view name) override {
        if (name == "v" || name == "t") {
            inValue_ = false;
        } else if (name == "rPh") {
            --phonetic_;
        } else if (name == "is") {
            inInline_ = false;
        } else if (name == "c" && inCell_) {
            inCell_ = false;
            // A formula whose result the workbook does not hold would read as
            // an empty cell, so an amount would become 0: refused, as the
            // .xls reader refuses it.
            if (hasFormula_ && !hasValue_)
                failReason("单元格 " + cellName(row_.number, col_) +
                           " 的公式没有计算结果，请在Excel中重新计算并保存后再导入");
            if (hasValue_) addCell();
        } else if (name == "row" && inRow_) {
            inRow_ = false;
            if (!row_.cells.empty()) rows.push_back(std::move(row_));
            row_ = {};
        }
    }

    void text(std::string_view data) override {
        if (!inValue_) return;
        value_.append(data);
        if (!budget_.fits(value_.size())) failReason(budget_.reason());
    }

  private:
    void addCell() {
        SheetCell cell;
        if (type_ == "s") {
            auto index = readNumber(value_);
            if (!index || *index < 0 || *index >= static_cast<double>(shared_.size()))
                failReason(kDamaged);
            cell.text = shared_[static_cast<std::size_t>(*index)];
        } else if (type_ == "inlineStr" || type_ == "str" || type_ == "e") {
            cell.text = value_;
        } else if (type_ == "b") {
            bool on = value_ == "1" || value_ == "true";
            cell.number = on ? 1 : 0;
            cell.text = on ? "1" : "0";
        } else if (type_ == "d") {
            // An ISO 8601 date as text: "2024-03-02T10:30:00" -> "2024-03-02 10:30:00".
            std::string v = value_;
            auto tee = v.find('T');
            if (tee != std::string::npos) {
                std::string time = v.substr(tee + 1, 8);
                v.resize(tee);
                if (!time.empty() && time != "00:00:00") v += " " + time;
            }
            cell.text = v;
        } else if (auto n = readNumber(value_)) {
            cell.number = *n;
            cell.text = numberText(*n);
            if (styles_.isDate(style_))
                if (auto d = excelDateText(*n, date1904_)) {
                    cell.text = *d;
                    cell.number.reset();
                }
        } else {
            cell.text = value_;
        }
        if (cell.empty()) return;
        if (!budget_.add(cell.text.size())) failReason(budget_.reason());
        row_.cells.emplace_back(col_, std::move(cell));
    }

    const std::vector<std::string>& shared_;
    const Styles& styles_;
    bool date1904_;
    XlsxRow row_;
    std::int64_t lastRow_ = 0;
    int lastCol_ = -1, col_ = 0, style_ = 0, phonetic_ = 0;
    std::string type_, value_;
    bool inRow_ = false, inCell_ = false, inValue_ = false, inInline_ = false, hasValue_ = false,
         hasFormula_ = false;
    CellBudget& budget_;
};

// "worksheets/sheet1.xml" relative to xl/, or "/xl/worksheets/sheet1.xml".
std::string partPath(const std::string& target) {
    if (!target.empty() && target.front() == '/') return target.substr(1);
    return "xl/" + target;
}

XlsxSheet readSheet(const std::string& fileName) {
    {
        // A plain reason for a file that cannot be opened at all.
        std::FILE* f = std::fopen(fileName.c_str(), "rb");
        if (!f) failReason(errnoReason(errno));
        char c;
        bool readable = std::fread(&c, 1, 1, f) == 1 || !std::ferror(f);
        int err = errno;
        std::fclose(f);
        if (!readable) failReason(errnoReason(err));
    }
    Zip zip(fileName);
    if (!zip.isOpen()) failReason("不是Excel 2007及以后版本的工作簿（.xlsx）");
    WorkbookInfo book;
    if (!zip.parse("xl/workbook.xml", book))
        failReason("不是Excel 2007及以后版本的工作簿（.xlsx）");
    std::string sheetPath = "xl/worksheets/sheet1.xml";
    Relationships rels;
    if (!book.firstSheetRel.empty() && zip.parse("xl/_rels/workbook.xml.rels", rels)) {
        auto it = rels.targets.find(book.firstSheetRel);
        if (it != rels.targets.end()) sheetPath = partPath(it->second);
    }
    if (!book.sawSheet) failReason("工作簿中没有工作表");
    CellBudget budget;
    SharedStrings shared(budget);
    zip.parse("xl/sharedStrings.xml", shared);
    Styles styles;
    zip.parse("xl/styles.xml", styles);
    SheetReader sheet(shared.items, styles, book.date1904, budget);
    if (!zip.parse(sheetPath, sheet)) failReason("工作簿中没有工作表");

    XlsxSheet out;
    out.date1904 = book.date1904;
    out.rows = std::move(sheet.rows);
    // Rows and cells normally come in order; a workbook that lists them
    // otherwise is put in order, a later value of the same cell winning.
    auto byNumber = [](const XlsxRow& a, const XlsxRow& b) { return a.number < b.number; };
    if (!std::is_sorted(out.rows.begin(), out.rows.end(), byNumber)) {
        std::stable_sort(out.rows.begin(), out.rows.end(), byNumber);
        std::vector<XlsxRow> merged;
        for (auto& r : out.rows) {
            if (!merged.empty() && merged.back().number == r.number) {
                for (auto& c : r.cells) merged.back().cells.push_back(std::move(c));
            } else {
                merged.push_back(std::move(r));
            }
        }
        out.rows = std::move(merged);
    }
    for (auto& r : out.rows) {
        auto byCol = [](const auto& a, const auto& b) { return a.first < b.first; };
        if (std::is_sorted(r.cells.begin(), r.cells.end(), byCol)) {
            bool unique = std::adjacent_find(r.cells.begin(), r.cells.end(), [](auto& a, auto& b) {
                              return a.first == b.first;
                          }) == r.cells.end();
            if (unique) continue;
        }
        std::stable_sort(r.cells.begin(), r.cells.end(), byCol);
        std::vector<std::pair<int, SheetCell>> kept;
        for (auto& c : r.cells) {
            if (!kept.empty() && kept.back().first == c.first)
                kept.back() = std::move(c);
            else
                kept.push_back(std::move(c));
        }
        r.cells = std::move(kept);
    }
    return out;
}

}  // namespace

std::optional<CellRef> parseCellRef(std::string_view ref) {
    std::size_t i = 0;
    int col = 0;
    while (i < ref.size() && std::isalpha(static_cast<unsigned char>(ref[i]))) {
        col = col * 26 + (std::toupper(static_cast<unsigned char>(ref[i])) - 'A' + 1);
        if (col > kMaxCol) return std::nullopt;
        ++i;
    }
    if (i == 0 || i == ref.size()) return std::nullopt;
    std::int64_t row = 0;
    for (; i < ref.size(); ++i) {
        if (!std::isdigit(static_cast<unsigned char>(ref[i]))) return std::nullopt;
        row = row * 10 + (ref[i] - '0');
        if (row > kMaxRow) return std::nullopt;
    }
    if (row < 1) return std::nullopt;
    return CellRef{col - 1, row};
}

std::optional<std::string> excelDateText(double serial, bool date1904) {
    if (!std::isfinite(serial) || serial < 0) return std::nullopt;
    // Whole seconds; a value a hair below midnight rounds up to the next day.
    std::int64_t seconds = std::llround(serial * 86400.0);
    std::int64_t days = seconds / 86400;
    int secs = static_cast<int>(seconds % 86400);
    QDate date;
    if (date1904) {
        date = QDate(1904, 1, 1).addDays(days);
    } else {
        // Excel counts a 29 February 1900 that never was (day 60); days before
        // it are one off from the plain count.
        if (days == 60) return std::nullopt;
        date = days < 60 ? QDate(1899, 12, 31).addDays(days) : QDate(1899, 12, 30).addDays(days);
    }
    if (!date.isValid() || date.year() > 9999) return std::nullopt;
    QTime time = QTime(0, 0).addSecs(secs);
    std::string timeText = time.toString(QStringLiteral("HH:mm:ss")).toStdString();
    if (days == 0 && !date1904) return timeText;
    std::string dateText = date.toString(QStringLiteral("yyyy-MM-dd")).toStdString();
    if (secs == 0) return dateText;
    return dateText + " " + timeText;
}

XlsxSheet readXlsxFirstSheet(const std::string& fileName) {
    if (fileName.empty()) throw FileReadError("没有指定要读取的文件");
    if (isStoreFile(fileName)) throw FileReadError(kStoreFileRefused);
    try {
        return readSheet(fileName);
    } catch (const ReadFailure& f) {
        throw FileReadError("无法读取文件 " + fileName + "：" + f.reason);
    }
}

}  // namespace ledgerhost
