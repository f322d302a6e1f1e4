// Local time through the C library: localtime_r / mktime follow the user's
// TZ setting with its daylight-saving rules.
#include <ctime>

#include "recording/local_time.h"

namespace kx305mon {

namespace {

CalendarTime FromTm(const struct tm& fields, int milliseconds) {
    CalendarTime time;
    time.year = static_cast<uint16_t>(fields.tm_year + 1900);
    time.month = static_cast<uint16_t>(fields.tm_mon + 1);
    time.dayOfWeek = static_cast<uint16_t>(fields.tm_wday);
    time.day = static_cast<uint16_t>(fields.tm_mday);
    time.hour = static_cast<uint16_t>(fields.tm_hour);
    time.minute = static_cast<uint16_t>(fields.tm_min);
    time.second = static_cast<uint16_t>(fields.tm_sec);
    time.milliseconds = static_cast<uint16_t>(milliseconds);
    return time;
}

}  // namespace

bool UtcToLocal(const CalendarTime& utc, CalendarTime& local) {
    int64_t seconds = 0;
    if (!UtcFieldsToSeconds(utc.year, utc.month, utc.day, utc.hour, utc.minute, utc.second, seconds)) {
        return false;
    }
    const time_t instant = static_cast<time_t>(seconds);
    struct tm fields {};
    if (localtime_r(&instant, &fields) == nullptr) {
        return false;
    }
    local = FromTm(fields, utc.milliseconds);
    return true;
}

bool LocalToUtc(const CalendarTime& local, CalendarTime& utc) {
    struct tm fields {};
    fields.tm_year = local.year - 1900;
    fields.tm_mon = local.month - 1;
    fields.tm_mday = local.day;
    fields.tm_hour = local.hour;
    fields.tm_min = local.minute;
    fields.tm_sec = local.second;
    fields.tm_isdst = -1;
    const time_t instant = mktime(&fields);
    if (instant == static_cast<time_t>(-1)) {
        return false;
    }
    struct tm out {};
    if (gmtime_r(&instant, &out) == nullptr) {
        return false;
    }
    utc = FromTm(out, local.milliseconds);
    return true;
}

CalendarTime CurrentUtcTime() {
    struct timespec now {};
    clock_gettime(CLOCK_REALTIME, &now);
    struct tm fields {};
    gmtime_r(&now.tv_sec, &fields);
    return FromTm(fields, static_cast<int>(now.tv_nsec / 1000000));
}

CalendarTime CurrentLocalTime() {
    struct timespec now {};
    clock_gettime(CLOCK_REALTIME, &now);
    struct tm fields {};
    localtime_r(&now.tv_sec, &fields);
    return FromTm(fields, static_cast<int>(now.tv_nsec / 1000000));
}

}  // namespace kx305mon
