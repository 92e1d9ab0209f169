#pragma once

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
// A file beside the program: folder + "/" + name.
QString ProgramFile(const QString& folder, const char* name);
// A file the package installs (the pointer file, the help picture): the one
// beside the program, else the one in the installed data folder (found from
// the program's folder), else the place beside the program.
QString InstalledProgramFile(const QString& folder, const char* name);

// True when the file's modification time can be read; never fails.
bool FileExists(const QString& path);

}  // namespace app
