// Where a command's report goes: a file, or standard output.
#pragma once

#include <QIODevice>
#include <QString>
#include <cstdio>
#include <functional>
#include <optional>

namespace cli {

// Writes a report whole or not at all, so that a failed run never leaves half
// a report nor shows half of one: into output, a regular file replaced only
// once the report is complete (a device or a pipe, which scripts read as they
// read standard output, is written into), else into a temporary file that
// goes to standard output once complete. write takes the device and whether
// the report replaces a file. A write the device refuses fails the command.
void WriteReport(const std::optional<QString>& output, std::FILE* out,
                 const std::function<void(QIODevice& device, bool replacesAFile)>& write);

// The whole report onto standard output, or a failure saying why not (a
// closed or full standard output must not pass for a report written).
void writeAll(std::FILE* to, QIODevice& from);

}  // namespace cli
