#include "TableComparison.h"

#include <stdexcept>

#include "ValueRules.h"

namespace compare {

namespace {

// The current row of a table read in blocks.
class Cursor {
public:
    explicit Cursor(RowBlocks& blocks) : blocks_(blocks) {}

    // Whether there is a current row, fetching the next block when needed.
    bool ensure() {
        while (!done_ && (block_ == nullptr || row_ >= block_->rowCount())) {
            block_ = blocks_.Next();
            row_ = 0;
            done_ = block_ == nullptr;
        }
        return !done_;
    }
    void advance() { ++row_; }

    // The value at field f of the current row, or a failure when the row holds
    // no such field (a last field beyond this table's fields).
    data::FieldValue cell(int f) const {
        if (block_ == nullptr || f < 0 || f >= block_->fieldCount() || row_ >= block_->rowCount()) {
            throw std::out_of_range("Subscript out of range");
        }
        return block_->value(f, row_);
    }

    // Whether field f differs from that of the other cursor's row: from the
    // stored cells where they tell, by the value rules where they do not.
    bool differs(int f, const Cursor& other) const {
        if (block_ == nullptr || other.block_ == nullptr || f < 0 || f >= block_->fieldCount() ||
            f >= other.block_->fieldCount()) {
            throw std::out_of_range("Subscript out of range");
        }
        switch (data::CompareStored(block_->column(f), row_, other.block_->column(f), other.row_)) {
            case data::StoredComparison::Same:
                return false;
            case data::StoredComparison::Different:
                return true;
            case data::StoredComparison::Unknown:
                break;
        }
        return ValuesDiffer(cell(f), other.cell(f));
    }

private:
    RowBlocks& blocks_;
    const data::ResultTable* block_ = nullptr;
    std::size_t row_ = 0;
    bool done_ = false;
};

}  // namespace

TableComparison::TableComparison(int lastField, const std::vector<QString>& fieldNames)
    : lastField_(lastField), fieldNames_(fieldNames) {}

void TableComparison::Run(app::ErrorTrap& trap, RowBlocks& first, RowBlocks& second,
                          DifferenceSink& sink) const {
    Cursor a(first);
    Cursor b(second);
    // Reading is not a step: it happens outside the trap's tests, so that a
    // read failure leaves the run instead of being taken for a test's answer.
    std::int64_t j = 0;
    trap.step(208, [&] { j = 0; });
    for (std::int64_t r = 0; a.ensure(); ++r, a.advance()) {
        const bool secondHasRow = b.ensure();
        if (trap.test(212, [&] { return !secondHasRow; })) {
            trap.step(214, [&] { sink.RecordDeleted(r + 1); });
        } else {
            for (int f = 0; f <= lastField_; ++f) {
                if (trap.test(218, [&] { return a.differs(f, b); })) {
                    trap.step(220, [&] {
                        sink.FieldChanged(r + 1, fieldNames_.at(static_cast<std::size_t>(f)),
                                          a.cell(f), b.cell(f));
                    });
                }
            }
        }
        trap.step(224, [&] {
            ++j;
            if (secondHasRow) b.advance();
        });
    }
    for (;;) {
        const bool secondHasRow = b.ensure();
        if (!trap.test(228, [&] { return secondHasRow; })) break;
        trap.step(230, [&] { sink.RecordAdded(j + 1); });
        trap.step(232, [&] {
            ++j;
            b.advance();
        });
    }
}

}  // namespace compare
