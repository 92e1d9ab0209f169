#include "QtMessageBoxes.h"

#include <QApplication>
#include <QDesktopServices>
#include <QFileDialog>
#include <QGuiApplication>
#include <QMessageBox>
#include <QUrl>

namespace ui {

namespace {

QMessageBox::Icon toQt(Icon icon) {
    switch (icon) {
        case Icon::Exclamation:
            return QMessageBox::Warning;
        case Icon::Information:
            return QMessageBox::Information;
        case Icon::Question:
            return QMessageBox::Question;
        case Icon::Critical:
            return QMessageBox::Critical;
        case Icon::None:
            break;
    }
    return QMessageBox::NoIcon;
}

// Message texts break lines with lone carriage returns (and CR LF after an
// error description); Qt's plain-text labels only break at line feeds.
QString forDisplay(QString text) {
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return text;
}

}  // namespace

Answer QtMessageBoxes::show(const QString& text, const QString& title, Buttons buttons, Icon icon,
                            const QString& details) {
    QMessageBox box(toQt(icon), title.isEmpty() ? ApplicationTitle() : title, forDisplay(text));
    box.setTextFormat(Qt::PlainText);
    if (!details.isEmpty()) box.setDetailedText(forDisplay(details));
    if (buttons == Buttons::YesNo) {
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        box.setDefaultButton(QMessageBox::Yes);
    } else {
        box.setStandardButtons(QMessageBox::Ok);
    }
    const int result = box.exec();
    if (buttons == Buttons::YesNo) return result == QMessageBox::Yes ? Answer::Yes : Answer::No;
    return Answer::Ok;
}

QString QtShell::chooseSaveFile(const QString& title, const QString& filter) {
    return QFileDialog::getSaveFileName(QApplication::activeWindow(), title, QString(), filter);
}

void QtShell::openFile(const QString& path) {
    // Fire and forget: the viewer's outcome is the desktop's business.
    QDesktopServices::openUrl(QUrl::fromLocalFile(path));
}

}  // namespace ui
