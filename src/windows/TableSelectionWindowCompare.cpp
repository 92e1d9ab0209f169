// The table selection window's "Next >": checks the choice, then runs the
// comparison of the two chosen tables, one numbered step per stage of the
// run, and writes every difference into the results window. A failing step
// is reported with its number and the handler goes on with the next one,
// except that a table that cannot be reached, queried or read ends the run.
// With "Pair records by key" both tables are read in the order of the first
// table's primary key and merged by it, and the run also writes the script
// that would make the second table hold what the first holds, which "Save
// As…" offers.
//
// While it runs the windows keep painting and the progress bar follows the
// rows read; input to the windows is dropped, and Esc cancels the run.

#include <QCoreApplication>
#include <memory>
#include <optional>

#include "ComparisonRun.h"
#include "ErrorReport.h"
#include "ErrorTrap.h"
#include "FixScriptSession.h"
#include "InputGuard.h"
#include "LoginWindow.h"
#include "Pointer.h"
#include "QueryChoice.h"
#include "RecordKey.h"
#include "ResultTargets.h"
#include "ResultsWindow.h"
#include "ResultsWindowSink.h"
#include "RunProgressBar.h"
#include "SideNames.h"
#include "TableComparison.h"
#include "TableSelectionWindow.h"
#include "TableShapes.h"
#include "WhilePainting.h"
#include "WindowRegistry.h"

namespace windows {

namespace {

using compare::Side;

// The step that reports a table's failed read.
int readingStep(Side side) { return side == Side::First ? 148 : 160; }

}  // namespace

// What one "Next >" run holds between its steps.
struct TableSelectionWindow::NextRun {
    ErrorTrap trap;
    RunProgressBar observer;
    std::optional<compare::ComparisonRun> run;
    std::optional<InputGuard> ignoreInput;
    bool secondFromThisDatabase = false;
    compare::SideTable first, second;  // settled at step 108
    compare::SideNames names;
    compare::FirstRows rows;
    compare::FieldPlan fields;
    bool firstHasRows = false;
    bool secondHasRows = false;

    NextRun(WindowRegistry& reg, QProgressBar& bar)
        : trap(reg.boxes(), app::kForm2NextTag), observer(bar) {}

