#pragma once

namespace cli {

// Whether the program was started as a command (any argument) rather than
// as the wizard (none).
bool IsCommandLine(int argc, char** argv);

// Runs `dorvantis compare LEFT RIGHT [options]` (and --help, --version)
// without a window or a display, and returns the exit status: 0 when the
// tables hold the same data, 1 when differences were found, 2 on any failure.
int RunCommandLine(int argc, char** argv);

}  // namespace cli
