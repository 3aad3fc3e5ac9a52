#pragma once

// 查看修改记录: one journal row's history, oldest first (History.h).

#include <QDialog>
#include <cstdint>
#include <string>

class QTableWidget;

namespace ledgerhost {
class Database;
}

class TFrmGlideHistory final : public QDialog {
    Q_OBJECT
  public:
    TFrmGlideHistory(QWidget* owner, ledgerhost::Database& db, const std::string& table,
                     std::int64_t id, const QString& title);
    QTableWidget* grid = nullptr;
};