    // A stage under a step: false when it failed (and was reported) or the
    // run was cancelled meanwhile.
    template <class Fn>
    bool stage(int line, Fn&& fn) {
        bool cancelled = false;
        const bool done = trap.step(line, [&] {
            try {
                fn();
            } catch (const compare::RunCancelled&) {
                cancelled = true;
            }
        });
        return done && !cancelled;
    }
};

void TableSelectionWindow::PushButton3_Click() {
    WindowRegistry& reg = registry();
    NextRun r(reg, *ProgressBar1);
    compare::RunOptions options;
    options.fieldsByName = PairByName->isChecked();
    if (PairByKey->isChecked()) options.key.automatic = true;
    // What the options dialog set for this pair of tables; a stored choice
    // that cannot be had (edited by hand) ends the run with a word.
    if (ListView1->Count() > 0 && ListView2->Count() > 0) {
        try {
            ChosenPairOptions().ApplyTo(options);
        } catch (const compare::OptionProblem& p) {
            r.trap.step(252, [&] {
                reg.boxes().show(
                    QStringLiteral("The options set for these tables cannot be used: ") +
                        p.message(),
                    QString(), ui::Buttons::Ok, ui::Icon::Exclamation);
            });
            return;
        }
    }
    // A query has no primary key: by key, its editor's key columns.
    const std::optional<QueryChoice> firstQuery = querySources_->Chosen(Side::First);
    const std::optional<QueryChoice> secondQuery = querySources_->Chosen(Side::Second);
    try {
        ApplyQueryKeys(options, firstQuery, secondQuery);
    } catch (const compare::OptionProblem& p) {
        r.trap.step(252, [&] {
            reg.boxes().show(p.message(), QString(), ui::Buttons::Ok, ui::Icon::Exclamation);
        });
        return;
    }
    r.run.emplace(reg.data(), options, r.observer);
    r.secondFromThisDatabase = originAt(originIndex_) == Origin::ThisDatabase;

    // By key, the second table's identity, computed and rowversion columns
    // are learnt too, for the script (none is made from or for a query).
    const bool learnFills = r.run->pairsByKey() && !firstQuery && !secondQuery;
    if (!compare::OpenRun(*r.run, r.first, r.second, learnFills, r.rows,
                          [&](compare::OpenStage stage, const std::function<void()>& fn) {
                              return openStage(r, stage, fn);
                          })) {
        return;
    }
    if (r.trap.test(168, [&] { return !r.firstHasRows; })) {
        return showNoData(r, 170, 172, compare::Side::First);
    }
    if (r.trap.test(174, [&] { return !r.secondHasRows; })) {
        return showNoData(r, 176, 178, compare::Side::Second);
    }
    compareAndShow(r);
}

// Each stage of opening the run under its step of the table: those that
// set the connections' options report a failure and go on, those that reach
// a server end the run when they fail.
bool TableSelectionWindow::openStage(NextRun& r, compare::OpenStage stage,
                                     const std::function<void()>& fn) {
    using S = compare::OpenStage;
    switch (stage) {
        case S::CreateConnections:
            r.trap.step(100, fn);
            return checkChoice(r);
        case S::SetMode:
            r.trap.step(112, fn);
            return true;
        case S::SetCommandTimeout:
            r.trap.step(114, fn);
            return true;
        case S::SetConnectionTimeout:
            r.trap.step(116, fn);
            return true;
        case S::SetCursorLocation:
            r.trap.step(118, fn);
            return true;
        case S::Connect: {
            // Within one database both sides connect alike, as they always did.
            const bool local = r.trap.test(120, [&] {
                return registry().loginWindow().CurrentLoginDetails().localConnection;
            });
            return r.stage(local ? 122 : 124, fn) || endEarly(r);
        }
        case S::PlanQueries:
            return planQueries(r, fn);
        case S::SendFirst:
        case S::WaitFirst:
            return queryStage(r, Side::First, 130, fn);
        case S::SendSecond:
        case S::WaitSecond:
            return queryStage(r, Side::Second, 132, fn);
        case S::FirstRows:
            return takeRows(r, fn) && (planFirstFields(r), true);
        case S::SecondRows:
            return takeRows(r, fn) && (planSecondFields(r), true);
    }
    return false;
}

// A table chosen in each list, and not the very same table twice; from here
// the run lets the windows paint, a second click must not start a second run
// inside this one, and Esc stops it.
bool TableSelectionWindow::checkChoice(NextRun& r) {
    WindowRegistry& reg = registry();
    if (!r.trap.test(106, [&] { return ListView1->Count() > 0 && ListView2->Count() > 0; })) {
        r.trap.step(248,
                    [&] { reg.boxes().show(QStringLiteral("Please select a table from each.")); });
        return false;
    }
    // The second side: the same login unless the second list comes from
    // another database or server. Two databases may hold tables at one place
    // of their lists; only the very same table is refused.
    if (!r.trap.test(108, [&] {
            r.first = {reg.loginWindow().CurrentLoginDetails(), ListView1->SelectedTable()};
            r.second = {r.secondFromThisDatabase ? r.first.login : SecondSideLogin(),
                        ListView2->SelectedTable()};
            r.names = compare::NameSides(r.first, r.second);
            return !compare::SameTable(r.first, r.second);
        })) {
        r.trap.step(246, [&] {
            reg.boxes().show(QStringLiteral("Please select 2 different tables to compare."));
        });
        return false;
    }
    // A query against itself, or two sides the lines would name alike.
    if (const QString refusal = QueryChoiceRefusal(r.first, r.second, r.names);
        !refusal.isEmpty()) {
        r.trap.step(246, [&] {
            reg.boxes().show(refusal, QString(), ui::Buttons::Ok, ui::Icon::Exclamation);
        });
        return false;
    }
    r.ignoreInput.emplace([&r] {
        if (r.run) r.run->Cancel();
    });
    r.trap.step(110, [&] { SetMousePointer(kPointerBusy); });
    return true;
}

// Records paired by key, columns left out, row conditions: both tables'
// columns (and the first's primary key) first, so that both queries read
// what is compared, in the key's order. A key or an option that cannot be
// had ends the run before any line.
bool TableSelectionWindow::planQueries(NextRun& r, const std::function<void()>& fn) {
    QString problem;
    const bool learnt = r.stage(250, [&] {
        try {
            fn();
        } catch (const compare::KeyProblem& p) {
            problem = p.message();
        }
    });
    if (!problem.isEmpty()) {
        r.trap.step(252, [&] {
            registry().boxes().show(problem, QString(), ui::Buttons::Ok, ui::Icon::Exclamation);
        });
    }
    return (learnt && problem.isEmpty()) || endEarly(r);
}

// A side's query sent and answered. A user's query may name what is not
// there: its failure is said as a message that names the query, and ends the run.
bool TableSelectionWindow::queryStage(NextRun& r, Side side, int line,
                                      const std::function<void()>& fn) {
    const catalogue::TableName& table = side == Side::First ? r.first.table : r.second.table;
    if (!table.isQuery()) return r.stage(line, fn) || endEarly(r);
    QString failure;
    const bool done = r.stage(line, [&] {
        try {
            fn();
        } catch (const compare::RunCancelled&) {
            throw;
        } catch (const compare::KeyProblem& refused) {
            failure = refused.message();
        } catch (...) {
            failure = compare::QueryFailed(table.name, std::current_exception()).message();
        }
    });
    if (!failure.isEmpty()) {
        r.trap.step(line, [&] {
            registry().boxes().show(failure, QString(), ui::Buttons::Ok, ui::Icon::Exclamation);
        });
    }
    return (done && failure.isEmpty()) || endEarly(r);
}

// A table's first block tells whether it holds a record; a read that fails
// there is reported at its reading step and ends the run.
bool TableSelectionWindow::takeRows(NextRun& r, const std::function<void()>& fn) {
    try {
        fn();
        return true;
    } catch (const compare::ReadFailed& failed) {
        r.trap.step(readingStep(failed.side), [&] { std::rethrow_exception(failed.cause); });
    } catch (const compare::RunCancelled&) {
    }
    return endEarly(r);
}

// Fields by position: the first table's fields, named by its names...
void TableSelectionWindow::planFirstFields(NextRun& r) {
    ErrorTrap& trap = r.trap;
    compare::FieldPlan& fields = r.fields;
    trap.step(134, [&] { r.firstHasRows = false; });
    if (!trap.test(136, [&] { return r.rows.first; })) return;
    const data::ResultTable& firstColumns = r.run->Columns(Side::First);
    trap.step(138, [&] { fields.lastField = firstColumns.fieldCount() - 1; });
    trap.step(140, [&] {
        fields.names.assign(static_cast<std::size_t>(firstColumns.fieldCount()) + 1, QString());
    });
    int lastName = -1;
    trap.step(142, [&] { lastName = firstColumns.fieldCount() - 1; });
    for (int k = 0; k <= lastName; ++k) {
        trap.step(144, [&] {
            fields.names.at(static_cast<std::size_t>(k)) = firstColumns.column(k).name();
        });
    }
    trap.step(150, [&] { r.firstHasRows = true; });
}

// ...up to the second table's last field.
void TableSelectionWindow::planSecondFields(NextRun& r) {
    ErrorTrap& trap = r.trap;
    trap.step(152, [&] { r.secondHasRows = false; });
    if (!trap.test(154, [&] { return r.rows.second; })) return;
    const data::ResultTable& secondColumns = r.run->Columns(Side::Second);
    if (trap.test(156, [&] { return r.fields.lastField > secondColumns.fieldCount() - 1; })) {
        trap.step(158, [&] { r.fields.lastField = secondColumns.fieldCount() - 1; });
    }
    trap.step(162, [&] { r.secondHasRows = true; });
}

// Whatever ends the run early: a table that cannot be reached, queried or
// read (after its report), or Esc. No line of the run may remain, since a
// partial comparison would read as a real one. Always false: the run ends.
bool TableSelectionWindow::endEarly(NextRun& r) {
    r.run.reset();
    if (ResultsWindow* results = registry().existingResultsWindow()) {
        results->fieldDifferences()->linesModel()->clear();
        results->recordDifferences()->linesModel()->clear();
        results->ClearRunEnd();
    }
    r.trap.step(242, [&] {
        ProgressBar1->setRange(0, 100);
        ProgressBar1->setValue(0);
    });
    r.trap.step(244, [&] { SetMousePointer(kPointerNormal); });
    return false;
}

// A table that gave no record: said, and nothing compared.
void TableSelectionWindow::showNoData(NextRun& r, int pointerLine, int messageLine, Side side) {
    const QString text =
        r.run->NoRowsText(side, side == Side::First ? r.names.first : r.names.second);
    r.run.reset();
    r.trap.step(pointerLine, [&] { SetMousePointer(kPointerNormal); });
    r.trap.step(messageLine, [&] {
        registry().boxes().show(text, QString(), ui::Buttons::Ok, ui::Icon::Exclamation);
    });
    ProgressBar1->setRange(0, 100);
}

// By key, the script goes to a temporary file (a million changed records
// must not grow memory); a script no run could make, and one that cannot be
// written, leave the comparison as it is and say why only when it is saved.
void TableSelectionWindow::startScript(NextRun& r, RunScript& script,
                                       std::optional<compare::FixScriptSession>& session) {
    script.pairedByKey = r.run->pairsByKey();
    if (!script.pairedByKey) return;
    if (r.first.table.isQuery()) {
        script.refused = compare::ScriptFromQueryRefusal(r.names.first);
        return;
    }
    try {
        script.file = std::make_shared<QTemporaryFile>();
        if (!script.file->open()) {
            script.failure = QStringLiteral("no temporary file for the script: %1")
                                 .arg(script.file->errorString());
        } else {
            // Whether DELETEs that act on other tables are kept is asked
            // when the script is saved.
            session.emplace(*r.run, r.fields, r.second, r.names, *script.file, true);
        }
    } catch (const compare::OptionProblem& refused) {
        script.refused = refused.message();
    } catch (const compare::ReportWriteError& e) {
        script.failure = e.reason();
    } catch (...) {
        script.failure = app::DescribeFailure(std::current_exception());
    }
    if (!session) script.file.reset();  // nothing will be written into it
}

// The comparison into the results window's lists (and the script), then
// the results window with what the run counted.
void TableSelectionWindow::compareAndShow(NextRun& r) {
    WindowRegistry& reg = registry();
    ErrorTrap& trap = r.trap;
    RunScript script;
    std::optional<compare::FixScriptSession> session;
    startScript(r, script, session);
    ResultsWindowSink lists(
        reg, [&] { return r.names.second; }, [&] { return r.names.first; });
    ResultTargets results(lists, session ? &*session : nullptr,
                          compare::RecordLayout(r.run->FieldPairs(r.fields), r.run->Key()));
    try {
        r.run->Compare(trap, results, r.fields);
    } catch (const compare::KeyOrderBroken& broken) {
        trap.step(256, [&] {
            reg.boxes().show(broken.message(broken.inFirstTable() ? r.names.first : r.names.second),
                             QString(), ui::Buttons::Ok, ui::Icon::Exclamation);
        });
        endEarly(r);
        return;
    } catch (const compare::ReadFailed& failed) {
        trap.step(readingStep(failed.side), [&] { std::rethrow_exception(failed.cause); });
        endEarly(r);
        return;
    } catch (const compare::RunCancelled&) {
        endEarly(r);
        return;
    }
    if (session) {
        results.finishScript(r.run->Summary(), *script.file);
        script.failure = results.scriptFailure();
        if (script.failure.isEmpty()) script.refused = session->refusal();
        script.cascades = session->cascadeQuestion();
        if (!script.failure.isEmpty() || !script.refused.isEmpty()) script.file.reset();
    }
    std::shared_ptr<compare::RecordStore> records = results.takeRecords();
    const RunEnd end{r.run->Summary(),  r.names.first,      r.names.second,
                     std::move(script), std::move(records), results.recordsFailure()};
    r.run.reset();

    // What the run counted, and the options it had on, under the lists.
    trap.step(234, [&] { reg.resultsWindow().ShowRunEnd(end); });
    trap.step(234, [&] { reg.resultsWindow().Show(); });
    trap.step(236, [&] { Hide(); });
    trap.step(242, [&] {
        ProgressBar1->setRange(0, 100);
        ProgressBar1->setValue(0);
    });
    trap.step(244, [&] { SetMousePointer(kPointerNormal); });
}

}  // namespace windows
