// Win32 side of the acquisition: port names and thread priority.
#include <windows.h>

#include <cstdio>
#include <string>

#include "acquisition/app_context.h"
#include "acquisition/internal.h"

namespace kx305mon {

// The device path form reaches ports above COM9 too.
std::string DefaultPortName(int32_t port) {
    char name[32];
    std::snprintf(name, sizeof name, "\\\\.\\COM%li", static_cast<long>(port));
    return name;
}

namespace detail {

void RaiseCurrentThreadPriority() { SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_HIGHEST); }

}  // namespace detail
}  // namespace kx305mon
