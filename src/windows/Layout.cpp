#include "Layout.h"

#include <QGuiApplication>
#include <QScreen>

namespace windows {

int Twips(int twips) {
    const QScreen* screen = QGuiApplication::primaryScreen();
    const qreal dpi = screen ? screen->logicalDotsPerInch() : 96.0;
    return qRound(twips * dpi / 1440.0);
}

}  // namespace windows
