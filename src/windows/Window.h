#pragma once

#include <QCursor>
#include <QHash>
#include <QIcon>
#include <QPointer>
#include <QWidget>
#include <optional>

namespace windows {

class ErrorTrap;
class WindowRegistry;

// The program icon every window shows (built into the program).
QIcon ProgramIcon();

// Base of the three windows: load on creation, show and hide, closing ends
// the program, and the window-wide pointer shape with its mouse-move handlers.
class Window : public QWidget {
    Q_OBJECT

public:
    explicit Window(WindowRegistry& registry);
    ~Window() override;

    virtual void Form_Load() = 0;

    void Show();
    void Hide();
    // Whether a handler has hidden the window (the start rule asks after the load).
    bool WasHidden() const { return wasHidden_; }

    int MousePointer() const { return pointer_; }
    void SetMousePointer(int shape);
    // The custom pointer picture (the hand); none means the normal pointer.
    void SetMouseIcon(const QCursor& cursor);
    bool HasMouseIcon() const { return mouseIcon_.has_value(); }
    // The load's two steps for the pointer file beside the program: the test
    // whether it exists (testLine) and, when it does, loading it as the custom
    // pointer picture (loadLine; a file that is no cursor fails that step).
    void LoadPointerFile(ErrorTrap& trap, int testLine, int loadLine);

    WindowRegistry& registry() const { return registry_; }

protected:
    enum class PointerHandler { Normal, Hand };
    // Mouse moves over control run the handler of that kind.
    void AddPointerHandler(QWidget* control, PointerHandler kind);
    // A control without handler: moves over it leave the pointer as it is.
    void AddNoPointerHandler(QWidget* control);

    void closeEvent(QCloseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void Form_Unload();
    void renderPointer();

    WindowRegistry& registry_;
    int pointer_ = 0;
    bool wasHidden_ = false;
    std::optional<QCursor> mouseIcon_;
    QHash<QObject*, PointerHandler> handlers_;
    // Cursors the controls had of their own, restored when the shape returns to normal.
    QHash<QWidget*, std::optional<QCursor>> ownCursors_;
};

}  // namespace windows
