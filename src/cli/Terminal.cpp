#include "Terminal.h"

#include <unistd.h>

#include <algorithm>

#include "Summary.h"

namespace cli {

volatile std::sig_atomic_t stopSignal = 0;
volatile std::sig_atomic_t watching = 0;

int stoppedStatus(int signal) { return signal == SIGINT ? 130 : 2; }

namespace {

extern "C" void onStopSignal(int signal) {
    if (watching == 0) ::_exit(stoppedStatus(signal));
    stopSignal = signal;
}

}  // namespace

void watchStopSignals() {
    struct sigaction action {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    for (const int signal : {SIGINT, SIGTERM}) ::sigaction(signal, &action, nullptr);
}

ProgressLine::ProgressLine(std::FILE* to) : to_(to), shown_(::isatty(::fileno(to)) == 1) {
    timer_.start();
}

void ProgressLine::update(std::int64_t read, std::optional<std::int64_t> expected) {
    if (!shown_ || timer_.elapsed() - last_ < 500) return;
    last_ = timer_.elapsed();
    const double seconds = std::max<double>(timer_.elapsed() / 1000.0, 0.001);
    const double rate = read / seconds;
    const auto perSecond = static_cast<qint64>(rate);
    QString line = QStringLiteral("\r%1%2 read, %3 %4/s")
                       .arg(label_.isEmpty() ? QString() : label_ + QStringLiteral(": "),
                            compare::Counted(read, u"record"), QString::number(perSecond),
                            perSecond == 1 ? QStringLiteral("record") : QStringLiteral("records"));
    if (expected && *expected > read && rate > 0) {
        line += QStringLiteral(", about %1 s left")
                    .arg(static_cast<qint64>((*expected - read) / rate) + 1);
    }
    show(line);
}

void ProgressLine::begin(const QString& label) {
    label_ = label;
    if (!shown_ || label_.isEmpty()) return;
    show(u'\r' + label_);
}

void ProgressLine::clear() {
    if (shown_ && width_ > 0) {
        std::fputs(("\r" + QString(width_, u' ') + "\r").toLocal8Bit().constData(), to_);
    }
}

void ProgressLine::show(const QString& line) {
    // Padded over what a longer line before left.
    std::fputs(line.leftJustified(width_).toLocal8Bit().constData(), to_);
    width_ = std::max<qsizetype>(width_, line.size());
}

}  // namespace cli
