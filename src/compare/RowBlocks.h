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

// A table read whole: one block.
class WholeTable final : public RowBlocks {
public:
    explicit WholeTable(const data::ResultTable& rows) : rows_(&rows) {}
    const data::ResultTable* Next() override {
        const data::ResultTable* out = rows_ != nullptr && rows_->rowCount() > 0 ? rows_ : nullptr;
        rows_ = nullptr;
        return out;
    }

private:
    const data::ResultTable* rows_;
};

}  // namespace compare
