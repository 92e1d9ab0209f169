#include "TableComparison.h"

#include <stdexcept>

#include "ValueRules.h"
#include "ValueText.h"

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
    void advance() {
        ++row_;
        ++taken_;
    }
    // The rows gone past.
    std::int64_t taken() const { return taken_; }
    // The current block and row, once ensure() said there is one.
    const data::ResultTable& block() const { return *block_; }
    std::size_t row() const { return row_; }
    // The current row, for a sink that takes whole records.
    RecordRow here() const { return {block_, row_}; }

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
    bool differs(int f, const Cursor& other, int g, const ValueOptions& options) const {
        if (block_ == nullptr || other.block_ == nullptr || f < 0 || g < 0 ||
            f >= block_->fieldCount() || g >= other.block_->fieldCount()) {
            throw std::out_of_range("Subscript out of range");
        }
        switch (data::CompareStored(block_->column(f), row_, other.block_->column(g), other.row_)) {
            case data::StoredComparison::Same:
                return false;
            case data::StoredComparison::Different:
                if (!options.any()) return true;
                break;  // the options may yet make them equal
            case data::StoredComparison::Unknown:
                break;
        }
        if (options.any()) return ValuesDifferUnder(cell(f), other.cell(g), options);
        return ValuesDiffer(cell(f), other.cell(g));
    }

private:
    RowBlocks& blocks_;
    const data::ResultTable* block_ = nullptr;
    std::size_t row_ = 0;
    std::int64_t taken_ = 0;
    bool done_ = false;
};

// Counts a record pair's changed fields, and the records that differ
// against the run's limit.
class Tally {
public:
    Tally(RunSummary& summary, std::int64_t limit) : s_(summary), limit_(limit) {}
    void fieldChanged() {
        if (changedThisRecord_++ == 0) ++s_.changedRecords;
        ++s_.changedFields;
    }
    void pairDone() {
        ++s_.compared;
        changedThisRecord_ = 0;
    }
    void deleted() { ++s_.deleted; }
    void added() { ++s_.added; }
    void notUnique() { ++s_.notUnique; }
    // Whether the run has reached its limit: once a record is done.
    bool atLimit() const { return limit_ > 0 && s_.differingRecords() >= limit_; }

private:
    RunSummary& s_;
    std::int64_t limit_;
    std::int64_t changedThisRecord_ = 0;
};

// A table's rows in key order: its current record's key, and whether that
// key follows the one before it -- checked once per record as it becomes
// current. The key before is read in place within a block; the last one of
// a block is kept, since the block goes back to its reader.
class KeyedCursor {
public:
    KeyedCursor(RowBlocks& blocks, const std::vector<int>& columns, bool firstTable)
        : rows_(blocks), columns_(columns), firstTable_(firstTable) {}

    // Whether there is a current record; notUnique is set when its key is
    // the one of the record before and that is not yet reported.
    bool ensure(bool& notUnique) {
        notUnique = false;
        if (!rows_.ensure()) return false;
        if (checked_) return true;
        checked_ = true;
        if (rows_.row() == 0 && !kept_) return true;  // the first record
        int order = 0;
        if (rows_.row() > 0) {
            order = compareWith(rows_.block(), rows_.row() - 1);
        } else {
            order = compareWith(last_, 0);
        }
        if (order < 0) {
            throw KeyOrderBroken(
                firstTable_,
                rows_.row() > 0 ? keyText(rows_.block(), rows_.row() - 1) : keyText(last_, 0),
                keyText(rows_.block(), rows_.row()));
        }
        if (order == 0) {
            notUnique = !repeatReported_;
            repeatReported_ = true;
        } else {
            repeatReported_ = false;
        }
        return true;
    }

    void advance() {
        if (rows_.row() + 1 >= rows_.block().rowCount()) keep();
        rows_.advance();
        checked_ = false;
    }

    const Cursor& rows() const { return rows_; }
    Cursor& rows() { return rows_; }

    // The order of this record's key against the other table's record's key.
    int compareKeys(const KeyedCursor& other) const {
        for (std::size_t k = 0; k < columns_.size(); ++k) {
            const int order =
                CompareKeyValues(rows_.block().value(columns_[k], rows_.row()),
                                 other.rows_.block().value(other.columns_[k], other.rows_.row()));
            if (order != 0) return order;
        }
        return 0;
    }

