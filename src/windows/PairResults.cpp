#include "PairResults.h"

#include "ComparisonRun.h"
#include "InputGuard.h"
#include "ResultsWindow.h"
#include "WindowRegistry.h"

namespace windows {

std::optional<compare::PairOutcome> ComparePairWhilePainting(data::DataAccess& data,
                                                             const OverviewPair& pair,
                                                             compare::RunObserver& observer,
                                                             compare::PairDetails* details) {
    // Esc may come before the run exists (while its connections open) or
    // between two attempts of the pair: it stops whichever comes.
    compare::ComparisonRun* current = nullptr;
    bool stopped = false;
    const InputGuard ignoreInput([&] {
        stopped = true;
        if (current != nullptr) current->Cancel();
    });
    try {
        return compare::CompareEntry(
            data, pair.entry, pair.first, pair.second, pair.options, observer,
            [&](compare::ComparisonRun* run) {
                current = run;
                if (run != nullptr && stopped) run->Cancel();
            },
            details);
    } catch (const compare::RunCancelled&) {
        return std::nullopt;
    }
}

std::optional<compare::PairOutcome> PairResults::Run(const OverviewPair& pair,
                                                     compare::RunObserver& observer) {
    shown_ = false;
    summary_.reset();
    clearResults();
    std::optional<compare::PairOutcome> outcome =
        ComparePairWhilePainting(registry_.data(), pair, observer, this);
    // A pair stopped, or failed part-way, leaves no line: a partial list
    // would read as the pair's differences.
    if (!outcome || !summary_ || outcome->kind == compare::PairOutcome::Kind::NotCompared) {
        targets_.reset();  // and the records kept so far with it
        clearResults();
        return outcome;
    }
    RunEnd end{*summary_, names_.first, names_.second, RunScript{}};
    end.records = targets_->takeRecords();
    end.recordsFailure = targets_->recordsFailure();
    targets_.reset();
    end.script.pairedByKey = outcome->byKey;
    // The script needs the second table's shape, which this run does not
    // learn: "Next >" on the two tables writes it.
    end.script.refused = QStringLiteral(
        "There is no script to save: a pair opened from the comparison of all tables writes "
        "none. Choose its two tables and press \"Next >\", with \"Pair records by key\" ticked, "
        "for its script.");
    ResultsWindow& results = registry_.resultsWindow();
    results.fieldDifferences()->linesModel()->publishPending();
    results.recordDifferences()->linesModel()->publishPending();
    results.ShowRunEnd(end);
    results.BackLeadsToOverview();
    shown_ = true;
    return outcome;
}

compare::DifferenceSink& PairResults::begin(const compare::SideNames& names,
                                            const compare::RecordLayout& layout) {
    // A pair retried by position starts again.
    targets_.reset();
    clearResults();
    summary_.reset();
    names_ = names;
    lists_.emplace(
        registry_, [this] { return names_.second; }, [this] { return names_.first; });
    targets_.emplace(*lists_, nullptr, layout);
    return *targets_;
}

void PairResults::finish(const compare::RunSummary& summary) { summary_ = summary; }

void PairResults::clearResults() {
    ResultsWindow& results = registry_.resultsWindow();
    results.fieldDifferences()->linesModel()->clear();
    results.recordDifferences()->linesModel()->clear();
    results.ClearRunEnd();
}

}  // namespace windows
