#include "NumEdit.h"

#include <QLocale>
#include <QRegularExpression>
#include <QValidator>
#include <cmath>

#include "CommonObj.h"
#include "Guard.h"
#include "Records.h"

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

// What may be typed into a number edit: digits, the grouping commas the edit
// shows, one decimal point unless the edit has no decimals, and a minus in
// front where negatives are allowed; at most the edit's typed length, commas
// not counted. Anything else is refused as it is typed or pasted, so the text
// is always the number the user means (or on the way to it: "-", "." and ""
// read as 0).
class NumberValidator final : public QValidator {
  public:
    explicit NumberValidator(TPBNumEdit* edit) : QValidator(edit), edit_(edit) {}
    State validate(QString& input, int&) const override {
        int typed = 0;
        bool point = false;
        for (int i = 0; i < input.size(); ++i) {
            const QChar c = input.at(i);
            if (c == QLatin1Char(',')) continue;
            ++typed;
            if (c.isDigit() && c.unicode() < 0x80) continue;
            if (c == QLatin1Char('-') && i == 0 && edit_->AllowNegative()) continue;
            if (c == QLatin1Char('.') && !point && edit_->Decimals() != 0) {
                point = true;
                continue;
            }
            return Invalid;
        }
        return typed <= edit_->maxLength() ? Acceptable : Invalid;
    }

  private:
    TPBNumEdit* edit_;
};

// "9,999,999,999,999.99": a bound as the edit would show it.
QString shownBound(const TPBNumEdit& e, double v) {
    return e.formatted(v);
}

}  // namespace

TPBNumEdit::TPBNumEdit(QWidget* parent) : QLineEdit(parent) {
    setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    setValidator(new NumberValidator(this));
    setText(formatted(0));
    connect(this, &QLineEdit::editingFinished, this,
            [this] { guarded(this, "输入数字", [this] { setValue(Value()); }); });
}

void TPBNumEdit::setAllowNegative(bool allow) {
    allowNegative_ = allow;
}

bool TPBNumEdit::InRange() const {
    const double v = Value();
    if (maxValue_ <= 0) return true;
    return v <= maxValue_ && v >= (allowNegative_ ? -maxValue_ : 0);
}

bool TPBNumEdit::CheckRange() {
    if (InRange()) return true;
    const QString name = fieldName_.isEmpty() ? QStringLiteral("数字") : fieldName_;
    const QString low = allowNegative_ ? shownBound(*this, -maxValue_) : formatted(0);
    CmmObj->MsgBox(QStringLiteral("%1超出范围，只能在 %2 到 %3 之间，请重新输入！")
                       .arg(name, low, shownBound(*this, maxValue_))
                       .toStdString());
    setFocus(Qt::OtherFocusReason);
    selectAll();
    return false;
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
    return v == 0 ? 0.0 : v;  // no "-0.00"
}

void TPBNumEdit::setValue(double v) {
    setText(formatted(std::isfinite(v) ? rounded(v) : 0.0));
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
