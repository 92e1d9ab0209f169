// The data layer's conversions of what the driver hands over as text or as
// date parts, each against a reading of its own:
//   first byte 0: decimal text -> parseExact (exact value and scale);
//   first byte 1: time-of-day text -> parseTimeOfDay (100 ns ticks);
//   first byte 2: year, month, day as the C date struct holds them -> daysSinceEpoch
//                 (equal to QDate's count for every valid date; no overflow for any).
#include <fuzzer/FuzzedDataProvider.h>
#include <sql.h>

#include <QDate>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "OdbcFetch.h"

namespace {

[[noreturn]] void fail(const char* what, std::string_view input) {
    std::fprintf(stderr, "odbc_values_fuzz: %s for \"%.*s\"\n", what, int(input.size()),
                 input.data());
    std::abort();
}

std::string_view trimmed(std::string_view t) {
    while (!t.empty() && (t.front() == ' ' || t.front() == '\t')) t.remove_prefix(1);
    while (!t.empty() && (t.back() == ' ' || t.back() == '\t' || t.back() == '\0'))
        t.remove_suffix(1);
    return t;
}

bool isDigit(char c) { return c >= '0' && c <= '9'; }

std::string decimalDigits(unsigned __int128 v) {
    std::string s;
    do {
        s.insert(s.begin(), char('0' + int(v % 10)));
        v /= 10;
    } while (v != 0);
    return s;
}

// [sign] digits [. digits], at least one digit, at most 38 significant ones.
void checkExact(std::string_view input) {
    const auto e = data::odbc::parseExact(input);
    std::string_view t = trimmed(input);
    bool negative = false;
    if (!t.empty() && (t.front() == '-' || t.front() == '+')) {
        negative = t.front() == '-';
        t.remove_prefix(1);
    }
    const size_t point = t.find('.');
    const std::string_view whole = t.substr(0, point);
    const std::string_view fraction =
        point == std::string_view::npos ? std::string_view() : t.substr(point + 1);
    bool wellFormed = !whole.empty() || !fraction.empty();
    for (char c : whole) wellFormed = wellFormed && isDigit(c);
    for (char c : fraction) wellFormed = wellFormed && isDigit(c);
    std::string digits = std::string(whole) + std::string(fraction);
    digits.erase(0, std::min(digits.find_first_not_of('0'), digits.size()));
    if (digits.empty()) digits = "0";
    const bool fits = digits.size() <= 38;

    if (!e) {
        if (wellFormed && fits) fail("a number was refused", input);
        return;
    }
    if (!wellFormed || !fits) fail("not a number of at most 38 digits was accepted", input);
    if (e->scale != int(fraction.size())) fail("wrong scale", input);
    const bool below = e->unscaled < 0;
    if (below && !negative) fail("a negative value without a minus sign", input);
    const unsigned __int128 magnitude =
        below ? -static_cast<unsigned __int128>(e->unscaled) : e->unscaled;
    if (decimalDigits(magnitude) != digits) fail("wrong digits", input);
    if (negative && digits != "0" && !below) fail("the minus sign was lost", input);
}

// hh:mm:ss with an optional point and 1 to 7 fraction digits, within a day.
void checkTime(std::string_view input) {
    const auto ticks = data::odbc::parseTimeOfDay(input);
    const std::string_view t = trimmed(input);
    bool wellFormed = (t.size() == 8 || (t.size() >= 10 && t.size() <= 16 && t[8] == '.')) &&
                      t[2] == ':' && t[5] == ':';
    for (size_t i = 0; wellFormed && i < t.size(); ++i) {
        if (i != 2 && i != 5 && i != 8) wellFormed = isDigit(t[i]);
    }
    const auto two = [&](size_t at) { return (t[at] - '0') * 10 + (t[at + 1] - '0'); };
    const bool inRange = wellFormed && two(0) <= 23 && two(3) <= 59 && two(6) <= 59;
    if (!ticks) {
        if (inRange) fail("a time of day was refused", input);
        return;
    }
    if (!inRange) fail("not a time of day was accepted", input);
    if (*ticks < 0 || *ticks >= 864'000'000'000) fail("ticks outside the day", input);
    // Written back with seven fraction digits it is the input, zeros added.
    char back[32];
    std::snprintf(back, sizeof back, "%02d:%02d:%02d.%07d", int(*ticks / 36'000'000'000),
                  int(*ticks / 600'000'000 % 60), int(*ticks / 10'000'000 % 60),
                  int(*ticks % 10'000'000));
    std::string expected(t);
    if (expected.size() == 8) expected += '.';
    expected.append(16 - expected.size(), '0');
    if (expected != back) fail("wrong ticks", input);
}

void checkDate(FuzzedDataProvider& in) {
    // The C date struct: a signed 16-bit year, unsigned 16-bit month and day.
    const auto year = in.ConsumeIntegral<SQLSMALLINT>();
    const auto month = in.ConsumeIntegral<SQLUSMALLINT>();
    const auto day = in.ConsumeIntegral<SQLUSMALLINT>();
    const std::int32_t days = data::odbc::daysSinceEpoch(year, month, day);
    if (year >= 1 && QDate::isValid(year, month, day)) {
        const qint64 expected =
            QDate(year, month, day).toJulianDay() - QDate(1, 1, 1).toJulianDay();
        if (days != expected) {
            std::fprintf(stderr, "odbc_values_fuzz: %d-%d-%d gives day %d, not %lld\n", year, month,
                         day, days, static_cast<long long>(expected));
            std::abort();
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return -1;
    const std::string_view text(reinterpret_cast<const char*>(data) + 1, size - 1);
    switch (data[0] % 3) {
        case 0:
            checkExact(text);
            break;
        case 1:
            checkTime(text);
            break;
        default: {
            FuzzedDataProvider in(data + 1, size - 1);
            checkDate(in);
            break;
        }
    }
    return 0;
}
