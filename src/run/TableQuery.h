#pragma once

#include <QString>
#include <QStringList>

#include "ResultTable.h"
#include "TableCatalogue.h"
#include "UserQuery.h"

namespace compare {

// A query side's query, checked; throws OptionProblem saying why it is refused.
UserQuery CheckedQuery(const catalogue::TableName& table);

// The query that reads a whole table, named with both its parts
// ("select * from [sales].[Orders]"), or its name alone when it has no schema.
// A query side runs as a derived table; one with an ORDER BY of its own is
// read in that order by the select around it (OptionProblem when its ORDER
// BY cannot order that select).
QString SelectAllFrom(const catalogue::TableName& table);

// Whether a column holds a code page's bytes (char, varchar, text), which
// the server is to convert: the driver turns each byte its own tables leave
// unmapped (0x81 in CP1252 ...) into '?', where the server maps every byte as
// Windows does.
bool ReadThroughUnicode(const data::Column& column);

// How a query reads a described column: "[Name]", or for a column of a code
// page's bytes "cast([Name] as nvarchar(20)) as [Name]" (nvarchar(max) for
// the long ones), under its own name.
QString SelectItem(const data::Column& column);

// The query that reads the items listed of a table (SelectItem; all of its
// columns, "*", when none is), and only the rows a condition holds for when
// one is given: "select [Id], [Name] from [sales].[Orders] where (CONDITION)". The
// condition stays in parentheses, so that an "or" in it cannot reach past it
// (an "order by" may follow); it must have passed RowConditionProblem. A
// query side reads from its query as the derived table [q].
QString SelectFrom(const catalogue::TableName& table, const QStringList& items,
                   const QString& condition);

// The columns of a table or a query side, without rows ("... where 1 = 0").
QString DescribeQuery(const catalogue::TableName& table);

// The server's estimate of a table's rows, cheap whatever its size (the rows
// its partitions count): one bigint, or NULL when the table is not there;
// none (empty) for a query side.
QString RowCountEstimateQuery(const catalogue::TableName& table);

// How the server fills each of a table's columns, in column order: name,
// is_identity, is_computed, system_type_id (189: a rowversion; 167, 175, 35:
// varchar, char, text) and collation_name.
QString ColumnFillsQuery(const catalogue::TableName& table);

// What a script's statements set off in a table and what the server keeps
// from the login reading it: each query's answer, one row a name unless said.
struct GuardQueries {
    QString triggers;         // enabled triggers
    QString references;       // foreign keys naming it: name, schema, table, on delete, on update
    QString periodColumns;    // GENERATED ALWAYS columns
    QString memoryOptimized;  // one bit
    QString rowFilter;        // a count of security predicates
    QString masked;           // columns masked from this login
};
GuardQueries GuardQueriesFor(const catalogue::TableName& table);

}  // namespace compare
