#pragma once

#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QTemporaryFile>
#include <memory>
#include <optional>

#include "CompareOptions.h"
#include "RecordStore.h"
#include "RecordsWindow.h"
#include "ReportFormat.h"
#include "ResultListView.h"
#include "Window.h"

namespace windows {

// The script a run leaves for "Save As…" (.sql), which makes the second
// table hold what the first holds: written during the run into a temporary
// file that lives as long as the run's end does, or why there is none.
struct RunScript {
    bool pairedByKey = false;  // by position there is never one
    std::shared_ptr<QTemporaryFile> file;
    QString refused;   // why no script would mend the tables (the first reason)
    QString failure;   // why the script could not be written
    QString cascades;  // the question to ask when its DELETEs act on other tables
};

// How a run ended: what it counted (and the options it had on), the tables
// as the lines name them, and the script it left.
struct RunEnd {
    compare::RunSummary summary;
    QString firstTable;
    QString secondTable;
    RunScript script;
    // The differing records kept whole, for the records side by side; null
    // with the reason when they could not be kept.
    std::shared_ptr<compare::RecordStore> records = nullptr;
    QString recordsFailure = {};
};

// The results window: field differences above, added and deleted records below.
class ResultsWindow : public Window {
    Q_OBJECT

public:
    explicit ResultsWindow(WindowRegistry& registry);

    void Form_Load() override;

    // Writes both lists to a file the user chooses, in the format its
    // extension names (.csv, .json, .html, else text; the page holds the
    // records whole), whole or not at all; a failure
    // is a message and the results stay on screen. A name ending in .sql
    // saves the run's script instead, when a run by key left one that would
    // mend the tables; otherwise a message says why not, and nothing is written.
    void SaveResults();

    // The run's summary under the lists, with a notice when options narrowed
    // or loosened it (lest it pass for a whole comparison) and when it
    // stopped at its limit; "Save As…" ends the file with the summary.
    void ShowRunEnd(const RunEnd& end);
    // What the end of a run set apart goes, and "< Back" leads to the table
    // selection again.
    void ClearRunEnd();

    // The lists hold a pair of the overview of all tables: "< Back" returns
    // there, until the lists are cleared.
    void BackLeadsToOverview() { backToOverview_ = true; }

    // The run's differing records side by side, the record of the list's
    // current line selected; a message when the run kept none.
    void ShowRecords(ResultListView* list);
    RecordsWindow* recordsWindow() const { return records_; }

    // The controls by role, for whoever must name them from outside.
    ResultListView* fieldDifferences() const { return ListView1; }
    ResultListView* recordDifferences() const { return ListView2; }
    QPushButton* backButton() const { return PushButton2; }
    QPushButton* exitButton() const { return PushButton9; }
    QLabel* summaryLabel() const { return summary_; }
    QLabel* noticeLabel() const { return notice_; }

private:
    void PushButton2_Click();  // "< Back"
    void PushButton9_Click();  // "Exit"
    // Why the script cannot be saved; empty when it can.
    QString scriptRefusal() const;
    // Into out: the lists, or the script; the reason it failed, or nothing.
    QString writeLists(QIODevice& out, compare::ReportFormat format);
    QString copyScript(QIODevice& out);
    // The page of the run: its records whole from their store.
    QString writePage(QIODevice& out);

    ResultListView* ListView1;  // field differences
    ResultListView* ListView2;  // added / deleted records
    QPushButton* PushButton2;
    QPushButton* PushButton9;
    QLabel* summary_;
    QLabel* notice_;  // options on, stopped at the limit
    std::optional<RunEnd> end_;
    bool backToOverview_ = false;
    QPointer<RecordsWindow> records_;  // open while the run's results are shown
};

}  // namespace windows
