#pragma once

#include <QDate>
#include <QString>
#include <cstdint>
#include <string_view>

#include "FieldValue.h"

// Builders for field values in the tests of the comparison.
namespace testvalues {

inline __int128 I128(std::string_view digits) {
    bool negative = !digits.empty() && digits.front() == '-';
    if (negative) digits.remove_prefix(1);
    __int128 v = 0;
    for (char c : digits) v = v * 10 + (c - '0');
    return negative ? -v : v;
}

inline std::int32_t DayNumber(int y, int m, int d) {
    return static_cast<std::int32_t>(QDate(1, 1, 1).daysTo(QDate(y, m, d)));
}

inline std::int64_t Ticks(int h, int mi, int s, std::int64_t fraction = 0) {
    return ((h * 60LL + mi) * 60LL + s) * 10'000'000LL + fraction;
}

inline data::FieldValue DateOnly(int y, int m, int d) {
    return data::FieldValue::dateTime({DayNumber(y, m, d), 0, data::DateTimeValue::HasDate});
}

inline data::FieldValue DateTime(int y, int m, int d, int h, int mi, int s,
                                 std::int64_t fraction = 0) {
    return data::FieldValue::dateTime(
        {DayNumber(y, m, d), Ticks(h, mi, s, fraction),
         data::DateTimeValue::HasDate | data::DateTimeValue::HasTime});
}

inline data::FieldValue TimeOnly(int h, int mi, int s, std::int64_t fraction = 0) {
    return data::FieldValue::dateTime({0, Ticks(h, mi, s, fraction), data::DateTimeValue::HasTime});
}

}  // namespace testvalues
