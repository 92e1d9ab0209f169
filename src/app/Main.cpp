#include "Main.h"

#include <QApplication>
#include <QCheckBox>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGroupBox>
#include <QIcon>
#include <QImageReader>
#include <QLabel>
#include <QPixmap>
#include <QRadioButton>
#include <QScreen>
#include <QWidget>
#include <stdexcept>

namespace app {

QString ProgramFolder() { return QCoreApplication::applicationDirPath(); }

QString ProgramFile(const QString& folder, const char* name) {
    return folder + QLatin1Char('/') + QString::fromLatin1(name);
}

bool FileExists(const QString& path) {
    try {
        const QFileInfo info(path);
        return info.exists() && info.lastModified().isValid();
    } catch (...) {
        return false;
    }
}

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
    const QFileInfo skin(ProgramFile(programFolder, kSkinFile));
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

QCursor LoadCursorFile(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) throw std::runtime_error("File not found: " + path.toStdString());
    const QByteArray bytes = file.readAll();
    QPixmap picture;
    if (!picture.loadFromData(bytes, "CUR") && !picture.loadFromData(bytes)) {
        throw std::runtime_error("Invalid picture: " + path.toStdString());
    }
    // Qt's reader drops the hot spot; a cursor file (type 2) keeps it in its
    // first directory entry, bytes 10 to 13.
    int hotX = 0, hotY = 0;
    const auto u16 = [&](int at) {
        return static_cast<int>(static_cast<unsigned char>(bytes[at]) |
                                (static_cast<unsigned char>(bytes[at + 1]) << 8));
    };
    if (bytes.size() >= 14 && u16(2) == 2) {
        hotX = u16(10);
        hotY = u16(12);
    }
    return QCursor(picture, hotX, hotY);
}

QIcon ProgramIcon() { return QIcon(QStringLiteral(":/dorvantis/dorvantis.png")); }

int Twips(int twips) {
    const QScreen* screen = QGuiApplication::primaryScreen();
    const qreal dpi = screen ? screen->logicalDotsPerInch() : 96.0;
    return qRound(twips * dpi / 1440.0);
}

}  // namespace app
