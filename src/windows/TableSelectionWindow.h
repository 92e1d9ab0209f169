#pragma once

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <functional>
#include <map>
#include <optional>
#include <utility>

#include "ComparisonOptionsDialog.h"
#include "LoginDetails.h"
#include "PairOptions.h"
#include "QuerySources.h"
#include "Side.h"
#include "TableCatalogue.h"
#include "TableListView.h"
#include "Window.h"

namespace compare {
enum class OpenStage;
class FixScriptSession;
}  // namespace compare

namespace windows {

// A combo box that asks for its items just before its list opens.
class OnDemandComboBox : public QComboBox {
    Q_OBJECT

public:
    using QComboBox::QComboBox;
    void showPopup() override;
    std::function<void()> beforePopup;
};

// The table selection window: the catalogue twice, side by side. The second
// list's tables come from the login's database, another database of its
// server, or another server with a login of its own.
struct RunScript;

class TableSelectionWindow : public Window {
    Q_OBJECT

public:
    explicit TableSelectionWindow(WindowRegistry& registry);

    void Form_Load() override;

    // Replaces one list's items with the database's tables, as the catalogue
    // read them (a read that failed part-way lists what it read, then throws).
    void FillTableList(compare::Side side, const catalogue::CatalogueRead& read);

    // The login the second table is reached with: the login window's for
    // "This database", the same with another database of its server, or the
    // second login window's.
    connection::LoginDetails SecondSideLogin() const;
    // The databases listed for the choice may be another server's now: they
    // are asked for again when the choice next opens.
    void ForgetServerDatabases();
    // The second login window's "Next >": the second list shows that
    // server's tables, and the choice is another server.
    void UseSecondLogin(const catalogue::CatalogueRead& read);
    // The second login window was closed: the choice is again the one the
    // second list shows.
    void SecondLoginAbandoned();

    // The controls by role, for whoever must name them from outside.
    QLabel* promptLabel() const { return Label1; }
    TableListView* firstTables() const { return ListView1; }
    TableListView* secondTables() const { return ListView2; }
    QProgressBar* progressBar() const { return ProgressBar1; }
    QPushButton* backButton() const { return PushButton2; }
    QPushButton* nextButton() const { return PushButton3; }
    QCheckBox* pairFieldsByNameBox() const { return PairByName; }
    QCheckBox* pairRecordsByKeyBox() const { return PairByKey; }
    QComboBox* secondOriginBox() const { return Combo1; }
    QPushButton* optionsButton() const { return Options; }
    QPushButton* allTablesButton() const { return AllTables; }
    QCheckBox* showViewsBox() const { return ShowViews; }
    // Whether the lists are to show the database's views beside its tables.
    bool showsViews() const { return ShowViews->isChecked(); }
    QPushButton* firstQueryButton() const { return QueryButton1; }
    QPushButton* secondQueryButton() const { return QueryButton2; }
    // The query editor while it is open, else null.
    QueryDialog* queryDialog() const { return querySources_->dialog(); }
    // The options dialog while it is open, else null.
    ComparisonOptionsDialog* optionsDialog() const { return optionsDialog_; }

    // The two chosen tables as the lines name them (both lists must have a
    // selection), and the options set for them.
    TablePair ChosenPair() const;
    OptionChoices ChosenPairOptions() const;

private:
    void PushButton2_Click();      // "< Back"
    void PushButton3_Click();      // "Next >": the comparison
    void Combo1_Click(int index);  // where the second list's tables come from
    void Options_Click();          // "Options…": the chosen pair's options
    void AllTables_Click();        // "Compare all tables": both databases, table by table
    void ShowViews_Click();        // "Show views": both lists read again

    // The steps of "Next >", in the order of the run's stages.
    struct NextRun;
    bool openStage(NextRun& r, compare::OpenStage stage, const std::function<void()>& fn);
    bool checkChoice(NextRun& r);
    bool planQueries(NextRun& r, const std::function<void()>& fn);
    bool takeRows(NextRun& r, const std::function<void()>& fn);
    bool queryStage(NextRun& r, compare::Side side, int line, const std::function<void()>& fn);
    void planFirstFields(NextRun& r);
    void planSecondFields(NextRun& r);
    bool endEarly(NextRun& r);
    void showNoData(NextRun& r, int pointerLine, int messageLine, compare::Side side);
    void startScript(NextRun& r, RunScript& script,
                     std::optional<compare::FixScriptSession>& session);
    void compareAndShow(NextRun& r);

    enum class Origin { ThisDatabase, Database, AnotherServer };
    Origin originAt(int index) const;
    void restoreOrigin();
    void connectControls();
    void settleOrigin(int index);
    void listServerDatabases();

    QLabel* Label1;
    TableListView* ListView1;
    TableListView* ListView2;
    QProgressBar* ProgressBar1;
    QPushButton* PushButton2;
    QPushButton* PushButton3;
    QCheckBox* PairByName;  // pair fields by name, not by position
    QCheckBox* PairByKey;   // pair records by the first table's primary key, not by position
    QPushButton* Options;   // the chosen pair's options
    QPointer<ComparisonOptionsDialog> optionsDialog_;
    // What the user set in this session, pair by pair: it holds even when
    // the settings file cannot be written.
    std::map<std::pair<QString, QString>, OptionChoices> pairOptions_;
    QLabel* Label2;
    OnDemandComboBox* Combo1;  // "This database", the server's other databases, "Another server…"
    int originIndex_ = 0;      // the choice the second list shows
    QPushButton* AllTables;    // every table of the first database with the second's
    QCheckBox* ShowViews;      // the database's views listed beside its tables
    bool databasesListed_ = false;
    QPushButton* QueryButton1;  // the first list's query, in place of a table
    QPushButton* QueryButton2;  // the second list's
    QuerySources* querySources_;
};

}  // namespace windows
