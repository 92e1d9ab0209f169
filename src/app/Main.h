#pragma once

#include <QColor>
#include <QCursor>
#include <QString>

class QWidget;

namespace app {

// Optional files beside the program, relative to its folder.
inline constexpr char kSkinFile[] = "x/o.cjs";
inline constexpr char kPointerFile[] = "HAND-M.CUR";
inline constexpr char kHelpPicture[] = "local-connection-example.jpg";

// The program's folder, without a trailing separator.
QString ProgramFolder();
// A file beside the program: folder + "/" + name.
QString ProgramFile(const QString& folder, const char* name);

// True when the file's modification time can be read; never fails.
bool FileExists(const QString& path);

// The system's button-face colour, the background of the classic look.
QColor ButtonFaceColour();

// The login window's skin: only when the skin file (a Qt style sheet) is an
// ordinary file, the window, its frames, labels, check and option boxes take
// the button-face colour and the style sheet is applied. Throws when the
// file is there but cannot be read.
void ApplySkin(QWidget& form1, const QString& programFolder);

// The button-face colour for the window and its frames, labels, check and option boxes.
void ApplyClassicColours(QWidget& window);

// Loads a Windows cursor file (.cur) with the hot spot its header names.
// Throws when the file is not a picture Qt can read.
QCursor LoadCursorFile(const QString& path);

// The program icon every window shows.
QIcon ProgramIcon();

// Layout numbers are twips (1440 an inch): pixels at the screen's logical DPI.
int Twips(int twips);

}  // namespace app
