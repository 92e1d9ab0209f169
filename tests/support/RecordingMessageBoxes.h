#pragma once

#include <QString>
#include <QStringList>
#include <deque>
#include <functional>
#include <vector>

#include "MessageBoxes.h"

namespace testing_support {

// Records every box instead of showing it, and answers from a script
// (Ok for OK boxes, the next scripted answer or No for questions).
class RecordingMessageBoxes : public ui::MessageBoxes {
public:
    struct Box {
        QString text;
        QString title;
        ui::Buttons buttons;
        ui::Icon icon;
        QString details;
    };

    ui::Answer show(const QString& text, const QString& title, ui::Buttons buttons, ui::Icon icon,
                    const QString& details) override {
        boxes.push_back(Box{text, title, buttons, icon, details});
        if (onShow) onShow();
        if (buttons == ui::Buttons::Ok) return ui::Answer::Ok;
        if (answers.empty()) return ui::Answer::No;
        const ui::Answer a = answers.front();
        answers.pop_front();
        return a;
    }

    QStringList texts() const {
        QStringList t;
        for (const Box& b : boxes) t << b.text;
        return t;
    }

    std::vector<Box> boxes;
    std::deque<ui::Answer> answers;
    std::function<void()> onShow;  // runs while a box is "open"
};

class RecordingShell : public ui::Shell {
public:
    void openFile(const QString& path) override { opened << path; }
    QString chooseSaveFile(const QString&, const QString& filter) override {
        saveFilter = filter;
        return saveTo;
    }
    QStringList opened;
    QString saveTo;      // what the user "chooses" in the save dialog
    QString saveFilter;  // the file types the last save dialog offered
};

}  // namespace testing_support
