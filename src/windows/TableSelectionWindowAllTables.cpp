// The table selection window's "Compare all tables": every table of the
// login's database with the table of the same schema and name in the
// database "Second table from:" names, one pair at a time, as the command's
// compare-databases does. The results window then lists a line a pair and
// the totals, and below them the tables only one database has.
//
// While it runs the windows paint, the bar says which table of how many,
// and Esc stops the whole run: a run cut short leaves no line, lest it pass
// for a comparison of every table. A pair that cannot be compared says why
// in its line, and the run goes on with the next.

#include <QCoreApplication>
#include <memory>
#include <optional>

#include "DatabaseComparison.h"
#include "DifferenceLines.h"
#include "ErrorReport.h"
#include "InputGuard.h"
#include "LoginWindow.h"
#include "Pointer.h"
#include "ResultsWindow.h"
#include "SideNames.h"
#include "TableSelectionWindow.h"
#include "WhilePainting.h"
#include "WindowRegistry.h"

namespace windows {

namespace {

// How long the run lets the windows paint at each turn.
constexpr int kPaintSliceMs = 20;

// The windows paint while a pair's run waits; the bar counts tables, not rows.
class PaintingObserver final : public compare::RunObserver {
public:
    void Waiting() override {
        QCoreApplication::processEvents(QEventLoop::AllEvents, kPaintSliceMs);
    }
};

}  // namespace

void TableSelectionWindow::AllTables_Click() {
    WindowRegistry& reg = registry();
    const connection::LoginDetails first = reg.loginWindow().CurrentLoginDetails();
    const connection::LoginDetails second = SecondSideLogin();
    if (originAt(originIndex_) == Origin::ThisDatabase || compare::SameDatabase(first, second)) {
        reg.boxes().show(
            QStringLiteral("Both sides are the same database. Choose another database under "
                           "\"Second table from:\" to compare all its tables with this one's."),
            QString(), ui::Buttons::Ok, ui::Icon::Exclamation);
        return;
    }
    compare::RunOptions options;
    options.fieldsByName = PairByName->isChecked();
    if (PairByKey->isChecked()) options.key.automatic = true;

    bool stopped = false;
    compare::ComparisonRun* current = nullptr;
    std::optional<QString> failure;
    std::vector<compare::TableEntry> entries;
    std::vector<compare::PairOutcome> outcomes;
    {
        // From here the windows paint; a second click must not start a second
        // run inside this one, and Esc stops it.
        const InputGuard ignoreInput([&] {
            stopped = true;
            if (current != nullptr) current->Cancel();
        });
        SetMousePointer(kPointerBusy);
        ProgressBar1->setTextVisible(true);
        ProgressBar1->setRange(0, 0);
        ProgressBar1->setFormat(QStringLiteral("Listing the tables\u2026"));

        // Both lists as they are now; a database that cannot be listed ends
        // the run before any pair. Esc gives up at once, leaving the read to
        // end alone.
        data::DataAccess* data = &reg.data();
        const auto list = [&](const connection::LoginDetails& login, const QString& side) {
            std::optional<catalogue::CatalogueRead> read;
            try {
                read = WhilePaintingUnlessGivenUp(
                    [data, login] { return catalogue::ReadTableCatalogue(login, *data); },
                    [&] { return stopped; });
                if (read && read->failure) std::rethrow_exception(read->failure);
            } catch (...) {
                failure = QStringLiteral("The tables of %1 on %2 could not be listed:\r\r%3")
                              .arg(compare::DatabaseLabel(login, side), compare::ServerName(login),
                                   app::DescribeFailure(std::current_exception()));
                read.reset();
            }
            return read;
        };
        std::optional<catalogue::CatalogueRead> firstList = list(first, QStringLiteral("first"));
        std::optional<catalogue::CatalogueRead> secondList;
        if (firstList) secondList = list(second, QStringLiteral("second"));
        if (firstList && secondList) {
            entries = compare::PairTables(firstList->tables, secondList->tables,
                                          [](const catalogue::TableName&) { return true; });
        }

        PaintingObserver observer;
        for (std::size_t k = 0; k < entries.size() && !stopped && !failure; ++k) {
            const compare::TableEntry& e = entries[k];
            ProgressBar1->setRange(0, static_cast<int>(entries.size()));
            ProgressBar1->setValue(static_cast<int>(k));
            // The name as the lines show it; in one pass, so that a % in it
            // is no place for the counts.
            QString progress = QStringLiteral("%1 (%2 of %3)")
                                   .arg(compare::WithVisibleControls(e.listed()),
                                        QString::number(k + 1), QString::number(entries.size()));
            ProgressBar1->setFormat(progress.replace(u'%', QStringLiteral("%%")));
            QCoreApplication::processEvents(QEventLoop::AllEvents, kPaintSliceMs);
            if (stopped) break;
            if (!e.first || !e.second) {
                outcomes.push_back(compare::Alone(e, first, second));
                continue;
            }
            try {
                outcomes.push_back(compare::ComparePair(
                    reg.data(), {first, *e.first}, {second, *e.second}, options, observer,
                    [&](compare::ComparisonRun* run) { current = run; }));
            } catch (const compare::RunCancelled&) {
                stopped = true;
            } catch (...) {
                // Whatever fails a pair ends only that pair.
                compare::PairOutcome failed;
                failed.kind = compare::PairOutcome::Kind::NotCompared;
                failed.table = e.listed();
                failed.note = app::DescribeFailure(std::current_exception()).simplified();
                outcomes.push_back(failed);
            }
        }
        ProgressBar1->setTextVisible(false);
        ProgressBar1->setFormat(QStringLiteral("%p%"));
        ProgressBar1->setRange(0, 100);
        ProgressBar1->setValue(0);
        SetMousePointer(kPointerNormal);
    }
    if (failure && !stopped) {
        reg.boxes().show(*failure, QString(), ui::Buttons::Ok, ui::Icon::Exclamation);
        return;
    }
    if (stopped || failure) return;

    // As the command's text report: aligned columns, the totals last.
    const qsizetype width = compare::TableColumnWidth(entries);
    QStringList pairs, alone;
    compare::PairTotals totals;
    for (const compare::PairOutcome& o : outcomes) {
        totals.count(o.kind);
        const bool single = o.kind == compare::PairOutcome::Kind::OnlyInFirst ||
                            o.kind == compare::PairOutcome::Kind::OnlyInSecond;
        (single ? alone : pairs) << compare::PairLine(o, width);
    }
    pairs << compare::TotalsLine(totals, first, second);
    reg.resultsWindow().ShowTableLines(compare::PairHeaderRow(width), pairs, alone);
    reg.resultsWindow().Show();
    Hide();
}

}  // namespace windows
