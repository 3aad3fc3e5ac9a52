#pragma once

// The window "资金日报表": for a book set and a date or a range, the daily
// funds report in the host's report grid (TfrmBaseAssRpt: preview, print and
// export through the host's report output) and below it the chart of every
// account's daily balance and the receipts and payments, which prints and
// exports with the report. Keys as in the journal window: F5 查询, Ctrl+P
// 打印, Ctrl+Shift+P 预览, Ctrl+Shift+S 导出, Ctrl+Shift+G 页面设置,
// Ctrl+Shift+R 打印设置.

#include <memory>
#include <string>

#include "BaseForms.h"
#include "Funds.h"

class QComboBox;
class QDateEdit;
class QLabel;
class TFundsChart;

namespace ledgerhost {
class Database;
}

class TFrmFundsDaily final : public ledgerhost::TfrmBaseAssRpt {
    Q_OBJECT
  public:
    TFrmFundsDaily(QWidget* owner, ledgerhost::Database& db, std::string bookCode,
                   std::string userCode, std::string userName);
    ~TFrmFundsDaily() override;

    QComboBox* CmbBook = nullptr;
    QDateEdit* DtpBegin = nullptr;
    QDateEdit* DtpEnd = nullptr;
    QLabel* LblNote = nullptr;
    TFundsChart* Chart = nullptr;

    const funds::Report& report() const { return report_; }
    QString GetFormKey() override { return QStringLiteral("FundsDaily"); }
    QString ExportFileName() override;

  public slots:
    // Reads the report for the chosen book set and dates and shows it.
    void Query();

  private:
    void fillSheet();

    ledgerhost::Database& db_;
    std::string userCode_, userName_;
    funds::Report report_;
};
