#pragma once

#include <QString>

#include "ErrorReport.h"
#include "Steps.h"

namespace windows {

// The error trap of one run of a handler. The handler is written as numbered
// steps; a step that throws is reported in a message box with the handler's
// tag and the step's number, and the handler goes on with its next step.
class ErrorTrap final : public compare::Steps {
public:
    ErrorTrap(ui::MessageBoxes& boxes, const char* tag)
        : boxes_(boxes), tag_(QString::fromLatin1(tag)) {}

protected:
    void failed(int line, const std::exception_ptr& failure) override {
        app::ShowErrorReport(boxes_, tag_, line, app::DescribeFailure(failure));
    }

private:
    ui::MessageBoxes& boxes_;
    QString tag_;
};

}  // namespace windows
