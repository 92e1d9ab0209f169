#pragma once

#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QSortFilterProxyModel>
#include <QTableView>
#include <functional>
#include <optional>

#include "DatabaseComparison.h"
#include "OverviewModel.h"
#include "PairResults.h"
#include "Window.h"

namespace windows {

// The overview of a comparison of all tables: a row a pair (or a table only
// one database has), filled in as its pair ends, sortable by any column, the
// totals under it. A pair's row opens its differences in the results window
// (double-click or Enter), whose "< Back" returns here; "Compare again"
// compares the chosen pair anew.
class OverviewWindow : public Window {
    Q_OBJECT

public:
    explicit OverviewWindow(WindowRegistry& registry);

    void Form_Load() override;

    // Shows every entry of the listed comparison at once, in place of the
    // table selection window, and compares them one at a time while the
    // windows paint, each row filled in as its pair ends. Esc stops the run:
    // the rows done stay, and the window says that the others were not
    // compared.
    void CompareAll(compare::DatabaseComparison& comparison);

    // The pair of a row (of the model, in the listed order) compared again
    // into the results window, which then shows in place of this one; a
    // pair that cannot be shown says why. Either way its row takes the new
    // outcome.
    void ShowPairResults(int row);
    // The pair of a row compared again, for its row and the totals.
    void CompareAgain(int row);

    // The controls by role, for whoever must name them from outside.
    QTableView* pairsView() const { return pairs_; }
    // The rows in the listed order, whatever the view's sorting.
    OverviewModel* pairsModel() const { return model_; }
    QProgressBar* progressBar() const { return progress_; }
    QLabel* statusLabel() const { return status_; }
    QLabel* totalsLabel() const { return totals_; }
    QPushButton* backButton() const { return back_; }
    QPushButton* compareAgainButton() const { return compareAgain_; }
    QPushButton* exitButton() const { return exit_; }
    // The model's row of the view's current row; none without one.
    std::optional<int> currentRow() const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void Back_Click();
    void CompareAgain_Click();
    void Exit_Click();
    void openCurrent();

    // A pair compared again under this window's bar and busy pointer;
    // nothing when Esc stopped it.
    std::optional<compare::PairOutcome> runPair(
        int row,
        const std::function<std::optional<compare::PairOutcome>(const OverviewPair&,
                                                                compare::RunObserver&)>& run);
    // The status and totals as the rows now stand.
    void showState();
    void placePairs(int inner);
    void fitColumns(int firstRow, int lastRow);
    void settleButtons();

    QLabel* heading_;
    QTableView* pairs_;
    OverviewModel* model_;
    QSortFilterProxyModel* sorted_;
    int resultWidth_ = 0;  // the widest result so far
    QProgressBar* progress_;
    QLabel* status_;
    QLabel* totals_;
    QPushButton* back_;
    QPushButton* compareAgain_;
    QPushButton* exit_;

    // What the run compared with, for a pair compared again.
    connection::LoginDetails first_, second_;
    compare::RunOptions options_;
    bool running_ = false;
    bool stopped_ = false;  // Esc ended the run of all tables before its last entry
};

}  // namespace windows
