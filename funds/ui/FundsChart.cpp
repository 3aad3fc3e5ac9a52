#include "FundsChart.h"

#include <QBarCategoryAxis>
#include <QBarSeries>
#include <QBarSet>
#include <QChart>
#include <QChartView>
#include <QCursor>
#include <QDateTime>
#include <QDateTimeAxis>
#include <QGraphicsScene>
#include <QLineSeries>
#include <QMouseEvent>
#include <QPainter>
#include <QToolTip>
#include <QVBoxLayout>
#include <QValueAxis>
#include <algorithm>
#include <cmath>

#include "Guard.h"
#include "Numbers.h"

using namespace ledgerhost;

namespace {

// Over a longer range the bars are months: 365 bars say nothing.
constexpr int kLongestDailyBars = 62;

QString q(const std::string& s) {
    return QString::fromStdString(s);
}

QDateTime dayTime(const std::string& date) {
    return QDateTime(QDate::fromString(q(date), QStringLiteral("yyyy-MM-dd")), QTime(12, 0));
}

double yuan(std::int64_t cents) {
    return static_cast<double>(cents) / 100.0;
}

QChart* newChart(const QString& title) {
    auto* chart = new QChart;
    chart->setTitle(title);
    chart->legend()->setAlignment(Qt::AlignRight);
    chart->setAnimationOptions(QChart::NoAnimation);
    return chart;
}

QChartView* chartView(QWidget* parent, const QString& title) {
    auto* view = new QChartView(newChart(title), parent);
    view->setRenderHint(QPainter::Antialiasing);
    view->setMinimumHeight(180);
    return view;
}

// Takes the chart's axes away and deletes them (an axis taken away is the
// caller's to delete).
void dropAxes(QChart* chart) {
    for (QAbstractAxis* a : chart->axes()) {
        chart->removeAxis(a);
        delete a;
    }
}

// Axis bounds a little beyond the figures, never an empty span.
std::pair<double, double> span(double lo, double hi) {
    if (lo > hi) return {0, 1};
    const double pad = std::max((hi - lo) * 0.05, 1.0);
    return {lo - pad, hi + pad};
}

}  // namespace

TFundsChart::TFundsChart(QWidget* parent) : QWidget(parent) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    balances_ = chartView(this, QStringLiteral("各账户每日余额"));
    flows_ = chartView(this, QStringLiteral("每日收支"));
    layout->addWidget(balances_, 3);
    layout->addWidget(flows_, 2);
    // Hovering is followed on the views themselves rather than through the
    // series' own hover signals, so a point shows its figure wherever the
    // mouse comes near it, the same way on every platform.
    for (QChartView* view : {balances_, flows_}) {
        view->viewport()->setMouseTracking(true);
        view->viewport()->installEventFilter(this);
    }
}

bool TFundsChart::eventFilter(QObject* watched, QEvent* event) {
    guarded(this, "图表", [&] {
        QChartView* view = watched == balances_->viewport() ? balances_
                           : watched == flows_->viewport()  ? flows_
                                                            : nullptr;
        if (!view) return;
        if (event->type() == QEvent::MouseMove)
            tip(tipAt(view, static_cast<QMouseEvent*>(event)->position().toPoint()));
        else if (event->type() == QEvent::Leave)
            tip({});
    });
    return QWidget::eventFilter(watched, event);
}

