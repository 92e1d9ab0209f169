#include "ValueRules.h"

#include <QDate>
#include <QTime>
#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstring>
#include <optional>

#include "DecimalDigits.h"

namespace compare {
namespace {

using data::FieldValue;
using data::ValueKind;
using i128 = __int128;
using u128 = unsigned __int128;
using detail::Digits;
using detail::Magnitude;

constexpr i128 kI128Max = static_cast<i128>((static_cast<u128>(1) << 127) - 1);
constexpr i128 kI128Min = -kI128Max - 1;
constexpr int kMaxPow10 = 38;  // 10^38 is the largest power of ten an __int128 holds

constexpr std::array<i128, kMaxPow10 + 1> kPow10 = [] {
    std::array<i128, kMaxPow10 + 1> p{};
    p[0] = 1;
    for (int i = 1; i <= kMaxPow10; ++i) p[i] = p[i - 1] * 10;
    return p;
}();

// Bounds within which a value times 10^d still fits, so that aligning scales
// never needs a division in the comparison loop.
constexpr std::array<i128, kMaxPow10 + 1> kMulMax = [] {
    std::array<i128, kMaxPow10 + 1> m{};
    for (int i = 0; i <= kMaxPow10; ++i) m[i] = kI128Max / kPow10[i];
    return m;
}();
constexpr std::array<i128, kMaxPow10 + 1> kMulMin = [] {
    std::array<i128, kMaxPow10 + 1> m{};
    for (int i = 0; i <= kMaxPow10; ++i) m[i] = kI128Min / kPow10[i];
    return m;
}();

// Doubles that are powers of ten exactly (10^22 is the last one).
constexpr std::array<double, 23> kPow10d = [] {
    std::array<double, 23> p{};
    p[0] = 1;
    for (int i = 1; i < 23; ++i) p[i] = p[i - 1] * 10;
    return p;
}();

struct Exact {
    i128 unscaled;
    int scale;
};

bool IsNumber(ValueKind k) {
    return k == ValueKind::Integer || k == ValueKind::Decimal || k == ValueKind::Currency ||
           k == ValueKind::Float || k == ValueKind::Bit;
}

Exact ToExact(const FieldValue& v) {
    switch (v.kind()) {
        case ValueKind::Integer:
            return {v.asInteger(), 0};
        case ValueKind::Bit:
            return {v.asBit() ? 1 : 0, 0};
        default:
            return {v.unscaled(), v.scale()};
    }
}

int Sign(i128 v) { return v < 0 ? -1 : v > 0 ? 1 : 0; }

// The order of two exact numbers, their scales aligned.
int ExactCompare(Exact a, Exact b) {
    if (a.scale == b.scale) return a.unscaled < b.unscaled ? -1 : a.unscaled > b.unscaled ? 1 : 0;
    bool swapped = false;
    if (a.scale > b.scale) {
        std::swap(a, b);
        swapped = true;
    }
    const int shift = b.scale - a.scale;
    int order = 0;
    // A coarser value that no longer fits at the finer scale is beyond
    // anything the finer one can hold: its sign decides.
    if (shift > kMaxPow10 || a.unscaled > kMulMax[shift] || a.unscaled < kMulMin[shift]) {
        order = Sign(a.unscaled) != 0 ? Sign(a.unscaled) : -Sign(b.unscaled);
    } else {
        const i128 aligned = a.unscaled * kPow10[shift];
        order = aligned < b.unscaled ? -1 : aligned > b.unscaled ? 1 : 0;
    }
    return swapped ? -order : order;
}

bool ExactDiffer(Exact a, Exact b) {
    if (a.scale == b.scale) return a.unscaled != b.unscaled;
    if (a.scale > b.scale) std::swap(a, b);
    if (a.unscaled == 0) return b.unscaled != 0;
    const int shift = b.scale - a.scale;
    // If the coarser value no longer fits once brought to the finer scale, it
    // cannot equal the finer one, which does fit.
    if (shift > kMaxPow10) return true;
    if (a.unscaled > kMulMax[shift] || a.unscaled < kMulMin[shift]) return true;
    return a.unscaled * kPow10[shift] != b.unscaled;
}

double ToDouble(const FieldValue& v) {
    if (v.kind() == ValueKind::Float) return v.asFloat();
    const Exact e = ToExact(v);
    if (e.scale == 0) return static_cast<double>(e.unscaled);
    constexpr i128 kExactInDouble = static_cast<i128>(1) << 53;
    if (e.scale < static_cast<int>(kPow10d.size()) && e.unscaled <= kExactInDouble &&
        e.unscaled >= -kExactInDouble) {
        // Both operands are exact doubles, so the one division rounds correctly.
        return static_cast<double>(e.unscaled) / kPow10d[e.scale];
    }
    // Otherwise let the correctly rounding parser do it: "-digitsE-scale".
    char text[48];
    int n = 0;
    if (e.unscaled < 0) text[n++] = '-';
    n += Digits(Magnitude(e.unscaled), text + n);
    text[n++] = 'e';
    text[n++] = '-';
    n = static_cast<int>(std::to_chars(text + n, text + sizeof text, e.scale).ptr - text);
    double d = 0;
    std::from_chars(text, text + n, d);
    return d;
}

struct Instant {
    std::int64_t days;
    std::int64_t ticks;
};

Instant ToInstant(const data::DateTimeValue& v) {
    const bool hasDate = (v.parts & data::DateTimeValue::HasDate) != 0;
    const bool hasTime = (v.parts & data::DateTimeValue::HasTime) != 0;
    return {hasDate ? v.days : kTimeOnlyBaseDay, hasTime ? v.ticks : 0};
}

bool NumbersDiffer(const FieldValue& a, const FieldValue& b) {
    if (a.kind() == ValueKind::Float || b.kind() == ValueKind::Float) {
        return ToDouble(a) != ToDouble(b);
    }
    return ExactDiffer(ToExact(a), ToExact(b));
}

// Kinds that compare with each other, in the order keys of different kinds sort.
int KindRank(ValueKind k) {
    if (k == ValueKind::Null) return 0;
    if (IsNumber(k)) return 1;
    if (k == ValueKind::DateTime) return 2;
    if (k == ValueKind::Text) return 3;
    return 4;
}

template <class T>
int Order(const T& a, const T& b) {
    return a < b ? -1 : b < a ? 1 : 0;
}

u128 MagnitudeOf(i128 v) { return detail::Magnitude(v); }

// Whether |a - b| <= tolerance, exactly: the three brought to one scale, the
// difference taken on magnitudes so that it cannot overflow. Nothing when a
// scale cannot be reached without overflow (the caller falls back to doubles).
std::optional<bool> ExactWithin(Exact a, Exact b, const Tolerance& t) {
    const int scale = std::max({a.scale, b.scale, t.scale});
    const auto align = [scale](i128 unscaled, int from) -> std::optional<i128> {
        const int shift = scale - from;
        if (shift > kMaxPow10 || unscaled > kMulMax[shift] || unscaled < kMulMin[shift]) {
            return std::nullopt;
        }
        return unscaled * kPow10[shift];
    };
    const std::optional<i128> x = align(a.unscaled, a.scale);
    const std::optional<i128> y = align(b.unscaled, b.scale);
    const std::optional<i128> limit = align(t.unscaled, t.scale);
    if (!x || !y || !limit) return std::nullopt;
    const u128 mx = MagnitudeOf(*x), my = MagnitudeOf(*y);
    const bool sameSign = (*x < 0) == (*y < 0);
    // Two magnitudes below 2^127 add up to below 2^128: no overflow either way.
    const u128 difference = sameSign ? (mx > my ? mx - my : my - mx) : mx + my;
    return difference <= MagnitudeOf(*limit);
}

bool NumbersWithin(const FieldValue& a, const FieldValue& b, const Tolerance& t) {
    if (a.kind() != ValueKind::Float && b.kind() != ValueKind::Float && t.exact) {
        if (const std::optional<bool> within = ExactWithin(ToExact(a), ToExact(b), t)) {
            return *within;
        }
    }
    const double x = ToDouble(a), y = ToDouble(b);
    if (std::isnan(x) || std::isnan(y)) return false;
    return std::fabs(x - y) <= t.value;
}

// A text as the options compare it: without its trailing blanks when trimming.
QStringView Trimmed(QStringView text, bool trim) {
    if (trim) {
        while (!text.empty() && text.back() == u' ') text.chop(1);
    }
    return text;
}

}  // namespace

bool ValuesDifferUnder(const FieldValue& a, const FieldValue& b, const ValueOptions& options) {
    const ValueKind ka = a.kind();
    const ValueKind kb = b.kind();
    if (ka == ValueKind::Text && kb == ValueKind::Text) {
        const QStringView x = Trimmed(a.asText(), options.trim);
        const QStringView y = Trimmed(b.asText(), options.trim);
        if (options.ignoreCase) return x.compare(y, Qt::CaseInsensitive) != 0;
        return x != y;
    }
    if (options.nullEqualsEmpty && (ka == ValueKind::Null || kb == ValueKind::Null)) {
        const FieldValue& other = ka == ValueKind::Null ? b : a;
        if (other.isNull()) return false;
        return other.kind() != ValueKind::Text || !Trimmed(other.asText(), options.trim).empty();
    }
    if (options.tolerance && IsNumber(ka) && IsNumber(kb)) {
        return NumbersDiffer(a, b) && !NumbersWithin(a, b, *options.tolerance);
    }
    return ValuesDiffer(a, b);
}

namespace {

// SQL Server orders texts as if the shorter were padded with blanks, binary
// collations included, so 'a' + CHAR(9) comes before 'a'. Texts equal so
// differ still (the comparison of fields tells them apart): the shorter
// first, as the key order's length tie-break puts them.
int ComparePaddedTexts(QStringView a, QStringView b) {
    const qsizetype common = std::min(a.size(), b.size());
    const int c = a.first(common).compare(b.first(common));
    if (c != 0) return c < 0 ? -1 : 1;
    const QStringView rest = a.size() > common ? a.sliced(common) : b.sliced(common);
    const int longer = a.size() > common ? 1 : -1;
    for (const QChar ch : rest) {
        if (ch != u' ') return ch < u' ' ? -longer : longer;
    }
    return Order(a.size(), b.size());
}

}  // namespace

int CompareKeyValues(const FieldValue& a, const FieldValue& b) {
    const int rankA = KindRank(a.kind()), rankB = KindRank(b.kind());
    if (rankA != rankB) return rankA < rankB ? -1 : 1;
    switch (rankA) {
        case 0:
            return 0;
        case 1:
            if (a.kind() == ValueKind::Float || b.kind() == ValueKind::Float) {
                return Order(ToDouble(a), ToDouble(b));
            }
            return ExactCompare(ToExact(a), ToExact(b));
        case 2: {
            const Instant x = ToInstant(a.asDateTime());
            const Instant y = ToInstant(b.asDateTime());
            return x.days != y.days ? Order(x.days, y.days) : Order(x.ticks, y.ticks);
        }
        case 3:
            return ComparePaddedTexts(a.asText(), b.asText());
        default: {
            const QByteArrayView x = a.asBytes();
            const QByteArrayView y = b.asBytes();
            const qsizetype common = std::min(x.size(), y.size());
            const int c = common == 0 ? 0 : std::memcmp(x.data(), y.data(), common);
            if (c != 0) return c < 0 ? -1 : 1;
            return Order(x.size(), y.size());
        }
    }
}

bool ValuesDiffer(const FieldValue& a, const FieldValue& b) {
    const ValueKind ka = a.kind();
    const ValueKind kb = b.kind();
    if (ka == ValueKind::Null || kb == ValueKind::Null) return ka != kb;
    if (IsNumber(ka)) return !IsNumber(kb) || NumbersDiffer(a, b);
    if (ka != kb) return true;
    switch (ka) {
        case ValueKind::Text:
            return a.asText() != b.asText();
        case ValueKind::Bytes: {
            const QByteArrayView x = a.asBytes();
            const QByteArrayView y = b.asBytes();
            return x.size() != y.size() ||
                   (x.size() != 0 && std::memcmp(x.data(), y.data(), x.size()) != 0);
        }
        case ValueKind::DateTime: {
            const Instant x = ToInstant(a.asDateTime());
            const Instant y = ToInstant(b.asDateTime());
            return x.days != y.days || x.ticks != y.ticks;
        }
        default:
            return true;
    }
}

}  // namespace compare
