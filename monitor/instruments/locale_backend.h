// Inside the instruments library: the platform's user locale (one backend
// file per platform) and the number rendering shared by the locales that
// format by hand.
#pragma once

#include <string>

#include "instruments/locale.h"

namespace kx305mon {

// The current user's regional settings as the platform reports them; lives
// for the whole run.
const NumberLocale& UserLocale();

// Renders a plain number text ("-21.5": optional minus, digits, optional dot
// and digits) with exactly `decimals` decimals (rounding half away from
// zero), no grouping, `minus` directly before the digits of a non-zero
// value, and no "0" before the separator when leadingZero is off.  A text
// that is not such a number gives "".
std::string RenderNumber(const std::string& plain, int decimals, char separator, bool leadingZero,
                         char minus);

// 0 = Sunday ... 6 = Saturday (Gregorian calendar); 0 for a month outside
// 1 to 12.
int DayOfWeek(int year, int month, int day);

// A date of the calendar (month 1 to 12, day within the month, leap years
// counted) and a time of day (hour 0 to 23, minute and second 0 to 59).
// Time stamps read from a damaged or foreign registration file may be
// neither, although their check bytes are right.
bool IsCalendarDate(const CalendarTime& time);
bool IsTimeOfDay(const CalendarTime& time);

// What the locales show for an impossible date or time: the numbers as
// stored, "YYYY.MM.DD" and "hh:mm:ss", never a made-up or normalised one.
std::string StoredDateText(const CalendarTime& time);
std::string StoredTimeText(const CalendarTime& time);

}  // namespace kx305mon
