// A recording-timer clock that the test steps: the timer's pauses end only
// when the test lets them, so "after n ticks" is exact and no test waits
// for real seconds or guesses how long "nothing happened" takes.  Its state
// is guarded by the context's live-state lock, and the waits on both sides
// use the context's wake condition.
#pragma once

#include <chrono>
#include <functional>
#include <mutex>

#include "acquisition/app_context.h"
#include "acquisition/polling_worker.h"

namespace kx305mon::testing {

class SteppedTimerClock final : public RecordingTimerClock {
public:
    bool Pause(MutexLock& guard, AppContext& context, std::chrono::milliseconds,
               const std::function<bool()>& ended) override {
        ++pausing_;
        ++waits_;
        context.plumbing.wake.notify_all();
        context.plumbing.wake.wait(guard.native(), [&] { return ended() || granted_ > 0; });
        --pausing_;
        if (ended()) return true;
        --granted_;
        ++taken_;
        return false;
    }

    bool AwaitRecording(MutexLock&, AppContext& context, const std::function<bool()>& ended) override {
        if (context.recordingEvent.IsSet()) return false;
        ++held_;
        ++waits_;
        context.plumbing.wake.notify_all();
        bool end = false;
        for (;;) {
            context.plumbing.lock.unlock();  // the guard's lock, taken again below
            bool allowed = context.recordingEvent.WaitFor(std::chrono::milliseconds(1));
            context.plumbing.lock.lock();
            if (ended()) {
                end = true;
                break;
            }
            if (allowed) break;
        }
        --held_;
        return end;
    }

    // Lets the timer end `ticks` pauses and returns once it waits again: in
    // its next pause, or newly for recordingEvent (pauses not taken by then
    // are withdrawn).  Test thread.
    void Step(AppContext& context, int ticks) {
        MutexLock guard(context.plumbing.lock);
        const long before = waits_;
        granted_ += ticks;
        context.plumbing.wake.notify_all();
        context.plumbing.wake.wait(guard.native(),
                                   [&] { return (granted_ == 0 && pausing_ > 0) || (held_ > 0 && waits_ > before); });
        granted_ = 0;
    }

    // Pauses the timer has ended so far.
    int taken(AppContext& context) const {
        MutexLock guard(context.plumbing.lock);
        return taken_;
    }

private:
    int granted_ = 0;
    int pausing_ = 0;
    int held_ = 0;
    int taken_ = 0;
    long waits_ = 0;  // pauses and gate waits begun
};

}  // namespace kx305mon::testing
