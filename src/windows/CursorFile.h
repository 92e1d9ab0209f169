#pragma once

#include <QCursor>
#include <QString>

namespace windows {

// Loads a Windows cursor file (.cur) with the hot spot its header names.
// Throws when the file is not a picture Qt can read.
QCursor LoadCursorFile(const QString& path);

}  // namespace windows
