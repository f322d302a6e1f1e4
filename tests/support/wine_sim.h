// The simulated converters that scripts/wine-sim-run puts on the COM ports
// of the Wine prefix, as the Windows tests find them in their environment
// (KX305_PORT_FW113="\\.\COM5", KX305_FW113_RECORDS=...).  A test run
// outside wine-sim-run fails here instead of opening some other port.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

namespace kx305::support {

// The port path in environment variable `variable` ("\\.\COM5").
inline std::string SimPort(const char* variable) {
    const char* value = std::getenv(variable);
    if (value == nullptr || *value == '\0') {
        ADD_FAILURE() << variable << " is not set: run the test through scripts/wine-sim-run";
        return "\\\\.\\COM99";
    }
    return value;
}

// The COM number of that port (5), or `missing` when there is none.
inline int32_t SimPortNumber(const char* variable, int32_t missing) {
    const char* value = std::getenv(variable);
    if (value == nullptr || std::strstr(value, "COM") == nullptr) {
        ADD_FAILURE() << variable << " is not set: run the test through scripts/wine-sim-run";
        return missing;
    }
    return static_cast<int32_t>(std::strtol(std::strstr(value, "COM") + 3, nullptr, 10));
}

// A number wine-sim-run announces about its simulators (records, rain).
inline unsigned SimNumber(const char* variable) {
    const char* value = std::getenv(variable);
    if (value == nullptr) {
        ADD_FAILURE() << variable << " is not set: run the test through scripts/wine-sim-run";
        return 0;
    }
    return static_cast<unsigned>(std::strtoul(value, nullptr, 10));
}

}  // namespace kx305::support
