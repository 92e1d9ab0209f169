#include "ClassicLook.h"

#include <QApplication>
#include <QCheckBox>
#include <QFile>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QRadioButton>
#include <QWidget>
#include <stdexcept>

#include "ProgramFiles.h"

namespace windows {

QColor ButtonFaceColour() { return QApplication::palette().color(QPalette::Button); }

namespace {

void paintBackground(QWidget& w, const QColor& colour) {
    QPalette p = w.palette();
    p.setColor(QPalette::Window, colour);
    w.setPalette(p);
    w.setAutoFillBackground(true);
}

bool takesClassicColour(const QWidget* w) {
    return qobject_cast<const QRadioButton*>(w) || qobject_cast<const QCheckBox*>(w) ||
           qobject_cast<const QGroupBox*>(w) || qobject_cast<const QLabel*>(w);
}

}  // namespace

void ApplyClassicColours(QWidget& window) {
    const QColor face = ButtonFaceColour();
    paintBackground(window, face);
    for (QWidget* child : window.findChildren<QWidget*>()) {
        if (takesClassicColour(child)) paintBackground(*child, face);
    }
}

void ApplySkin(QWidget& form1, const QString& programFolder) {
    const QFileInfo skin(app::ProgramFile(programFolder, app::kSkinFile));
    if (!skin.exists() || !skin.isFile() || skin.isHidden()) return;
    ApplyClassicColours(form1);
    QFile file(skin.absoluteFilePath());
    if (!file.open(QIODevice::ReadOnly)) {
        throw std::runtime_error(("Cannot load the skin file " + skin.absoluteFilePath() + ": " +
                                  file.errorString())
                                     .toStdString());
    }
    form1.setStyleSheet(QString::fromUtf8(file.readAll()));
}

}  // namespace windows
