#pragma once

#include <QString>
#include <QStringList>
#include <cstdint>

#include "CompareOptions.h"

namespace windows {

// Which two tables: as the lines name them, so that the second is told
// apart by its database (and server) when it lives elsewhere.
struct TablePair {
    QString first;
    QString second;
    bool operator==(const TablePair&) const = default;
};

// What the options dialog sets for one pair of tables. Columns and row
// conditions only make sense for the tables they were picked from, so they
// are kept per pair, never for every comparison.
struct PairOptions {
    QStringList leaveOut;   // the first table's columns, left out of both tables
    QStringList key;        // the key's columns by key; none: the first table's primary key
    QString firstWhere;     // the first table's rows; empty: all
    bool sameWhere = true;  // the second table's rows by the first table's condition,
    QString secondWhere;    // else by this one (empty: all)
    bool trim = false;      // trailing blanks ignored
    bool ignoreCase = false;
    bool nullEqualsEmpty = false;
    QString tolerance;       // numbers equal within it, as typed; empty: exactly
    std::int64_t limit = 0;  // stop after this many differing records; 0: no limit

    bool operator==(const PairOptions&) const = default;

    // Adds them to a run's options; the key's columns only when the run
    // pairs records by key.
    void applyTo(compare::RunOptions& options) const;
};

// The options stored for a pair; all off when none are.
PairOptions StoredPairOptions(const TablePair& pair);
// Stores a pair's options with the other settings; false when the file
// could not be written.
bool StorePairOptions(const TablePair& pair, const PairOptions& options);

}  // namespace windows
