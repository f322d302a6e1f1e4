// Field-by-field conversions between the time records of the driver
// (LogRecord: UTC with a year, ClockRecord: UTC without one), the calendar
// time the formatting and time-zone functions take, and the C library's
// struct tm.  No range checks here: the callers that convert between
// instants check the fields (UtcFieldsToSeconds).
#pragma once

#include <ctime>

#include "instruments/locale.h"
#include "kx305.h"

namespace kx305mon {

inline CalendarTime MakeCalendarTime(int year, int month, int day, int hour = 0, int minute = 0, int second = 0) {
    CalendarTime time;
    time.year = static_cast<uint16_t>(year);
    time.month = static_cast<uint16_t>(month);
    time.day = static_cast<uint16_t>(day);
    time.hour = static_cast<uint16_t>(hour);
    time.minute = static_cast<uint16_t>(minute);
    time.second = static_cast<uint16_t>(second);
    return time;
}

inline CalendarTime CalendarFromLogRecord(const LogRecord& record) {
    CalendarTime time;
    time.year = record.year;
    time.month = record.month;
    time.day = record.day;
    time.hour = record.hour;
    time.minute = record.minute;
    time.second = record.second;
    return time;
}

// The converter's clock keeps no year: the caller supplies it.
inline CalendarTime CalendarFromClock(const ClockRecord& clock, uint16_t year) {
    CalendarTime time;
    time.year = year;
    time.month = clock.month;
    time.day = clock.day;
    time.hour = clock.hour;
    time.minute = clock.minute;
    time.second = clock.second;
    return time;
}

// The year is dropped: the converter's clock has none.
inline ClockRecord ClockFromCalendar(const CalendarTime& time) {
    ClockRecord clock;
    clock.month = static_cast<uint8_t>(time.month);
    clock.day = static_cast<uint8_t>(time.day);
    clock.hour = static_cast<uint8_t>(time.hour);
    clock.minute = static_cast<uint8_t>(time.minute);
    clock.second = static_cast<uint8_t>(time.second);
    return clock;
}

// tm_wday from dayOfWeek; tm_isdst -1 lets mktime decide summer time.
inline struct tm TmFromCalendar(const CalendarTime& time) {
    struct tm fields {};
    fields.tm_year = time.year - 1900;
    fields.tm_mon = time.month - 1;
    fields.tm_mday = time.day;
    fields.tm_hour = time.hour;
    fields.tm_min = time.minute;
    fields.tm_sec = time.second;
    fields.tm_wday = time.dayOfWeek;
    fields.tm_isdst = -1;
    return fields;
}

inline CalendarTime CalendarFromTm(const struct tm& fields, uint16_t milliseconds = 0) {
    CalendarTime time;
    time.year = static_cast<uint16_t>(fields.tm_year + 1900);
    time.month = static_cast<uint16_t>(fields.tm_mon + 1);
    time.dayOfWeek = static_cast<uint16_t>(fields.tm_wday);
    time.day = static_cast<uint16_t>(fields.tm_mday);
    time.hour = static_cast<uint16_t>(fields.tm_hour);
    time.minute = static_cast<uint16_t>(fields.tm_min);
    time.second = static_cast<uint16_t>(fields.tm_sec);
    time.milliseconds = milliseconds;
    return time;
}

}  // namespace kx305mon
