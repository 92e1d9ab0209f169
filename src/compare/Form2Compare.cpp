// The comparison behind the table selection window's "Next >": reads both
// chosen tables whole, pairs records and fields by position and reports every
// difference into the results window. Written as numbered steps; a failing
// step is reported with its number and the run goes on with the next one.

#include <QApplication>
#include <stdexcept>
#include <vector>

#include "DifferenceReport.h"
#include "ErrorTrap.h"
#include "Form1.h"
#include "Form2.h"
#include "Form3.h"
#include "Pointer.h"
#include "TableQuery.h"
#include "ValueRules.h"
#include "WindowRegistry.h"

namespace catalogue {

namespace {

// An object whose creation failed: using it fails the step that uses it.
template <class T>
T& need(const std::unique_ptr<T>& object) {
    if (!object) throw std::runtime_error("Object variable not set");
    return *object;
}

// The value at field f, row r of a table's rows, or a failure when the rows
// hold no such cell (rows that could not be read, a field the table lacks).
data::FieldValue cell(const data::ResultTable& rows, int f, std::int64_t r) {
    if (f < 0 || f >= rows.fieldCount() || r < 0 ||
        static_cast<std::size_t>(r) >= rows.rowCount()) {
        throw std::out_of_range("Subscript out of range");
    }
    return rows.value(f, static_cast<std::size_t>(r));
}

// The highest row position of the rows; a failure when there are none.
int upperRow(const data::ResultTable& rows) {
    if (rows.fieldCount() == 0 || rows.rowCount() == 0) {
        throw std::out_of_range("Subscript out of range");
    }
    return static_cast<int>(rows.rowCount() - 1);
}

}  // namespace

void Form2::PushButton3_Click() {
    app::WindowRegistry& reg = registry();
    app::ErrorTrap trap(reg.boxes(), app::kForm2NextTag);

    std::unique_ptr<data::Connection> connection;
    std::unique_ptr<data::Recordset> first;
    std::unique_ptr<data::Recordset> second;
    trap.step(100, [&] { connection = reg.data().CreateConnection(); });
    trap.step(102, [&] { first = reg.data().CreateRecordset(); });
    trap.step(104, [&] { second = reg.data().CreateRecordset(); });

    if (!trap.test(106, [&] { return ListView1->Count() > 0 && ListView2->Count() > 0; })) {
        trap.step(248, [&] { reg.boxes().show(QStringLiteral("Please select a table from each.")); });
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
        connection::LoginDetails details = reg.form1().CurrentLoginDetails();
        details.localConnection = local;
        need(connection).Open(connection::BuildConnectionString(details));
    };
    if (trap.test(120, [&] { return reg.form1().Check7->isChecked(); })) {
        trap.step(122, [&] { open(true); });
    } else {
        trap.step(124, [&] { open(false); });
    }
    trap.step(126, [&] { need(first).CursorLocation = data::adUseClient; });
    trap.step(128, [&] { need(second).CursorLocation = data::adUseClient; });
    trap.step(130, [&] {
        need(first).Open(compare::SelectAllFrom(ListView1->SelectedText()), need(connection),
                         data::adOpenStatic, data::adLockReadOnly);
    });
    trap.step(132, [&] {
        need(second).Open(compare::SelectAllFrom(ListView2->SelectedText()), need(connection),
                          data::adOpenStatic, data::adLockReadOnly);
    });

    bool firstHasRows = false;
    int lastField = 0;
    std::vector<QString> fieldNames;
    data::ResultTable firstRows;
    data::ResultTable secondRows;
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
                fieldNames.at(static_cast<std::size_t>(k)) = need(first).GetFields().Item(k).Name();
            });
        }
        trap.step(148, [&] { firstRows = need(first).GetRows(); });
        trap.step(150, [&] { firstHasRows = true; });
    }
    bool secondHasRows = false;
    trap.step(152, [&] { secondHasRows = false; });
    if (trap.test(154, [&] { return !need(second).Eof(); })) {
        if (trap.test(156, [&] { return lastField > need(second).GetFields().Count() - 1; })) {
            trap.step(158, [&] { lastField = need(second).GetFields().Count() - 1; });
        }
        trap.step(160, [&] { secondRows = need(second).GetRows(); });
        trap.step(162, [&] { secondHasRows = true; });
    }
    trap.step(164, [&] {
        if (need(first).State() != data::adStateClosed) first->Close();
    });
    trap.step(166, [&] {
        if (need(second).State() != data::adStateClosed) second->Close();
    });

    if (trap.test(168, [&] { return !firstHasRows; })) {
        trap.step(170, [&] { SetMousePointer(app::kPointerNormal); });
        trap.step(172, [&] {
            reg.boxes().show(ListView1->SelectedText() + QStringLiteral(" does not contain any data."),
                             QString(), ui::Buttons::Ok, ui::Icon::Exclamation);
        });
        return;
    }
    if (trap.test(174, [&] { return !secondHasRows; })) {
        trap.step(176, [&] { SetMousePointer(app::kPointerNormal); });
        trap.step(178, [&] {
            reg.boxes().show(ListView2->SelectedText() + QStringLiteral(" does not contain any data."),
                             QString(), ui::Buttons::Ok, ui::Icon::Exclamation);
        });
        return;
    }

    int lastFirstRow = 0;
    int lastSecondRow = 0;
    trap.step(198, [&] { lastFirstRow = upperRow(firstRows); });
    trap.step(204, [&] { lastSecondRow = upperRow(secondRows); });

    const compare::ValueFormatter formatter;  // the user's regional settings, derived once
    int j = 0;
    trap.step(208, [&] { j = 0; });
    for (int r = 0; r <= lastFirstRow; ++r) {
        if (trap.test(212, [&] { return j > lastSecondRow; })) {
            trap.step(214, [&] {
                compare::ReportDeletedRecord(reg.form3(), std::int64_t{r} + 1,
                                             ListView2->SelectedText());
            });
        } else {
            for (int f = 0; f <= lastField; ++f) {
                if (trap.test(218, [&] {
                        return compare::ValuesDiffer(cell(firstRows, f, r), cell(secondRows, f, j));
                    })) {
                    trap.step(220, [&] {
                        compare::ReportFieldChange(reg.form3(), std::int64_t{r} + 1,
                                                   fieldNames.at(static_cast<std::size_t>(f)),
                                                   cell(firstRows, f, r), cell(secondRows, f, j),
                                                   formatter);
                    });
                }
            }
        }
        trap.step(224, [&] { ++j; });
    }
    while (trap.test(228, [&] { return j <= lastSecondRow; })) {
        trap.step(230, [&] {
            compare::ReportAddedRecord(reg.form3(), std::int64_t{j} + 1, ListView2->SelectedText());
        });
        trap.step(232, [&] { ++j; });
    }

    trap.step(234, [&] { reg.form3().Show(); });
    trap.step(236, [&] { Hide(); });
    trap.step(242, [&] { ProgressBar1->setValue(0); });
    trap.step(244, [&] { SetMousePointer(app::kPointerNormal); });
}

}  // namespace catalogue
