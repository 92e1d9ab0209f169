#pragma once

#include <QString>
#include <optional>

#include "CompareOptions.h"
#include "Side.h"
#include "SideNames.h"
#include "TableCatalogue.h"

namespace windows {

// A query a table list reads in place of a table, as the user gave it in the
// query editor: its SQL, its key columns as typed (comma-separated; used
// when records are paired by key) and the name the lines give it.
struct QueryChoice {
    QString sql;
    QString key;
    QString name;

    bool operator==(const QueryChoice&) const = default;

    // The name a side's query goes by until the user gives it another:
    // "the first query", "the second query".
    static QString DefaultName(compare::Side side);
    // The side as the run reads it.
    catalogue::TableName table() const;
};

// The side's query as last stored, and whether its list had it chosen; an
// empty SQL when there is none.
struct StoredQuery {
    QueryChoice query;
    bool chosen = false;
};
StoredQuery ReadStoredQuery(compare::Side side);
// Stores it at once (an empty SQL: the side has no query).
void StoreQuery(compare::Side side, const QueryChoice& query);
void StoreQueryChosen(compare::Side side, bool chosen);

// Records paired by key with a query side: a query has no primary key, so
// the key is the columns its editor names. When the records are paired by
// the first table's primary key (options.key.automatic) and a side is a
// query, the key becomes its key columns (the first query's, when both are
// queries: then both must name the same). Throws OptionProblem when a query
// names none, when two queries name different keys, and when a key cannot
// be read. Keys named for the pair (the options dialog) stand as they are.
// first, second: the sides' queries, when the lists have them chosen.
void ApplyQueryKeys(compare::RunOptions& options, const std::optional<QueryChoice>& first,
                    const std::optional<QueryChoice>& second);

// Why two sides with a query among them cannot be compared, or empty: the
// same query on the same database, or two sides the lines would name alike
// (a query named as the other side is).
QString QueryChoiceRefusal(const compare::SideTable& first, const compare::SideTable& second,
                           const compare::SideNames& names);

}  // namespace windows
