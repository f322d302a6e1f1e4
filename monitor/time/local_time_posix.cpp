// Local time through the C library: localtime_r / mktime follow the user's
// TZ setting with its daylight-saving rules.
#include <ctime>

#include "time/calendar_time.h"
#include "time/local_time.h"

namespace kx305mon {

bool UtcToLocal(const CalendarTime& utc, CalendarTime& local) {
    int64_t seconds = 0;
    if (!UtcFieldsToSeconds(utc.year, utc.month, utc.day, utc.hour, utc.minute, utc.second, seconds)) {
        return false;
    }
    time_t instant = 0;
    if (!ToTimeT(seconds, instant)) {
        return false;
    }
    struct tm fields {};
    if (localtime_r(&instant, &fields) == nullptr) {
        return false;
    }
    local = CalendarFromTm(fields, utc.milliseconds);
    return true;
}

bool LocalToUtc(const CalendarTime& local, CalendarTime& utc) {
    struct tm fields = TmFromCalendar(local);
    const time_t instant = mktime(&fields);
    if (instant == static_cast<time_t>(-1)) {
        return false;
    }
    struct tm out {};
    if (gmtime_r(&instant, &out) == nullptr) {
        return false;
    }
    utc = CalendarFromTm(out, local.milliseconds);
    return true;
}

CalendarTime CurrentUtcTime() {
    struct timespec now {};
    clock_gettime(CLOCK_REALTIME, &now);
    struct tm fields {};
    gmtime_r(&now.tv_sec, &fields);
    return CalendarFromTm(fields, static_cast<uint16_t>(now.tv_nsec / 1000000));
}

CalendarTime CurrentLocalTime() {
    struct timespec now {};
    clock_gettime(CLOCK_REALTIME, &now);
    struct tm fields {};
    localtime_r(&now.tv_sec, &fields);
    return CalendarFromTm(fields, static_cast<uint16_t>(now.tv_nsec / 1000000));
}

}  // namespace kx305mon
