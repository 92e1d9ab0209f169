#pragma once

#include <QCoreApplication>
#include <QElapsedTimer>
#include <functional>
#include <future>
#include <memory>
#include <optional>
#include <thread>

namespace windows {

// One turn of the windows' painting while a run waits on its readers:
// short enough that Esc answers at once, long enough to paint.
inline void PaintTurn() { QCoreApplication::processEvents(QEventLoop::AllEvents, 20); }

// Runs work on a thread of its own while the windows keep painting, and
// returns what it returns or throws what it threw: a server that is slow to
// answer must not freeze the windows. The caller holds an InputGuard, so
// that clicks meanwhile are dropped, not replayed. When the wait lasts more
// than a moment, onSlow runs once (a hidden window may then show itself, so
// that there is a sign of life).
template <class Work>
auto WhilePainting(Work work, const std::function<void()>& onSlow = {}) -> decltype(work()) {
    using Result = decltype(work());
    std::packaged_task<Result()> task(std::move(work));
    std::future<Result> done = task.get_future();
    std::thread worker(std::move(task));
    QElapsedTimer waited;
    waited.start();
    bool toldSlow = false;
    while (done.wait_for(std::chrono::milliseconds(10)) != std::future_status::ready) {
        if (!toldSlow && onSlow && waited.elapsed() > 300) {
            toldSlow = true;
            onSlow();
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    worker.join();
    return done.get();
}

// As WhilePainting, but the caller may give up: once givenUp() says so, the
// wait ends at once with nothing, and the work is left to end alone on its
// thread (a driver's connect cannot be interrupted). The work must then own
// everything it touches: capture copies and shared_ptrs, never references.
template <class Work>
auto WhilePaintingUnlessGivenUp(Work work, const std::function<bool()>& givenUp)
    -> std::optional<decltype(work())> {
    using Result = decltype(work());
    auto task = std::make_shared<std::packaged_task<Result()>>(std::move(work));
    std::future<Result> done = task->get_future();
    std::thread([task] { (*task)(); }).detach();
    while (done.wait_for(std::chrono::milliseconds(10)) != std::future_status::ready) {
        if (givenUp()) return std::nullopt;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return done.get();
}

}  // namespace windows
