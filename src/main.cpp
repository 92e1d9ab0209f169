#include <unistd.h>

#include <QApplication>
#include <QByteArrayList>
#include <QHashSeed>
#include <cstdio>
#include <mutex>
#include <vector>

#include "CommandLine.h"
#include "DataAccess.h"
#include "ProgramEnd.h"
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

// The display as the user gave it, for a message that names it.
QByteArray DisplayNamed() {
    QByteArrayList set;
    for (const char* name : {"QT_QPA_PLATFORM", "WAYLAND_DISPLAY", "DISPLAY"}) {
        if (isSet(name)) set << QByteArray(name) + '=' + qgetenv(name);
    }
    return set.join(", ");
}

// While QApplication is made, Qt ends with a fatal message (and an abort)
// when its platform cannot reach the display it was given: a DISPLAY with no
// X server behind it, a WAYLAND_DISPLAY that leads nowhere. That becomes one
// line and the status of a missing display; what Qt says on the way is held
// back, so that the line stays one, and passed on when the windows start.
struct HeldMessage {
    QtMsgType type;
    QByteArray category;
    QString text;
};
std::mutex heldLock;
std::vector<HeldMessage> held;
QtMessageHandler qtHandler = nullptr;

void WhileOpeningTheDisplay(QtMsgType type, const QMessageLogContext& context,
                            const QString& text) {
    if (type == QtFatalMsg) {
        const QByteArray line = "dorvantis: no display to open the windows on: " + DisplayNamed() +
                                " cannot be opened; 'dorvantis compare ...' needs none, see "
                                "'dorvantis --help'.\n";
        std::fputs(line.constData(), stderr);
        std::fflush(stderr);
        ::_exit(2);
    }
    const std::lock_guard lock(heldLock);
    held.push_back({type, QByteArray(context.category ? context.category : ""), text});
}

void DisplayOpened() {
    qInstallMessageHandler(qtHandler);
    const std::lock_guard lock(heldLock);
    for (const HeldMessage& m : held) {
        if (qtHandler == nullptr) break;
        const QMessageLogContext context(nullptr, 0, nullptr, m.category.constData());
        qtHandler(m.type, context, m.text);
    }
    held.clear();
}

}  // namespace

int main(int argc, char** argv) {
    // Qt 6.4 hashes strings with 256-bit AES instructions where the processor
    // has them, and returns without clearing the upper halves of the vector
    // registers: every SSE instruction after that on the thread pays, and one
    // QHash of strings made the report's lines three to four times slower to
    // format. The deterministic hash takes the plain path. Only names of
    // tables and columns are hashed, never the data, so nobody can flood it.
    QHashSeed::setDeterministicGlobalSeed();
    // With arguments the program is a command: no window, no display needed.
    if (cli::IsCommandLine(argc, argv)) return cli::RunCommandLine(argc, argv);
    if (!HasDisplay()) {
        std::fputs(
            "dorvantis: no display to open the windows on (set DISPLAY or WAYLAND_DISPLAY); "
            "'dorvantis compare ...' needs none, see 'dorvantis --help'.\n",
            stderr);
        return 2;
    }

    qtHandler = qInstallMessageHandler(WhileOpeningTheDisplay);
    QApplication application(argc, argv);
    DisplayOpened();
    QApplication::setApplicationName(QStringLiteral("Dorvantis"));
    // The program ends only by "Exit" or by closing a window, never because
    // the last window was hidden on the way to the next one.
    QApplication::setQuitOnLastWindowClosed(false);

    ui::QtMessageBoxes boxes;
    ui::QtShell shell;
    // Ending stops the process at once: no handler runs after it and nothing is
    // saved on the way out (settings are stored as they change).
    windows::WindowRegistry registry(windows::Services{
        boxes, shell, data::OdbcDataAccess(), app::ProgramFolder(), [] { windows::EndProcess(); }});
    windows::EndOnStopSignals(application, registry);
    windows::Start(registry);
    return QApplication::exec();
}
