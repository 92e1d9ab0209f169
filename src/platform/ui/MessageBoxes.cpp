#include "MessageBoxes.h"

#include <QCoreApplication>

namespace ui {

namespace {
QString& title() {
    static QString t;
    return t;
}
}  // namespace

void SetApplicationTitle(const QString& t) { title() = t; }

QString ApplicationTitle() {
    return title().isEmpty() ? QCoreApplication::applicationName() : title();
}

}  // namespace ui
