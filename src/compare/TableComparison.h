#pragma once

#include <QString>
#include <vector>

#include "DifferenceSink.h"
#include "ErrorTrap.h"
#include "RowBlocks.h"

namespace compare {

// The comparison engine: pairs the records of two tables by position and
// their fields by position, and reports every difference to a sink -- field
// changes record by record, then the records one table has beyond the other.
// Rows are taken block by block as they arrive, so a table of any size passes
// through in the memory of a block.
//
// It runs as numbered steps of the caller's error trap: a failing step is
// reported with its number and the run goes on with the next one, so the
// caller's report texts and numbers are those of its own handler. A block that
// cannot be read is no step: that failure leaves Run for the caller to report.
class TableComparison {
public:
    // Fields by position: 0 to lastField of both tables, named by the first
    // table's field names by position.
    TableComparison(int lastField, const std::vector<QString>& fieldNames);

    // Fields by name: each field of the first table with the second table's
    // field of the same name, compared without case as SQL Server compares
    // names (the first table's order and names); a field only one table has
    // is reported once, before the records.
    static TableComparison ByName(const data::ResultTable& firstColumns,
                                  const data::ResultTable& secondColumns);

    void Run(app::ErrorTrap& trap, RowBlocks& first, RowBlocks& second, DifferenceSink& sink) const;

private:
    struct FieldPair {
        int first;
        int second;
        int name;  // into names_
    };
    TableComparison() = default;

    std::vector<FieldPair> pairs_;
    std::vector<QString> names_;
    std::vector<QString> onlyInFirst_;
    std::vector<QString> onlyInSecond_;
};

}  // namespace compare
