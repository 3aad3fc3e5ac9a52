#pragma once

#include <QLineEdit>
#include <optional>

#include "LhApi.h"

namespace ledgerhost {

// A right-aligned numeric edit with a floating Value. Decimals -1 shows as many
// decimals as the value needs; NumberFormat Thousands groups the digits.
//
// Only what a number can hold can be typed or pasted: digits, the grouping
// commas the edit shows, one decimal point (not with Decimals 0) and a leading
// minus where negatives are allowed. MaxLength counts the typed characters
// without the grouping commas and never cuts the text the edit shows itself.
// MaxValue 0 sets no limit; a value beyond MaxValue is never clamped: it stays
// as typed, and CheckRange refuses it with a message naming the field.
//
// With Decimals 0 or more, Value() is the typed number rounded to that many
// places, half away from zero: the value the edit shows once it is left, so
// what is checked and stored is what the user sees. Text a program put in that
// is not a number is the value 0.
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
    bool AllowNegative() const { return allowNegative_; }
    void setAllowNegative(bool allow);
    // The field's name in messages ("借方金额").
    QString FieldName() const { return fieldName_; }
    void setFieldName(const QString& name) { fieldName_ = name; }
    // Hide QLineEdit's limit (which would also cut the text setValue writes):
    // the number of characters that may be typed, grouping commas not counted.
    void setMaxLength(int n) { typedLength_ = n; }
    int maxLength() const { return typedLength_; }

    // Whether the value lies within MaxValue (always, when none is set).
    bool InRange() const;
    // True when the value lies within MaxValue; otherwise says so, naming the
    // field and its range, puts the cursor in the edit and answers false.
    bool CheckRange();

    // The value as the edit shows it when it does not have the focus.
    QString formatted(double v) const;

  protected:
    void focusOutEvent(QFocusEvent* e) override;

  private:
    double rounded(double v) const;
    int decimals_ = 2;
    NumberFormatKind format_ = Standard;
    double maxValue_ = 0;
    bool allowNegative_ = true;
    int typedLength_ = 32767;
    QString fieldName_;
};

}  // namespace ledgerhost
