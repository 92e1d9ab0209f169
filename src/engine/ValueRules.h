#pragma once

#include "CompareOptions.h"
#include "FieldValue.h"

namespace compare {

// Whether two field values count as a difference in the comparison.
//  - Two nulls are equal; a null against any value differs.
//  - Integer, Decimal, Currency, Bit (true = 1) compare exactly by numeric value,
//    whatever their scales (5 == 5.00 == 5.0000 money). If either side is Float,
//    both are compared as doubles (the exact side correctly rounded to double).
//  - DateTime values compare as points in time; a date-only value is midnight of
//    its day, a time-only value is that time on 1900-01-01.
//  - Texts compare code unit by code unit, bytes byte by byte.
//  - Any other pairing of kinds (number/text, date/number, bytes/other...) differs.
bool ValuesDiffer(const data::FieldValue& a, const data::FieldValue& b);

// ValuesDiffer, loosened by the options that are on:
//  - trim: texts without their trailing blanks (U+0020, as char(n) pads);
//  - ignoreCase: texts equal when equal under Unicode simple case folding
//    (code point by code point, beyond the BMP too), whatever the server's
//    collation;
//  - nullEqualsEmpty: NULL equal to the empty text (and, with trim, to a
//    text of blanks);
//  - tolerance: two numbers of any kinds equal when they differ by at most
//    it -- digit for digit between exact numbers, as doubles when either is
//    a float.
bool ValuesDifferUnder(const data::FieldValue& a, const data::FieldValue& b,
                       const ValueOptions& options);

// The order of two key values, by the same rules: negative when a comes
// first, 0 exactly when ValuesDiffer(a, b) is false, positive when b comes
// first. Null comes before everything; across kinds numbers come before
// dates, dates before texts and texts before bytes; a byte string before any
// longer one it begins; texts code unit by code unit with the shorter padded
// with blanks, as SQL Server orders them, and of two texts equal so the
// shorter first.
int CompareKeyValues(const data::FieldValue& a, const data::FieldValue& b);

// The day a time-only value stands on when compared with a full date and time,
// in days since 0001-01-01: 1900-01-01, the day SQL Server itself gives a time
// converted to datetime.
inline constexpr std::int32_t kTimeOnlyBaseDay = 693595;

}  // namespace compare
