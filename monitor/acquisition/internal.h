// Helpers shared by the acquisition's sources; not part of its interface.
#pragma once

#include <cstdint>
#include <mutex>

#include "acquisition/app_context.h"
#include "acquisition/events.h"
#include "acquisition/polling_worker.h"

namespace kx305mon::detail {

// The context's events, or a sink that drops everything.
AcquisitionEvents& EventsOf(AppContext& context);

// The main window as it stands now (read under the lock; none after stop).
WindowRef MainWindow(AppContext& context);

// Tells `requester` that `request` failed, for the operations that answer
// (1 and 6: ClockSet, 3: LogPeriodWritten); the others (2, 4, 5) and
// kNoWindow are not told.
void NotifyFailure(AppContext& context, DeviceRequest request, WindowRef requester);

// Starts a driver request, `start(&context.device)`, under the live-state
// lock unless the worker is stopping; false when it was not started.  The
// stop sets `stopping` and breaks the running request under the same lock,
// so its break either finds this request started or the request is never
// started: a break that fell between two requests would be lost (the next
// request's start clears it) and leave the stop waiting for every try of a
// converter that no longer answers.
template <typename Start>
bool StartUnlessStopping(AppContext& context, Start start) {
    std::lock_guard<std::mutex> guard(context.lock);
    if (context.stopping) return false;
    start(&context.device);
    return true;
}

// One whole transaction: started unless stopping, then awaited.  True on
// success.
template <typename Start>
bool Transact(AppContext& context, Start start) {
    return StartUnlessStopping(context, start) && WaitDone(&context.device) == 1;
}

// Platform backend: the recording timer runs at the highest thread priority
// where the platform has one for ordinary programs (a no-op elsewhere).
void RaiseCurrentThreadPriority();

}  // namespace kx305mon::detail
