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
#include "RecordKey.h"
#include "ResultsWindow.h"
#include "ResultsWindowSink.h"
#include "SideNames.h"
#include "TableComparison.h"
#include "TableSelectionWindow.h"
#include "WindowRegistry.h"

namespace windows {

namespace {

using compare::Side;

// How long the run lets the windows paint at each turn.
constexpr int kPaintSliceMs = 20;
constexpr int kProgressSteps = 1000;

// What the run shows on the table selection window: the windows paint while
// it waits (the run's input guard drops what the user types or clicks
// meanwhile, but for Esc), and the bar follows the rows read of the rows the
// server expects, or is a busy bar without estimates.
class WindowRunObserver final : public compare::RunObserver {
public:
    explicit WindowRunObserver(QProgressBar& bar) : bar_(bar) {}
    void Waiting() override {
        QCoreApplication::processEvents(QEventLoop::AllEvents, kPaintSliceMs);
    }
    void Progress(std::int64_t read, std::optional<std::int64_t> expected) override {
        if (!expected) {
            bar_.setRange(0, 0);
            return;
        }
        bar_.setRange(0, kProgressSteps);
        bar_.setValue(static_cast<int>(
            std::min<std::int64_t>(read * kProgressSteps / *expected, kProgressSteps)));
    }

private:
    QProgressBar& bar_;
};

// The step that reports a table's failed read.
int readingStep(Side side) { return side == Side::First ? 148 : 160; }

// The lists, and the script beside them. The script is extra: when it
// cannot be written (a full disk) the reason is kept for "Save As…", and the
// lines and error reports of the comparison go on as if there were none.
class ListsAndScript final : public compare::DifferenceSink {
public:
    ListsAndScript(compare::DifferenceSink& lists, compare::FixScriptSession* script)
        : lists_(lists), script_(script) {}

    void FieldChanged(const compare::RecordName& record, const QString& fieldName,
                      const data::FieldValue& first, const data::FieldValue& second) override {
        lists_.FieldChanged(record, fieldName, first, second);
        toScript([&] { script_->sink().FieldChanged(record, fieldName, first, second); });
    }
    void RecordDeleted(const compare::RecordName& record) override {
        lists_.RecordDeleted(record);
        toScript([&] { script_->sink().RecordDeleted(record); });
    }
    void RecordAdded(const compare::RecordName& record) override {
        lists_.RecordAdded(record);
        toScript([&] { script_->sink().RecordAdded(record); });
    }
    void RecordNotUnique(const compare::RecordName& record, bool inFirstTable) override {
        lists_.RecordNotUnique(record, inFirstTable);
        toScript([&] { script_->sink().RecordNotUnique(record, inFirstTable); });
    }
    void FieldOnlyIn(const QString& fieldName, bool inFirstTable) override {
        lists_.FieldOnlyIn(fieldName, inFirstTable);
        toScript([&] { script_->sink().FieldOnlyIn(fieldName, inFirstTable); });
    }
    void RecordsDiffer(const compare::RecordRow& first, const compare::RecordRow& second) override {
        lists_.RecordsDiffer(first, second);
        toScript([&] { script_->sink().RecordsDiffer(first, second); });
    }

    // The script's end, all of it on disk.
    void finish(const compare::RunSummary& summary, QFileDevice& file) {
        toScript([&] {
            script_->finish(summary);
            if (!file.flush()) throw compare::ReportWriteError(file.errorString());
        });
    }
    // Why the script could not be written; empty when it was.
    const QString& failure() const { return failure_; }

private:
    template <class Fn>
    void toScript(Fn&& fn) {
        if (script_ == nullptr || !failure_.isEmpty()) return;
        try {
            fn();
        } catch (const compare::ReportWriteError& e) {
            failure_ = e.reason();
        } catch (...) {
            failure_ = app::DescribeFailure(std::current_exception());
        }
    }

