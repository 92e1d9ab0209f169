#pragma once

#include <QIcon>
#include <QString>

namespace app {

// Optional files, relative to the program's folder. The package installs the
// pointer file and the help picture in its data folder; the skin is the user's
// own and is only ever looked for beside the program.
inline constexpr char kSkinFile[] = "x/o.cjs";
inline constexpr char kPointerFile[] = "HAND-M.CUR";
inline constexpr char kHelpPicture[] = "local-connection-example.jpg";

// The program's folder, without a trailing separator.
QString ProgramFolder();
// A file beside the program: folder + "/" + name. For the pointer file and the
// help picture, when there is none beside the program but the installed data
// folder (found from the program's folder) holds one, that one.
QString ProgramFile(const QString& folder, const char* name);

// True when the file's modification time can be read; never fails.
bool FileExists(const QString& path);

// The program icon every window shows.
QIcon ProgramIcon();

}  // namespace app
