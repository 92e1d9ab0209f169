// How the windows' process ends: at once, without destructors, leaving
// nothing of the data behind, and on a stop signal with its status.
#pragma once

class QApplication;

namespace windows {

class WindowRegistry;

// Ends the process now: what a run keeps on disk (the records' private
// folder) is removed, the output flushed; after a stop signal the signal
// ends the process as it would have (the shell sees 128 + its number),
// else the status is 0. No handler runs after it.
[[noreturn]] void EndProcess();

// SIGINT (Ctrl+C), SIGTERM and SIGHUP (the session's end) end the windows as
// "Exit" does, through the event loop (a self-pipe: nothing unsafe runs in
// the handler), even while a run is under way; a second signal ends the
// process at once, removing the records' folders from the handler.
void EndOnStopSignals(QApplication& application, WindowRegistry& registry);

}  // namespace windows
