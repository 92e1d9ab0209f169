#pragma once

#include <QLocale>
#include <QString>

#include "FieldValue.h"

namespace compare {

// Turns values into report text in one locale. Holds what it derives from the
// locale, so that one formatter can serve millions of values.
//  - Null: empty text (the report lines write NULL themselves).
//  - Text unchanged; Integer as plain ASCII digits with '-' when negative;
//    Bit "True"/"False"; Bytes "0x" and upper-case hex digits ("0x" when empty).
//  - Decimal and Currency: every significant digit, trailing fractional zeros
//    dropped (12.50 -> 12.5, 5.00 -> 5), the locale's digits, decimal point
//    and minus sign, no group separators.
//  - Float: shortest text that reads back to the same double, in the locale
//    ('g' style, so very large or small values use an exponent).
//  - DateTime: the locale's short date with a four-digit year; when the value has a time part other
//    than midnight, a blank and the time with seconds (the locale's long time
//    format without its time zone), and the fraction of the second, up to
//    7 digits without trailing zeros, when it is not zero. A time-only value
//    is the time alone, midnight included.
class ValueFormatter {
public:
    explicit ValueFormatter(const QLocale& locale = QLocale());

    QString text(const data::FieldValue& v) const;
    const QLocale& locale() const { return locale_; }

private:
    QString decimalText(__int128 unscaled, int scale) const;
    QString dateTimeText(const data::DateTimeValue& v) const;
    QString timeText(std::int64_t ticks) const;
    void appendLocalDigits(QString& out, const char* digits, qsizetype n) const;

    QLocale locale_;
    QString decimalPoint_;
    QString negativeSign_;
    char32_t zeroDigit_ = U'0';
    QString dateFormat_;
    QString timeHead_;  // the time format up to and including the seconds
    QString timeTail_;  // the rest (e.g. " AP"), after which no fraction goes
};

// The report text of a value in the default locale (QLocale(), which is the
// user's regional settings unless QLocale::setDefault changed it).
QString ValueText(const data::FieldValue& v);
QString ValueText(const data::FieldValue& v, const QLocale& locale);

}  // namespace compare
