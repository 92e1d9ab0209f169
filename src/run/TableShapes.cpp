#include "TableShapes.h"

#include <algorithm>
#include <iterator>
#include <memory>
#include <optional>
#include <stdexcept>

#include "DataError.h"
#include "ErrorReport.h"
#include "SideNames.h"
#include "SqlNames.h"
#include "TableQuery.h"
#include "TableReader.h"

namespace compare {

namespace {

constexpr int kRowVersionTypeId = 189;
// varchar, char and text.
constexpr std::int64_t kNarrowTextTypeIds[] = {167, 175, 35};
constexpr int kVariantTypeId = 98;

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
        const std::int64_t typeId =
            type.kind() == data::ValueKind::Integer ? type.asInteger() : std::int64_t{-1};
        const data::FieldValue collation = rows.value(4, r);
        fills.push_back(
            {rows.value(0, r).asText().toString(), IsTrue(rows.value(1, r)),
             IsTrue(rows.value(2, r)), typeId == kRowVersionTypeId,
             std::find(std::begin(kNarrowTextTypeIds), std::end(kNarrowTextTypeIds), typeId) !=
                 std::end(kNarrowTextTypeIds),
             collation.kind() == data::ValueKind::Text ? collation.asText().toString() : QString(),
             typeId == kVariantTypeId, typeId});
    }
    return fills;
}

// A catalogue view the server does not have (one older than the feature)
// holds nothing of it.
std::optional<data::ResultTable> FetchIfKnown(data::Connection& connection, const QString& sql) {
    constexpr int kInvalidColumn = 207;
    constexpr int kInvalidObject = 208;
    try {
        return connection.FetchQuery(sql);
    } catch (const data::DataError& e) {
        if (e.nativeCode() == kInvalidColumn || e.nativeCode() == kInvalidObject) {
            return std::nullopt;
        }
        throw;
    }
}

QString TextAt(const data::ResultTable& rows, int column, std::size_t r) {
    const data::FieldValue v = rows.value(column, r);
    return v.kind() == data::ValueKind::Text ? v.asText().toString() : QString();
}

QStringList Names(const std::optional<data::ResultTable>& rows) {
    QStringList names;
    if (!rows) return names;
    for (std::size_t r = 0; r < rows->rowCount(); ++r) names << TextAt(*rows, 0, r);
    return names;
}

int IntegerAt(const data::ResultTable& rows, int column, std::size_t r) {
    const data::FieldValue v = rows.value(column, r);
    if (v.kind() == data::ValueKind::Integer) return static_cast<int>(v.asInteger());
    return IsTrue(v) ? 1 : 0;
}

TableGuards ReadGuards(data::Connection& connection, const catalogue::TableName& table) {
    const GuardQueries queries = GuardQueriesFor(table);
    TableGuards guards;
    guards.triggers = Names(FetchIfKnown(connection, queries.triggers));
    if (const auto rows = FetchIfKnown(connection, queries.references)) {
        for (std::size_t r = 0; r < rows->rowCount(); ++r) {
            const QString schema = TextAt(*rows, 1, r);
            guards.references.push_back(
                {TextAt(*rows, 0, r),
                 schema.isEmpty() ? TextAt(*rows, 2, r) : schema + u'.' + TextAt(*rows, 2, r),
                 IntegerAt(*rows, 3, r), IntegerAt(*rows, 4, r)});
        }
    }
    guards.periodColumns = Names(FetchIfKnown(connection, queries.periodColumns));
    if (const auto rows = FetchIfKnown(connection, queries.memoryOptimized);
        rows && rows->rowCount() > 0) {
        guards.memoryOptimized = IntegerAt(*rows, 0, 0) != 0;
    }
    if (const auto rows = FetchIfKnown(connection, queries.rowFilter);
        rows && rows->rowCount() > 0) {
        guards.rowFilter = IntegerAt(*rows, 0, 0) != 0;
    }
    guards.masked = Names(FetchIfKnown(connection, queries.masked));
    return guards;
}

}  // namespace

QString UnnamedColumnsText(const QString& queryName, const std::exception_ptr& cause) {
    // The server's own words name [q], the derived table the query runs in,
    // which the user never wrote.
    constexpr int kNoColumnName = 8155;
    constexpr int kColumnNamedTwice = 8156;
    try {
        std::rethrow_exception(cause);
    } catch (const data::DataError& e) {
        if (e.nativeCode() == kNoColumnName) {
            return QStringLiteral(
                       "%1 cannot be compared: a column of it has no name. Name "
                       "each such column with AS, as in count(*) AS Total.")
                .arg(AtSentenceStart(queryName));
        }
        if (e.nativeCode() == kColumnNamedTwice) {
            return QStringLiteral(
                       "%1 cannot be compared: two of its columns have the same "
                       "name. Give each its own name with AS, as in B.Id AS BId.")
                .arg(AtSentenceStart(queryName));
        }
    } catch (...) {
    }
    return QString();
}

QueryFailed::QueryFailed(const QString& queryName, const std::exception_ptr& cause)
    : KeyProblem([&] {
          const QString unnamed = UnnamedColumnsText(queryName, cause);
          if (!unnamed.isEmpty()) return unnamed;
          return QStringLiteral("%1 could not be run: %2")
              .arg(AtSentenceStart(queryName), app::DescribeFailure(cause));
      }()) {}

TableShape DescribeTable(data::Connection& connection, const catalogue::TableName& table,
                         ShapeWanted wanted) {
    TableShape shape;
    // No rows: the columns and their types only.
    shape.columns = connection.FetchQuery(DescribeQuery(table)).withoutRows();
    if (wanted.primaryKey && !table.isQuery()) {
        shape.primaryKey = connection.PrimaryKeyColumns(table.schema, table.name);
    }
    if (wanted.fills) shape.fills = ReadColumnFills(connection, table);
    if (wanted.fills && !table.isQuery()) shape.guards = ReadGuards(connection, table);
    return shape;
}

QString KeyOrder(const data::ResultTable& columns, const std::vector<int>& keyColumns) {
    QString sql = QStringLiteral(" order by ");
    for (std::size_t k = 0; k < keyColumns.size(); ++k) {
        const data::Column& column = columns.column(keyColumns[k]);
        if (k > 0) sql += QStringLiteral(", ");
        const QString name = QuotedIdentifier(column.name());
        if (column.kind() == data::ValueKind::Text) {
            // The comparison orders texts code unit by code unit, blank-padded,
            // which is how a binary collation orders their UTF-16 form; the
            // column's own collation may ignore case or accents. Texts equal
            // when padded come shorter first, as the comparison takes them.
            sql += QStringLiteral(
                       "cast(%1 as nvarchar(max)) collate Latin1_General_BIN2, "
                       "datalength(cast(%1 as nvarchar(max)))")
                       .arg(name);
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
    const auto wait = [&](TableReader& reader, const catalogue::TableName& table) {
        for (;;) {
            try {
                if (reader.Answered(kWaitSliceMs)) return;
            } catch (...) {
                // A cancel now interrupts the work at once, often before the
                // caller's next turn: that turn says how a cancel ends its
                // wait (it throws its own stop).
                if (reader.stage() == TableReader::Stage::Cancelled) whileWaiting();
                // A table the lists showed is there; a query may name what is
                // not, on either side.
                if (!table.isQuery()) throw;
                throw QueryFailed(table.name, std::current_exception());
            }
            whileWaiting();
        }
    };
    wait(firstReader, first);
    wait(secondReader, second);
    return {std::move(*firstShape), std::move(*secondShape)};
}

}  // namespace compare