    // The current record as lines name it, by the key's names.
    RecordName name(const std::vector<QString>& names) const {
        return RecordName::Keyed(keyText(rows_.block(), rows_.row(), &names));
    }

private:
    // The current key against the key at row of table (0 when equal; negative
    // when the current one comes first).
    int compareWith(const data::ResultTable& table, std::size_t row) const {
        const bool inPlace = &table == &rows_.block();
        for (std::size_t k = 0; k < columns_.size(); ++k) {
            const int at = inPlace ? columns_[k] : static_cast<int>(k);
            const int order = CompareKeyValues(rows_.block().value(columns_[k], rows_.row()),
                                               table.value(at, row));
            if (order != 0) return order;
        }
        return 0;
    }

    void keep() {
        const data::ResultTable& block = rows_.block();
        if (!kept_) {
            for (const int f : columns_) {
                last_.addColumn(block.column(f).name(), block.column(f).kind());
            }
            kept_ = true;
        }
        last_.clearRows();
        for (std::size_t k = 0; k < columns_.size(); ++k) {
            last_.column(static_cast<int>(k)).append(block.value(columns_[k], rows_.row()));
        }
    }

    // "id=7", or "(CustomerID=5,OrderID=1006)" for a key of several columns.
    QString keyText(const data::ResultTable& table, std::size_t row,
                    const std::vector<QString>* names = nullptr) const {
        const bool inPlace = &table == &rows_.block();
        QString out;
        if (columns_.size() > 1) out += u'(';
        for (std::size_t k = 0; k < columns_.size(); ++k) {
            const int at = inPlace ? columns_[k] : static_cast<int>(k);
            if (k > 0) out += u',';
            out += names != nullptr ? names->at(k) : table.column(at).name();
            out += u'=';
            out += KeyValueText(table.value(at, row), formatter_);
        }
        if (columns_.size() > 1) out += u')';
        return out;
    }

    Cursor rows_;
    const std::vector<int>& columns_;
    bool firstTable_;
    bool checked_ = false;         // the current record's key was checked
    bool repeatReported_ = false;  // the current run of one key was reported
    bool kept_ = false;
    data::ResultTable last_;  // the key of the last record of the block before
    const ValueFormatter formatter_;
};

}  // namespace

KeyOrderBroken::KeyOrderBroken(bool inFirstTable, QString before, QString after)
    : std::runtime_error("records not in key order"),
      inFirstTable_(inFirstTable),
      before_(std::move(before)),
      after_(std::move(after)) {}

QString KeyOrderBroken::message(const QString& tableName) const {
    return QStringLiteral(
               "The records of %1 do not come in the order of their key (%2 came after %3), "
               "so they cannot be paired by key.")
        .arg(tableName, after_, before_);
}

TableComparison::TableComparison(int lastField, const std::vector<QString>& fieldNames)
    : names_(fieldNames) {
    for (int f = 0; f <= lastField; ++f) pairs_.push_back({f, f, f});
}

TableComparison::TableComparison(int lastField, const std::vector<QString>& fieldNames,
                                 const data::ResultTable& firstColumns,
                                 const data::ResultTable& secondColumns)
    : TableComparison(lastField, fieldNames) {
    for (int f = lastField + 1; f < firstColumns.fieldCount(); ++f) {
        onlyInFirst_.push_back(firstColumns.column(f).name());
    }
    for (int g = lastField + 1; g < secondColumns.fieldCount(); ++g) {
        onlyInSecond_.push_back(secondColumns.column(g).name());
    }
}

TableComparison TableComparison::ByName(const data::ResultTable& firstColumns,
                                        const data::ResultTable& secondColumns) {
    return Mapped(firstColumns, secondColumns, {}, true);
}

