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
    bool Pause(std::unique_lock<std::mutex>& guard, AppContext& context, std::chrono::milliseconds,
               const std::function<bool()>& ended) override {
        ++pausing_;
        ++waits_;
        context.wake.notify_all();
        context.wake.wait(guard, [&] { return ended() || granted_ > 0; });
        --pausing_;
        if (ended()) return true;
        --granted_;
        ++taken_;
        return false;
    }

    bool AwaitRecording(std::unique_lock<std::mutex>& guard, AppContext& context,
                        const std::function<bool()>& ended) override {
        if (context.recordingEvent.IsSet()) return false;
        ++held_;
        ++waits_;
        context.wake.notify_all();
        bool end = false;
        for (;;) {
            guard.unlock();
            bool allowed = context.recordingEvent.WaitFor(std::chrono::milliseconds(1));
            guard.lock();
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
        std::unique_lock<std::mutex> guard(context.lock);
        const long before = waits_;
        granted_ += ticks;
        context.wake.notify_all();
        context.wake.wait(guard, [&] { return (granted_ == 0 && pausing_ > 0) || (held_ > 0 && waits_ > before); });
        granted_ = 0;
    }

    // Pauses the timer has ended so far.
    int taken(AppContext& context) const {
        std::lock_guard<std::mutex> guard(context.lock);
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
