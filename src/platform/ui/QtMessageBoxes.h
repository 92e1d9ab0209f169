#pragma once

#include "MessageBoxes.h"

namespace ui {

class QtMessageBoxes final : public MessageBoxes {
public:
    Answer show(const QString& text, const QString& title, Buttons buttons, Icon icon) override;
};

class QtShell final : public Shell {
public:
    void openFile(const QString& path) override;
};

}  // namespace ui
