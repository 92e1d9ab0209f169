#pragma once

#include <QString>
#include <exception>
#include <utility>

#include "ErrorReport.h"

namespace app {

// The error trap of one run of a handler. The handler is written as numbered
// steps; a step that throws is reported with the handler's tag and the step's
// number, and the handler goes on with its next step. A test that throws
// counts as passed, so the block it guards is entered: write each test so
// that its block is the one the handler must enter on failure.
class ErrorTrap {
public:
    ErrorTrap(ui::MessageBoxes& boxes, const char* tag)
        : boxes_(boxes), tag_(QString::fromLatin1(tag)) {}

    // Runs one step; false when it failed (and was reported).
    template <class Fn>
    bool step(int line, Fn&& fn) {
        try {
            std::forward<Fn>(fn)();
            return true;
        } catch (...) {
            report(line, std::current_exception());
            return false;
        }
    }

    template <class Pred>
    bool test(int line, Pred&& pred) {
        try {
            return static_cast<bool>(std::forward<Pred>(pred)());
        } catch (...) {
            report(line, std::current_exception());
            return true;
        }
    }

private:
    void report(int line, const std::exception_ptr& failure) {
        ShowErrorReport(boxes_, tag_, line, DescribeFailure(failure));
    }

    ui::MessageBoxes& boxes_;
    QString tag_;
};

}  // namespace app
