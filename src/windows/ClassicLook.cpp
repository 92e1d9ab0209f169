#include "ClassicLook.h"

#include <QApplication>
#include <QCheckBox>
#include <QFile>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QRadioButton>
#include <QStringDecoder>
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

// The skin's text; it must be UTF-8.
QString readStyleSheet(const QByteArray& bytes, const QString& path) {
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = utf8(bytes);
    if (utf8.hasError()) {
        throw std::runtime_error(
            ("Cannot apply the skin file " + path + ": it is not UTF-8 text").toStdString());
    }
    return text;
}

// Qt reports a style sheet it cannot parse only as a warning when it first
// styles a widget with it; this catches that warning while it lives (other
// messages go on to the handler that was there before).
class ParseFailureWatch {
public:
    ParseFailureWatch() : previous_(qInstallMessageHandler(&ParseFailureWatch::handle)) {
        failed_ = false;
        previousHandler_ = previous_;
    }
    ~ParseFailureWatch() { qInstallMessageHandler(previous_); }
    bool failed() const { return failed_; }

private:
    static void handle(QtMsgType type, const QMessageLogContext& context, const QString& text) {
        if (text.startsWith(QLatin1String("Could not parse stylesheet"))) {
            failed_ = true;
            return;
        }
        if (previousHandler_) previousHandler_(type, context, text);
    }

    QtMessageHandler previous_;
    static inline bool failed_ = false;
    static inline QtMessageHandler previousHandler_ = nullptr;
};

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
        throw std::runtime_error(
            ("Cannot load the skin file " + skin.absoluteFilePath() + ": " + file.errorString())
                .toStdString());
    }
    const QString sheet = readStyleSheet(file.readAll(), skin.absoluteFilePath());
    const ParseFailureWatch watch;
    form1.setStyleSheet(sheet);
    form1.ensurePolished();
    if (watch.failed()) {
        form1.setStyleSheet(QString());  // nothing half applied
        throw std::runtime_error(("Cannot apply the skin file " + skin.absoluteFilePath() +
                                  ": it is no valid style sheet")
                                     .toStdString());
    }
}

}  // namespace windows
