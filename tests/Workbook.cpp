#include "Workbook.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QTemporaryDir>

namespace testutil {

bool canWriteWorkbooks() {
    static const bool ok = QProcess::execute("/usr/bin/python3", {"-c", "import xlwt"}) == 0;
    return ok;
}

void writeWorkbook(const std::string& path, const std::vector<std::vector<std::string>>& rows,
                   int firstRow) {
    QJsonArray cells;
    for (std::size_t r = 0; r < rows.size(); ++r)
        for (std::size_t c = 0; c < rows[r].size(); ++c)
            if (!rows[r][c].empty())
                cells.append(QJsonArray{static_cast<int>(firstRow - 1 + r), static_cast<int>(c),
                                        QString::fromStdString(rows[r][c])});
    QTemporaryDir tmp;
    QString json = tmp.filePath("cells.json");
    QFile f(json);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(QJsonDocument(cells).toJson());
    f.close();
    const char* script =
        "import json, sys, xlwt\n"
        "wb = xlwt.Workbook(encoding='utf-8')\n"
        "ws = wb.add_sheet('Sheet1')\n"
        "for r, c, v in json.load(open(sys.argv[1], encoding='utf-8')):\n"
        "    ws.write(r, c, v)\n"
        "wb.save(sys.argv[2])\n";
    int rc =
        QProcess::execute("/usr/bin/python3", {"-c", script, json, QString::fromStdString(path)});
    ASSERT_EQ(rc, 0) << "could not write " << path;
}

}  // namespace testutil
