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

    // Whether field f differs from field g of the other cursor's row: from the
    // stored cells where they tell, by the value rules where they do not.
    bool differs(int f, const Cursor& other, int g) const {
        if (block_ == nullptr || other.block_ == nullptr || f < 0 || g < 0 ||
            f >= block_->fieldCount() || g >= other.block_->fieldCount()) {
            throw std::out_of_range("Subscript out of range");
        }
        switch (data::CompareStored(block_->column(f), row_, other.block_->column(g), other.row_)) {
            case data::StoredComparison::Same:
                return false;
            case data::StoredComparison::Different:
                return true;
            case data::StoredComparison::Unknown:
                break;
        }
        return ValuesDiffer(cell(f), other.cell(g));
    }

private:
    RowBlocks& blocks_;
    const data::ResultTable* block_ = nullptr;
    std::size_t row_ = 0;
    bool done_ = false;
};

}  // namespace

TableComparison::TableComparison(int lastField, const std::vector<QString>& fieldNames)
    : names_(fieldNames) {
    for (int f = 0; f <= lastField; ++f) pairs_.push_back({f, f, f});
}

TableComparison TableComparison::ByName(const data::ResultTable& firstColumns,
                                        const data::ResultTable& secondColumns) {
    TableComparison c;
    std::vector<bool> paired(static_cast<std::size_t>(secondColumns.fieldCount()), false);
    for (int f = 0; f < firstColumns.fieldCount(); ++f) {
        const QString& name = firstColumns.column(f).name();
        const int g = secondColumns.indexOf(name);  // without case
        if (g < 0 || paired[static_cast<std::size_t>(g)]) {
            c.onlyInFirst_.push_back(name);
            continue;
        }
        paired[static_cast<std::size_t>(g)] = true;
        c.names_.push_back(name);
        c.pairs_.push_back({f, g, static_cast<int>(c.names_.size()) - 1});
    }
    for (int g = 0; g < secondColumns.fieldCount(); ++g) {
        if (!paired[static_cast<std::size_t>(g)]) {
            c.onlyInSecond_.push_back(secondColumns.column(g).name());
        }
    }
    return c;
}

void TableComparison::Run(app::ErrorTrap& trap, RowBlocks& first, RowBlocks& second,
                          DifferenceSink& sink) const {
    Cursor a(first);
    Cursor b(second);
    // Reading is not a step: it happens outside the trap's tests, so that a
    // read failure leaves the run instead of being taken for a test's answer.
    for (const QString& name : onlyInFirst_) trap.step(220, [&] { sink.FieldOnlyIn(name, true); });
    for (const QString& name : onlyInSecond_) {
        trap.step(220, [&] { sink.FieldOnlyIn(name, false); });
    }
    std::int64_t j = 0;
    trap.step(208, [&] { j = 0; });
    for (std::int64_t r = 0; a.ensure(); ++r, a.advance()) {
        const bool secondHasRow = b.ensure();
        if (trap.test(212, [&] { return !secondHasRow; })) {
            trap.step(214, [&] { sink.RecordDeleted(r + 1); });
        } else {
            for (const FieldPair& p : pairs_) {
                if (trap.test(218, [&] { return a.differs(p.first, b, p.second); })) {
                    trap.step(220, [&] {
                        sink.FieldChanged(r + 1, names_.at(static_cast<std::size_t>(p.name)),
                                          a.cell(p.first), b.cell(p.second));
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
