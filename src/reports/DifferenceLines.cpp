#include "DifferenceLines.h"

#include <stdexcept>

namespace compare {

namespace {

// Characters that change how a line reads without showing themselves: C1
// controls and the line and paragraph separators break or vanish, and the
// bidirectional controls reorder what follows them (a right-to-left override
// shows "exe.txt" as "txt.exe"). They have no control pictures.
bool HiddenFormat(char16_t u) {
    return (u >= 0x80 && u <= 0x9F) || u == 0x061C || u == 0x200E || u == 0x200F || u == 0x2028 ||
           u == 0x2029 || (u >= 0x202A && u <= 0x202E) || (u >= 0x2066 && u <= 0x2069);
}

bool HasControls(QStringView text) {
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if (u < 0x20 || u == 0x7F || HiddenFormat(u)) return true;
    }
    return false;
}

}  // namespace

QString WithVisibleControls(QStringView text) {
    QString out;
    out.reserve(text.size());
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if (u < 0x20) {
            out += QChar(static_cast<char16_t>(0x2400 + u));  // the control pictures
        } else if (u == 0x7F) {
            out += QChar(u'\u2421');
        } else if (HiddenFormat(u)) {
            out += QStringLiteral("<U+") +
                   QString::number(u, 16).toUpper().rightJustified(4, u'0') + u'>';
        } else {
            out += c;
        }
    }
    return out;
}

namespace {

// Appends text with its control characters as visible symbols, so that one
// difference is always exactly one line: a line feed inside a value would
// otherwise split it, and a copied piece could read like a line of its own.
void AppendVisible(QString& out, QStringView text) {
    if (HasControls(text)) {
        out += WithVisibleControls(text);
    } else {
        out += text;
    }
}

// A key's text holds values, so its control characters are made visible too.
void AppendRecord(QString& out, const RecordName& record) { AppendVisible(out, record.text()); }

void AppendQuoted(QString& out, const std::optional<QString>& text) {
    if (!text) {
        out += u"NULL";
        return;
    }
    out += u'"';
    AppendVisible(out, *text);
    out += u'"';
}

// A type after its value, where the value alone would not tell it apart.
void AppendType(QString& out, QStringView type) {
    if (type.isEmpty()) return;
    out += u" (";
    out += type;
    out += u')';
}

QString RecordLine(const RecordName& record, QStringView verb, QStringView tableName) {
    QString out = QStringLiteral("Record ");
    AppendRecord(out, record);
    out += verb;
    AppendVisible(out, tableName);
    return out;
}

}  // namespace

QString FieldChangedLine(const RecordName& record, QStringView fieldName,
                         const data::FieldValue& before, const data::FieldValue& after,
                         const ValueFormatter& formatter) {
    const auto text = [&](const data::FieldValue& v) {
        return v.isNull() ? std::nullopt : std::optional<QString>(formatter.text(v));
    };
    const std::optional<QString> from = text(before), to = text(after);
    const auto [fromType, toType] = TypesApart(before, after, from, to);
    return FieldChangedLine(record, fieldName, from, to, fromType, toType);
}

QString FieldChangedLine(const RecordName& record, QStringView fieldName,
                         const data::FieldValue& before, const data::FieldValue& after) {
    return FieldChangedLine(record, fieldName, before, after, ValueFormatter());
}

QString FieldChangedLine(const RecordName& record, QStringView fieldName,
                         const std::optional<QString>& before, const std::optional<QString>& after,
                         QStringView beforeType, QStringView afterType) {
    QString out = QStringLiteral("Record ");
    AppendRecord(out, record);
    out += u",Field \"";
    AppendVisible(out, fieldName);
    out += u"\" has changed from ";
    AppendQuoted(out, before);
    AppendType(out, beforeType);
    out += u" to ";
    AppendQuoted(out, after);
    AppendType(out, afterType);
    return out;
}

QString TypeWord(data::ValueKind kind) {
    using data::ValueKind;
    switch (kind) {
        case ValueKind::Null:
            break;
        case ValueKind::Integer:
            return QStringLiteral("integer");
        case ValueKind::Decimal:
            return QStringLiteral("decimal");
        case ValueKind::Currency:
            return QStringLiteral("money");
        case ValueKind::Float:
            return QStringLiteral("float");
        case ValueKind::Bit:
            return QStringLiteral("bit");
        case ValueKind::DateTime:
            return QStringLiteral("date");
        case ValueKind::Text:
            return QStringLiteral("text");
        case ValueKind::Bytes:
            return QStringLiteral("bytes");
    }
    return QString();
}

std::pair<QString, QString> TypesApart(const data::FieldValue& before,
                                       const data::FieldValue& after,
                                       const std::optional<QString>& beforeText,
                                       const std::optional<QString>& afterText) {
    if (!beforeText || !afterText || *beforeText != *afterText || before.kind() == after.kind()) {
        return {};
    }
    return {TypeWord(before.kind()), TypeWord(after.kind())};
}

QString FieldOnlyInLine(QStringView fieldName, QStringView tableName) {
    QString out = QStringLiteral("Field \"");
    AppendVisible(out, fieldName);
    out += u"\" only in ";
    AppendVisible(out, tableName);
    return out;
}

QString RecordDeletedLine(const RecordName& record, QStringView tableName) {
    return RecordLine(record, u" deleted from ", tableName);
}

QString RecordAddedLine(const RecordName& record, QStringView tableName) {
    return RecordLine(record, u" added from ", tableName);
}

QString RecordNotUniqueLine(const RecordName& record, QStringView tableName) {
    return RecordLine(record, u" is not unique in ", tableName);
}

}  // namespace compare
