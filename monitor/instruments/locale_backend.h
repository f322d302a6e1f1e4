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

// 0 = Sunday ... 6 = Saturday (Gregorian calendar).
int DayOfWeek(int year, int month, int day);

}  // namespace kx305mon
