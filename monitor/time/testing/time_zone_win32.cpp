#include <windows.h>

#include <cstring>

#include "time_zone.h"

namespace kx305mon::testing {

// The Win32 time-zone functions follow the system's setting, which a
// running process cannot change.  The Windows tests run under Wine, whose
// zone follows TZ at start: ctest starts the tests once per zone they need
// (see the CMakeLists.txt of the suites), and a test runs when its zone is
// the one in force.
bool UseTimeZone(const char* posixZone) {
    char zone[128];
    const DWORD length = GetEnvironmentVariableA("TZ", zone, sizeof zone);
    return length > 0 && length < sizeof zone && std::strcmp(zone, posixZone) == 0;
}

}  // namespace kx305mon::testing
