#include "InputGuard.h"

#include <QCoreApplication>
#include <QEvent>
#include <QKeyEvent>
#include <QWidget>
#include <vector>

#include "Window.h"

namespace windows {

namespace {

bool isUserInput(QEvent::Type type) {
    switch (type) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseButtonDblClick:
        case QEvent::Wheel:
        case QEvent::KeyPress:
        case QEvent::KeyRelease:
        case QEvent::ShortcutOverride:
        case QEvent::Shortcut:
        case QEvent::ContextMenu:
        case QEvent::TouchBegin:
        case QEvent::TouchUpdate:
        case QEvent::TouchEnd:
            return true;
        default:
            return false;
    }
}

// What Esc asks of the guards, innermost last.
std::vector<std::function<void()>>& escapeHandlers() {
    static std::vector<std::function<void()>> handlers;
    return handlers;
}

class InputFilter : public QObject {
public:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (!isUserInput(event->type()) || !watched->isWidgetType()) return false;
        // Only the program's own windows: a message box shown meanwhile is another window.
        if (qobject_cast<Window*>(static_cast<QWidget*>(watched)->window()) == nullptr) {
            return false;
        }
        if (event->type() == QEvent::KeyPress &&
            static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape) {
            for (auto it = escapeHandlers().rbegin(); it != escapeHandlers().rend(); ++it) {
                if (*it) {
                    (*it)();
                    break;
                }
            }
        }
        return true;
    }
};

int depth = 0;
InputFilter* filter = nullptr;

}  // namespace

InputGuard::InputGuard(std::function<void()> onEscape) {
    escapeHandlers().push_back(std::move(onEscape));
    if (depth++ == 0 && QCoreApplication::instance() != nullptr) {
        filter = new InputFilter;
        QCoreApplication::instance()->installEventFilter(filter);
    }
}

InputGuard::~InputGuard() {
    escapeHandlers().pop_back();
    if (depth == 1 && filter != nullptr) {
        // Input that arrived while the handler ran and is still queued was
        // aimed at the handler's moment: drop it too, rather than replay it.
        QCoreApplication::processEvents(QEventLoop::AllEvents);
    }
    if (--depth == 0 && filter != nullptr) {
        delete filter;  // deleting an event filter removes it
        filter = nullptr;
    }
}

bool InputGuard::active() { return depth > 0; }

}  // namespace windows
