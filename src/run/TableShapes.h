#pragma once

#include <exception>
#include <functional>

#include "DataAccess.h"
#include "RecordKey.h"
#include "TableCatalogue.h"

namespace compare {

// What DescribeTable asks of the server beside the columns.
struct ShapeWanted {
    bool primaryKey = false;
    bool fills = false;
};

// A table's shape as its connection tells it, for pairing by key.
TableShape DescribeTable(data::Connection& connection, const catalogue::TableName& table,
                         ShapeWanted wanted);

// The clause that orders a table's rows by the key's columns (" order by
// ..."), in the order the comparison merges by: numbers, dates and bytes as
// the server orders them, texts code unit by code unit (a binary collation
// over their Unicode form, whatever the column's own collation). keyColumns
// index `columns`, the table's described columns.
QString KeyOrder(const data::ResultTable& columns, const std::vector<int>& keyColumns);

// The one line for a query side whose columns the server would not take as
// a derived table's (one without a name, a name twice: the server's 8155
// and 8156), asking for names given with AS; empty for any other failure.
QString UnnamedColumnsText(const QString& queryName, const std::exception_ptr& cause);

// A query side the server would not run (a table it names is not there, a
// column misspelt): the message names the query and gives the server's
// reason. A KeyProblem too, so that whoever shows a refusal before any row
// is read shows this the same way.
class QueryFailed : public KeyProblem {
public:
    QueryFailed(const QString& queryName, const std::exception_ptr& cause);
};

class TableReader;

// Both tables' columns (and what else each side wants), learnt
// through their readers at once -- both connected, neither queried yet.
// whileWaiting runs between short waits (it may throw to stop). Throws what
// the readers threw.
struct TableShapes {
    TableShape first;
    TableShape second;
};
TableShapes DescribeTables(TableReader& firstReader, TableReader& secondReader,
                           const catalogue::TableName& first, const catalogue::TableName& second,
                           ShapeWanted firstWanted, ShapeWanted secondWanted,
                           const std::function<void()>& whileWaiting);

}  // namespace compare
