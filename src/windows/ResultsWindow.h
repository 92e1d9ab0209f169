#pragma once

#include <QPushButton>

#include "ResultListView.h"
#include "Window.h"

namespace windows {

// The results window: field differences above, added and deleted records below.
class ResultsWindow : public Window {
    Q_OBJECT

public:
    explicit ResultsWindow(WindowRegistry& registry);

    void Form_Load() override;

    // Writes both lists to a file the user chooses, in the format its
    // extension names (.csv, .json, else text), whole or not at all; a failure
    // is a message and the results stay on screen.
    void SaveResults();

    // The controls by role, for whoever must name them from outside.
    ResultListView* fieldDifferences() const { return ListView1; }
    ResultListView* recordDifferences() const { return ListView2; }
    QPushButton* backButton() const { return PushButton2; }
    QPushButton* exitButton() const { return PushButton9; }

private:
    void PushButton2_Click();  // "< Back"
    void PushButton9_Click();  // "Exit"

    ResultListView* ListView1;  // field differences
    ResultListView* ListView2;  // added / deleted records
    QPushButton* PushButton2;
    QPushButton* PushButton9;
};

}  // namespace windows
