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
std::string RenderNumber(const std::string& plain, int decimals, char separator, bool leadingZero, char minus);

// What the locales show for an impossible date or time: the numbers as
// stored, "YYYY.MM.DD" and "hh:mm:ss", never a made-up or normalised one.
std::string StoredDateText(const CalendarTime& time);
std::string StoredTimeText(const CalendarTime& time);

}  // namespace kx305mon
