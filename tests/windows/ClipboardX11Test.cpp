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
    xclip.start(QStringLiteral("xclip"), {QStringLiteral("-o"), QStringLiteral("-selection"),
                                          QStringLiteral("clipboard")});
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
    app::Start(registry());
    registry().form1().Text1->setText(QStringLiteral("db.example"));
    QTest::mouseClick(registry().form1().PushButton3, Qt::LeftButton);
    registry().form2().ListView2->Select(2);
    QTest::mouseClick(registry().form2().PushButton3, Qt::LeftButton);

    compare::Form3& f3 = registry().form3();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&f3));
    compare::ResultListView* list = f3.ListView1;
    list->setFocus();
    QTest::keyClick(list, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(list, Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(readXClipboard(),
              QStringLiteral("Record 1,Field \"Name\" has changed from \"a\" to \"x\"\n"
                             "Record 3,Field \"Name\" has changed from \"c\" to \"z\""));

    f3.ListView2->setFocus();
    QTest::keyClick(f3.ListView2, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(f3.ListView2, Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(readXClipboard(), QStringLiteral("Record 4 added from B"));
}

}  // namespace
