#include "OverviewWindow.h"

#include <QHeaderView>
#include <QKeyEvent>
#include <algorithm>

#include "ApplicationTitle.h"
#include "ClassicLook.h"
#include "DifferenceLines.h"
#include "ErrorReport.h"
#include "ErrorTrap.h"
#include "InputGuard.h"
#include "Layout.h"
#include "Pointer.h"
#include "ResultsWindow.h"
#include "RunProgressBar.h"
#include "SideNames.h"
#include "TableSelectionWindow.h"
#include "WhilePainting.h"
#include "WindowRegistry.h"

namespace windows {

namespace {

constexpr int kWidth = 13800;

// The run of all tables on the overview: the windows paint while a pair
// waits, the row under way is marked, and each row fills in as its pair
// ends; the bar counts tables, not rows.
class AllPairsProgress final : public compare::DatabaseObserver {
public:
    AllPairsProgress(OverviewModel& model, QProgressBar& bar, std::function<void(int)> starting,
                     std::function<void()> done)
        : model_(model), bar_(bar), starting_(std::move(starting)), done_(std::move(done)) {}

    void Waiting() override { PaintTurn(); }
    void PairStarting(const compare::TableEntry& entry, std::size_t index,
                      std::size_t count) override {
        row_ = static_cast<int>(index);
        model_.SetUnderWay(row_);
        bar_.setRange(0, static_cast<int>(count));
        bar_.setValue(row_);
        QString progress = compare::PairProgressText(entry.listed(), index, count);
        bar_.setFormat(progress.replace(u'%', QStringLiteral("%%")));
        starting_(row_);
        PaintTurn();
    }
    void PairDone(const compare::PairOutcome& outcome) override {
        model_.SetOutcome(row_, outcome);
        done_();
    }

private:
    OverviewModel& model_;
    QProgressBar& bar_;
    std::function<void(int)> starting_;
    std::function<void()> done_;
    int row_ = 0;
};

}  // namespace

// The list of pairs: sortable by any column, its columns as wide as their
// text once rows fill.
void OverviewWindow::placePairs(int inner) {
    model_ = new OverviewModel(this);
    sorted_ = new QSortFilterProxyModel(this);
    sorted_->setSourceModel(model_);
    sorted_->setSortRole(OverviewModel::kSortRole);
    sorted_->setSortCaseSensitivity(Qt::CaseInsensitive);
    pairs_ = Place(new QTableView(this), "Pairs", 120, 480, inner, 4200);
    pairs_->setModel(sorted_);
    pairs_->setFont(ArialFont(9, false));
    pairs_->setSelectionBehavior(QAbstractItemView::SelectRows);
    pairs_->setSelectionMode(QAbstractItemView::SingleSelection);
    pairs_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    pairs_->setWordWrap(false);
    pairs_->setTextElideMode(Qt::ElideRight);
    pairs_->setShowGrid(false);
    pairs_->setAlternatingRowColors(true);
    pairs_->verticalHeader()->hide();
    pairs_->verticalHeader()->setDefaultSectionSize(pairs_->fontMetrics().height() + 6);
    QHeaderView* header = pairs_->horizontalHeader();
    header->setHighlightSections(false);
    // The result fills the rest of the list, or is as wide as the widest,
    // which the list then scrolls to.
    header->setStretchLastSection(false);
    // Columns start at these widths and grow to their contents as the rows
    // fill, each cell whole in its hint.
    const int widths[] = {2400, 1200, 900, 900, 900, 1860, 900};
    for (int c = 0; c < static_cast<int>(std::size(widths)); ++c) {
        header->resizeSection(c, Twips(widths[c]));
    }
    connect(model_, &QAbstractItemModel::modelReset, this, [this, widths] {
        resultWidth_ = 0;
        for (int c = 0; c < static_cast<int>(std::size(widths)); ++c) {
            pairs_->horizontalHeader()->resizeSection(c, Twips(widths[c]));
        }
        fitColumns(0, model_->rowCount() - 1);
    });
    connect(model_, &QAbstractItemModel::dataChanged, this,
            [this](const QModelIndex& from, const QModelIndex& to) {
                fitColumns(from.row(), to.row());
            });
    // Sortable by any column, yet in the listed order until a header is clicked.
    pairs_->setSortingEnabled(true);
    header->setSortIndicator(-1, Qt::AscendingOrder);
}

OverviewWindow::OverviewWindow(WindowRegistry& registry) : Window(registry) {
    setFont(ArialFont(9));
    setFixedSize(Twips(kWidth), Twips(6660));
    const int inner = kWidth - 240;

    heading_ = Place(new QLabel(this), "Heading", 120, 120, inner, 255);
    heading_->setTextFormat(Qt::PlainText);

    placePairs(inner);

    progress_ = Place(new QProgressBar(this), "Progress", 120, 4800, inner, 405);
    progress_->setRange(0, 100);
    progress_->setValue(0);
    progress_->setTextVisible(false);
    status_ = Place(new QLabel(this), "Status", 120, 5280, inner, 255);
    totals_ = Place(new QLabel(this), "Totals", 120, 5580, inner, 420);
    for (QLabel* label : {status_, totals_}) {
        label->setTextFormat(Qt::PlainText);
        label->setWordWrap(true);
        label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    }
    totals_->setAlignment(Qt::AlignLeft | Qt::AlignTop);

    back_ = Place(new QPushButton(QStringLiteral("< Back"), this), "Back", 120, 6120, 4440, 405);
    compareAgain_ = Place(new QPushButton(QStringLiteral("Compare again"), this), "CompareAgain",
                          4680, 6120, 4440, 405);
    exit_ = Place(new QPushButton(QStringLiteral("Exit"), this), "Exit", 9240, 6120, 4440, 405);
    for (QPushButton* b : {back_, compareAgain_, exit_}) {
        b->setFont(ArialFont(11.25));
        b->setAutoDefault(false);
    }
    setTabOrder(pairs_, compareAgain_);
    setTabOrder(compareAgain_, back_);
    setTabOrder(back_, exit_);

    AddPointerHandler(pairs_->viewport(), PointerHandler::Normal);
    for (QLabel* label : {heading_, status_, totals_}) {
        AddPointerHandler(label, PointerHandler::Normal);
    }
    for (QPushButton* b : {back_, compareAgain_, exit_}) AddPointerHandler(b, PointerHandler::Hand);
    AddNoPointerHandler(progress_);

    // Enter on the list opens the current pair too (see eventFilter).
    connect(pairs_, &QAbstractItemView::doubleClicked, this, [this] { openCurrent(); });
    pairs_->installEventFilter(this);
    connect(pairs_->selectionModel(), &QItemSelectionModel::currentChanged, this,
            [this] { settleButtons(); });
    connect(back_, &QPushButton::clicked, this, [this] { Back_Click(); });
    connect(compareAgain_, &QPushButton::clicked, this, [this] { CompareAgain_Click(); });
    connect(exit_, &QPushButton::clicked, this, [this] { Exit_Click(); });
    settleButtons();
}

void OverviewWindow::Form_Load() {
    ErrorTrap trap(registry().boxes(), app::kOverviewLoadTag);
    trap.step(100, [&] { ApplyClassicColours(*this); });
    trap.step(102, [&] { setWindowIcon(ProgramIcon()); });
    LoadPointerFile(trap, 106, 108);
    trap.step(110, [&] { setWindowTitle(QString::fromLatin1(app::kProductName)); });
}

std::optional<int> OverviewWindow::currentRow() const {
    const QModelIndex current = pairs_->currentIndex();
    if (!current.isValid()) return std::nullopt;
    return sorted_->mapToSource(current).row();
}

bool OverviewWindow::eventFilter(QObject* watched, QEvent* event) {
    if (watched == pairs_ && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            openCurrent();
            return true;
        }
    }
    return Window::eventFilter(watched, event);
}

