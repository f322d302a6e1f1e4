#include "time/calendar.h"

namespace kx305mon {

int64_t FloorDiv(int64_t a, int64_t b) { return a / b - ((a % b != 0) && ((a < 0) != (b < 0)) ? 1 : 0); }

bool IsLeapYear(int64_t year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int DaysInMonth(int64_t year, int month) {
    static constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (month < 1 || month > 12) return 0;
    return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

int64_t DaysFromCivil(int64_t year, int month, int64_t day) {
    // Counts from 1 March so that the leap day ends the year.
    year -= month <= 2;
    const int64_t era = FloorDiv(year, 400);
    const int64_t yearOfEra = year - era * 400;
    const int64_t dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + dayOfEra - 719468;
}

int64_t SecondsFromCivil(int64_t year, int month, int64_t day, int64_t hour, int64_t minute, int64_t second) {
    return DaysFromCivil(year, month, day) * kSecondsPerDay + hour * 3600 + minute * 60 + second;
}

int64_t SecondsOf(const CalendarTime& t) {
    return SecondsFromCivil(t.year, t.month, t.day, t.hour, t.minute, t.second);
}

CalendarTime CivilFromDays(int64_t days) {
    CalendarTime time;
    const int64_t fromSunday = days + 4;  // 1970-01-01 was a Thursday
    time.dayOfWeek = static_cast<uint16_t>(fromSunday - FloorDiv(fromSunday, 7) * 7);
    const int64_t shifted = days + 719468;
    const int64_t era = FloorDiv(shifted, 146097);
    const int64_t dayOfEra = shifted - era * 146097;
    const int64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const int64_t monthIndex = (5 * dayOfYear + 2) / 153;
    const int month = static_cast<int>(monthIndex < 10 ? monthIndex + 3 : monthIndex - 9);
    time.year = static_cast<uint16_t>(yearOfEra + era * 400 + (month <= 2));
    time.month = static_cast<uint16_t>(month);
    time.day = static_cast<uint16_t>(dayOfYear - (153 * monthIndex + 2) / 5 + 1);
    return time;
}

CalendarTime CalendarFromSeconds(int64_t seconds) {
    const int64_t days = FloorDiv(seconds, kSecondsPerDay);
    const int64_t rest = seconds - days * kSecondsPerDay;
    CalendarTime time = CivilFromDays(days);
    time.hour = static_cast<uint16_t>(rest / 3600);
    time.minute = static_cast<uint16_t>(rest / 60 % 60);
    time.second = static_cast<uint16_t>(rest % 60);
    return time;
}

int DayOfWeek(int64_t year, int month, int64_t day) {
    if (month < 1 || month > 12) return 0;
    return CivilFromDays(DaysFromCivil(year, month, day)).dayOfWeek;
}

bool IsCalendarDate(const CalendarTime& t) { return t.day >= 1 && t.day <= DaysInMonth(t.year, t.month); }

bool IsTimeOfDay(const CalendarTime& t) { return t.hour <= 23 && t.minute <= 59 && t.second <= 59; }

bool UtcFieldsToSeconds(int year, int month, int day, int hour, int minute, int second, int64_t& seconds) {
    // The converter's own idea of the calendar: February always admits day
    // 29, which in a common year lands on 1 March.  The count is 64-bit, so
    // the range ends where a time stamp runs out of digits, not in 2038.
    if (year < kFirstConvertibleYear || year > kLastConvertibleYear || month < 1 || month > 12 || day < 1 ||
        day > DaysInMonth(2000, month) || hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 ||
        second > 59) {
        return false;
    }
    seconds = SecondsFromCivil(year, month, day, hour, minute, second);
    return true;
}

}  // namespace kx305mon
