#pragma once

#include <QString>
#include <QStringList>
#include <array>
#include <cstdint>
#include <functional>
#include <vector>

#include "CompareOptions.h"
#include "ResultTable.h"
#include "RowHash.h"
#include "SqlLiteral.h"
#include "TableCatalogue.h"

namespace compare {

// Runs each side's statements in turn on that side's connection, both sides
// at once, and returns their answers in order. Throws what failed them
// (RunCancelled on a cancel).
using SideStatements =
    std::function<std::array<std::vector<data::ResultTable>, 2>(const std::array<QStringList, 2>&)>;

// One side as its server hashes it: the table, the columns compared (in the
// order of their pairs, so that equal records hash alike), the key's
// columns (in key order), and its row condition.
struct ChecksumSide {
    catalogue::TableName table;
    std::vector<HashedColumn> columns;
    QStringList key;
    std::vector<KeyText> keyTexts;  // how each key column holds texts, for its bounds
    QString condition;
};

// What the checksums left to read: the ranges of keys whose records differ
// (or whose checksums could not tell), or the whole tables (readWhole: too
// many segments differed for the checksums to pay).
struct ChecksumOutcome {
    std::vector<KeyRange> toRead;
    bool readWhole = false;
    ChecksumCount count;
    // Each side's records under its condition in the ranges hashed.
    std::array<std::int64_t, 2> records{};
};

// Hashes both tables range by range, both servers at once: segments of
// about segmentRows records, bounded by the first table's keys; a segment
// whose count or sums differ is split again (by 24, fresh bounds) until it
// holds at most segmentRows / 16 records, which are then to be read.
ChecksumOutcome RunChecksumPass(const SideStatements& run, const std::array<ChecksumSide, 2>& sides,
                                std::int64_t segmentRows);

// The condition that reads only the ranges (on a side's key columns); "1 = 0"
// for none.
QString RangesCondition(const QStringList& keyColumns, const std::vector<KeyRange>& ranges);

}  // namespace compare

namespace compare {

struct TableShapes;
struct RecordKey;

// What each server said of its table for checksums: the answers to
// IndexColumnsQuery and ColumnCollationsQuery.
struct ChecksumCatalogue {
    std::array<data::ResultTable, 2> indexes;
    std::array<data::ResultTable, 2> columns;
};

// Both sides as their servers are to hash them, for the options and the
// tables' shapes; key: the key's fields among the columns read. Throws
// OptionProblem where checksums cannot be sound or fast, with the reason: a
// side that is no table, a key no index leads with or no unique index
// holds, text keys of two collations, a column the encoding does not cover.
std::array<ChecksumSide, 2> ChecksumSidesFor(const RunOptions& options,
                                             const std::array<catalogue::TableName, 2>& tables,
                                             const std::array<QString, 2>& names,
                                             const TableShapes& shapes, const RecordKey& key,
                                             const ChecksumCatalogue& catalogue);

}  // namespace compare
