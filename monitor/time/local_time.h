// Conversions between the converter's UTC time stamps and the computer's
// local time, through the platform's own time-zone and daylight-saving rules
// (SystemTimeToTzSpecificLocalTime and friends on Windows, localtime_r /
// mktime with the user's TZ natively).  One backend per platform.
#pragma once

#include "time/calendar.h"

namespace kx305mon {

// UTC calendar fields to local calendar fields (ranges as UtcFieldsToSeconds
// accepts them); false when the time cannot be converted.  Works on 64-bit
// instants on every platform.
bool UtcToLocal(const CalendarTime& utc, CalendarTime& local);

// Local calendar fields to UTC, letting the platform decide summer time and
// normalising out-of-range days (31 April becomes 1 May).
bool LocalToUtc(const CalendarTime& local, CalendarTime& utc);

// The computer's clock now.
CalendarTime CurrentUtcTime();
CalendarTime CurrentLocalTime();

}  // namespace kx305mon
