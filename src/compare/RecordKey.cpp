#include "RecordKey.h"

#include <memory>

#include "CompareOptions.h"
#include "TableQuery.h"
#include "TableReader.h"

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

constexpr int kRowVersionTypeId = 189;

bool IsTrue(const data::FieldValue& v) {
    return (v.kind() == data::ValueKind::Bit && v.asBit()) ||
           (v.kind() == data::ValueKind::Integer && v.asInteger() != 0);
}

std::vector<ColumnFill> ReadColumnFills(data::Connection& connection,
                                        const catalogue::TableName& table) {
    const data::ResultTable rows = connection.FetchQuery(ColumnFillsQuery(table));
    std::vector<ColumnFill> fills;
    for (std::size_t r = 0; r < rows.rowCount(); ++r) {
        const data::FieldValue type = rows.value(3, r);
        fills.push_back(
            {rows.value(0, r).asText().toString(), IsTrue(rows.value(1, r)),
             IsTrue(rows.value(2, r)),
             type.kind() == data::ValueKind::Integer && type.asInteger() == kRowVersionTypeId});
    }
    return fills;
}

}  // namespace

TableShape DescribeTable(data::Connection& connection, const catalogue::TableName& table,
                         ShapeWanted wanted) {
    TableShape shape;
    // No rows: the columns and their types only.
    shape.columns =
        connection.FetchQuery(SelectAllFrom(table) + QStringLiteral(" where 1 = 0")).withoutRows();
    if (wanted.primaryKey) {
        shape.primaryKey = connection.PrimaryKeyColumns(table.schema, table.name);
    }
    if (wanted.fills) shape.fills = ReadColumnFills(connection, table);
    return shape;
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
                           const TableShape& second) {
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
        const int s = second.columns.indexOf(name);
        if (s < 0) {
            throw KeyProblem(cannot +
                             QStringLiteral("%1 has no column \"%2\".").arg(secondName, name));
        }
        const QString& column = first.columns.column(f).name();
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

QString KeyOrder(const data::ResultTable& columns, const std::vector<int>& keyColumns) {
    QString sql = QStringLiteral(" order by ");
    for (std::size_t k = 0; k < keyColumns.size(); ++k) {
        const data::Column& column = columns.column(keyColumns[k]);
        if (k > 0) sql += QStringLiteral(", ");
        const QString name = QuotedIdentifier(column.name());
        if (column.kind() == data::ValueKind::Text) {
            // The comparison orders texts code unit by code unit, which is how
            // a binary collation orders their UTF-16 form; the column's own
            // collation may ignore case or accents.
            sql +=
                QStringLiteral("cast(%1 as nvarchar(max)) collate Latin1_General_BIN2").arg(name);
        } else {
            sql += name;
        }
    }
    return sql;
}

TableShapes DescribeTables(TableReader& firstReader, TableReader& secondReader,
                           const catalogue::TableName& first, const catalogue::TableName& second,
                           ShapeWanted firstWanted, ShapeWanted secondWanted,
                           const std::function<void()>& whileWaiting) {
    // Shared with the readers' threads: a wait that throws (Esc) leaves the
    // work running on its own.
    const auto firstShape = std::make_shared<TableShape>();
    const auto secondShape = std::make_shared<TableShape>();
    firstReader.Ask([firstShape, first, firstWanted](data::Connection& c) {
        *firstShape = DescribeTable(c, first, firstWanted);
    });
    secondReader.Ask([secondShape, second, secondWanted](data::Connection& c) {
        *secondShape = DescribeTable(c, second, secondWanted);
    });
    constexpr int kWaitSliceMs = 20;
    const auto wait = [&](TableReader& reader) {
        for (;;) {
            try {
                if (reader.Answered(kWaitSliceMs)) return;
            } catch (...) {
                // A cancel now interrupts the work at once, often before the
                // caller's next turn: that turn says how a cancel ends its
                // wait (it throws its own stop).
                if (reader.stage() == TableReader::Stage::Cancelled) whileWaiting();
                throw;
            }
            whileWaiting();
        }
    };
    wait(firstReader);
    wait(secondReader);
    return {std::move(*firstShape), std::move(*secondShape)};
}

}  // namespace compare
