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
#include <QProgressBar>
#include <QStringList>
#include <optional>
#include <utility>

#include "DatabaseComparison.h"
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

// The windows paint while a pair's run waits; the bar counts tables, not rows.
class AllTablesProgress final : public compare::DatabaseObserver {
public:
    explicit AllTablesProgress(QProgressBar& bar) : bar_(bar) {}
    void Waiting() override { PaintTurn(); }
    void PairStarting(const compare::TableEntry& entry, std::size_t index,
                      std::size_t count) override {
        bar_.setRange(0, static_cast<int>(count));
        bar_.setValue(static_cast<int>(index));
        QString progress = compare::PairProgressText(entry.listed(), index, count);
        bar_.setFormat(progress.replace(u'%', QStringLiteral("%%")));
        PaintTurn();
    }

private:
    QProgressBar& bar_;
};

// Reads a table list on a thread of its own while the windows paint; Esc
// gives up at once, leaving the read to end alone.
compare::CatalogueReader ReadWhilePainting(data::DataAccess* data,
                                           const compare::DatabaseComparison& comparison) {
    return [data, &comparison](const connection::LoginDetails& login) {
        std::optional<catalogue::CatalogueRead> read = WhilePaintingUnlessGivenUp(
            [data, login] { return catalogue::ReadTableCatalogue(login, *data); },
            [&] { return comparison.Cancelled(); });
        if (!read) throw compare::RunCancelled{};
        return std::move(*read);
    };
}

// As the command's text report: aligned columns, the totals last; the tables
// only one database has in the second list.
void ShowLines(ResultsWindow& results, const compare::DatabaseComparison& comparison,
               const compare::DatabaseResult& result, const connection::LoginDetails& first,
               const connection::LoginDetails& second) {
    const qsizetype width = compare::TableColumnWidth(comparison.Entries());
    QStringList pairs, alone;
    for (const compare::PairOutcome& o : result.outcomes) {
        const bool single = o.kind == compare::PairOutcome::Kind::OnlyInFirst ||
                            o.kind == compare::PairOutcome::Kind::OnlyInSecond;
        (single ? alone : pairs) << compare::PairLine(o, width);
    }
    pairs << compare::TotalsLine(result.totals, first, second);
    results.ShowTableLines(compare::PairHeaderRow(width), pairs, alone);
}

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

    compare::DatabaseComparison comparison(reg.data(), first, second, options);
    std::optional<compare::DatabaseResult> result;
    std::optional<QString> failure;
    {
        // From here the windows paint; a second click must not start a second
        // run inside this one, and Esc stops it.
        const InputGuard ignoreInput([&] { comparison.Cancel(); });
        SetMousePointer(kPointerBusy);
        ProgressBar1->setTextVisible(true);
        ProgressBar1->setRange(0, 0);
        ProgressBar1->setFormat(QStringLiteral("Listing the tables\u2026"));
        try {
            // Both lists as they are now; a database that cannot be listed
            // ends the run before any pair.
            comparison.List({}, ReadWhilePainting(&reg.data(), comparison));
            AllTablesProgress progress(*ProgressBar1);
            result = comparison.Run(progress);
        } catch (const compare::RunCancelled&) {
        } catch (const compare::ListingFailed& listing) {
            const bool inFirst = listing.side == compare::Side::First;
            const connection::LoginDetails& login = inFirst ? first : second;
            failure = QStringLiteral("The tables of %1 on %2 could not be listed:\r\r%3")
                          .arg(compare::DatabaseLabel(login, listing.side),
                               compare::ServerName(login), app::DescribeFailure(listing.cause));
        }
        ProgressBar1->setTextVisible(false);
        ProgressBar1->setFormat(QStringLiteral("%p%"));
        ProgressBar1->setRange(0, 100);
        ProgressBar1->setValue(0);
        SetMousePointer(kPointerNormal);
    }
    if (failure && !comparison.Cancelled()) {
        reg.boxes().show(*failure, QString(), ui::Buttons::Ok, ui::Icon::Exclamation);
        return;
    }
    if (!result) return;
    ShowLines(reg.resultsWindow(), comparison, *result, first, second);
    reg.resultsWindow().Show();
    Hide();
}

}  // namespace windows
