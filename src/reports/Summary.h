#pragma once

#include <QString>
#include <cstdint>

#include "CompareOptions.h"

namespace compare {

// "1 field", "2 fields": a count and its noun, which agree in number.
QString Counted(std::int64_t n, QStringView noun);

// The options a run had on, as one line for a person ("columns left out:
// modified_at; trailing blanks ignored"), key columns named by the user
// among them; empty when none.
QString OptionsText(const RunOptions& options);

// The line that says a run stopped at its limit.
QString StoppedAtLimitText(std::int64_t limit);

// What checksums proved, as the summary says it: the records verified, the
// ranges hashed, and the bound on what they could have missed.
QString ChecksumText(const ChecksumCount& count);

// The summary as one line for a person, naming both tables (and the
// options, when any was on) as the lines name them.
QString SummaryText(const RunSummary& summary, const QString& firstTable,
                    const QString& secondTable);

}  // namespace compare
