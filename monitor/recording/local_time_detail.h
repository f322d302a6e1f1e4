// Calendar arithmetic shared by the local-time backends (proleptic Gregorian
// calendar, UTC, no leap seconds).
#pragma once

#include <cstdint>

#include "instruments/locale.h"

namespace kx305mon::detail {

// Days since 1970-01-01 for any year, month 1..12 and any day (days past the
// month's end run on into the next months).
int64_t DaysFromCivil(int64_t year, int month, int64_t day);

// Calendar fields of a count of seconds since 1970-01-01 00:00:00, with the
// day of the week (0 = Sunday) and milliseconds 0.
CalendarTime CalendarFromSeconds(int64_t seconds);

}  // namespace kx305mon::detail
