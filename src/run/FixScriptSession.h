#pragma once

#include <QIODevice>
#include <QString>
#include <cstdint>

#include "ComparisonRun.h"
#include "FixScript.h"
#include "SideNames.h"

namespace compare {

// The script that makes the second table hold what the first holds, written
// while a run compares its records by key: for the window and the command
// alike, so that both write the same script and refuse it for the same
// reasons.
// Why no script is written when the first side is a query (its name as
// the lines give it): a script mends a table from a table.
QString ScriptFromQueryRefusal(const QString& queryName);

class FixScriptSession {
public:
    // Plans the script for a run whose tables have answered (its fills
    // learnt: ComparisonRun::LearnColumnFills) and starts writing it into
    // out. Throws OptionProblem when no script can be made for this run.
    // Without allowCascades, a script holding a DELETE that another table's
    // foreign key acts on (cascade, set null, set default) undoes itself.
    FixScriptSession(const ComparisonRun& run, const FieldPlan& fields, const SideTable& second,
                     const SideNames& names, QIODevice& out, bool allowCascades = false);

    // Where the run's differences go (as well as to any report).
    DifferenceSink& sink() { return sink_; }
    // After the comparison: the script's end. Throws ReportWriteError.
    void Finish(const RunSummary& summary) { sink_.finish(summary); }
    // Why the script, once finished, would not make the tables equal (it then
    // undoes itself and must not pass for a mend); empty when it would.
    QString refusal() const;
    std::int64_t differences() const { return sink_.differences(); }
    // Once finished with allowCascades: what its DELETEs do to other tables,
    // as a question whether to keep it; empty when they do nothing there.
    QString cascadeQuestion() const;

private:
    SideNames names_;
    FixScriptSink sink_;
};

}  // namespace compare
