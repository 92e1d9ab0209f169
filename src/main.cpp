#include <unistd.h>

#include <QApplication>
#include <cstdio>

#include "CompareCommand.h"
#include "DataAccess.h"
#include "ProgramFiles.h"
#include "QtMessageBoxes.h"
#include "WindowRegistry.h"

int main(int argc, char** argv) {
    // With arguments the program is a command: no window, no display needed.
    if (cli::IsCommandLine(argc, argv)) return cli::RunCommandLine(argc, argv);

    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Dorvantis"));
    // The program ends only by "Exit" or by closing a window, never because
    // the last window was hidden on the way to the next one.
    QApplication::setQuitOnLastWindowClosed(false);

    ui::QtMessageBoxes boxes;
    ui::QtShell shell;
    windows::WindowRegistry registry(
        windows::Services{boxes, shell, data::OdbcDataAccess(), app::ProgramFolder(), [] {
                              // Ending stops the process at once: no handler runs after it and
                              // nothing is saved on the way out (settings are stored as they
                              // change).
                              std::fflush(nullptr);
                              ::_exit(0);
                          }});
    windows::Start(registry);
    return QApplication::exec();
}
