#pragma once

// The chart of the daily funds report: each account's closing balance day by
// day as lines, and the receipts and payments as bars (by day over a range of
// up to two months, by month over a longer one). Hovering a point or a bar
// shows its date and figure.

#include <QImage>
#include <QString>
#include <QWidget>

#include "Funds.h"

class QChart;
class QChartView;

class TFundsChart final : public QWidget {
    Q_OBJECT
  public:
    explicit TFundsChart(QWidget* parent = nullptr);

    void setReport(const funds::Report& report);

    // Both charts drawn into one picture of `size`, for printing and export.
    QImage picture(const QSize& size = QSize(2400, 1500)) const;

    // What hovering shows: the line `line`'s day `day` (counted from the
    // range's first day), and the bar of set `set` (0 receipts, 1 payments)
    // at category `index`.
    QString lineTip(int line, int day) const;
    QString barTip(int set, int index) const;

    // What hovering shows at `pos` of one of the views (viewport
    // coordinates): the nearest line's point of the day under the mouse when
    // it is within a few pixels of it, or the bar under the mouse; empty
    // elsewhere.
    QString tipAt(QChartView* view, const QPoint& pos) const;

    QChartView* balancesView() const { return balances_; }
    QChartView* flowsView() const { return flows_; }

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void tip(const QString& text);
    // The series and axes of the report, into an empty chart.
    void drawBalances(QChart* chart) const;
    void drawFlows(QChart* chart) const;

    QChartView* balances_;
    QChartView* flows_;
    funds::Report report_;
    std::vector<const funds::Line*> lines_;
    // The bars' categories: the dates (or months) and their receipts and
    // payments over every account.
    struct Flow {
        QString label;
        std::int64_t in = 0, out = 0;
    };
    std::vector<Flow> flowsData_;
    bool byMonth_ = false;
};
