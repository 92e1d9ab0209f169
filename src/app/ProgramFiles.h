#pragma once

#include <QIcon>
#include <QString>

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

// The program icon every window shows.
QIcon ProgramIcon();

}  // namespace app
