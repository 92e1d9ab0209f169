// The table selection window's "Next >": checks the choice, reads both
// chosen tables whole and hands them to the comparison engine, which writes
// every difference into the results window. Written as numbered steps; a
// failing step is reported with its number and the run goes on with the next one.

#include <stdexcept>
#include <vector>

#include "ErrorTrap.h"
#include "LoginWindow.h"
#include "Pointer.h"
#include "ResultsWindow.h"
#include "ResultsWindowSink.h"
#include "TableComparison.h"
#include "TableQuery.h"
#include "TableSelectionWindow.h"
#include "WindowRegistry.h"

namespace windows {

namespace {

// An object whose creation failed: using it fails the step that uses it.
template <class T>
T& need(const std::unique_ptr<T>& object) {
    if (!object) throw std::runtime_error("Object variable not set");
    return *object;
}

}  // namespace

void TableSelectionWindow::PushButton3_Click() {
    WindowRegistry& reg = registry();
    app::ErrorTrap trap(reg.boxes(), app::kForm2NextTag);

    std::unique_ptr<data::Connection> connection;
    std::unique_ptr<data::Recordset> first;
    std::unique_ptr<data::Recordset> second;
    trap.step(100, [&] { connection = reg.data().CreateConnection(); });
    trap.step(102, [&] { first = reg.data().CreateRecordset(); });
    trap.step(104, [&] { second = reg.data().CreateRecordset(); });

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

    trap.step(110, [&] { SetMousePointer(app::kPointerBusy); });
    trap.step(112, [&] { need(connection).Mode = data::adModeReadWrite; });
    trap.step(114, [&] { need(connection).CommandTimeout = 5000; });
    trap.step(116, [&] { need(connection).ConnectionTimeout = 5000; });
    trap.step(118, [&] { need(connection).CursorLocation = data::adUseClient; });
    const auto open = [&](bool local) {
        connection::LoginDetails details = reg.loginWindow().CurrentLoginDetails();
        details.localConnection = local;
        need(connection).Open(connection::BuildConnectionString(details));
    };
    // A connection that cannot be opened or a table that cannot be queried or
    // read ends the run after its report, as a table without data does: a
    // comparison against rows that were never read would list invented
    // differences, and an empty results window would read as "identical".
    bool firstHasRows = false;
    bool secondHasRows = false;
    int lastField = 0;
    std::vector<QString> fieldNames;
    data::ResultTable firstRows;
    data::ResultTable secondRows;
    const bool tablesRead = [&] {
        if (trap.test(120,
                      [&] { return reg.loginWindow().CurrentLoginDetails().localConnection; })) {
            if (!trap.step(122, [&] { open(true); })) return false;
        } else {
            if (!trap.step(124, [&] { open(false); })) return false;
        }
        trap.step(126, [&] { need(first).CursorLocation = data::adUseClient; });
        trap.step(128, [&] { need(second).CursorLocation = data::adUseClient; });
        if (!trap.step(130, [&] {
                need(first).Open(compare::SelectAllFrom(ListView1->SelectedTable()),
                                 need(connection), data::adOpenStatic, data::adLockReadOnly);
            })) {
            return false;
        }
        if (!trap.step(132, [&] {
                need(second).Open(compare::SelectAllFrom(ListView2->SelectedTable()),
                                  need(connection), data::adOpenStatic, data::adLockReadOnly);
            })) {
            return false;
        }

        trap.step(134, [&] { firstHasRows = false; });
        if (trap.test(136, [&] { return !need(first).Eof(); })) {
            trap.step(138, [&] { lastField = need(first).GetFields().Count() - 1; });
            trap.step(140, [&] {
                fieldNames.assign(static_cast<std::size_t>(need(first).GetFields().Count()) + 1,
                                  QString());
            });
            int lastName = -1;
            trap.step(142, [&] { lastName = need(first).GetFields().Count() - 1; });
            for (int k = 0; k <= lastName; ++k) {
                trap.step(144, [&] {
                    fieldNames.at(static_cast<std::size_t>(k)) =
                        need(first).GetFields().Item(k).Name();
                });
            }
            if (!trap.step(148, [&] { firstRows = need(first).GetRows(); })) return false;
            trap.step(150, [&] { firstHasRows = true; });
        }
        trap.step(152, [&] { secondHasRows = false; });
        if (trap.test(154, [&] { return !need(second).Eof(); })) {
            if (trap.test(156, [&] { return lastField > need(second).GetFields().Count() - 1; })) {
                trap.step(158, [&] { lastField = need(second).GetFields().Count() - 1; });
            }
            if (!trap.step(160, [&] { secondRows = need(second).GetRows(); })) return false;
            trap.step(162, [&] { secondHasRows = true; });
        }
        return true;
    }();
    trap.step(164, [&] {
        if (need(first).State() != data::adStateClosed) first->Close();
    });
    trap.step(166, [&] {
        if (need(second).State() != data::adStateClosed) second->Close();
    });
    if (!tablesRead) {
        trap.step(242, [&] { ProgressBar1->setValue(0); });
        trap.step(244, [&] { SetMousePointer(app::kPointerNormal); });
        return;
    }

    if (trap.test(168, [&] { return !firstHasRows; })) {
        trap.step(170, [&] { SetMousePointer(app::kPointerNormal); });
        trap.step(172, [&] {
            reg.boxes().show(
                ListView1->SelectedText() + QStringLiteral(" does not contain any data."),
                QString(), ui::Buttons::Ok, ui::Icon::Exclamation);
        });
        return;
    }
    if (trap.test(174, [&] { return !secondHasRows; })) {
        trap.step(176, [&] { SetMousePointer(app::kPointerNormal); });
        trap.step(178, [&] {
            reg.boxes().show(
                ListView2->SelectedText() + QStringLiteral(" does not contain any data."),
                QString(), ui::Buttons::Ok, ui::Icon::Exclamation);
        });
        return;
    }

    ResultsWindowSink results(reg, [&] { return ListView2->SelectedText(); });
    compare::WholeTable firstBlocks(firstRows);
    compare::WholeTable secondBlocks(secondRows);
    compare::TableComparison(lastField, fieldNames).Run(trap, firstBlocks, secondBlocks, results);

    trap.step(234, [&] { reg.resultsWindow().Show(); });
    trap.step(236, [&] { Hide(); });
    trap.step(242, [&] { ProgressBar1->setValue(0); });
    trap.step(244, [&] { SetMousePointer(app::kPointerNormal); });
}

}  // namespace windows
