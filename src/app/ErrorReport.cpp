#include "ErrorReport.h"

#include "DataError.h"

namespace app {

QString SupportEmail() { return QStringLiteral(DORVANTIS_SUPPORT_EMAIL); }

QString ComposeErrorReport(const QString& tag, int line, const QString& description) {
    return description + QStringLiteral("\r\n") + tag + QStringLiteral("at line ") +
           QString::number(line) + QStringLiteral("\r\r") +
           QStringLiteral("Please email screenshot of this message to ") + SupportEmail();
}

void ShowErrorReport(ui::MessageBoxes& boxes, const QString& tag, int line,
                     const QString& description) {
    boxes.show(ComposeErrorReport(tag, line, description), QString::fromLatin1(kErrorReportTitle),
               ui::Buttons::Ok, ui::Icon::Exclamation);
}

QString DescribeFailure(const std::exception_ptr& failure) {
    try {
        std::rethrow_exception(failure);
    } catch (const data::DataError& e) {
        return e.description();
    } catch (const std::exception& e) {
        return QString::fromUtf8(e.what());
    } catch (...) {
        return QStringLiteral("Unknown error");
    }
}

}  // namespace app
