#pragma once

namespace windows {

// Pointer shapes of a window: the whole window, its controls included.
enum PointerShape : int {
    kPointerNormal = 0,  // each control shows its own pointer
    kPointerBusy = 11,   // hourglass during a long operation
    kPointerHand = 99,   // the window's custom pointer picture
};

// The rule of every mouse-move handler: a busy window keeps its hourglass.
inline int PointerAfterMove(int current, int wanted) {
    return current == kPointerBusy ? current : wanted;
}

}  // namespace windows
