#pragma once

#include <QString>
#include <stdexcept>
#include <vector>

#include "CompareOptions.h"
#include "DifferenceSink.h"
#include "RecordKey.h"
#include "RowBlocks.h"
#include "Steps.h"

namespace compare {

// Records paired by key need both tables in key order; thrown out of Run when
// a record's key comes before the one of the record before it (the server
// ordered by another rule than the comparison's, or the rows changed).
class KeyOrderBroken : public std::runtime_error {
public:
    KeyOrderBroken(bool inFirstTable, QString before, QString after);
    bool inFirstTable() const { return inFirstTable_; }
    // What the user is told, naming the table.
    QString message(const QString& tableName) const;

private:
    bool inFirstTable_;
    QString before_, after_;
};

// The comparison engine: pairs the records of two tables by position (or by
// key) and their fields by position (or by name), and reports every
// difference to a sink -- field changes record by record, then the records
// one table has beyond the other (by key: the records only one table has, in
// key order among the changes). Rows are taken block by block as they
// arrive, so a table of any size passes through in the memory of a block.
//
// It runs as numbered steps of the caller's error trap: a failing step is
// reported with its number and the run goes on with the next one, so the
// caller's report texts and numbers are those of its own handler. A block that
// cannot be read is no step: that failure leaves Run for the caller to report.
// Two fields the comparison pairs: the first table's field, the second's,
// and the name the lines give them (the first table's).
struct FieldPairing {
    int first;
    int second;
    QString name;
};

// The second table's column (its index, -1: none) each of the first table's
// columns pairs with: the map's pairs, the others by name without case
// (byName) or in order among the columns the map leaves. Throws
// OptionProblem for a mapped name a table does not have.
std::vector<int> PairColumns(const QStringList& firstColumns, const QStringList& secondColumns,
                             const std::vector<ColumnMapping>& map, bool byName);

class TableComparison {
public:
    // Fields by position: 0 to lastField of both tables, named by the first
    // table's field names by position.
    TableComparison(int lastField, const std::vector<QString>& fieldNames);

    // Fields by position over two tables' columns: those past lastField, of
    // either table, are fields only that table has, reported as ByName
    // reports them -- a column added to one table is a difference.
    TableComparison(int lastField, const std::vector<QString>& fieldNames,
                    const data::ResultTable& firstColumns, const data::ResultTable& secondColumns);

    // Fields by name: each field of the first table with the second table's
    // field of the same name, compared without case as SQL Server compares
    // names (the first table's order and names); a field only one table has
    // is reported once, before the records.
    static TableComparison ByName(const data::ResultTable& firstColumns,
                                  const data::ResultTable& secondColumns);

    // The columns the map names paired with each other, the others by name
    // (byName) or by position among the columns the map leaves; the first
    // table's order and names, as ByName. Throws OptionProblem for a mapped
    // name a table does not have.
    static TableComparison Mapped(const data::ResultTable& firstColumns,
                                  const data::ResultTable& secondColumns,
                                  const std::vector<ColumnMapping>& map, bool byName);

    // Records paired by key instead of by position: both tables' rows must
    // come ordered by the key. A key value two records of one table share is
    // reported once, and such records are paired in the order they come.
    void PairRecordsBy(RecordKey key) { key_ = std::move(key); }
    // Fields compared by the value rules loosened by these options.
    void CompareValuesUnder(const ValueOptions& options) { values_ = options; }
    // Stops once this many records differ (changed, added or deleted): the
    // counts then say whether anything was left unread. 0: no limit.
    void StopAfter(std::int64_t differingRecords) { limit_ = differingRecords; }

    // The fields paired, in the order they are compared.
    std::vector<FieldPairing> Pairs() const;

    // Returns what it counted (all of RunSummary but the time and options).
    RunSummary Run(Steps& trap, RowBlocks& first, RowBlocks& second, DifferenceSink& sink) const;

private:
    struct FieldPair {
        int first;
        int second;
        int name;  // into names_
    };
    TableComparison() = default;
    void reportFieldsOnlyInOne(Steps& trap, DifferenceSink& sink) const;
    RunSummary runByKey(Steps& trap, RowBlocks& first, RowBlocks& second,
                        DifferenceSink& sink) const;

    std::vector<FieldPair> pairs_;
    std::vector<QString> names_;
    std::vector<QString> onlyInFirst_;
    std::vector<QString> onlyInSecond_;
    RecordKey key_;  // no columns: records paired by position
    ValueOptions values_;
    std::int64_t limit_ = 0;
};

}  // namespace compare
