#pragma once

#include <QCheckBox>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <functional>

#include "LoginDetails.h"
#include "TableCatalogue.h"
#include "TableListView.h"
#include "Window.h"

namespace windows {

// Which of the two table lists: the first table's (left) or the second's (right).
enum class TableSide { First, Second };

// The table selection window: the catalogue twice, side by side.
class TableSelectionWindow : public Window {
    Q_OBJECT

public:
    explicit TableSelectionWindow(WindowRegistry& registry);

    void Form_Load() override;

    // Replaces one list's items with the database's tables, as the catalogue
    // read them (a read that failed part-way lists what it read, then throws).
    void FillTableList(TableSide side, const catalogue::CatalogueRead& read);

    // The controls by role, for whoever must name them from outside.
    QLabel* promptLabel() const { return Label1; }
    TableListView* firstTables() const { return ListView1; }
    TableListView* secondTables() const { return ListView2; }
    QProgressBar* progressBar() const { return ProgressBar1; }
    QPushButton* backButton() const { return PushButton2; }
    QPushButton* nextButton() const { return PushButton3; }
    QCheckBox* pairFieldsByNameBox() const { return PairByName; }
    QCheckBox* pairRecordsByKeyBox() const { return PairByKey; }

private:
    void PushButton2_Click();  // "< Back"
    void PushButton3_Click();  // "Next >": the comparison

    QLabel* Label1;
    TableListView* ListView1;
    TableListView* ListView2;
    QProgressBar* ProgressBar1;
    QPushButton* PushButton2;
    QPushButton* PushButton3;
    QCheckBox* PairByName;  // pair fields by name, not by position
    QCheckBox* PairByKey;   // pair records by the first table's primary key, not by position
};

}  // namespace windows
