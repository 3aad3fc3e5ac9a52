#include "NumEdit.h"

#include <QLocale>
#include <cmath>

namespace ledgerhost {

TPBNumEdit::TPBNumEdit(QWidget* parent) : QLineEdit(parent) {
    setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    setText(formatted(0));
    connect(this, &QLineEdit::editingFinished, this, [this] { setValue(Value()); });
}

double TPBNumEdit::clamp(double v) const {
    if (!std::isfinite(v)) return 0;
    if (maxValue_ > 0 && v > maxValue_) return maxValue_;
    if (maxValue_ > 0 && v < -maxValue_) return -maxValue_;
    return v;
}

double TPBNumEdit::Value() const {
    QString t = text();
    t.remove(',').remove(' ');
    bool ok = false;
    double v = t.toDouble(&ok);
    return ok ? clamp(v) : 0.0;
}

void TPBNumEdit::setValue(double v) {
    setText(formatted(clamp(v)));
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
    if (decimals_ < 0) return l.toString(v, 'g', 15);
    return l.toString(v, 'f', decimals_);
}

void TPBNumEdit::focusOutEvent(QFocusEvent* e) {
    QLineEdit::focusOutEvent(e);
    setValue(Value());
}

}  // namespace ledgerhost
