#pragma once

#include <QString>
#include <exception>

#include "MessageBoxes.h"

namespace app {

// Procedure tags of the handlers that carry an error trap; each ends in a blank.
inline constexpr char kForm1HelpTag[] = "in Kelvaro2017/04/05.Form1.PushButton2_Click ";
inline constexpr char kForm1NextTag[] = "in Kelvaro2017/04/05.Form1.PushButton3_Click ";
inline constexpr char kForm1TestConnectionTag[] = "in Kelvaro2017/04/05.Form1.PushButton5_Click ";
inline constexpr char kForm1LoadTag[] = "in Kelvaro2017/04/05.Form1.Form_Load ";
inline constexpr char kForm2BackTag[] = "in Kelvaro2017/04/05.Form2.PushButton2_Click ";
inline constexpr char kForm2NextTag[] = "in Kelvaro2017/04/05.Form2.PushButton3_Click ";
inline constexpr char kForm2LoadTag[] = "in Kelvaro2017/04/05.Form2.Form_Load ";
inline constexpr char kForm2OriginTag[] = "in Kelvaro2017/04/05.Form2.Combo1_Click ";
inline constexpr char kForm2ShowViewsTag[] = "in Kelvaro2017/04/05.Form2.ShowViews_Click ";
inline constexpr char kForm3BackTag[] = "in Kelvaro2017/04/05.Form3.PushButton2_Click ";
inline constexpr char kForm3ExitTag[] = "in Kelvaro2017/04/05.Form3.PushButton9_Click ";
inline constexpr char kForm3LoadTag[] = "in Kelvaro2017/04/05.Form3.Form_Load ";
// The second table's login window, a login window of its own.
inline constexpr char kForm4HelpTag[] = "in Kelvaro2017/04/05.Form4.PushButton2_Click ";
inline constexpr char kForm4NextTag[] = "in Kelvaro2017/04/05.Form4.PushButton3_Click ";
inline constexpr char kForm4TestConnectionTag[] = "in Kelvaro2017/04/05.Form4.PushButton5_Click ";
inline constexpr char kForm4LoadTag[] = "in Kelvaro2017/04/05.Form4.Form_Load ";
// The overview of all tables.
inline constexpr char kOverviewLoadTag[] = "in Kelvaro2017/04/05.Overview.Form_Load ";

inline constexpr char kErrorReportTitle[] = "Application Error";

// The address error reports ask the user to write to (set at configure time).
QString SupportEmail();

// The report text: description, CR LF, tag, "at line ", number, CR, CR, request.
QString ComposeErrorReport(const QString& tag, int line, const QString& description);

// Shows the report: exclamation icon, OK only, titled "Application Error".
void ShowErrorReport(ui::MessageBoxes& boxes, const QString& tag, int line,
                     const QString& description);

// The description of a caught failure: the text of whatever failed, unchanged.
QString DescribeFailure(const std::exception_ptr& failure);

}  // namespace app
