#pragma once

#include <QLineEdit>
#include <optional>

#include "LhApi.h"

namespace ledgerhost {

// A right-aligned numeric edit with a floating Value. Decimals -1 shows as many
// decimals as the value needs; NumberFormat Thousands groups the digits.
// MaxValue 0 sets no limit. The text is read back leniently: grouping commas
// and blanks are ignored, and text that is not a number is the value 0.
// With Decimals 0 or more, Value() is the typed number rounded to that many
// places, half away from zero: the value the edit shows once it is left, so
// what is checked and stored is what the user sees.
class LH_API TPBNumEdit : public QLineEdit {
    Q_OBJECT
  public:
    enum NumberFormatKind { Standard, Thousands };

    explicit TPBNumEdit(QWidget* parent = nullptr);

    double Value() const;
    void setValue(double v);
    int Decimals() const { return decimals_; }
    void setDecimals(int d);
    NumberFormatKind NumberFormat() const { return format_; }
    void setNumberFormat(NumberFormatKind f);
    double MaxValue() const { return maxValue_; }
    void setMaxValue(double m) { maxValue_ = m; }

    // The value as the edit shows it when it does not have the focus.
    QString formatted(double v) const;

  protected:
    void focusOutEvent(QFocusEvent* e) override;

  private:
    double clamp(double v) const;
    double rounded(double v) const;
    int decimals_ = 2;
    NumberFormatKind format_ = Standard;
    double maxValue_ = 0;
};

}  // namespace ledgerhost
