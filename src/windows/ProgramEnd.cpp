#include "ProgramEnd.h"

#include <sys/socket.h>
#include <unistd.h>

#include <QApplication>
#include <QSocketNotifier>
#include <atomic>
#include <csignal>
#include <cstdio>

#include "RecordStore.h"
#include "WindowRegistry.h"

namespace windows {

namespace {

int signalPipe[2] = {-1, -1};
std::atomic<int> signalsTaken{0};
int endingSignal = 0;  // the stop signal being answered, on the main thread

void OnStopSignal(int signal) {
    if (signalsTaken.fetch_add(1) > 0) {
        compare::RemoveOpenRecordFoldersInSignalHandler();
        ::_exit(128 + signal);
    }
    const auto c = static_cast<char>(signal);
    [[maybe_unused]] const ssize_t written = ::write(signalPipe[1], &c, 1);
}

}  // namespace

void EndProcess() {
    compare::RemoveOpenRecordFolders();
    std::fflush(nullptr);
    if (endingSignal != 0) {
        struct sigaction action {};
        action.sa_handler = SIG_DFL;
        sigemptyset(&action.sa_mask);
        ::sigaction(endingSignal, &action, nullptr);
        sigset_t set;
        sigemptyset(&set);
        sigaddset(&set, endingSignal);
        ::pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
        ::raise(endingSignal);
        ::_exit(128 + endingSignal);  // a signal that does not end it (ignored from outside)
    }
    ::_exit(0);
}

void EndOnStopSignals(QApplication& application, WindowRegistry& registry) {
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, signalPipe) != 0) return;
    auto* notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, &application);
    QObject::connect(notifier, &QSocketNotifier::activated, &application, [&registry] {
        char c = 0;
        if (::read(signalPipe[0], &c, 1) == 1) endingSignal = static_cast<unsigned char>(c);
        registry.EndProgram();
    });
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) ::sigaction(signal, &action, nullptr);
}

}  // namespace windows
