// The calendar every part of the program counts in: the proleptic Gregorian
// calendar in UTC without leap seconds, on 64-bit counts of days and seconds
// since 1970-01-01, so that no year the converter can stamp overflows.
#pragma once

#include <cstdint>

namespace kx305mon {

// A calendar date-time as the platform's formatting functions take it
// (the field layout of SYSTEMTIME).
struct CalendarTime {
    uint16_t year = 0;
    uint16_t month = 0;
    uint16_t dayOfWeek = 0;
    uint16_t day = 0;
    uint16_t hour = 0;
    uint16_t minute = 0;
    uint16_t second = 0;
    uint16_t milliseconds = 0;
};

// The years whose time stamps convert: from the start of the count to the
// last year a four-digit stamp holds.
constexpr int kFirstConvertibleYear = 1970;
constexpr int kLastConvertibleYear = 9999;

constexpr int64_t kSecondsPerDay = 86400;

// a / b rounded toward minus infinity: instants before a day's or a
// period's start fall into the one before.
int64_t FloorDiv(int64_t a, int64_t b);

bool IsLeapYear(int64_t year);

// Days of `month` (1..12) in `year`; 0 for a month outside 1..12.
int DaysInMonth(int64_t year, int month);

// Days since 1970-01-01 for any year, month 1..12 and any day (days past the
// month's end run on into the next months).
int64_t DaysFromCivil(int64_t year, int month, int64_t day);

// Seconds since 1970-01-01 00:00:00 of the fields, with the same running on
// of days, hours, minutes and seconds past their ends.
int64_t SecondsFromCivil(int64_t year, int month, int64_t day, int64_t hour, int64_t minute, int64_t second);
int64_t SecondsOf(const CalendarTime& time);

// Calendar fields of a count of days since 1970-01-01 (midnight), with the
// day of the week (0 = Sunday) and milliseconds 0.
CalendarTime CivilFromDays(int64_t days);

// Calendar fields of a count of seconds since 1970-01-01 00:00:00.
CalendarTime CalendarFromSeconds(int64_t seconds);

// 0 = Sunday ... 6 = Saturday; 0 for a month outside 1 to 12.
int DayOfWeek(int64_t year, int month, int64_t day);

// A date of the calendar (month 1 to 12, day within the month, leap years
// counted) and a time of day (hour 0 to 23, minute and second 0 to 59).
// Time stamps read from a damaged or foreign registration file may be
// neither, although their check bytes are right.
bool IsCalendarDate(const CalendarTime& time);
bool IsTimeOfDay(const CalendarTime& time);

// Seconds since 1970-01-01 00:00:00 UTC for the given UTC fields, accepting
// year kFirstConvertibleYear..kLastConvertibleYear, month 1..12, day 1..the
// month's length (February always allows 29; 29 February of a common year
// counts as 1 March), hour 0..23, minute and second 0..59.  False outside
// those ranges.
bool UtcFieldsToSeconds(int year, int month, int day, int hour, int minute, int second, int64_t& seconds);

}  // namespace kx305mon
