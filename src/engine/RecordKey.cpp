#include "RecordKey.h"

#include <algorithm>

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
        // A column named twice is one column of the key (the same name in
        // another case is resolved against the table's columns).
        if (!choice.columns.contains(name)) choice.columns << name;
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
    // A name finds its column as the server would; one that several columns
    // match only without case names none of them.
    const auto find = [&](const data::ResultTable& columns, const QString& name,
                          const QString& table) {
        const int k = data::FindName(data::ColumnNames(columns), name);
        if (k == data::kNameDiffersOnlyByCase) {
            throw KeyProblem(cannot +
                             QStringLiteral("%1 has several columns named \"%2\" but for "
                                            "case: name the key's column as it is written.")
                                 .arg(table, name));
        }
        if (k < 0) {
            throw KeyProblem(cannot + QStringLiteral("%1 has no column \"%2\".").arg(table, name));
        }
        return k;
    };
    RecordKey key;
    for (const QString& name : columns) {
        const int f = find(first.columns, name, firstName);
        if (std::find(key.first.begin(), key.first.end(), f) != key.first.end()) continue;
        const QString& column = first.columns.column(f).name();
        const QString paired = map.empty() ? column : SecondColumnOf(map, column);
        const int s = find(second.columns, paired, secondName);
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
