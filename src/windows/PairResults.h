// One pair of a comparison of all tables compared again: for its row of the
// overview, or into the results window's lists to see its differences.
#pragma once

#include <optional>

#include "DatabaseComparison.h"
#include "LoginDetails.h"
#include "ResultTargets.h"
#include "ResultsWindowSink.h"

namespace windows {

class WindowRegistry;

// A pair as the run of all tables compared it: both tables, the logins and
// the options of that run.
struct OverviewPair {
    connection::LoginDetails first, second;
    compare::TableEntry entry;
    compare::RunOptions options;
};

// Compares the pair as the run did while the windows paint (observer sees
// the waits and the rows read; details, when given, every difference), input
// dropped but Esc, which stops it. Nothing when stopped.
std::optional<compare::PairOutcome> ComparePairWhilePainting(
    data::DataAccess& data, const OverviewPair& pair, compare::RunObserver& observer,
    compare::PairDetails* details = nullptr);

// A pair's differences in the results window, as "Next >" shows two tables:
// the lines in its two lists, the summary under them, and "< Back" leading
// to the overview.
class PairResults final : public compare::PairDetails {
public:
    explicit PairResults(WindowRegistry& registry) : registry_(registry) {}

    // Compares the pair into the results window (not shown yet). Nothing
    // when Esc stopped it; else how it came out, the lists holding its
    // differences only when shown().
    std::optional<compare::PairOutcome> Run(const OverviewPair& pair,
                                            compare::RunObserver& observer);
    // Whether the results window holds the pair's comparison: not when it
    // could not be compared, nor when a table held no record to compare.
    bool shown() const { return shown_; }

    compare::DifferenceSink& begin(const compare::SideNames& names,
                                   const compare::RecordLayout& layout) override;
    void finish(const compare::RunSummary& summary) override;

private:
    // The lists empty again, with no run's end.
    void clearResults();

    WindowRegistry& registry_;
    compare::SideNames names_;
    std::optional<ResultsWindowSink> lists_;
    std::optional<ResultTargets> targets_;  // the lists, and the records kept whole
    std::optional<compare::RunSummary> summary_;
    bool shown_ = false;
};

}  // namespace windows
