#include "XlsWriter.h"

#include <algorithm>
#include <cstring>

namespace xlswriter {

namespace {

void put16(std::string& s, std::uint16_t v) {
    s.append({char(v & 0xFF), char(v >> 8)});
}
void put32(std::string& s, std::uint32_t v) {
    put16(s, v & 0xFFFF);
    put16(s, v >> 16);
}
void record(std::string& s, std::uint16_t type, const std::string& body) {
    put16(s, type);
    put16(s, static_cast<std::uint16_t>(body.size()));
    s += body;
}

}  // namespace

// The "Book" stream: globals (code page, one sheet) then the sheet. A FILEPASS
// record marks the workbook as password-protected.
std::string biff5Stream(std::uint16_t codePage, const std::vector<Cell>& cells,
                        bool passwordProtected) {
    auto bof = [](std::uint16_t kind) {
        std::string b;
        put16(b, 0x0500);
        put16(b, kind);
        put32(b, 0);
        return b;
    };
    std::string globals, sheet, body;
    record(globals, 0x0809, bof(0x0005));
    if (passwordProtected) {
        body.clear();
        put32(body, 0x12345678);
        record(globals, 0x002F, body);
    }
    body.clear();
    put16(body, codePage);
    record(globals, 0x0042, body);
    const std::string name = "S1";
    const std::size_t sheetAt =
        globals.size() + 4 + 7 + name.size() + 4;  // after BOUNDSHEET and EOF
    body.clear();
    put32(body, static_cast<std::uint32_t>(sheetAt));
    put16(body, 0);
    body += char(name.size());
    body += name;
    record(globals, 0x0085, body);
    record(globals, 0x000A, "");

    record(sheet, 0x0809, bof(0x0010));
    std::uint16_t rows = 0, cols = 0;
    for (const auto& c : cells) {
        rows = std::max<std::uint16_t>(rows, c.row + 1);
        cols = std::max<std::uint16_t>(cols, c.col + 1);
    }
    body.clear();
    for (std::uint16_t v : {std::uint16_t(0), rows, std::uint16_t(0), cols, std::uint16_t(0)})
        put16(body, v);
    record(sheet, 0x0200, body);
    for (const auto& c : cells) {
        body.clear();
        put16(body, c.row);
        put16(body, c.col);
        put16(body, 0);
        if (c.formula != Cell::Formula::None) {
            using F = Cell::Formula;
            std::string result(8, '\0');
            if (c.formula == F::Number) {
                std::memcpy(result.data(), &c.number, 8);
            } else {
                result[0] = c.formula == F::Boolean ? 1 : c.formula == F::Error ? 2 : 0;
                result[2] = static_cast<char>(static_cast<int>(c.number));
                result[6] = result[7] = '\xFF';
            }
            body += result;
            put16(body, 0);      // options
            put32(body, 0);      // chain
            put16(body, 3);      // token bytes
            body += "\x1E\x01";  // tInt 1
            body += '\0';
            record(sheet, 0x0006, body);
            if (c.formula == F::Text) {
                body.clear();
                put16(body, static_cast<std::uint16_t>(c.text.size()));
                body += c.text;
                record(sheet, 0x0207, body);
            }
        } else if (c.text.empty()) {
            char d[8];
            std::memcpy(d, &c.number, 8);
            body.append(d, 8);
            record(sheet, 0x0203, body);
        } else {
            put16(body, static_cast<std::uint16_t>(c.text.size()));
            body += c.text;
            record(sheet, 0x0204, body);
        }
    }
    record(sheet, 0x000A, "");
    return globals + sheet;
}

// A compound file (512-byte sectors) holding one stream: the FAT sectors
// first, then the directory, then the stream. The stream is padded to 4096
// bytes so that it lives in regular sectors, not the mini stream; up to 109
// FAT sectors (about 7 MB) are addressed from the header.
std::string compoundFile(const std::string& streamName, std::string stream) {
    const std::uint32_t kEnd = 0xFFFFFFFE, kFree = 0xFFFFFFFF, kNone = 0xFFFFFFFF,
                        kFatSector = 0xFFFFFFFD;
    stream.resize(std::max<std::size_t>(stream.size(), 4096), '\0');
    stream.resize((stream.size() + 511) / 512 * 512, '\0');
    const std::uint32_t streamSectors = static_cast<std::uint32_t>(stream.size() / 512);
    std::uint32_t fatSectors = 1;
    while (fatSectors * 128 < fatSectors + 1 + streamSectors) ++fatSectors;
    const std::uint32_t dirSector = fatSectors;

    std::string out("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8);
    out.append(16, '\0');
    for (std::uint16_t v : {0x003E, 0x0003, 0xFFFE, 9, 6}) put16(out, v);
    out.append(6, '\0');
    for (std::uint32_t v : {0u, fatSectors, dirSector, 0u, 4096u, kEnd, 0u, kEnd, 0u})
        put32(out, v);
    for (std::uint32_t i = 0; i < 109; ++i) put32(out, i < fatSectors ? i : kFree);

    std::string fat;
    for (std::uint32_t i = 0; i < fatSectors; ++i) put32(fat, kFatSector);
    put32(fat, kEnd);  // the directory
    for (std::uint32_t i = 0; i < streamSectors; ++i)
        put32(fat, i + 1 < streamSectors ? dirSector + 2 + i : kEnd);
    while (fat.size() < fatSectors * 512) put32(fat, kFree);

    auto entry = [&](const std::string& name, std::uint8_t type, std::uint32_t child,
                     std::uint32_t start, std::uint32_t size) {
        std::string e;
        for (char ch : name) put16(e, static_cast<std::uint8_t>(ch));
        e.resize(64, '\0');
        put16(e, static_cast<std::uint16_t>((name.size() + 1) * 2));
        e += char(type);
        e += char(1);  // black
        put32(e, kNone);
        put32(e, kNone);
        put32(e, child);
        e.append(16 + 4 + 16, '\0');
        put32(e, start);
        put32(e, size);
        put32(e, 0);
        return e;
    };
    std::string dir =
        entry("Root Entry", 5, 1, kEnd, 0) +
        entry(streamName, 2, kNone, dirSector + 1, static_cast<std::uint32_t>(stream.size()));
    dir.resize(512, '\0');
    return out + fat + dir + stream;
}

std::string workbook(const std::vector<Cell>& cells, std::uint16_t codePage,
                     bool passwordProtected) {
    return compoundFile("Book", biff5Stream(codePage, cells, passwordProtected));
}

}  // namespace xlswriter
