// The table selection window's "Compare all tables": every table of the
// login's database with the table of the same schema and name in the
// database "Second table from:" names, one pair at a time, as the command's
// compare-databases does. Both table lists are read here, while the bar
// says so and Esc gives up; then the overview takes the place of this
// window and runs the pairs, a row each.

#include <QProgressBar>
#include <optional>
#include <utility>

#include "DatabaseComparison.h"
#include "ErrorReport.h"
#include "InputGuard.h"
#include "LoginWindow.h"
#include "OverviewWindow.h"
#include "Pointer.h"
#include "SideNames.h"
#include "TableSelectionWindow.h"
#include "WhilePainting.h"
#include "WindowRegistry.h"

namespace windows {

namespace {

// Reads a table list (with the views, when the lists show them) on a thread
// of its own while the windows paint; Esc gives up at once, leaving the read
// to end alone.
compare::CatalogueReader ReadWhilePainting(data::DataAccess* data,
                                           const compare::DatabaseComparison& comparison,
                                           bool withViews) {
    return [data, &comparison, withViews](const connection::LoginDetails& login) {
        std::optional<catalogue::CatalogueRead> read = WhilePaintingUnlessGivenUp(
            [data, login, withViews] {
                return catalogue::ReadTableCatalogue(login, *data, withViews);
            },
            [&] { return comparison.Cancelled(); });
        if (!read) throw compare::RunCancelled{};
        return std::move(*read);
    };
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
    bool listed = false;
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
            comparison.List({}, ReadWhilePainting(&reg.data(), comparison, showsViews()));
            listed = true;
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
    if (!listed) return;
    reg.overviewWindow().CompareAll(comparison);
}

}  // namespace windows
