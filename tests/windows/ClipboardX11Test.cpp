// Under a real X server (Xvfb): lines copied from the results window reach
// the X clipboard, as another program reads it.

#include <QClipboard>
#include <QGuiApplication>
#include <QProcess>
#include <QTest>

#include "Tables.h"
#include "WindowFixture.h"

namespace {

using testing_support::SchemaRowset;
using testing_support::TextTable;
using testing_support::WindowFixture;

// Reads the clipboard with xclip while this program keeps serving it.
QString readXClipboard() {
    QProcess xclip;
    xclip.start(QStringLiteral("xclip"),
                {QStringLiteral("-o"), QStringLiteral("-selection"), QStringLiteral("clipboard")});
    if (!xclip.waitForStarted(5000)) return QStringLiteral("<xclip did not start>");
    // Keep the event loop turning: the clipboard's owner is this process.
    if (!QTest::qWaitFor([&] { return xclip.state() == QProcess::NotRunning; }, 10000)) {
        xclip.kill();
        return QStringLiteral("<xclip timed out>");
    }
    return QString::fromUtf8(xclip.readAllStandardOutput());
}

class ResultsClipboard : public WindowFixture {};

TEST_F(ResultsClipboard, CtrlCFromTheResultsReachesTheXClipboard) {
    ASSERT_EQ(QGuiApplication::platformName(), QStringLiteral("xcb"));
    data.addTable(QStringLiteral("A"), TextTable({"Name"}, {{"a"}, {"b"}, {"c"}}));
    data.addTable(QStringLiteral("B"), TextTable({"Name"}, {{"x"}, {"b"}, {"z"}, {"w"}}));
    data.setSchemaTables(SchemaRowset({{"A", "TABLE"}, {"B", "TABLE"}}));
    windows::Start(registry());
    registry().loginWindow().serverEdit()->setText(QStringLiteral("db.example"));
    QTest::mouseClick(registry().loginWindow().nextButton(), Qt::LeftButton);
    registry().tableSelectionWindow().secondTables()->Select(2);
    QTest::mouseClick(registry().tableSelectionWindow().nextButton(), Qt::LeftButton);

    windows::ResultsWindow& f3 = registry().resultsWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&f3));
    windows::ResultListView* list = f3.fieldDifferences();
    list->setFocus();
    QTest::keyClick(list, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(list, Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(readXClipboard(),
              QStringLiteral("Record 1,Field \"Name\" has changed from \"a\" to \"x\"\n"
                             "Record 3,Field \"Name\" has changed from \"c\" to \"z\""));

    f3.recordDifferences()->setFocus();
    QTest::keyClick(f3.recordDifferences(), Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(f3.recordDifferences(), Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(readXClipboard(), QStringLiteral("Record 4 added from B"));
}

}  // namespace
