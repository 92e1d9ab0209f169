#include <unistd.h>

#include <QApplication>
#include <cstdio>

#include "CompareCommand.h"
#include "DataAccess.h"
#include "ProgramFiles.h"
#include "QtMessageBoxes.h"
#include "WindowRegistry.h"

namespace {

bool isSet(const char* name) { return !qEnvironmentVariableIsEmpty(name); }

// Whether Qt will find a display for the windows, decided the way its
// platforms do before a QApplication exists (which aborts without one).
// QT_QPA_PLATFORM may name platforms to try in turn ("wayland;xcb", each
// perhaps with ":options"); without it Qt takes Wayland or X11.
bool HasDisplay() {
    const QByteArray platforms = qgetenv("QT_QPA_PLATFORM");
    if (platforms.trimmed().isEmpty()) return isSet("DISPLAY") || isSet("WAYLAND_DISPLAY");
    for (const QByteArray& entry : platforms.split(';')) {
        const qsizetype colon = entry.indexOf(':');
        const QByteArray name = (colon < 0 ? entry : entry.first(colon)).trimmed();
        if (name.isEmpty()) continue;
        if (name == "xcb") {
            if (isSet("DISPLAY")) return true;
        } else if (name.startsWith("wayland")) {
            if (isSet("WAYLAND_DISPLAY")) return true;
        } else {
            // offscreen, minimal, vnc, linuxfb, eglfs... need no display
            // server; a platform unknown here is left for Qt to judge.
            return true;
        }
    }
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    // With arguments the program is a command: no window, no display needed.
    if (cli::IsCommandLine(argc, argv)) return cli::RunCommandLine(argc, argv);
    if (!HasDisplay()) {
        std::fputs(
            "dorvantis: no display to open the windows on (set DISPLAY or WAYLAND_DISPLAY); "
            "'dorvantis compare ...' needs none, see 'dorvantis --help'.\n",
            stderr);
        return 2;
    }

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
