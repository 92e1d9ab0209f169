#pragma once

#include <QString>
#include <QStringList>
#include <exception>

#include "ErrorReport.h"
#include "Steps.h"

namespace testing_support {

// Steps that keep each failure as "LINE what failed" and go on, as a window's
// error trap does, for tests that drive the comparison run without a window.
class RecordingSteps final : public compare::Steps {
public:
    QStringList failures;

protected:
    void failed(int line, const std::exception_ptr& failure) override {
        failures << QStringLiteral("%1 %2").arg(line).arg(app::DescribeFailure(failure));
    }
};

}  // namespace testing_support
