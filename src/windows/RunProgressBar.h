#pragma once

#include <QProgressBar>
#include <algorithm>
#include <cstdint>
#include <optional>

#include "ComparisonRun.h"
#include "WhilePainting.h"

namespace windows {

// What a run shows on a window's progress bar: the windows paint while it
// waits (the run's input guard drops what the user types or clicks
// meanwhile, but for Esc), and the bar follows the rows read of the rows the
// servers expect, or is a busy bar without an estimate (or with one of none).
class RunProgressBar final : public compare::RunObserver {
public:
    explicit RunProgressBar(QProgressBar& bar) : bar_(bar) {}
    void Waiting() override { PaintTurn(); }
    void Progress(std::int64_t read, std::optional<std::int64_t> expected) override {
        if (!expected || *expected <= 0) {
            bar_.setRange(0, 0);
            return;
        }
        bar_.setRange(0, kSteps);
        bar_.setValue(static_cast<int>(std::min<std::int64_t>(read * kSteps / *expected, kSteps)));
    }

private:
    static constexpr int kSteps = 1000;
    QProgressBar& bar_;
};

}  // namespace windows
