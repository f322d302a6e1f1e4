// How many stop signals (Ctrl-C, SIGTERM, SIGHUP) a device command has
// received, shared by the handler and the threads that wait on the converter.
#pragma once

#include <signal.h>

namespace kx305cli {

// Stop signals received: 0, 1 or 2.
extern volatile sig_atomic_t g_stopSignal;
// A download is being finished after the first signal: the main thread
// waits for it and handles a second signal itself.
extern volatile sig_atomic_t g_finishing;

bool StopRequested();

}  // namespace kx305cli
