#pragma once

#include <QString>
#include <QStringList>
#include <vector>

#include "ResultTable.h"
#include "TableCatalogue.h"

namespace compare {

// What the server hashes of one column: its name, its kind as read, the
// ODBC type the driver reported, (exact numbers) the scale both sides'
// columns fit in, and the size the driver described (a date and time's
// characters: 23 for datetime).
struct HashedColumn {
    QString name;
    data::ValueKind kind;
    int sqlType = 0;
    int scale = 0;
    std::int64_t declaredSize = 0;
};

// Why a column cannot be hashed soundly (a kind the encoding does not
// cover: xml, sql_variant, datetimeoffset ...), or empty.
QString UnhashableColumnProblem(const HashedColumn& column);

// The row as the server hashes it: an injective, type-tagged byte string
// over the columns, in order, built from varbinary(max) so that nothing is
// cut at 8,000 bytes. Each column gives 0x00 for NULL, else 0x01 and its
// value: integers as 8 bytes, floats as their 8 bytes, exact numbers and
// dates as fixed text ended by 0x00 (datetime at milliseconds, as it is read), texts as a length
// and their UTF-16 bytes (never through varchar), binaries with their length.
QString RowEncoding(const std::vector<HashedColumn>& columns);

// One range of keys: every record above `after` (none: from the first) up to
// and including `upTo` (none: to the last), the bounds as T-SQL literals of
// the key's columns. nullKeys: instead, the records with a NULL in a key
// column, which no range holds.
struct KeyRange {
    QStringList after;
    QStringList upTo;
    bool nullKeys = false;
};

// The range as a condition on the key's columns (names as the table's),
// in the server's own order of their values.
QString RangeCondition(const QStringList& keyColumns, const KeyRange& range);

// The statement that hashes a range of a table: count_big(*) and two sums
// of 32-bit slices of each row's SHA-256, over the rows the condition
// (may be empty) and the range hold.
QString SegmentHashQuery(const catalogue::TableName& table,
                         const std::vector<HashedColumn>& columns, const QStringList& keyColumns,
                         const KeyRange& range, const QString& condition);

// The keys every `step` records of a table's range, in key order: the
// bounds of the segments it splits into.
QString SegmentBoundsQuery(const catalogue::TableName& table, const QStringList& keyColumns,
                           const KeyRange& range, const QString& condition, qint64 step);

// The key `rows` records into a range from its start, or from its end (the
// farthest when it holds fewer; no row when it holds none): a short read of
// the index, where the bounds of all segments scan every key.
QString EdgeBoundQuery(const catalogue::TableName& table, const QStringList& keyColumns,
                       const KeyRange& range, const QString& condition, qint64 rows, bool fromEnd);

// How the server says which columns lead its indexes (is_unique,
// key_ordinal, the column's name) and each column's collation and scale.
QString IndexColumnsQuery(const catalogue::TableName& table);
QString ColumnCollationsQuery(const catalogue::TableName& table);

}  // namespace compare