QString TFundsChart::tipAt(QChartView* view, const QPoint& pos) const {
    QChart* chart = view->chart();
    const QList<QAbstractSeries*> all = chart->series();
    if (all.isEmpty()) return {};
    const QPointF at = chart->mapFromScene(view->mapToScene(pos));
    if (!chart->plotArea().adjusted(-4, -4, 4, 4).contains(at)) return {};
    const QPointF value = chart->mapToValue(at, all.front());
    if (view == balances_) {
        if (lines_.empty() || lines_.front()->days.empty()) return {};
        const qint64 first = dayTime(lines_.front()->days.front().date).toMSecsSinceEpoch();
        const int days = static_cast<int>(lines_.front()->days.size());
        const int day = static_cast<int>(std::lround((value.x() - first) / 86400000.0));
        if (day < 0 || day >= days) return {};
        // The line whose point of that day lies nearest the mouse, within reach.
        constexpr double kReach = 8;
        int best = -1;
        double bestDistance = kReach;
        for (int i = 0; i < static_cast<int>(lines_.size()); ++i) {
            const funds::Day& d =
                lines_[static_cast<std::size_t>(i)]->days[static_cast<std::size_t>(day)];
            const QPointF p = chart->mapToPosition(
                QPointF(static_cast<qreal>(dayTime(d.date).toMSecsSinceEpoch()), yuan(d.closing)),
                all.front());
            const double distance = std::abs(p.y() - at.y());
            if (distance <= bestDistance) {
                bestDistance = distance;
                best = i;
            }
        }
        return best < 0 ? QString() : lineTip(best, day);
    }
    // A category's two bars sit either side of its value: receipts left,
    // payments right.
    const int index = static_cast<int>(std::lround(value.x()));
    if (index < 0 || index >= static_cast<int>(flowsData_.size())) return {};
    const int set = value.x() < index ? 0 : 1;
    const Flow& f = flowsData_[static_cast<std::size_t>(index)];
    const double height = yuan(set == 0 ? f.in : f.out);
    const double tolerance = chart->mapToValue(at + QPointF(0, -4), all.front()).y() - value.y();
    if (value.y() < -tolerance || value.y() > height + tolerance) return {};
    return barTip(set, index);
}

void TFundsChart::tip(const QString& text) {
    if (text.isEmpty())
        QToolTip::hideText();
    else
        QToolTip::showText(QCursor::pos(), text, this);
}

QString TFundsChart::lineTip(int line, int day) const {
    if (line < 0 || line >= static_cast<int>(lines_.size())) return {};
    const funds::Line& l = *lines_[static_cast<std::size_t>(line)];
    if (day < 0 || day >= static_cast<int>(l.days.size())) return {};
    const funds::Day& d = l.days[static_cast<std::size_t>(day)];
    return QStringLiteral("%1 %2\n%3 余额 %4")
        .arg(q(l.code), q(l.name), q(d.date), q(formatCents(d.closing)));
}

QString TFundsChart::barTip(int set, int index) const {
    if (index < 0 || index >= static_cast<int>(flowsData_.size())) return {};
    const Flow& f = flowsData_[static_cast<std::size_t>(index)];
    return QStringLiteral("%1 %2 %3")
        .arg(f.label, set == 0 ? QStringLiteral("收入") : QStringLiteral("支出"),
             q(formatCents(set == 0 ? f.in : f.out)));
}

void TFundsChart::setReport(const funds::Report& report) {
    report_ = report;
    lines_.clear();
    for (const auto* group : {&report_.cash, &report_.bank})
        for (const funds::Line& l : *group) lines_.push_back(&l);
    // Receipts and payments over every account, by day or by month.
    flowsData_.clear();
    const std::vector<funds::Day> days = report_.totalDays();
    byMonth_ = days.size() > static_cast<std::size_t>(kLongestDailyBars);
    for (const funds::Day& d : days) {
        const QString label = byMonth_ ? q(d.date.substr(0, 7)) : q(d.date.substr(5));
        if (flowsData_.empty() || flowsData_.back().label != label) flowsData_.push_back({label});
        flowsData_.back().in += d.in;
        flowsData_.back().out += d.out;
    }
    for (QChart* chart : {balances_->chart(), flows_->chart()}) {
        chart->removeAllSeries();
        dropAxes(chart);
    }
    drawBalances(balances_->chart());
    drawFlows(flows_->chart());
}

