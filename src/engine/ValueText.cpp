#include "ValueText.h"

#include <QDate>
#include <QStringList>
#include <QTime>

#include "DecimalDigits.h"
#include "ValueRules.h"

namespace compare {

using data::FieldValue;
using data::ValueKind;
using detail::Digits;
using detail::Magnitude;

namespace {

constexpr std::int64_t kTicksPerSecond = 10'000'000;
constexpr std::int64_t kJulianDayOfDayZero = 1721426;  // 0001-01-01

}  // namespace
// ---------------------------------------------------------------------------

namespace {

// One piece of a Qt date/time format: a quoted literal, a run of one pattern
// letter, or any other single character.
QStringList FormatTokens(const QString& format) {
    QStringList tokens;
    qsizetype i = 0;
    while (i < format.size()) {
        const QChar c = format[i];
        qsizetype j = i + 1;
        if (c == u'\'') {
            while (j < format.size()) {
                if (format[j] == u'\'') {
                    if (j + 1 < format.size() && format[j + 1] == u'\'') {
                        j += 2;  // '' is a quote inside the literal
                        continue;
                    }
                    ++j;
                    break;
                }
                ++j;
            }
        } else if (c.isLetter()) {
            while (j < format.size() && format[j] == c) ++j;
        }
        tokens << format.mid(i, j - i);
        i = j;
    }
    return tokens;
}

bool IsBlank(const QString& token) { return token.size() == 1 && token[0].isSpace(); }

// The locale's long time format without its time zone, split just after the
// seconds so that a fraction of a second can go in between.
void SplitTimeFormat(const QString& format, QString& head, QString& tail) {
    QStringList tokens = FormatTokens(format);
    tokens.removeIf([](const QString& t) { return t.startsWith(u't'); });
    // A zone written in brackets leaves the brackets behind.
    for (qsizetype i = 0; i + 1 < tokens.size();) {
        if ((tokens[i] == u"(" && tokens[i + 1] == u")") ||
            (tokens[i] == u"[" && tokens[i + 1] == u"]")) {
            tokens.remove(i, 2);
        } else {
            ++i;
        }
    }
    while (!tokens.isEmpty() && IsBlank(tokens.first())) tokens.removeFirst();
    while (!tokens.isEmpty() && IsBlank(tokens.last())) tokens.removeLast();
    for (qsizetype i = 0; i + 1 < tokens.size();) {
        if (IsBlank(tokens[i]) && IsBlank(tokens[i + 1])) {
            tokens.removeAt(i + 1);
        } else {
            ++i;
        }
    }

    qsizetype seconds = -1;
    for (qsizetype i = 0; i < tokens.size(); ++i) {
        if (tokens[i].startsWith(u's')) seconds = i;
    }
    if (seconds < 0) {
        // A locale whose long format lacks seconds: put them after the minutes.
        for (qsizetype i = 0; i < tokens.size(); ++i) {
            if (tokens[i].startsWith(u'm')) seconds = i;
        }
        if (seconds < 0) {
            head = tokens.join(QString());
            tail.clear();
            return;
        }
        tokens.insert(seconds + 1, QStringLiteral(":"));
        tokens.insert(seconds + 2, QStringLiteral("ss"));
        seconds += 2;
    }
    head = tokens.mid(0, seconds + 1).join(QString());
    tail = tokens.mid(seconds + 1).join(QString());
}

// The short date with the whole year: "M/d/yy" would make 0001-01-01 and
// 2001-01-01 read alike. A lone "yy" becomes "yyyy"; quoted text stays.
QString WithFourDigitYear(const QString& format) {
    QString out;
    bool quoted = false;
    for (qsizetype i = 0; i < format.size(); ++i) {
        const QChar c = format[i];
        if (c == u'\'') quoted = !quoted;
        if (quoted || c != u'y') {
            out += c;
            continue;
        }
        qsizetype run = 1;
        while (i + run < format.size() && format[i + run] == u'y') ++run;
        out += run == 2 ? QStringLiteral("yyyy") : QString(run, u'y');
        i += run - 1;
    }
    return out;
}

}  // namespace

ValueFormatter::ValueFormatter(const QLocale& locale)
    : locale_(locale),
      decimalPoint_(locale.decimalPoint()),
      negativeSign_(locale.negativeSign()),
      dateFormat_(WithFourDigitYear(locale.dateFormat(QLocale::ShortFormat))) {
    locale_.setNumberOptions(locale_.numberOptions() | QLocale::OmitGroupSeparator);
    const QList<uint> zero = locale.zeroDigit().toUcs4();
    if (!zero.isEmpty()) zeroDigit_ = zero.first();
    SplitTimeFormat(locale.timeFormat(QLocale::LongFormat), timeHead_, timeTail_);
}

void ValueFormatter::appendLocalDigits(QString& out, const char* digits, qsizetype n) const {
    if (zeroDigit_ == U'0') {
        out.append(QLatin1StringView(digits, n));
        return;
    }
    for (qsizetype i = 0; i < n; ++i) {
        const char32_t c = zeroDigit_ + static_cast<char32_t>(digits[i] - '0');
        const QChar pair[2] = {QChar(QChar::highSurrogate(c)), QChar(QChar::lowSurrogate(c))};
        if (QChar::requiresSurrogates(c)) {
            out.append(pair, 2);
        } else {
            out.append(QChar(static_cast<char16_t>(c)));
        }
    }
}

QString ValueFormatter::decimalText(__int128 unscaled, int scale) const {
    char digits[40];
    const int n = Digits(Magnitude(unscaled), digits);
    // Split into whole and fractional digits; the fraction may need leading zeros.
    const int wholeCount = n > scale ? n - scale : 0;
    int fracEnd = n;
    while (fracEnd > wholeCount && digits[fracEnd - 1] == '0') --fracEnd;
    const int fracDigits = fracEnd - wholeCount;  // significant digits after the point
    const int leadingZeros = scale > n ? scale - n : 0;

    QString out;
    out.reserve(n + leadingZeros + 4);
    if (unscaled < 0) out += negativeSign_;
    if (wholeCount > 0) {
        appendLocalDigits(out, digits, wholeCount);
    } else {
        appendLocalDigits(out, "0", 1);
    }
    if (fracDigits > 0) {
        out += decimalPoint_;
        for (int i = 0; i < leadingZeros; ++i) appendLocalDigits(out, "0", 1);
        appendLocalDigits(out, digits + wholeCount, fracDigits);
    }
    return out;
}

QString ValueFormatter::timeText(std::int64_t ticks) const {
    const QTime time = QTime::fromMSecsSinceStartOfDay(static_cast<int>(ticks / 10'000));
    const std::int64_t fraction = ticks % kTicksPerSecond;
    if (fraction == 0) return locale_.toString(time, timeHead_ + timeTail_);
    char digits[8];
    std::int64_t f = fraction;
    for (int i = 6; i >= 0; --i) {
        digits[i] = static_cast<char>('0' + f % 10);
        f /= 10;
    }
    int n = 7;
    while (digits[n - 1] == '0') --n;
    QString literal = decimalPoint_;
    appendLocalDigits(literal, digits, n);
    literal.replace(u'\'', QStringLiteral("''"));
    return locale_.toString(time, timeHead_ + u'\'' + literal + u'\'' + timeTail_);
}

QString ValueFormatter::dateTimeText(const data::DateTimeValue& v) const {
    const bool hasDate = (v.parts & data::DateTimeValue::HasDate) != 0;
    const bool hasTime = (v.parts & data::DateTimeValue::HasTime) != 0;
    if (!hasDate) return timeText(v.ticks);
    QString out = locale_.toString(QDate::fromJulianDay(kJulianDayOfDayZero + v.days), dateFormat_);
    if (hasTime && v.ticks != 0) {
        out += u' ';
        out += timeText(v.ticks);
    }
    return out;
}

QString ValueFormatter::text(const FieldValue& v) const {
    switch (v.kind()) {
        case ValueKind::Null:
            return QString();
        case ValueKind::Integer:
            return QString::number(v.asInteger());
        case ValueKind::Bit:
            return v.asBit() ? QStringLiteral("True") : QStringLiteral("False");
        case ValueKind::Decimal:
        case ValueKind::Currency:
            return decimalText(v.unscaled(), v.scale());
        case ValueKind::Float:
            return locale_.toString(v.asFloat(), 'g', QLocale::FloatingPointShortest);
        case ValueKind::DateTime:
            return dateTimeText(v.asDateTime());
        case ValueKind::Text:
            return v.asText().toString();
        case ValueKind::Bytes: {
            static constexpr char kHex[] = "0123456789ABCDEF";
            const QByteArrayView bytes = v.asBytes();
            QString out(2 + 2 * bytes.size(), Qt::Uninitialized);
            QChar* p = out.data();
            *p++ = u'0';
            *p++ = u'x';
            for (const char c : bytes) {
                const auto b = static_cast<unsigned char>(c);
                *p++ = QLatin1Char(kHex[b >> 4]);
                *p++ = QLatin1Char(kHex[b & 0xF]);
            }
            return out;
        }
    }
    return QString();
}

QString ValueText(const FieldValue& v) { return ValueText(v, QLocale()); }

QString ValueText(const FieldValue& v, const QLocale& locale) {
    switch (v.kind()) {
        case ValueKind::Decimal:
        case ValueKind::Currency:
        case ValueKind::Float:
        case ValueKind::DateTime:
            return ValueFormatter(locale).text(v);
        default:
            // No locale involved: skip deriving the formats.
            static const ValueFormatter plain{QLocale::c()};
            return plain.text(v);
    }
}

}  // namespace compare