std::vector<int> PairColumns(const QStringList& firstColumns, const QStringList& secondColumns,
                             const std::vector<ColumnMapping>& map, bool byName) {
    const auto at = [](qsizetype k) { return static_cast<std::size_t>(k); };
    const auto indexOf = [](const QStringList& names, const QString& name) {
        const int k = data::FindName(names, name);
        return k >= 0 ? k : -1;
    };
    std::vector<int> pairedWith(at(firstColumns.size()), -1);
    std::vector<bool> taken(at(secondColumns.size()), false);
    for (const ColumnMapping& m : map) {
        const int f = data::FindName(firstColumns, m.first);
        const int g = data::FindName(secondColumns, m.second);
        if (f == data::kNameDiffersOnlyByCase || g == data::kNameDiffersOnlyByCase) {
            throw OptionProblem(
                QStringLiteral("The columns cannot be mapped: a table has several columns named "
                               "\"%1\" but for case; write the name as it is written there.")
                    .arg(f == data::kNameDiffersOnlyByCase ? m.first : m.second));
        }
        if (f < 0 || g < 0) {
            throw OptionProblem(
                QStringLiteral("The columns cannot be mapped: a table has no column \"%1\".")
                    .arg(f < 0 ? m.first : m.second));
        }
        pairedWith[at(f)] = g;
        taken[at(g)] = true;
    }
    int next = 0;  // by position: the second table's next column the map leaves
    for (qsizetype f = 0; f < firstColumns.size(); ++f) {
        int& g = pairedWith[at(f)];
        if (g >= 0) continue;
        if (byName) {
            g = indexOf(secondColumns, firstColumns[f]);
            if (g >= 0 && taken[at(g)]) g = -1;
        } else {
            while (next < secondColumns.size() && taken[at(next)]) ++next;
            if (next < secondColumns.size()) g = next++;
        }
        if (g >= 0) taken[at(g)] = true;
    }
    return pairedWith;
}

