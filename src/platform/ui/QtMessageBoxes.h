#pragma once

#include "MessageBoxes.h"

namespace ui {

class QtMessageBoxes final : public MessageBoxes {
public:
    Answer show(const QString& text, const QString& title, Buttons buttons, Icon icon,
                const QString& details) override;
};

class QtShell final : public Shell {
public:
    void openFile(const QString& path) override;
    QString chooseSaveFile(const QString& title, const QString& filter) override;
};

}  // namespace ui
