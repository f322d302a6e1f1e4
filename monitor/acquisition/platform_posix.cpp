// POSIX side of the acquisition: port names and thread priority.
#include <string>

#include "acquisition/app_context.h"
#include "acquisition/internal.h"

namespace kx305mon {

// COM1 is the first serial line, /dev/ttyS0.  The command line and the tests
// install their own namer for ptys and USB adapters.
std::string DefaultPortName(int32_t port) { return "/dev/ttyS" + std::to_string(static_cast<long>(port) - 1); }

namespace detail {

// Raising a priority needs privileges here; the timer sleeps almost always,
// so the default priority serves it.
void RaiseCurrentThreadPriority() {}

}  // namespace detail
}  // namespace kx305mon
