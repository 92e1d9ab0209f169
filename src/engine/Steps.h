#pragma once

#include <exception>
#include <utility>

namespace compare {

// The numbered steps of a run. A step that throws is reported through
// failed() with its number, and the run goes on with its next step; a test
// that throws counts as passed, so the block it guards is entered: write each
// test so that its block is the one the run must enter on failure. How a
// failure is reported is the caller's: the windows show an error report, the
// command line ends with one line.
class Steps {
public:
    virtual ~Steps() = default;

    // Runs one step; false when it failed (and was reported).
    template <class Fn>
    bool step(int line, Fn&& fn) {
        try {
            std::forward<Fn>(fn)();
            return true;
        } catch (...) {
            failed(line, std::current_exception());
            return false;
        }
    }

    template <class Pred>
    bool test(int line, Pred&& pred) {
        try {
            return static_cast<bool>(std::forward<Pred>(pred)());
        } catch (...) {
            failed(line, std::current_exception());
            return true;
        }
    }

protected:
    // Step `line` failed with `failure`. It may throw to end the run there.
    virtual void failed(int line, const std::exception_ptr& failure) = 0;
};

}  // namespace compare
