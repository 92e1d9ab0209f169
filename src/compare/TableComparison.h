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
    // The highest field position compared, and the first table's field names by position.
    TableComparison(int lastField, const std::vector<QString>& fieldNames);

    void Run(app::ErrorTrap& trap, RowBlocks& first, RowBlocks& second, DifferenceSink& sink) const;

private:
    int lastField_;
    const std::vector<QString>& fieldNames_;
};

}  // namespace compare
