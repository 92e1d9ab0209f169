// What a command does on a terminal: a progress line on standard error, and
// the stop signals (SIGINT, SIGTERM) that end a run.
#pragma once

#include <QElapsedTimer>
#include <QString>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <optional>

namespace cli {

// SIGINT or SIGTERM, once the comparison watches for it (before, nothing is
// under way that needs undoing, and the signal ends the program at once).
extern volatile std::sig_atomic_t stopSignal;
extern volatile std::sig_atomic_t watching;

// The exit status for a comparison stopped by a signal: 130 for SIGINT, as
// shells expect of a program stopped with Ctrl+C; a failure (2) for SIGTERM.
int stoppedStatus(int signal);

// SIGINT and SIGTERM set stopSignal once watching is set; before, they end
// the program at once.
void watchStopSignals();

// Thrown when a signal stopped the comparison.
struct Stopped {
    int signal;
};

// A progress line on a terminal's standard error, a few times a second.
class ProgressLine {
public:
    explicit ProgressLine(std::FILE* to);
    void update(std::int64_t read, std::optional<std::int64_t> expected);
    // What the line is about (a table of many), shown at once and before
    // every count after.
    void begin(const QString& label);
    void clear();

private:
    void show(const QString& line);

    std::FILE* to_;
    bool shown_;
    QElapsedTimer timer_;
    qint64 last_ = -1000;
    qsizetype width_ = 0;
    QString label_;
};

}  // namespace cli
