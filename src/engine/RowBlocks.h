#pragma once

#include "ResultTable.h"

namespace compare {

// A table's rows as they arrive, one block after another, in the order the
// server returns them: the comparison never needs more than the current
// block of each table.
class RowBlocks {
public:
    virtual ~RowBlocks() = default;
    // The next block (one row or more), or null once every row was given. The
    // block stays valid until the next call. Throws when the rows cannot be read.
    virtual const data::ResultTable* Next() = 0;
};

}  // namespace compare
