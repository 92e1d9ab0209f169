#pragma once

#include <QString>

namespace ui {

enum class Buttons { Ok, YesNo };
enum class Icon { None, Exclamation, Information, Question, Critical };
enum class Answer { Ok, Yes, No };

// Every modal message box of the program goes through this one seam, so that
// tests can record boxes and answer them instead of blocking on a real dialog.
class MessageBoxes {
public:
    virtual ~MessageBoxes() = default;
    // An empty title means the application title (the product name set at
    // start-up). Details, when given, are offered behind a button of the box
    // ("Show Details..."), so that the main text stays as it is.
    virtual Answer show(const QString& text, const QString& title = QString(),
                        Buttons buttons = Buttons::Ok, Icon icon = Icon::None,
                        const QString& details = QString()) = 0;
};

// Opens files with the desktop's default application, and asks where to save one.
class Shell {
public:
    virtual ~Shell() = default;
    virtual void openFile(const QString& path) = 0;
    // The file the user chooses to save to (filter as Qt's file dialogs take
    // it), or an empty text when the user cancels.
    virtual QString chooseSaveFile(const QString& title, const QString& filter) = 0;
};

// The title untitled boxes show; set once by the login window's load.
void SetApplicationTitle(const QString& title);
QString ApplicationTitle();

}  // namespace ui