void TFundsChart::drawBalances(QChart* chart) const {
    auto* x = new QDateTimeAxis;
    x->setFormat(QStringLiteral("MM-dd"));
    auto* y = new QValueAxis;
    y->setLabelFormat(QStringLiteral("%.0f"));
    chart->addAxis(x, Qt::AlignBottom);
    chart->addAxis(y, Qt::AlignLeft);
    double lo = 0, hi = 0;
    bool any = false;
    for (const funds::Line* l : lines_) {
        auto* series = new QLineSeries;
        series->setName(q(l->name));
        for (const funds::Day& d : l->days) {
            const double v = yuan(d.closing);
            series->append(static_cast<qreal>(dayTime(d.date).toMSecsSinceEpoch()), v);
            lo = any ? std::min(lo, v) : v;
            hi = any ? std::max(hi, v) : v;
            any = true;
        }
        // A one-day range still shows its balance as a point.
        series->setPointsVisible(l->days.size() < 40);
        chart->addSeries(series);
        series->attachAxis(x);
        series->attachAxis(y);
    }
    if (!report_.from.empty()) {
        x->setRange(dayTime(report_.from).addDays(-1), dayTime(report_.to).addDays(1));
        x->setTickCount(std::clamp(
            static_cast<int>(dayTime(report_.from).daysTo(dayTime(report_.to))) + 3, 3, 13));
    }
    const auto [ylo, yhi] = span(lo, hi);
    y->setRange(ylo, yhi);
    y->applyNiceNumbers();  // round figures on the axis, not 273348 and 203526
}

void TFundsChart::drawFlows(QChart* bars) const {
    bars->setTitle(byMonth_ ? QStringLiteral("每月收支") : QStringLiteral("每日收支"));
    auto* in = new QBarSet(QStringLiteral("收入"));
    auto* out = new QBarSet(QStringLiteral("支出"));
    in->setColor(QColor(0x2e, 0x7d, 0x32));
    out->setColor(QColor(0xc6, 0x28, 0x28));
    QStringList labels;
    double most = 0;
    for (const Flow& f : flowsData_) {
        *in << yuan(f.in);
        *out << yuan(f.out);
        most = std::max({most, yuan(f.in), yuan(f.out)});
        labels << f.label;
    }
    auto* series = new QBarSeries;
    series->append(in);
    series->append(out);
    bars->addSeries(series);
    auto* cats = new QBarCategoryAxis;
    // Every label where they fit; over many days every seventh.
    if (labels.size() > 31)
        for (int i = 0; i < labels.size(); ++i)
            if (i % 7) labels[i] = QString(i, QChar(0x200B));  // distinct, invisible
    cats->append(labels);
    auto* amounts = new QValueAxis;
    amounts->setLabelFormat(QStringLiteral("%.0f"));
    amounts->setRange(0, span(0, most).second);
    amounts->applyNiceNumbers();
    bars->addAxis(cats, Qt::AlignBottom);
    bars->addAxis(amounts, Qt::AlignLeft);
    series->attachAxis(cats);
    series->attachAxis(amounts);
}

QImage TFundsChart::picture(const QSize& size) const {
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::white);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    const int top = size.height() * 3 / 5;
    // Drawn afresh in a scene of its own at the picture's size (so text and
    // lines stay sharp): a chart on screen that showed another report before
    // can keep that report's axis labels in its scene until it is next laid
    // out, and a picture taken from it would show them.
    QGraphicsScene scene;
    const QRectF targets[] = {QRectF(0, 0, size.width(), top),
                              QRectF(0, top, size.width(), size.height() - top)};
    for (int i = 0; i < 2; ++i) {
        auto* chart = newChart(i == 0 ? balances_->chart()->title() : QString());
        scene.addItem(chart);
        i == 0 ? drawBalances(chart) : drawFlows(chart);
        chart->resize(targets[i].size() / 2);
        scene.render(&p, targets[i], chart->sceneBoundingRect());
        scene.removeItem(chart);
        delete chart;
    }
    return image;
}
