// The table selection window's "Next >": checks the choice, reads both chosen
// tables at once, each on a connection and a thread of its own, and hands
// their rows block by block to the comparison engine, which writes every
// difference into the results window. Written as numbered steps; a failing
// step is reported with its number and the run goes on with the next one,
// except that a table that cannot be reached, queried or read ends the run.
// With "Pair records by key" both tables are read in the order of the first
// table's primary key and merged by it.
//
// While it runs the windows keep painting and the progress bar follows the
// rows read; input to the windows is dropped, and Esc cancels the run.

#include <QCoreApplication>
#include <QElapsedTimer>
#include <optional>
#include <stdexcept>
#include <vector>

#include "ErrorTrap.h"
#include "InputGuard.h"
#include "LoginWindow.h"
#include "Pointer.h"
#include "RecordKey.h"
#include "ResultsWindow.h"
#include "ResultsWindowSink.h"
#include "TableComparison.h"
#include "TableQuery.h"
#include "TableReader.h"
#include "TableSelectionWindow.h"
#include "WindowRegistry.h"

namespace windows {

namespace {

using compare::TableReader;

// An object whose creation failed: using it fails the step that uses it.
template <class T>
T& need(const std::unique_ptr<T>& object) {
    if (!object) throw std::runtime_error("Object variable not set");
    return *object;
}

// How long the run waits on a reader before letting the windows paint again.
constexpr int kWaitSliceMs = 20;

// Lets the windows paint and timers run while the run waits; the run's
// input guard drops what the user types or clicks meanwhile.
void keepPainting() { QCoreApplication::processEvents(QEventLoop::AllEvents, kWaitSliceMs); }

// A table that could not be read part-way, at its reading step (148 or 160).
struct ReadFailed {
    int line;
    std::exception_ptr cause;
};
// Esc during the run.
struct RunCancelled {};

// Waits until the reader is past the stage, painting meanwhile. Throws what
// failed the reader at that stage, or RunCancelled -- at once on Esc, even
// while the driver is still connecting (which nothing can interrupt).
void waitPast(TableReader& reader, TableReader::Stage stage, const bool& cancelled) {
    for (;;) {
        if (cancelled) throw RunCancelled{};
        const TableReader::Stage now = reader.WaitPast(stage, kWaitSliceMs);
        if (now == TableReader::Stage::Cancelled) throw RunCancelled{};
        if (now == TableReader::Stage::Failed) {
            if (reader.failedStage() == stage) std::rethrow_exception(reader.failure());
            return;  // a later stage failed: its own step reports it
        }
        if (static_cast<int>(now) > static_cast<int>(stage)) return;
        keepPainting();
    }
}

// The rows of one table for the engine: painting and progress while it
// waits, its reading step's report when the read fails, Esc at any time.
compare::ReaderBlocks readerBlocks(TableReader& reader, int readLine, const bool& cancelled,
                                   std::function<void()> onProgress) {
    compare::ReaderBlocks::Hooks hooks;
    hooks.waiting = [onProgress] {
        onProgress();
        keepPainting();
    };
    hooks.failed = [&reader, readLine] { throw ReadFailed{readLine, reader.failure()}; };
    hooks.cancelled = [] { throw RunCancelled{}; };
    hooks.stop = &cancelled;
    return compare::ReaderBlocks(reader, std::move(hooks));
}

}  // namespace

void TableSelectionWindow::PushButton3_Click() {
    WindowRegistry& reg = registry();
    app::ErrorTrap trap(reg.boxes(), app::kForm2NextTag);

    std::unique_ptr<data::Connection> firstConnection;
    std::unique_ptr<data::Connection> secondConnection;
    trap.step(100, [&] {
        firstConnection = reg.data().CreateConnection();
        secondConnection = reg.data().CreateConnection();
    });

    if (!trap.test(106, [&] { return ListView1->Count() > 0 && ListView2->Count() > 0; })) {
        trap.step(248,
                  [&] { reg.boxes().show(QStringLiteral("Please select a table from each.")); });
        return;
    }
    if (!trap.test(108, [&] { return ListView1->SelectedIndex() != ListView2->SelectedIndex(); })) {
        trap.step(246, [&] {
            reg.boxes().show(QStringLiteral("Please select 2 different tables to compare."));
        });
        return;
    }

    // From here the run lets the windows paint; a second click must not start
    // a second run inside this one, and Esc stops it.
    std::optional<TableReader> firstReader;
    std::optional<TableReader> secondReader;
    bool cancelled = false;
    const InputGuard ignoreInput([&] {
        cancelled = true;
        if (firstReader) firstReader->Cancel();
        if (secondReader) secondReader->Cancel();
    });

    trap.step(110, [&] { SetMousePointer(kPointerBusy); });
    // One connection per table, both alike: the tables are read at the same time.
    trap.step(112, [&] {
        need(firstConnection).Mode = data::adModeReadWrite;
        need(secondConnection).Mode = data::adModeReadWrite;
    });
    trap.step(114, [&] {
        need(firstConnection).CommandTimeout = 5000;
        need(secondConnection).CommandTimeout = 5000;
    });
    trap.step(116, [&] {
        need(firstConnection).ConnectionTimeout = 5000;
        need(secondConnection).ConnectionTimeout = 5000;
    });
    trap.step(118, [&] {
        need(firstConnection).CursorLocation = data::adUseClient;
        need(secondConnection).CursorLocation = data::adUseClient;
    });

    // Whatever ends the run early: a table that cannot be reached, queried or
    // read (after its report), or Esc. No line of the run may remain, since a
    // partial comparison would read as a real one.
    const auto endEarly = [&] {
        firstReader.reset();
        secondReader.reset();
        if (ResultsWindow* results = reg.existingResultsWindow()) {
            results->fieldDifferences()->linesModel()->clear();
            results->recordDifferences()->linesModel()->clear();
        }
        trap.step(242, [&] {
            ProgressBar1->setRange(0, 100);
            ProgressBar1->setValue(0);
        });
        trap.step(244, [&] { SetMousePointer(kPointerNormal); });
    };

    const auto open = [&](bool local) {
        connection::LoginDetails details = reg.loginWindow().CurrentLoginDetails();
        details.localConnection = local;
        const QString connectionString = connection::BuildConnectionString(details);
        need(firstConnection);
        need(secondConnection);
        firstReader.emplace(std::move(firstConnection), connectionString);
        secondReader.emplace(std::move(secondConnection), connectionString);
        firstReader->Start();
        secondReader->Start();
        waitPast(*firstReader, TableReader::Stage::Connecting, cancelled);
        waitPast(*secondReader, TableReader::Stage::Connecting, cancelled);
    };
    const auto reach = [&](int line, bool local) {
        return trap.step(line, [&] {
            try {
                open(local);
            } catch (const RunCancelled&) {
                cancelled = true;
            }
        });
    };
    bool reached = false;
    if (trap.test(120, [&] { return reg.loginWindow().CurrentLoginDetails().localConnection; })) {
        reached = reach(122, true);
    } else {
        reached = reach(124, false);
    }
    if (!reached || cancelled) return endEarly();

    // Records paired by key: both tables' columns and the first's primary key
    // first, so that both can be read in the key's order. A key that cannot
    // be had ends the run before any line.
    std::optional<compare::KeyedQueries> keyed;
    if (PairByKey->isChecked()) {
        QString problem;
        const bool learnt = trap.step(250, [&] {
            try {
                keyed = compare::PlanKeyedQueries(
                    *firstReader, *secondReader, ListView1->SelectedTable(),
                    ListView2->SelectedTable(), compare::KeyChoice{true, {}}, [&] {
                        if (cancelled) throw RunCancelled{};
                        keepPainting();
                    });
            } catch (const RunCancelled&) {
                cancelled = true;
            } catch (const compare::KeyProblem& p) {
                problem = p.message();
            }
        });
        if (!problem.isEmpty()) {
            trap.step(252, [&] {
                reg.boxes().show(problem, QString(), ui::Buttons::Ok, ui::Icon::Exclamation);
            });
        }
        if (!learnt || !keyed || cancelled) return endEarly();
    }

    // Both queries go out before either is waited for -- by key the server
    // may sort both tables before their first rows -- and each table's
    // refusal is reported at its own step.
    const auto give = [&](int line, TableReader& reader, TableListView& list,
                          const QString* ordered) {
        return trap.step(line, [&] {
            const catalogue::TableName table = list.SelectedTable();
            reader.Query(ordered != nullptr ? *ordered : compare::SelectAllFrom(table),
                         compare::RowCountEstimateQuery(table));
        });
    };
    const auto queried = [&](int line, TableReader& reader) {
        return trap.step(line, [&] {
            try {
                waitPast(reader, TableReader::Stage::Querying, cancelled);
            } catch (const RunCancelled&) {
                cancelled = true;
            }
        });
    };
    if (!give(130, *firstReader, *ListView1, keyed ? &keyed->first : nullptr) ||
        !give(132, *secondReader, *ListView2, keyed ? &keyed->second : nullptr)) {
        return endEarly();
    }
    if (!queried(130, *firstReader) || cancelled) return endEarly();
    if (!queried(132, *secondReader) || cancelled) return endEarly();

    // Progress: rows read of the rows the server expects; a busy bar without estimates.
    const std::optional<std::int64_t> firstRows = firstReader->EstimatedRows();
    const std::optional<std::int64_t> secondRows = secondReader->EstimatedRows();
    const std::int64_t expected =
        firstRows && secondRows ? std::max<std::int64_t>(*firstRows + *secondRows, 1) : 0;
    constexpr int kProgressSteps = 1000;
    if (expected > 0) {
        ProgressBar1->setRange(0, kProgressSteps);
    } else {
        ProgressBar1->setRange(0, 0);
    }
    QElapsedTimer sincePaint;
    sincePaint.start();
    const auto onProgress = [&] {
        // A few updates a second: the bar and the painting cost next to nothing.
        if (sincePaint.elapsed() < 100) return;
        if (expected > 0) {
            const std::int64_t read = firstReader->RowsRead() + secondReader->RowsRead();
            ProgressBar1->setValue(static_cast<int>(
                std::min<std::int64_t>(read * kProgressSteps / expected, kProgressSteps)));
        }
        keepPainting();
        sincePaint.restart();
    };
    compare::ReaderBlocks firstBlocks = readerBlocks(*firstReader, 148, cancelled, onProgress);
    compare::ReaderBlocks secondBlocks = readerBlocks(*secondReader, 160, cancelled, onProgress);

    bool firstHasRows = false;
    bool secondHasRows = false;
    int lastField = 0;
    std::vector<QString> fieldNames;
    try {
        const data::ResultTable* firstBlock = nullptr;
        const data::ResultTable* secondBlock = nullptr;
        try {
            firstBlock = firstBlocks.TakeFirst();
        } catch (const ReadFailed& failed) {
            trap.step(failed.line, [&] { std::rethrow_exception(failed.cause); });
            return endEarly();
        }
        const data::ResultTable& firstColumns = firstReader->Columns();
        trap.step(134, [&] { firstHasRows = false; });
        if (trap.test(136, [&] { return firstBlock != nullptr; })) {
            trap.step(138, [&] { lastField = firstColumns.fieldCount() - 1; });
            trap.step(140, [&] {
                fieldNames.assign(static_cast<std::size_t>(firstColumns.fieldCount()) + 1,
                                  QString());
            });
            int lastName = -1;
            trap.step(142, [&] { lastName = firstColumns.fieldCount() - 1; });
            for (int k = 0; k <= lastName; ++k) {
                trap.step(144, [&] {
                    fieldNames.at(static_cast<std::size_t>(k)) = firstColumns.column(k).name();
                });
            }
            trap.step(150, [&] { firstHasRows = true; });
        }
        try {
            secondBlock = secondBlocks.TakeFirst();
        } catch (const ReadFailed& failed) {
            trap.step(failed.line, [&] { std::rethrow_exception(failed.cause); });
            return endEarly();
        }
        const data::ResultTable& secondColumns = secondReader->Columns();
        trap.step(152, [&] { secondHasRows = false; });
        if (trap.test(154, [&] { return secondBlock != nullptr; })) {
            if (trap.test(156, [&] { return lastField > secondColumns.fieldCount() - 1; })) {
                trap.step(158, [&] { lastField = secondColumns.fieldCount() - 1; });
            }
            trap.step(162, [&] { secondHasRows = true; });
        }
    } catch (const RunCancelled&) {
        return endEarly();
    }

    if (trap.test(168, [&] { return !firstHasRows; })) {
        firstReader.reset();
        secondReader.reset();
        trap.step(170, [&] { SetMousePointer(kPointerNormal); });
        trap.step(172, [&] {
            reg.boxes().show(
                ListView1->SelectedText() + QStringLiteral(" does not contain any data."),
                QString(), ui::Buttons::Ok, ui::Icon::Exclamation);
        });
        ProgressBar1->setRange(0, 100);
        return;
    }
    if (trap.test(174, [&] { return !secondHasRows; })) {
        firstReader.reset();
        secondReader.reset();
        trap.step(176, [&] { SetMousePointer(kPointerNormal); });
        trap.step(178, [&] {
            reg.boxes().show(
                ListView2->SelectedText() + QStringLiteral(" does not contain any data."),
                QString(), ui::Buttons::Ok, ui::Icon::Exclamation);
        });
        ProgressBar1->setRange(0, 100);
        return;
    }

    ResultsWindowSink results(
        reg, [&] { return ListView2->SelectedText(); }, [&] { return ListView1->SelectedText(); });
    try {
        compare::TableComparison comparison =
            PairByName->isChecked()
                ? compare::TableComparison::ByName(firstReader->Columns(), secondReader->Columns())
                : compare::TableComparison(lastField, fieldNames);
        if (keyed) comparison.PairRecordsBy(keyed->key);
        comparison.Run(trap, firstBlocks, secondBlocks, results);
    } catch (const compare::KeyOrderBroken& broken) {
        trap.step(256, [&] {
            reg.boxes().show(broken.message(broken.inFirstTable() ? ListView1->SelectedText()
                                                                  : ListView2->SelectedText()),
                             QString(), ui::Buttons::Ok, ui::Icon::Exclamation);
        });
        return endEarly();
    } catch (const ReadFailed& failed) {
        trap.step(failed.line, [&] { std::rethrow_exception(failed.cause); });
        return endEarly();
    } catch (const RunCancelled&) {
        return endEarly();
    }
    firstReader.reset();
    secondReader.reset();

    trap.step(234, [&] { reg.resultsWindow().Show(); });
    trap.step(236, [&] { Hide(); });
    trap.step(242, [&] {
        ProgressBar1->setRange(0, 100);
        ProgressBar1->setValue(0);
    });
    trap.step(244, [&] { SetMousePointer(kPointerNormal); });
}

}  // namespace windows