void OverviewWindow::openCurrent() {
    if (const std::optional<int> row = currentRow()) ShowPairResults(*row);
}

void OverviewWindow::CompareAll(compare::DatabaseComparison& comparison) {
    first_ = comparison.login(compare::Side::First);
    second_ = comparison.login(compare::Side::Second);
    options_ = comparison.options();
    stopped_ = false;
    pairs_->horizontalHeader()->setSortIndicator(-1, Qt::AscendingOrder);
    model_->Reset(comparison.Entries());
    heading_->setText(QStringLiteral("%1 on %2 compared with %3 on %4")
                          .arg(compare::DatabaseLabel(first_, compare::Side::First),
                               compare::ServerName(first_),
                               compare::DatabaseLabel(second_, compare::Side::Second),
                               compare::ServerName(second_)));
    Show();
    registry().tableSelectionWindow().Hide();

    running_ = true;
    {
        // Input is dropped while the windows paint, but Esc, which stops the run.
        const InputGuard ignoreInput([&] { comparison.Cancel(); });
        SetMousePointer(kPointerBusy);
        settleButtons();
        status_->setText(QStringLiteral("Esc stops the run."));
        status_->setStyleSheet(QString());
        progress_->setTextVisible(true);
        AllPairsProgress observer(
            *model_, *progress_,
            [this](int row) { pairs_->scrollTo(sorted_->mapFromSource(model_->index(row, 0))); },
            [this] { showState(); });
        showState();
        try {
            comparison.Run(observer);
        } catch (const compare::RunCancelled&) {
            stopped_ = true;
        }
        model_->SetUnderWay(std::nullopt);
        progress_->setTextVisible(false);
        progress_->setFormat(QStringLiteral("%p%"));
        progress_->setRange(0, 100);
        progress_->setValue(0);
        SetMousePointer(kPointerNormal);
    }
    running_ = false;
    if (model_->rowCount() > 0 && !pairs_->currentIndex().isValid()) pairs_->selectRow(0);
    pairs_->setFocus();
    showState();
    settleButtons();
}

