#pragma once

#include <QString>
#include <vector>

#include "DifferenceSink.h"
#include "ErrorTrap.h"
#include "ResultTable.h"

namespace compare {

// The comparison engine: pairs the records of two tables by position and
// their fields by position, and reports every difference to a sink -- field
// changes record by record, then the records one table has beyond the other.
// It runs as numbered steps of the caller's error trap: a failing step is
// reported with its number and the run goes on with the next one, so the
// caller's report texts and numbers are those of its own handler.
class TableComparison {
public:
    // The rows of both tables ([field][record]), the highest field position
    // compared, and the field names of the first table by position.
    TableComparison(const data::ResultTable& firstRows, const data::ResultTable& secondRows,
                    int lastField, const std::vector<QString>& fieldNames);

    void Run(app::ErrorTrap& trap, DifferenceSink& sink) const;

private:
    const data::ResultTable& first_;
    const data::ResultTable& second_;
    int lastField_;
    const std::vector<QString>& fieldNames_;
};

}  // namespace compare
