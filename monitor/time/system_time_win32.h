// Windows only: CalendarTime to and from the SYSTEMTIME the platform's time
// and formatting functions take.
#pragma once

#include <windows.h>

#include "time/calendar.h"

namespace kx305mon {

SYSTEMTIME ToSystemTime(const CalendarTime& time);
CalendarTime FromSystemTime(const SYSTEMTIME& time);

}  // namespace kx305mon