void OverviewWindow::ShowPairResults(int row) {
    if (running_) return;
    const compare::TableEntry& entry = model_->entry(row);
    if (!entry.first || !entry.second) {
        registry().boxes().show(
            QStringLiteral("%1 is %2: there is no table to compare it with.")
                .arg(compare::WithVisibleControls(entry.listed()),
                     compare::ResultText(compare::Alone(entry, first_, second_))),
            QString(), ui::Buttons::Ok, ui::Icon::Information);
        return;
    }
    PairResults results(registry());
    const std::optional<compare::PairOutcome> outcome =
        runPair(row, [&](const OverviewPair& pair, compare::RunObserver& observer) {
            return results.Run(pair, observer);
        });
    if (!outcome) return;
    if (results.shown()) {
        registry().resultsWindow().Show();
        Hide();
        return;
    }
    // Nothing to list: the pair failed, or a table held no record.
    const bool failed = outcome->kind == compare::PairOutcome::Kind::NotCompared;
    registry().boxes().show(
        QStringLiteral("%1: %2").arg(compare::WithVisibleControls(entry.listed()),
                                     compare::ResultText(*outcome)),
        QString(), ui::Buttons::Ok, failed ? ui::Icon::Exclamation : ui::Icon::Information);
}

void OverviewWindow::CompareAgain(int row) {
    if (running_) return;
    const compare::TableEntry& entry = model_->entry(row);
    if (!entry.first || !entry.second) return;  // a table alone stays alone
    runPair(row, [&](const OverviewPair& pair, compare::RunObserver& observer) {
        return ComparePairWhilePainting(registry().data(), pair, observer);
    });
}

std::optional<compare::PairOutcome> OverviewWindow::runPair(
    int row, const std::function<std::optional<compare::PairOutcome>(const OverviewPair&,
                                                                     compare::RunObserver&)>& run) {
    const OverviewPair pair{first_, second_, model_->entry(row), options_};
    running_ = true;
    SetMousePointer(kPointerBusy);
    settleButtons();
    model_->SetUnderWay(row);
    status_->setStyleSheet(QString());
    status_->setText(QStringLiteral("Comparing %1 again. Esc stops it.")
                         .arg(compare::WithVisibleControls(pair.entry.listed())));
    progress_->setRange(0, 0);
    RunProgressBar observer(*progress_);
    const std::optional<compare::PairOutcome> outcome = run(pair, observer);
    if (outcome) model_->SetOutcome(row, *outcome);
    model_->SetUnderWay(std::nullopt);
    progress_->setRange(0, 100);
    progress_->setValue(0);
    SetMousePointer(kPointerNormal);
    running_ = false;
    showState();
    settleButtons();
    return outcome;
}

// Only the rows that changed are measured: a run of thousands of tables
// must not measure them all at each.
void OverviewWindow::fitColumns(int firstRow, int lastRow) {
    QHeaderView* header = pairs_->horizontalHeader();
    for (int r = firstRow; r <= lastRow; ++r) {
        for (int c = 0; c < OverviewModel::ColumnCount; ++c) {
            const QModelIndex index = sorted_->mapFromSource(model_->index(r, c));
            const int width = pairs_->sizeHintForIndex(index).width();
            if (c == OverviewModel::ResultColumn) {
                resultWidth_ = std::max(resultWidth_, width);
            } else if (width > header->sectionSize(c)) {
                header->resizeSection(c, width);
            }
        }
    }
    int others = 0;
    for (int c = 0; c < OverviewModel::ColumnCount; ++c) {
        if (c != OverviewModel::ResultColumn) others += header->sectionSize(c);
    }
    header->resizeSection(OverviewModel::ResultColumn,
                          std::max(resultWidth_, pairs_->viewport()->width() - others));
}

void OverviewWindow::showState() {
    const compare::PairTotals totals = model_->totals();
    const int done = model_->doneCount();
    const int all = model_->rowCount();
    if (done == all) {
        totals_->setText(compare::TotalsLine(totals, first_, second_));
    } else {
        // Not the totals of the two databases: only of the rows done.
        totals_->setText(
            QStringLiteral("So far: ") +
            compare::WithVisibleControls(compare::TotalsText(totals, first_, second_)));
    }
    if (running_) return;
    if (stopped_ && done < all) {
        status_->setStyleSheet(QStringLiteral("color: #a00000"));
        status_->setText(
            QStringLiteral("The run was stopped: %1 of %2 tables were compared, the others were "
                           "not. \"Compare again\" compares a pair of them.")
                .arg(done)
                .arg(all));
        return;
    }
    status_->setStyleSheet(QString());
    status_->setText(all > 0 ? QStringLiteral("Double-click a pair, or press Enter, to see its "
                                              "differences.")
                             : QStringLiteral("Neither database has a table to compare."));
}

void OverviewWindow::settleButtons() {
    const std::optional<int> row = currentRow();
    const bool pair =
        row && model_->entry(*row).first.has_value() && model_->entry(*row).second.has_value();
    compareAgain_->setEnabled(!running_ && pair);
}

void OverviewWindow::Back_Click() {
    registry().tableSelectionWindow().Show();
    Hide();
}

void OverviewWindow::CompareAgain_Click() {
    if (const std::optional<int> row = currentRow()) CompareAgain(*row);
}

void OverviewWindow::Exit_Click() { registry().EndProgram(); }

}  // namespace windows
