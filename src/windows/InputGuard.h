#pragma once

#include <QObject>
#include <functional>

namespace windows {

// While a guard lives, mouse and key input aimed at the program's windows is
// dropped, not queued: a handler that lets events run (so that the windows
// keep painting) cannot be entered again, nor can another button of any
// window act in the middle of it. Message boxes the handler shows still take
// their input. Guards nest; input flows again when the last one goes. A
// guard may take Esc as a request to stop: it is then called instead.
class InputGuard {
public:
    explicit InputGuard(std::function<void()> onEscape = {});
    ~InputGuard();
    InputGuard(const InputGuard&) = delete;
    InputGuard& operator=(const InputGuard&) = delete;

    // Whether input to the program's windows is being dropped right now.
    static bool active();
};

}  // namespace windows
