#pragma once

#include <QString>
#include <array>
#include <optional>

#include "CompareOptions.h"
#include "RecordKey.h"
#include "TableCatalogue.h"
#include "TableShapes.h"

namespace compare {

// What a run reads of each table: the two queries (the columns kept, the
// rows its condition holds, in the key's order when records are paired by
// key) and the key's columns among the fields those queries read.
struct QueryPlan {
    std::array<QString, 2> queries;
    std::optional<RecordKey> key;
};

// Throws KeyProblem when a key column the user names is also left out: said
// before either table is asked anything.
void RefuseNamedKeyLeftOut(const RunOptions& options);

// The plan for two tables. Without shapes (null) every column is read as
// the server sends it, records by position.
// Throws KeyProblem (OptionProblem among them) when the options cannot be
// had: a key or a column to leave out that the tables do not have, a key
// column left out, every column of a table left out.
QueryPlan PlanQueryText(const RunOptions& options, const catalogue::TableName& first,
                        const catalogue::TableName& second, const TableShapes* shapes);

}  // namespace compare
