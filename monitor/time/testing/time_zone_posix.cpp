#include <cstdlib>
#include <ctime>

#include "time_zone.h"

namespace kx305mon::testing {

bool UseTimeZone(const char* posixZone) {
    if (setenv("TZ", posixZone, 1) != 0) {
        return false;
    }
    tzset();
    return true;
}

}  // namespace kx305mon::testing
