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

// The options the dialog sets for one pair of tables. Columns and row
// conditions only make sense for the tables they were picked from, so they
// are kept per pair, never for every comparison.
using compare::OptionChoices;

// The options stored for a pair; all off when none are.
OptionChoices StoredPairOptions(const TablePair& pair);
// Stores a pair's options with the other settings; false when the file
// could not be written.
bool StorePairOptions(const TablePair& pair, const OptionChoices& options);

}  // namespace windows
