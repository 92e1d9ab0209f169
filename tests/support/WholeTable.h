#pragma once

#include "ResultTable.h"
#include "RowBlocks.h"

namespace testing_support {

// A table read whole: one block (none for a table without rows).
class WholeTable final : public compare::RowBlocks {
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

}  // namespace testing_support
