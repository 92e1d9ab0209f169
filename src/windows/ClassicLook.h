#pragma once

#include <QColor>
#include <QString>

class QWidget;

namespace windows {

// The system's button-face colour, the background of the classic look.
QColor ButtonFaceColour();

// The button-face colour for the window and its frames, labels, check and option boxes.
void ApplyClassicColours(QWidget& window);

// The login window's skin: only when the skin file (a Qt style sheet) is an
// ordinary file, the window, its frames, labels, check and option boxes take
// the button-face colour and the style sheet is applied. Throws when the
// file is there but cannot be read or applied (not UTF-8, not a style sheet
// Qt can parse); the window then keeps no part of it.
void ApplySkin(QWidget& form1, const QString& programFolder);

}  // namespace windows
