#include "time/system_time_win32.h"

#include <bit>
#include <cstddef>

namespace kx305mon {

// CalendarTime is laid out as SYSTEMTIME so that it crosses as one block;
// the checks keep the two from drifting apart.
static_assert(sizeof(CalendarTime) == sizeof(SYSTEMTIME));
static_assert(offsetof(CalendarTime, year) == offsetof(SYSTEMTIME, wYear));
static_assert(offsetof(CalendarTime, month) == offsetof(SYSTEMTIME, wMonth));
static_assert(offsetof(CalendarTime, dayOfWeek) == offsetof(SYSTEMTIME, wDayOfWeek));
static_assert(offsetof(CalendarTime, day) == offsetof(SYSTEMTIME, wDay));
static_assert(offsetof(CalendarTime, hour) == offsetof(SYSTEMTIME, wHour));
static_assert(offsetof(CalendarTime, minute) == offsetof(SYSTEMTIME, wMinute));
static_assert(offsetof(CalendarTime, second) == offsetof(SYSTEMTIME, wSecond));
static_assert(offsetof(CalendarTime, milliseconds) == offsetof(SYSTEMTIME, wMilliseconds));

SYSTEMTIME ToSystemTime(const CalendarTime& time) { return std::bit_cast<SYSTEMTIME>(time); }

CalendarTime FromSystemTime(const SYSTEMTIME& time) { return std::bit_cast<CalendarTime>(time); }

}  // namespace kx305mon
