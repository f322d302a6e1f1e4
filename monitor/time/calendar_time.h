// Conversions between the time records of the driver (LogRecord: UTC with a
// year, ClockRecord: UTC without one), the calendar time the formatting and
// time-zone functions take, and the C library's struct tm and time_t.  No
// range checks here: the callers that convert between instants check the
// fields (UtcFieldsToSeconds).
#pragma once

#include <ctime>

#include "kx305.h"
#include "time/calendar.h"

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
    return MakeCalendarTime(record.year, record.month, record.day, record.hour, record.minute, record.second);
}

// The converter's clock keeps no year: the caller supplies it.
inline CalendarTime CalendarFromClock(const ClockRecord& clock, int year) {
    return MakeCalendarTime(year, clock.month, clock.day, clock.hour, clock.minute, clock.second);
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

// The year of a converter clock reading, taken from the computer's UTC
// clock: a January reading in the computer's December is of the next year,
// a December reading in its January of the last one.
inline int ClockYear(const ClockRecord& clock, const CalendarTime& utcNow) {
    const int year = utcNow.year;
    if (clock.month == 12 && utcNow.month == 1) return year - 1;
    if (clock.month == 1 && utcNow.month == 12) return year + 1;
    return year;
}

// The converter clock reading as a full UTC time (year from ClockYear).
inline CalendarTime ClockUtc(const ClockRecord& clock, const CalendarTime& utcNow) {
    return CalendarFromClock(clock, ClockYear(clock, utcNow));
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
    CalendarTime time = MakeCalendarTime(fields.tm_year + 1900, fields.tm_mon + 1, fields.tm_mday, fields.tm_hour,
                                         fields.tm_min, fields.tm_sec);
    time.dayOfWeek = static_cast<uint16_t>(fields.tm_wday);
    time.milliseconds = milliseconds;
    return time;
}

// A 64-bit count of seconds as the C library's time_t; false where time_t
// is 32 bits and the instant lies past 2038, so that such a platform
// refuses rather than stamping a record decades off.
inline bool ToTimeT(int64_t seconds, time_t& instant) {
    instant = static_cast<time_t>(seconds);
    return static_cast<int64_t>(instant) == seconds;
}

}  // namespace kx305mon
