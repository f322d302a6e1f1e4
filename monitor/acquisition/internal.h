// Helpers shared by the acquisition's sources; not part of its interface.
#pragma once

#include <cstdint>

#include "acquisition/app_context.h"
#include "acquisition/notifier.h"

namespace kx305mon::detail {

// The context's notifier, or one that drops everything.
AcquisitionNotifier& NotifierOf(AppContext& context);

// The main window as it stands now (read under the lock; none after stop).
WindowRef MainWindow(AppContext& context);

// Posts to the main window unless it is gone.
void PostToMain(AppContext& context, uint32_t message, uintptr_t wParam);

// The message that tells a requester its operation failed (wParam 0), or 0
// for operations without a notice (2, 4, 5).
uint32_t FailureNotice(DeviceRequest request);

// Sends a requester its failure notice, if the operation has one.
void NotifyFailure(AppContext& context, DeviceRequest request, WindowRef requester);

// Platform backend: the recording timer runs at the highest thread priority
// where the platform has one for ordinary programs (a no-op elsewhere).
void RaiseCurrentThreadPriority();

}  // namespace kx305mon::detail
