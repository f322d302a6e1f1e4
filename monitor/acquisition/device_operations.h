// Device operations: what the requesters place in AppContext::request and
// the polling worker performs as the last step of its next cycle, on its own
// connection, answering with a window message.
#pragma once

#include "acquisition/app_context.h"

namespace kx305mon {

// Performs the pending request, if any.  1 when the cycle may go on, 0 when
// the operation failed on the line (the worker then drops and reopens the
// connection).  Polling worker only.
int RunDeviceRequest(AppContext& context);

}  // namespace kx305mon
