#include "NumEdit.h"

#include <QLocale>
#include <QRegularExpression>
#include <cmath>

#include "Guard.h"

namespace ledgerhost {

namespace {

// Rounds a number written in plain decimal notation ("-1234.565") to
// `decimals` places, half away from zero, on its digits rather than on the
// nearest double (1.005 rounds to 1.01, as the user reads it). Nothing when the
// text is not in that notation.
std::optional<double> roundDecimalText(const QString& t, int decimals) {
    static const QRegularExpression plain(QStringLiteral(R"(^([+-]?)(\d*)(?:\.(\d*))?$)"));
    QRegularExpressionMatch m = plain.match(t);
    if (!m.hasMatch() || (m.capturedLength(2) == 0 && m.capturedLength(3) == 0)) return {};
    const bool negative = m.captured(1) == QLatin1String("-");
    const QString fraction = m.captured(3);
    QString kept =
        m.captured(2) + fraction.left(decimals).leftJustified(decimals, QLatin1Char('0'));
    bool ok = false;
    double scaled = kept.isEmpty() ? 0.0 : kept.toDouble(&ok);
    if (!kept.isEmpty() && !ok) return {};
    if (fraction.size() > decimals && fraction.at(decimals) >= QLatin1Char('5')) scaled += 1;
    double v = scaled / std::pow(10.0, decimals);
    return negative ? -v : v;
}

}  // namespace

TPBNumEdit::TPBNumEdit(QWidget* parent) : QLineEdit(parent) {
    setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    setText(formatted(0));
    connect(this, &QLineEdit::editingFinished, this,
            [this] { guarded(this, "输入数字", [this] { setValue(Value()); }); });
}

double TPBNumEdit::clamp(double v) const {
    if (!std::isfinite(v)) return 0;
    if (maxValue_ > 0 && v > maxValue_) return maxValue_;
    if (maxValue_ > 0 && v < -maxValue_) return -maxValue_;
    return v;
}

double TPBNumEdit::rounded(double v) const {
    if (decimals_ < 0 || !std::isfinite(v)) return v;
    const double scale = std::pow(10.0, decimals_);
    // Beyond 2^53 a double holds no fraction to round.
    if (std::fabs(v) * scale >= 9007199254740992.0) return v;
    return std::round(v * scale) / scale;
}

double TPBNumEdit::Value() const {
    QString t = text();
    t.remove(',').remove(' ');
    bool ok = false;
    double v = t.toDouble(&ok);
    if (!ok || !std::isfinite(v)) return 0.0;
    if (decimals_ >= 0) {
        if (std::optional<double> r = roundDecimalText(t, decimals_))
            v = *r;
        else
            v = rounded(v);
    }
    v = clamp(v);
    return v == 0 ? 0.0 : v;  // no "-0.00"
}

void TPBNumEdit::setValue(double v) {
    setText(formatted(clamp(rounded(v))));
}

void TPBNumEdit::setDecimals(int d) {
    double v = Value();
    decimals_ = d;
    setValue(v);
}

void TPBNumEdit::setNumberFormat(NumberFormatKind f) {
    double v = Value();
    format_ = f;
    setValue(v);
}

QString TPBNumEdit::formatted(double v) const {
    QLocale l(QLocale::English);
    if (format_ != Thousands) l.setNumberOptions(QLocale::OmitGroupSeparator);
    if (v == 0) v = 0;  // no "-0"
    if (decimals_ < 0) {
        // Whole numbers (voucher numbers) are written out in full.
        if (std::fabs(v) < 1e15 && v == std::floor(v)) return l.toString(static_cast<qint64>(v));
        return l.toString(v, 'g', 15);
    }
    return l.toString(v, 'f', decimals_);
}

void TPBNumEdit::focusOutEvent(QFocusEvent* e) {
    QLineEdit::focusOutEvent(e);
    setValue(Value());
}

}  // namespace ledgerhost
