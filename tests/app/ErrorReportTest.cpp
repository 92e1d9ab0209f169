#include <gtest/gtest.h>

#include <stdexcept>

#include "DataError.h"
#include "ErrorTrap.h"
#include "RecordingMessageBoxes.h"

namespace {

using testing_support::RecordingMessageBoxes;

const QString kRequest =
    QStringLiteral("Please email screenshot of this message to ") + app::SupportEmail();

TEST(ErrorReportText, IsComposedByteForByte) {
    const QString text = app::ComposeErrorReport(QString::fromLatin1(app::kForm1NextTag), 104,
                                                 QStringLiteral("Login failed."));
    EXPECT_EQ(text, QStringLiteral("Login failed.\r\nin Kelvaro2017/04/05.Form1.PushButton3_Click "
                                   "at line 104\r\r") +
                        kRequest);
    // Lone carriage returns after the number: no line feed follows it.
    EXPECT_FALSE(text.mid(text.indexOf(QStringLiteral("104"))).contains(QLatin1Char('\n')));
    EXPECT_TRUE(text.endsWith(app::SupportEmail()));  // no full stop after the address
}

TEST(ErrorReportText, EmptyDescriptionStartsWithTheLineBreak) {
    const QString text =
        app::ComposeErrorReport(QString::fromLatin1(app::kForm3LoadTag), 100, QString());
    EXPECT_TRUE(text.startsWith(
        QStringLiteral("\r\nin Kelvaro2017/04/05.Form3.Form_Load at line 100\r\r")));
}

TEST(ErrorReportBox, IsTitledWithExclamationAndOkOnly) {
    RecordingMessageBoxes boxes;
    app::ShowErrorReport(boxes, QString::fromLatin1(app::kForm2LoadTag), 110, QStringLiteral("x"));
    ASSERT_EQ(boxes.boxes.size(), 1u);
    EXPECT_EQ(boxes.boxes[0].title, QStringLiteral("Application Error"));
    EXPECT_EQ(boxes.boxes[0].icon, ui::Icon::Exclamation);
    EXPECT_EQ(boxes.boxes[0].buttons, ui::Buttons::Ok);
}

TEST(ErrorTrap, ReportsEachFailingStepAndGoesOn) {
    RecordingMessageBoxes boxes;
    QStringList done;
    {
        windows::ErrorTrap trap(boxes, app::kForm1LoadTag);
        trap.step(100, [&] { throw std::runtime_error("first"); });
        trap.step(102, [&] { done << "102"; });
        trap.step(104,
                  [&] { throw data::DataError(QStringLiteral("[FreeTDS][SQL Server]second")); });
        trap.step(106, [&] { done << "106"; });
    }
    EXPECT_EQ(done, (QStringList{"102", "106"}));
    ASSERT_EQ(boxes.boxes.size(), 2u);
    EXPECT_TRUE(boxes.boxes[0].text.startsWith(
        QStringLiteral("first\r\nin Kelvaro2017/04/05.Form1.Form_Load at line 100\r\r")));
    EXPECT_TRUE(boxes.boxes[1].text.startsWith(QStringLiteral(
        "[FreeTDS][SQL Server]second\r\nin Kelvaro2017/04/05.Form1.Form_Load at line 104\r\r")));
}

TEST(ErrorTrap, FailingTestEntersTheBlockItGuards) {
    RecordingMessageBoxes boxes;
    windows::ErrorTrap trap(boxes, app::kForm1NextTag);
    bool entered = false;
    if (trap.test(102, []() -> bool { throw std::runtime_error("no layer"); })) entered = true;
    EXPECT_TRUE(entered);
    EXPECT_FALSE(trap.test(104, [] { return false; }));
    ASSERT_EQ(boxes.boxes.size(), 1u);
    EXPECT_TRUE(boxes.boxes[0].text.contains(QStringLiteral("at line 102\r\r")));
}

// A routine without a trap of its own: its failure is the calling step's.
void routineWithoutTrap(QStringList& trace) {
    trace << "started";
    throw std::runtime_error("inside the routine");
    trace << "never";  // abandoned
}

TEST(ErrorTrap, FailureInsideCalledRoutineCarriesCallersTagAndStep) {
    RecordingMessageBoxes boxes;
    QStringList trace;
    windows::ErrorTrap trap(boxes, app::kForm1NextTag);
    trap.step(104, [&] { routineWithoutTrap(trace); });
    EXPECT_EQ(trace, QStringList{"started"});
    ASSERT_EQ(boxes.boxes.size(), 1u);
    EXPECT_EQ(boxes.boxes[0].text,
              app::ComposeErrorReport(QString::fromLatin1(app::kForm1NextTag), 104,
                                      QStringLiteral("inside the routine")));
}

}  // namespace
