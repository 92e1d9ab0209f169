#include "SqlLiteral.h"

#include <QDate>
#include <algorithm>
#include <charconv>

#include "DecimalDigits.h"

namespace compare {

namespace {

constexpr std::int64_t kTicksPerSecond = 10'000'000;
// Beyond this many characters SQL Server's join of non-max texts is cut.
constexpr qsizetype kLongestJoin = 4000;

QString DecimalLiteral(__int128 unscaled, int scale) {
    char digits[48];
    const int n = detail::Digits(detail::Magnitude(unscaled), digits);
    QString out;
    if (unscaled < 0) out += u'-';
    QString all = QString::fromLatin1(digits, n);
    if (scale <= 0) return out + all;
    if (all.size() <= scale) all = QString(scale - all.size() + 1, u'0') + all;
    return out + all.left(all.size() - scale) + u'.' + all.right(scale);
}

QString FloatLiteral(double v) {
    char text[40];
    const auto end = std::to_chars(text, text + sizeof text, v, std::chars_format::scientific).ptr;
    return QString::fromLatin1(text, end - text);
}

QString TimeText(std::int64_t ticks) {
    const std::int64_t seconds = ticks / kTicksPerSecond;
    QString text = QStringLiteral("%1:%2:%3")
                       .arg(seconds / 3600, 2, 10, QLatin1Char('0'))
                       .arg(seconds / 60 % 60, 2, 10, QLatin1Char('0'))
                       .arg(seconds % 60, 2, 10, QLatin1Char('0'));
    // Trailing zeros of the fraction left off: datetime takes at most three
    // digits, and its values never need more.
    QString fraction = QString::number(ticks % kTicksPerSecond).rightJustified(7, u'0');
    while (fraction.endsWith(u'0')) fraction.chop(1);
    if (!fraction.isEmpty()) text += u'.' + fraction;
    return text;
}

// Plain texts, so that the server converts them to the column's own type
// (a date and time compared with a datetime column stays a datetime), in the
// forms it reads alike under every SET DATEFORMAT and SET LANGUAGE: a date
// alone as yyyy-mm-dd (date columns), a date with a time always with its "T".
QString DateTimeLiteral(const data::DateTimeValue& v) {
    const bool hasDate = (v.parts & data::DateTimeValue::HasDate) != 0;
    const bool hasTime = (v.parts & data::DateTimeValue::HasTime) != 0;
    const QString date = QDate(1, 1, 1).addDays(v.days).toString(QStringLiteral("yyyy-MM-dd"));
    if (!hasTime) return u'\'' + date + u'\'';
    if (!hasDate) return u'\'' + TimeText(v.ticks) + u'\'';
    return u'\'' + date + u'T' + TimeText(v.ticks) + u'\'';
}

bool Quotable(QStringView text, qsizetype i) {
    const char16_t c = text[i].unicode();
    if (c < 0x20 || c == 0x7F) return false;
    if (QChar::isHighSurrogate(c)) return i + 1 < text.size() && text[i + 1].isLowSurrogate();
    if (QChar::isLowSurrogate(c)) return i > 0 && text[i - 1].isHighSurrogate();
    return true;
}

QString TextLiteral(QStringView text) {
    QStringList pieces;
    QString quoted;
    const auto endQuoted = [&] {
        if (!quoted.isEmpty()) pieces << QStringLiteral("N'") + quoted + u'\'';
        quoted.clear();
    };
    for (qsizetype i = 0; i < text.size(); ++i) {
        // sqlcmd would read "$(" as the start of a variable, in a literal too.
        if (text[i] == u'(' && quoted.endsWith(u'$')) endQuoted();
        if (Quotable(text, i)) {
            quoted += text[i];
            if (text[i] == u'\'') quoted += u'\'';
            continue;
        }
        endQuoted();
        pieces << QStringLiteral("NCHAR(%1)").arg(static_cast<int>(text[i].unicode()));
    }
    endQuoted();
    if (pieces.isEmpty()) return QStringLiteral("N''");
    if (pieces.size() > 1 && text.size() > kLongestJoin) {
        pieces.prepend(QStringLiteral("CAST(N'' AS nvarchar(max))"));
    }
    return pieces.join(QStringLiteral(" + "));
}

QString BytesLiteral(QByteArrayView bytes) {
    return QStringLiteral("0x") +
           QString::fromLatin1(QByteArray(bytes.data(), bytes.size()).toHex().toUpper());
}

}  // namespace

QString SqlLiteral(const data::FieldValue& v) {
    switch (v.kind()) {
        case data::ValueKind::Null:
            return QStringLiteral("NULL");
        case data::ValueKind::Integer:
            return QString::number(v.asInteger());
        case data::ValueKind::Bit:
            return v.asBit() ? QStringLiteral("1") : QStringLiteral("0");
        case data::ValueKind::Decimal:
        case data::ValueKind::Currency:
            return DecimalLiteral(v.unscaled(), v.scale());
        case data::ValueKind::Float:
            return FloatLiteral(v.asFloat());
        case data::ValueKind::DateTime:
            return DateTimeLiteral(v.asDateTime());
        case data::ValueKind::Text:
            return TextLiteral(v.asText());
        case data::ValueKind::Bytes:
            return BytesLiteral(v.asBytes());
    }
    return QStringLiteral("NULL");
}

QString KeyLiteral(const data::FieldValue& v, const KeyText& column) {
    if (!column.narrow || v.kind() != data::ValueKind::Text) return SqlLiteral(v);
    const QStringView text = v.asText();
    const bool ascii = std::all_of(text.begin(), text.end(), [](QChar c) {
        return c.unicode() >= 0x20 && c.unicode() < 0x7F;
    });
    // "$(" stays out of a plain literal: sqlcmd would read a variable there.
    if (ascii && !text.contains(u"$(")) {
        return u'\'' + text.toString().replace(u'\'', QStringLiteral("''")) + u'\'';
    }
    // A collation's name is letters, digits and underscores; anything else
    // is left to the database's own.
    const bool named = !column.collation.isEmpty() &&
                       std::all_of(column.collation.begin(), column.collation.end(),
                                   [](QChar c) { return c.isLetterOrNumber() || c == u'_'; });
    return QStringLiteral("CAST((%1)%2 AS varchar(8000))")
        .arg(TextLiteral(text), named ? QStringLiteral(" COLLATE ") + column.collation : QString());
}

}  // namespace compare
