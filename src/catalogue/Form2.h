#pragma once

#include <QLabel>
#include <QProgressBar>
#include <QPushButton>

#include "TableListView.h"
#include "Window.h"

namespace catalogue {

// The table selection window: the catalogue twice, side by side.
class Form2 : public app::Window {
    Q_OBJECT

public:
    explicit Form2(app::WindowRegistry& registry);

    void Form_Load() override;
    void PushButton2_Click();  // "< Back"
    void PushButton3_Click();  // "Next >": the comparison

    QLabel* Label1;
    TableListView* ListView1;
    TableListView* ListView2;
    QProgressBar* ProgressBar1;
    QPushButton* PushButton2;
    QPushButton* PushButton3;
};

}  // namespace catalogue
