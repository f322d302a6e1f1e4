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

ScopedTimeZone::ScopedTimeZone(const char* posixZone) {
    if (const char* zone = std::getenv("TZ")) saved_ = zone;
    setenv("TZ", posixZone, 1);
    tzset();
}

ScopedTimeZone::~ScopedTimeZone() {
    if (saved_) {
        setenv("TZ", saved_->c_str(), 1);
    } else {
        unsetenv("TZ");
    }
    tzset();
}

}  // namespace kx305mon::testing
