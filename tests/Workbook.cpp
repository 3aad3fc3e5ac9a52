#include "Workbook.h"

#include <gtest/gtest.h>

#include <QProcess>
#include <fstream>

#include "Codec.h"
#include "XlsWriter.h"

namespace testutil {

bool canWriteWorkbooks() {
    static const bool ok = QProcess::execute("/usr/bin/python3", {"-c", "import xlwt"}) == 0;
    return ok;
}

void writeWorkbook(const std::string& path, const std::vector<std::vector<std::string>>& rows,
                   int firstRow) {
    std::vector<xlswriter::Cell> cells;
    for (std::size_t r = 0; r < rows.size(); ++r)
        for (std::size_t c = 0; c < rows[r].size(); ++c)
            if (!rows[r][c].empty())
                cells.push_back({static_cast<std::uint16_t>(firstRow - 1 + r),
                                 static_cast<std::uint16_t>(c), ledgerhost::utf8ToGbk(rows[r][c])});
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << xlswriter::workbook(cells, 936);
    out.close();
    ASSERT_TRUE(out) << "could not write " << path;
}

}  // namespace testutil