    compare::DifferenceSink& lists_;
    compare::FixScriptSession* script_;
    QString failure_;
};

}  // namespace

void TableSelectionWindow::PushButton3_Click() {
    WindowRegistry& reg = registry();
    ErrorTrap trap(reg.boxes(), app::kForm2NextTag);
    WindowRunObserver observer(*ProgressBar1);
    compare::RunOptions options;
    options.fieldsByName = PairByName->isChecked();
    if (PairByKey->isChecked()) options.key.automatic = true;
    // What the options dialog set for this pair of tables.
    if (ListView1->Count() > 0 && ListView2->Count() > 0) ChosenPairOptions().applyTo(options);
    std::optional<compare::ComparisonRun> run(std::in_place, reg.data(), options, observer);

    trap.step(100, [&] { run->CreateConnections(); });

    if (!trap.test(106, [&] { return ListView1->Count() > 0 && ListView2->Count() > 0; })) {
        trap.step(248,
                  [&] { reg.boxes().show(QStringLiteral("Please select a table from each.")); });
        return;
    }
    // The second side: the same login unless the second list comes from
    // another database or server. Two databases may hold tables at one place
    // of their lists; only the very same table is refused.
    const bool secondFromThisDatabase = originAt(originIndex_) == Origin::ThisDatabase;
    const connection::LoginDetails secondLogin = SecondSideLogin();
    compare::SideNames names;
    if (!trap.test(108, [&] {
            const compare::SideTable first{reg.loginWindow().CurrentLoginDetails(),
                                           ListView1->SelectedTable()};
            const compare::SideTable second{secondLogin, ListView2->SelectedTable()};
            names = compare::NameSides(first, second);
            return !compare::SameTable(first, second);
        })) {
        trap.step(246, [&] {
            reg.boxes().show(QStringLiteral("Please select 2 different tables to compare."));
        });
        return;
    }

    // From here the run lets the windows paint; a second click must not start
    // a second run inside this one, and Esc stops it.
    const InputGuard ignoreInput([&] {
        if (run) run->Cancel();
    });

    // A stage under a step: false when it failed (and was reported) or the
    // run was cancelled meanwhile.
    const auto stage = [&](int line, auto&& fn) {
        bool cancelled = false;
        const bool done = trap.step(line, [&] {
            try {
                fn();
            } catch (const compare::RunCancelled&) {
                cancelled = true;
            }
        });
        return done && !cancelled;
    };

    // Whatever ends the run early: a table that cannot be reached, queried or
    // read (after its report), or Esc. No line of the run may remain, since a
    // partial comparison would read as a real one.
    const auto endEarly = [&] {
        run.reset();
        if (ResultsWindow* results = reg.existingResultsWindow()) {
            results->fieldDifferences()->linesModel()->clear();
            results->recordDifferences()->linesModel()->clear();
            results->ClearRunEnd();
        }
        trap.step(242, [&] {
            ProgressBar1->setRange(0, 100);
            ProgressBar1->setValue(0);
        });
        trap.step(244, [&] { SetMousePointer(kPointerNormal); });
    };

    trap.step(110, [&] { SetMousePointer(kPointerBusy); });
    // One connection per table, both alike: the tables are read at the same time.
    trap.step(112, [&] { run->SetMode(); });
    trap.step(114, [&] { run->SetCommandTimeout(); });
    trap.step(116, [&] { run->SetConnectionTimeout(); });
    trap.step(118, [&] { run->SetCursorLocation(); });

    const auto connect = [&](bool local) {
        connection::LoginDetails details = reg.loginWindow().CurrentLoginDetails();
        details.localConnection = local;
        // Within one database both sides connect alike, as they always did.
        run->Connect(details, secondFromThisDatabase ? details : secondLogin);
    };
    bool reached = false;
    if (trap.test(120, [&] { return reg.loginWindow().CurrentLoginDetails().localConnection; })) {
        reached = stage(122, [&] { connect(true); });
    } else {
        reached = stage(124, [&] { connect(false); });
    }
    if (!reached) return endEarly();

    // Records paired by key, columns left out, row conditions: both tables'
    // columns (and the first's primary key) first, so that both queries read
    // what is compared, in the key's order. A key or an option that cannot be
    // had ends the run before any line.
    // By key, the second table's identity, computed and rowversion columns,
    // for the script.
    const bool byKey = run->pairsByKey();
    if (byKey) run->LearnColumnFills();
    if (run->plansQueries()) {
        QString problem;
        const bool learnt = stage(250, [&] {
            try {
                run->PlanQueries(ListView1->SelectedTable(), ListView2->SelectedTable());
            } catch (const compare::KeyProblem& p) {
                problem = p.message();
            }
        });
        if (!problem.isEmpty()) {
            trap.step(252, [&] {
                reg.boxes().show(problem, QString(), ui::Buttons::Ok, ui::Icon::Exclamation);
            });
        }
        if (!learnt || !problem.isEmpty()) return endEarly();
    }

    // Both queries go out before either is waited for, and each table's
    // refusal is reported at its own step.
    if (!stage(130, [&] { run->SendQuery(Side::First, ListView1->SelectedTable()); }) ||
        !stage(132, [&] { run->SendQuery(Side::Second, ListView2->SelectedTable()); })) {
        return endEarly();
    }
    if (!stage(130, [&] { run->WaitQueried(Side::First); })) return endEarly();
    if (!stage(132, [&] { run->WaitQueried(Side::Second); })) return endEarly();

    // A table's first block tells whether it holds a record; a read that
    // fails there is reported at its reading step and ends the run.
    const auto hasRows = [&](Side side, bool& rows) {
        try {
            rows = run->HasRows(side);
            return true;
        } catch (const compare::ReadFailed& failed) {
            trap.step(readingStep(failed.side), [&] { std::rethrow_exception(failed.cause); });
        } catch (const compare::RunCancelled&) {
        }
        return false;
    };
    bool firstHasRows = false;
    bool secondHasRows = false;
    compare::FieldPlan fields;
    bool firstRows = false;
    if (!hasRows(Side::First, firstRows)) return endEarly();
    trap.step(134, [&] { firstHasRows = false; });
    if (trap.test(136, [&] { return firstRows; })) {
        const data::ResultTable& firstColumns = run->Columns(Side::First);
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
        trap.step(150, [&] { firstHasRows = true; });
    }
    bool secondRows = false;
    if (!hasRows(Side::Second, secondRows)) return endEarly();
    trap.step(152, [&] { secondHasRows = false; });
    if (trap.test(154, [&] { return secondRows; })) {
        const data::ResultTable& secondColumns = run->Columns(Side::Second);
        if (trap.test(156, [&] { return fields.lastField > secondColumns.fieldCount() - 1; })) {
            trap.step(158, [&] { fields.lastField = secondColumns.fieldCount() - 1; });
        }
        trap.step(162, [&] { secondHasRows = true; });
    }

    const auto noData = [&](int pointerLine, int messageLine, Side side, const QString& table) {
        const QString text = run->NoRowsText(side, table);
        run.reset();
        trap.step(pointerLine, [&] { SetMousePointer(kPointerNormal); });
        trap.step(messageLine, [&] {
            reg.boxes().show(text, QString(), ui::Buttons::Ok, ui::Icon::Exclamation);
        });
        ProgressBar1->setRange(0, 100);
    };
    if (trap.test(168, [&] { return !firstHasRows; })) {
        return noData(170, 172, Side::First, names.first);
    }
    if (trap.test(174, [&] { return !secondHasRows; })) {
        return noData(176, 178, Side::Second, names.second);
    }

    // By key, the script goes to a temporary file (a million changed
    // records must not grow memory); a script no run could make, and one
    // that cannot be written, leave the comparison as it is and say why only
    // when it is saved.
    RunScript script;
    script.pairedByKey = byKey;
    std::optional<compare::FixScriptSession> scriptSession;
    if (byKey) {
        try {
            // Where the second table was read from.
            const compare::SideTable second{
                secondFromThisDatabase ? reg.loginWindow().CurrentLoginDetails() : secondLogin,
                ListView2->SelectedTable()};
            script.file = std::make_shared<QTemporaryFile>();
            if (!script.file->open()) {
                script.failure = QStringLiteral("no temporary file for the script: %1")
                                     .arg(script.file->errorString());
            } else {
                scriptSession.emplace(*run, fields, second, names, *script.file);
            }
        } catch (const compare::OptionProblem& refused) {
            script.refused = refused.message();
        } catch (const compare::ReportWriteError& e) {
            script.failure = e.reason();
        } catch (...) {
            script.failure = app::DescribeFailure(std::current_exception());
        }
    }

    ResultsWindowSink lists(
        reg, [&] { return names.second; }, [&] { return names.first; });
    ListsAndScript results(lists, scriptSession ? &*scriptSession : nullptr);
    try {
        run->Compare(trap, results, fields);
    } catch (const compare::KeyOrderBroken& broken) {
        trap.step(256, [&] {
            reg.boxes().show(broken.message(broken.inFirstTable() ? names.first : names.second),
                             QString(), ui::Buttons::Ok, ui::Icon::Exclamation);
        });
        return endEarly();
    } catch (const compare::ReadFailed& failed) {
        trap.step(readingStep(failed.side), [&] { std::rethrow_exception(failed.cause); });
        return endEarly();
    } catch (const compare::RunCancelled&) {
        return endEarly();
    }
    if (scriptSession) {
        results.finish(run->Summary(), *script.file);
        if (!results.failure().isEmpty()) {
            script.failure = results.failure();
        } else {
            script.refused = scriptSession->refusal();
        }
        if (!script.failure.isEmpty() || !script.refused.isEmpty()) script.file.reset();
    }
    const RunEnd end{run->Summary(), names.first, names.second, std::move(script)};
    run.reset();

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
