#pragma once

#include <QPushButton>

#include "ResultList.h"
#include "Window.h"

namespace compare {

// The results window: field differences above, added and deleted records below.
class Form3 : public app::Window {
    Q_OBJECT

public:
    explicit Form3(app::WindowRegistry& registry);

    void Form_Load() override;
    void PushButton2_Click();  // "< Back"
    void PushButton9_Click();  // "Exit"

    ResultListView* ListView1;  // field differences
    ResultListView* ListView2;  // added / deleted records
    QPushButton* PushButton2;
    QPushButton* PushButton9;
};

}  // namespace compare
