// The sides of a comparison as the command line gives them: a table named
// among the arguments, or a query (--query, --query-file and their right-
// forms) in its place.
#pragma once

#include <QCommandLineParser>
#include <QString>
#include <QStringList>

#include "TableCatalogue.h"

namespace cli {

// Adds the query options, in the order the help lists them.
void AddQueryOptions(QCommandLineParser& parser);

// One side: a table's name as the lists show it, or a query (then table is
// empty and query names it as the lines will).
struct SideSource {
    QString table;
    catalogue::TableName query;
    bool isQuery() const { return query.isQuery(); }
};

struct SideSources {
    SideSource first, second;
};

// The sides given: tables are the table names among the arguments, in order.
// The first side's query alone runs on both sides. A query is checked here,
// before anything reaches a server: one SELECT, only reading. Throws
// UsageError for sides that do not add up to two, Failure for a query file
// that cannot be read or a query that is refused.
SideSources ReadSideSources(const QCommandLineParser& parser, const QStringList& tables);

}  // namespace cli
