// Conversions between the converter's UTC time stamps and the computer's
// local time, through the platform's own time-zone and daylight-saving rules
// (SystemTimeToTzSpecificLocalTime and friends on Windows, localtime_r /
// mktime with the user's TZ natively).
#pragma once

#include <cstdint>

#include "instruments/locale.h"

namespace kx305mon {

// Seconds since 1970-01-01 00:00:00 UTC for the given UTC fields, accepting
// year 1970..2038, month 1..12, day 1..the month's length (February always
// allows 29; 29 February of a year not divisible by 4 counts as 1 March),
// hour 0..23, minute and second 0..59.  False outside those ranges or past
// the last second a signed 32-bit count can hold.
bool UtcFieldsToSeconds(int year, int month, int day, int hour, int minute, int second,
                        int64_t& seconds);

// UTC calendar fields to local calendar fields (ranges as above); false when
// the time cannot be converted.
bool UtcToLocal(const CalendarTime& utc, CalendarTime& local);

// Local calendar fields to UTC, letting the platform decide summer time and
// normalising out-of-range days (31 April becomes 1 May).
bool LocalToUtc(const CalendarTime& local, CalendarTime& utc);

// The computer's clock now.
CalendarTime CurrentUtcTime();
CalendarTime CurrentLocalTime();

}  // namespace kx305mon
