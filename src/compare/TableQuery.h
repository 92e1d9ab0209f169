#pragma once

#include <QString>
#include <QStringList>

#include "TableCatalogue.h"

namespace compare {

// A name as a bracketed identifier with every "]" doubled, so that blanks,
// reserved words and crafted names cannot break out of it.
QString QuotedIdentifier(const QString& name);

// A table as statements name it: "[sales].[Orders]", or "[Orders]" when it
// has no schema.
QString QualifiedName(const catalogue::TableName& table);

// The query that reads a whole table, named with both its parts
// ("select * from [sales].[Orders]"), or its name alone when it has no schema.
QString SelectAllFrom(const catalogue::TableName& table);

// The query that reads the columns listed of a table (all of them, "*", when
// none is), and only the rows a condition holds for when one is given:
// "select [Id], [Name] from [sales].[Orders] where (CONDITION)". The
// condition stays in parentheses, so that an "or" in it cannot reach past it
// (an "order by" may follow); it must have passed RowConditionProblem.
QString SelectFrom(const catalogue::TableName& table, const QStringList& columns,
                   const QString& condition);

// Why a row condition typed by the user cannot go into a query's WHERE, or
// nothing when it can. It must stay one condition of that one statement:
// outside quoted texts ('...'), quoted names ("..." and [...]) its
// parentheses balance and it holds no ";" (a second statement), "--" or "/*"
// (a comment that would cut off the rest of the query); a quote left open
// is refused too.
QString RowConditionProblem(QStringView condition);

// The server's estimate of a table's rows, cheap whatever its size (the rows
// its partitions count): one bigint, or NULL when the table is not there.
QString RowCountEstimateQuery(const catalogue::TableName& table);

// How the server fills each of a table's columns, in column order: name,
// is_identity, is_computed and system_type_id (189: a rowversion).
QString ColumnFillsQuery(const catalogue::TableName& table);

}  // namespace compare
