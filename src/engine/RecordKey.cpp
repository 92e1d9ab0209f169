#include "RecordKey.h"

#include "CompareOptions.h"

namespace compare {

std::optional<KeyChoice> KeyChoice::FromOption(const QString& text) {
    KeyChoice choice;
    if (text.trimmed().compare(QStringLiteral("auto"), Qt::CaseInsensitive) == 0) {
        choice.automatic = true;
        return choice;
    }
    const std::optional<QStringList> names = ColumnNamesFromText(text);
    if (!names) return std::nullopt;
    for (const QString& name : *names) {
        // A column named twice is one column of the key.
        if (!choice.columns.contains(name, Qt::CaseInsensitive)) choice.columns << name;
    }
    return choice;
}

namespace {

// What a key column holds, in the words of the message that refuses a key.
// Keys of one such kind pair by value (numbers of any kind, as the comparison
// compares them); across kinds no key ever equals another, so every record
// would be both deleted and added.
QString KeyKind(data::ValueKind kind) {
    switch (kind) {
        case data::ValueKind::Integer:
        case data::ValueKind::Decimal:
        case data::ValueKind::Currency:
        case data::ValueKind::Float:
        case data::ValueKind::Bit:
            return QStringLiteral("a number");
        case data::ValueKind::DateTime:
            return QStringLiteral("a date");
        case data::ValueKind::Text:
            return QStringLiteral("a text");
        case data::ValueKind::Bytes:
            return QStringLiteral("a byte string");
        case data::ValueKind::Null:
            break;
    }
    return QStringLiteral("of no type");
}

}  // namespace

RecordKey ResolveRecordKey(const KeyChoice& choice, const QString& firstName,
                           const TableShape& first, const QString& secondName,
                           const TableShape& second, const std::vector<ColumnMapping>& map) {
    const QString cannot = QStringLiteral("The records cannot be paired by key: ");
    const QStringList columns = choice.automatic ? first.primaryKey : choice.columns;
    if (columns.isEmpty()) {
        throw NoPrimaryKey(cannot + QStringLiteral("%1 has no primary key.").arg(firstName));
    }
    RecordKey key;
    for (const QString& name : columns) {
        const int f = first.columns.indexOf(name);
        if (f < 0) {
            throw KeyProblem(cannot +
                             QStringLiteral("%1 has no column \"%2\".").arg(firstName, name));
        }
        const QString& column = first.columns.column(f).name();
        const QString paired = map.empty() ? name : SecondColumnOf(map, column);
        const int s = second.columns.indexOf(paired);
        if (s < 0) {
            throw KeyProblem(cannot +
                             QStringLiteral("%1 has no column \"%2\".").arg(secondName, paired));
        }
        const QString firstKind = KeyKind(first.columns.column(f).kind());
        const QString secondKind = KeyKind(second.columns.column(s).kind());
        if (firstKind != secondKind) {
            throw KeyProblem(cannot +
                             QStringLiteral("the key column \"%1\" is %2 in %3 and %4 in %5.")
                                 .arg(column, firstKind, firstName, secondKind, secondName));
        }
        key.first.push_back(f);
        key.second.push_back(s);
        key.names.push_back(column);
    }
    return key;
}

}  // namespace compare
