#pragma once

#include <QFont>
#include <QString>
#include <QWidget>

namespace windows {

// Layout numbers are twips (1440 an inch): pixels at the screen's logical DPI.
int Twips(int twips);

// The windows' typeface: Arial (its metric twin where Arial is missing).
inline QFont ArialFont(qreal points, bool bold = true) {
    QFont f(QStringLiteral("Arial"));
    f.setPointSizeF(points);
    f.setBold(bold);
    return f;
}

// Names a control and places it by its layout in twips, relative to its parent.
template <class W>
W* Place(W* control, const char* name, int left, int top, int width, int height) {
    control->setObjectName(QString::fromLatin1(name));
    control->setGeometry(Twips(left), Twips(top), Twips(width), Twips(height));
    return control;
}

}  // namespace windows
