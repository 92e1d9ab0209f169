// The windows as the program runs them, ending as it does (EndProcess, the
// stop signals through the event loop), driven to a comparison: logs in to
// 127.0.0.1:PORT as tester, picks FIRST and SECOND and presses "Next >".
// Exits 3 should the run end before anything stops it.
//   windows_signal_child PORT FIRST SECOND

#include <QApplication>
#include <QTest>
#include <cstdio>

#include "DataAccess.h"
#include "LoginWindow.h"
#include "ProgramEnd.h"
#include "RecordingMessageBoxes.h"
#include "TableSelectionWindow.h"
#include "WindowRegistry.h"

namespace {

int IndexOf(const windows::TableListView& list, const QString& name) {
    for (int i = 0; i < list.topLevelItemCount(); ++i) {
        if (list.topLevelItem(i)->text(0) == name) return i + 1;
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) return 2;
    QApplication application(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    testing_support::RecordingMessageBoxes boxes;
    testing_support::RecordingShell shell;
    windows::WindowRegistry registry(windows::Services{boxes, shell, data::OdbcDataAccess(),
                                                       QString(), [] { windows::EndProcess(); }});
    windows::EndOnStopSignals(application, registry);
    windows::Start(registry);
    windows::LoginWindow& login = registry.loginWindow();
    login.serverEdit()->setText(QStringLiteral("127.0.0.1"));
    login.portEdit()->setText(QString::fromLocal8Bit(argv[1]));
    login.userEdit()->setText(QStringLiteral("tester"));
    login.passwordEdit()->setText(QStringLiteral("secret"));
    login.databaseEdit()->setText(QStringLiteral("testdb"));
    QTest::mouseClick(login.nextButton(), Qt::LeftButton);
    windows::TableSelectionWindow& tables = registry.tableSelectionWindow();
    tables.firstTables()->Select(IndexOf(*tables.firstTables(), QString::fromLocal8Bit(argv[2])));
    tables.secondTables()->Select(IndexOf(*tables.secondTables(), QString::fromLocal8Bit(argv[3])));
    std::fputs("comparing\n", stderr);
    QTest::mouseClick(tables.nextButton(), Qt::LeftButton);
    std::fprintf(stderr, "the run ended: %s\n", boxes.texts().join(u'|').toLocal8Bit().constData());
    return 3;
}
