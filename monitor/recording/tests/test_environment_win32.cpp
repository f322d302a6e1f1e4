#include <windows.h>

#include "test_environment.h"

namespace kx305mon::testing {

bool UseTemporaryDirectory(const std::string& directory) {
    // GetTempPathA looks at TMP first and wants the trailing backslash.
    return SetEnvironmentVariableA("TMP", (directory + "\\").c_str()) != 0;
}

}  // namespace kx305mon::testing
