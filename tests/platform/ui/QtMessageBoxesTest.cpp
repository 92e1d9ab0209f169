// The real message boxes, driven offscreen: each box is read and answered
// from a timer while it runs its own event loop.

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QTimer>
#include <functional>

#include "QtMessageBoxes.h"

namespace {

struct Seen {
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QString title;
    QString text;
    QMessageBox::StandardButtons buttons;
    QString details;
};

// Shows one box and, once it is up, records it and presses `press`.
ui::Answer ShowAndPress(const QString& text, const QString& title, ui::Buttons buttons,
                        ui::Icon icon, QMessageBox::StandardButton press, Seen& seen,
                        const QString& details = QString()) {
    std::function<void()> answer;
    answer = [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (box == nullptr) {  // not up yet
            QTimer::singleShot(10, answer);
            return;
        }
        seen = Seen{box->icon(), box->windowTitle(), box->text(), box->standardButtons(),
                    box->detailedText()};
        box->button(press)->click();
    };
    QTimer::singleShot(0, answer);
    ui::QtMessageBoxes boxes;
    return boxes.show(text, title, buttons, icon, details);
}

TEST(QtMessageBoxes, ShowTheirTextTitleIconAndButtonsAndReturnTheAnswer) {
    ui::SetApplicationTitle(QStringLiteral("Dorvantis"));
    Seen seen;
    // An error report: exclamation, its own title, CR LF and lone CRs as line breaks.
    EXPECT_EQ(ShowAndPress(QStringLiteral("Login failed.\r\nin X at line 124\r\rPlease write"),
                           QStringLiteral("Application Error"), ui::Buttons::Ok,
                           ui::Icon::Exclamation, QMessageBox::Ok, seen),
              ui::Answer::Ok);
    EXPECT_EQ(seen.icon, QMessageBox::Warning);
    EXPECT_EQ(seen.title, QStringLiteral("Application Error"));
    EXPECT_EQ(seen.text, QStringLiteral("Login failed.\nin X at line 124\n\nPlease write"));
    EXPECT_EQ(seen.buttons, QMessageBox::Ok);
    EXPECT_EQ(seen.details, QString());

    // Details go behind the box's details button; the main text stays as given.
    EXPECT_EQ(ShowAndPress(QStringLiteral("Could not connect."), QString(), ui::Buttons::Ok,
                           ui::Icon::None, QMessageBox::Ok, seen,
                           QStringLiteral("[FreeTDS][SQL Server]Login failed for user 'sa'.")),
              ui::Answer::Ok);
    EXPECT_EQ(seen.text, QStringLiteral("Could not connect."));
    EXPECT_EQ(seen.details, QStringLiteral("[FreeTDS][SQL Server]Login failed for user 'sa'."));

    // An untitled question: the application title, Yes and No, each answer as given.
    for (const auto& [press, expected] : {std::pair{QMessageBox::Yes, ui::Answer::Yes},
                                          std::pair{QMessageBox::No, ui::Answer::No}}) {
        EXPECT_EQ(ShowAndPress(QStringLiteral("Would you like to see an image?"), QString(),
                               ui::Buttons::YesNo, ui::Icon::None, press, seen),
                  expected);
        EXPECT_EQ(seen.icon, QMessageBox::NoIcon);
        EXPECT_EQ(seen.title, QStringLiteral("Dorvantis"));
        EXPECT_EQ(seen.buttons, QMessageBox::Yes | QMessageBox::No);
    }
}

}  // namespace
