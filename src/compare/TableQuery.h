#pragma once

#include <QString>

#include "TableCatalogue.h"

namespace compare {

// A name as a bracketed identifier with every "]" doubled, so that blanks,
// reserved words and crafted names cannot break out of it.
QString QuotedIdentifier(const QString& name);

// The query that reads a whole table, named with both its parts
// ("select * from [sales].[Orders]"), or its name alone when it has no schema.
QString SelectAllFrom(const catalogue::TableName& table);

// The server's estimate of a table's rows, cheap whatever its size (the rows
// its partitions count): one bigint, or NULL when the table is not there.
QString RowCountEstimateQuery(const catalogue::TableName& table);

}  // namespace compare
