// Conversions between the converter's UTC time stamps and the computer's
// local time, through the platform's own time-zone and daylight-saving rules
// (SystemTimeToTzSpecificLocalTime and friends on Windows, localtime_r /
// mktime with the user's TZ natively).
#pragma once

#include <cstdint>

#include "instruments/locale.h"

namespace kx305mon {

// The years whose time stamps convert: from the start of the count to the
// last year a four-digit stamp holds.
constexpr int kFirstConvertibleYear = 1970;
constexpr int kLastConvertibleYear = 9999;

// Seconds since 1970-01-01 00:00:00 UTC for the given UTC fields, accepting
// year kFirstConvertibleYear..kLastConvertibleYear, month 1..12, day 1..the
// month's length (February always allows 29; 29 February of a common year
// counts as 1 March), hour 0..23, minute and second 0..59.  False outside
// those ranges.  The count is 64-bit: 2038 is no limit.
bool UtcFieldsToSeconds(int year, int month, int day, int hour, int minute, int second,
                        int64_t& seconds);

// UTC calendar fields to local calendar fields (ranges as above); false when
// the time cannot be converted.  Works on 64-bit instants on every platform.
bool UtcToLocal(const CalendarTime& utc, CalendarTime& local);

// Local calendar fields to UTC, letting the platform decide summer time and
// normalising out-of-range days (31 April becomes 1 May).
bool LocalToUtc(const CalendarTime& local, CalendarTime& utc);

// The computer's clock now.
CalendarTime CurrentUtcTime();
CalendarTime CurrentLocalTime();

}  // namespace kx305mon
