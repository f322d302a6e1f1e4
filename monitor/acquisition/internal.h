// Helpers shared by the acquisition's sources; not part of its interface.
#pragma once

#include <cstdint>

#include "acquisition/app_context.h"
#include "acquisition/events.h"

namespace kx305mon::detail {

// The context's events, or a sink that drops everything.
AcquisitionEvents& EventsOf(AppContext& context);

// The main window as it stands now (read under the lock; none after stop).
WindowRef MainWindow(AppContext& context);

// Tells `requester` that `request` failed, for the operations that answer
// (1 and 6: ClockSet, 3: LogPeriodWritten); the others (2, 4, 5) and
// kNoWindow are not told.
void NotifyFailure(AppContext& context, DeviceRequest request, WindowRef requester);

// Platform backend: the recording timer runs at the highest thread priority
// where the platform has one for ordinary programs (a no-op elsewhere).
void RaiseCurrentThreadPriority();

}  // namespace kx305mon::detail