TableComparison TableComparison::Mapped(const data::ResultTable& firstColumns,
                                        const data::ResultTable& secondColumns,
                                        const std::vector<ColumnMapping>& map, bool byName) {
    const std::vector<int> pairedWith =
        PairColumns(data::ColumnNames(firstColumns), data::ColumnNames(secondColumns), map, byName);
    TableComparison c;
    std::vector<bool> paired(static_cast<std::size_t>(secondColumns.fieldCount()), false);
    for (int f = 0; f < firstColumns.fieldCount(); ++f) {
        const QString& name = firstColumns.column(f).name();
        const int g = pairedWith[static_cast<std::size_t>(f)];
        if (g < 0) {
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

std::vector<FieldPairing> TableComparison::Pairs() const {
    std::vector<FieldPairing> pairs;
    for (const FieldPair& p : pairs_) {
        pairs.push_back({p.first, p.second, names_.at(static_cast<std::size_t>(p.name))});
    }
    return pairs;
}

void TableComparison::reportFieldsOnlyInOne(Steps& trap, DifferenceSink& sink) const {
    for (const QString& name : onlyInFirst_) trap.step(220, [&] { sink.FieldOnlyIn(name, true); });
    for (const QString& name : onlyInSecond_) {
        trap.step(220, [&] { sink.FieldOnlyIn(name, false); });
    }
}

RunSummary TableComparison::Run(Steps& trap, RowBlocks& first, RowBlocks& second,
                                DifferenceSink& sink) const {
    if (!key_.first.empty()) return runByKey(trap, first, second, sink);
    RunSummary summary;
    summary.limit = limit_;
    Tally tally(summary, limit_);
    Cursor a(first);
    Cursor b(second);
    const auto counted = [&] {
        summary.firstRead = a.taken();
        summary.secondRead = b.taken();
        return summary;
    };
    // Reading is not a step: it happens outside the trap's tests, so that a
    // read failure leaves the run instead of being taken for a test's answer.
    reportFieldsOnlyInOne(trap, sink);
    summary.fieldsOnlyInOne = static_cast<std::int64_t>(onlyInFirst_.size() + onlyInSecond_.size());
    std::int64_t j = 0;
    trap.step(208, [&] { j = 0; });
    for (std::int64_t r = 0; a.ensure(); ++r, a.advance()) {
        const bool secondHasRow = b.ensure();
        if (trap.test(212, [&] { return !secondHasRow; })) {
            tally.deleted();
            trap.step(214, [&] {
                sink.RecordDeleted(r + 1);
                sink.RecordsDiffer(a.here(), {});
            });
        } else {
            bool changed = false;
            for (const FieldPair& p : pairs_) {
                if (trap.test(218, [&] { return a.differs(p.first, b, p.second, values_); })) {
                    changed = true;
                    tally.fieldChanged();
                    trap.step(220, [&] {
                        sink.FieldChanged(r + 1, names_.at(static_cast<std::size_t>(p.name)),
                                          a.cell(p.first), b.cell(p.second));
                    });
                }
            }
            if (changed) trap.step(220, [&] { sink.RecordsDiffer(a.here(), b.here()); });
            tally.pairDone();
        }
        trap.step(224, [&] {
            ++j;
            if (secondHasRow) b.advance();
        });
        if (tally.atLimit()) {
            a.advance();
            summary.stoppedAtLimit = a.ensure() || b.ensure();
            return counted();
        }
    }
    for (;;) {
        const bool secondHasRow = b.ensure();
        if (!trap.test(228, [&] { return secondHasRow; })) break;
        tally.added();
        trap.step(230, [&] {
            sink.RecordAdded(j + 1);
            sink.RecordsDiffer({}, b.here());
        });
        trap.step(232, [&] {
            ++j;
            b.advance();
        });
        if (tally.atLimit()) {
            summary.stoppedAtLimit = b.ensure();
            return counted();
        }
    }
    return counted();
}

// Both tables in key order, merged in one pass: the smaller key is a record
// only its table has; equal keys pair their records field by field.
RunSummary TableComparison::runByKey(Steps& trap, RowBlocks& first, RowBlocks& second,
                                     DifferenceSink& sink) const {
    RunSummary summary;
    summary.limit = limit_;
    Tally tally(summary, limit_);
    KeyedCursor a(first, key_.first, true);
    KeyedCursor b(second, key_.second, false);
    reportFieldsOnlyInOne(trap, sink);
    summary.fieldsOnlyInOne = static_cast<std::int64_t>(onlyInFirst_.size() + onlyInSecond_.size());
    for (;;) {
        if (tally.atLimit()) {
            // Whether anything is left, without judging its key's order.
            summary.stoppedAtLimit = a.rows().ensure() || b.rows().ensure();
            break;
        }
        bool aRepeats = false, bRepeats = false;
        const bool aHas = a.ensure(aRepeats);
        const bool bHas = b.ensure(bRepeats);
        if (aRepeats) {
            tally.notUnique();
            trap.step(254, [&] { sink.RecordNotUnique(a.name(key_.names), true); });
        }
        if (bRepeats) {
            tally.notUnique();
            trap.step(254, [&] { sink.RecordNotUnique(b.name(key_.names), false); });
        }
        if (!aHas && !bHas) break;
        int order = 0;
        if (!bHas) {
            order = -1;
        } else if (!aHas) {
            order = 1;
        } else if (!trap.step(218, [&] { order = a.compareKeys(b); })) {
            order = 0;  // a key that cannot be compared pairs the records, as a field goes on
        }
        if (order < 0) {
            tally.deleted();
            trap.step(214, [&] {
                sink.RecordDeleted(a.name(key_.names));
                sink.RecordsDiffer(a.rows().here(), {});
            });
            a.advance();
        } else if (order > 0) {
            tally.added();
            trap.step(230, [&] {
                sink.RecordAdded(b.name(key_.names));
                sink.RecordsDiffer({}, b.rows().here());
            });
            b.advance();
        } else {
            bool changed = false;
            for (const FieldPair& p : pairs_) {
                if (trap.test(218, [&] {
                        return a.rows().differs(p.first, b.rows(), p.second, values_);
                    })) {
                    changed = true;
                    tally.fieldChanged();
                    trap.step(220, [&] {
                        sink.FieldChanged(a.name(key_.names),
                                          names_.at(static_cast<std::size_t>(p.name)),
                                          a.rows().cell(p.first), b.rows().cell(p.second));
                    });
                }
            }
            if (changed)
                trap.step(220, [&] { sink.RecordsDiffer(a.rows().here(), b.rows().here()); });
            tally.pairDone();
            a.advance();
            b.advance();
        }
    }
    summary.firstRead = a.rows().taken();
    summary.secondRead = b.rows().taken();
    return summary;
}

}  // namespace compare
