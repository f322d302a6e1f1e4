// Windows only: CalendarTime to and from the SYSTEMTIME the platform's time
// and formatting functions take (same fields, same order).
#pragma once

#include <windows.h>

#include "instruments/locale.h"

namespace kx305mon {

inline SYSTEMTIME ToSystemTime(const CalendarTime& time) {
    SYSTEMTIME out;
    out.wYear = time.year;
    out.wMonth = time.month;
    out.wDayOfWeek = time.dayOfWeek;
    out.wDay = time.day;
    out.wHour = time.hour;
    out.wMinute = time.minute;
    out.wSecond = time.second;
    out.wMilliseconds = time.milliseconds;
    return out;
}

inline CalendarTime FromSystemTime(const SYSTEMTIME& time) {
    CalendarTime out;
    out.year = time.wYear;
    out.month = time.wMonth;
    out.dayOfWeek = time.wDayOfWeek;
    out.day = time.wDay;
    out.hour = time.wHour;
    out.minute = time.wMinute;
    out.second = time.wSecond;
    out.milliseconds = time.wMilliseconds;
    return out;
}

}  // namespace kx305mon
