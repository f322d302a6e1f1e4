// Local time through the Windows time-zone functions of the computer's
// current time-zone setting (daylight saving included).  They work on
// SYSTEMTIME fields (64-bit FILETIME inside), never on a 32-bit time_t, so
// the conversion holds far past 2038.
#include <windows.h>

#include "time/local_time.h"
#include "time/system_time_win32.h"

namespace kx305mon {

bool UtcToLocal(const CalendarTime& utc, CalendarTime& local) {
    int64_t seconds = 0;
    if (!UtcFieldsToSeconds(utc.year, utc.month, utc.day, utc.hour, utc.minute, utc.second, seconds)) {
        return false;
    }
    // Through the seconds, so that 29 February of a common year becomes
    // 1 March as the converter counts it.
    CalendarTime normalised = CalendarFromSeconds(seconds);
    normalised.milliseconds = utc.milliseconds;
    const SYSTEMTIME in = ToSystemTime(normalised);
    SYSTEMTIME out{};
    if (!SystemTimeToTzSpecificLocalTime(nullptr, &in, &out)) {
        return false;
    }
    local = FromSystemTime(out);
    return true;
}

bool LocalToUtc(const CalendarTime& local, CalendarTime& utc) {
    if (local.month < 1 || local.month > 12) {
        return false;
    }
    // Out-of-range days run on into the next month (31 April is 1 May).
    CalendarTime normalised = CalendarFromSeconds(SecondsOf(local));
    normalised.milliseconds = local.milliseconds;
    const SYSTEMTIME in = ToSystemTime(normalised);
    SYSTEMTIME out{};
    if (!TzSpecificLocalTimeToSystemTime(nullptr, &in, &out)) {
        return false;
    }
    utc = FromSystemTime(out);
    return true;
}

CalendarTime CurrentUtcTime() {
    SYSTEMTIME now{};
    GetSystemTime(&now);
    return FromSystemTime(now);
}

CalendarTime CurrentLocalTime() {
    SYSTEMTIME now{};
    GetLocalTime(&now);
    return FromSystemTime(now);
}

}  // namespace kx305mon
