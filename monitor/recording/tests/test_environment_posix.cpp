#include <cstdlib>
#include <ctime>

#include "test_environment.h"

namespace kx305mon::testing {

bool UseTimeZone(const char* posixZone) {
    if (setenv("TZ", posixZone, 1) != 0) {
        return false;
    }
    tzset();
    return true;
}

bool UseTemporaryDirectory(const std::string& directory) {
    return setenv("TMPDIR", directory.c_str(), 1) == 0;
}

}  // namespace kx305mon::testing
