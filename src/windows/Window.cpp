#include "Window.h"

#include <QCloseEvent>
#include <QEvent>
#include <QMouseEvent>

#include "CursorFile.h"
#include "ErrorTrap.h"
#include "Pointer.h"
#include "ProgramFiles.h"
#include "WindowRegistry.h"

namespace windows {

QIcon ProgramIcon() { return QIcon(QStringLiteral(":/dorvantis/dorvantis.png")); }

Window::Window(WindowRegistry& registry) : QWidget(nullptr), registry_(registry) {
    setMouseTracking(true);
}

Window::~Window() = default;

void Window::Show() {
    show();
    raise();
    activateWindow();
}

void Window::Hide() {
    wasHidden_ = true;
    hide();
}

void Window::SetMousePointer(int shape) {
    if (shape == pointer_) return;
    pointer_ = shape;
    renderPointer();
}

void Window::SetMouseIcon(const QCursor& cursor) {
    mouseIcon_ = cursor;
    renderPointer();
}

void Window::LoadPointerFile(ErrorTrap& trap, int testLine, int loadLine) {
    const QString hand = app::InstalledProgramFile(registry_.programFolder(), app::kPointerFile);
    if (trap.test(testLine, [&] { return app::FileExists(hand); })) {
        trap.step(loadLine, [&] { SetMouseIcon(LoadCursorFile(hand)); });
    }
}

void Window::AddPointerHandler(QWidget* control, PointerHandler kind) {
    control->setMouseTracking(true);
    // A move handled here must not also reach the frame or window behind.
    control->setAttribute(Qt::WA_NoMousePropagation);
    control->installEventFilter(this);
    handlers_.insert(control, kind);
}

void Window::AddNoPointerHandler(QWidget* control) {
    // Without this, a move over the control would reach the frame or window
    // behind it and run their handler.
    control->setMouseTracking(true);
    control->setAttribute(Qt::WA_NoMousePropagation);
}

bool Window::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::MouseMove) {
        const auto it = handlers_.constFind(watched);
        if (it != handlers_.constEnd()) {
            const int wanted = *it == PointerHandler::Hand ? kPointerHand : kPointerNormal;
            SetMousePointer(PointerAfterMove(pointer_, wanted));
        }
    }
    return QWidget::eventFilter(watched, event);
}

void Window::mouseMoveEvent(QMouseEvent* event) {
    SetMousePointer(PointerAfterMove(pointer_, kPointerNormal));
    QWidget::mouseMoveEvent(event);
}

void Window::renderPointer() {
    std::optional<QCursor> shown;
    if (pointer_ == kPointerBusy) shown = QCursor(Qt::WaitCursor);
    if (pointer_ == kPointerHand && mouseIcon_) shown = *mouseIcon_;

    QList<QWidget*> widgets = findChildren<QWidget*>();
    widgets.prepend(this);
    for (QWidget* w : widgets) {
        if (!ownCursors_.contains(w)) {
            ownCursors_.insert(w, w->testAttribute(Qt::WA_SetCursor)
                                      ? std::optional<QCursor>(w->cursor())
                                      : std::nullopt);
        }
        if (shown) {
            w->setCursor(*shown);
        } else if (const std::optional<QCursor>& own = ownCursors_.value(w)) {
            w->setCursor(*own);
        } else {
            w->unsetCursor();
        }
    }
}

void Window::closeEvent(QCloseEvent* event) {
    event->accept();
    Form_Unload();
}

void Window::Form_Unload() { registry_.EndProgram(); }

}  // namespace windows
