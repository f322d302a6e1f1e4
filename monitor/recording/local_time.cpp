// Platform-independent part of the time conversions: the accepted ranges of
// the converter's time stamps and plain calendar arithmetic.
#include "recording/local_time.h"

#include "recording/local_time_detail.h"

namespace kx305mon {

namespace detail {

int64_t DaysFromCivil(int64_t year, int month, int64_t day) {
    // Counts from 1 March so that the leap day ends the year.
    year -= month <= 2;
    const int64_t era = (year >= 0 ? year : year - 399) / 400;
    const int64_t yearOfEra = year - era * 400;
    const int64_t dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + dayOfEra - 719468;
}

CalendarTime CalendarFromSeconds(int64_t seconds) {
    int64_t days = seconds / 86400;
    int64_t rest = seconds % 86400;
    if (rest < 0) {
        rest += 86400;
        --days;
    }
    CalendarTime time;
    time.dayOfWeek = static_cast<uint16_t>(((days % 7) + 11) % 7);  // 1970-01-01 was a Thursday
    const int64_t shifted = days + 719468;
    const int64_t era = (shifted >= 0 ? shifted : shifted - 146096) / 146097;
    const int64_t dayOfEra = shifted - era * 146097;
    const int64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const int64_t monthIndex = (5 * dayOfYear + 2) / 153;
    const int month = static_cast<int>(monthIndex < 10 ? monthIndex + 3 : monthIndex - 9);
    time.year = static_cast<uint16_t>(yearOfEra + era * 400 + (month <= 2));
    time.month = static_cast<uint16_t>(month);
    time.day = static_cast<uint16_t>(dayOfYear - (153 * monthIndex + 2) / 5 + 1);
    time.hour = static_cast<uint16_t>(rest / 3600);
    time.minute = static_cast<uint16_t>(rest / 60 % 60);
    time.second = static_cast<uint16_t>(rest % 60);
    return time;
}

}  // namespace detail

bool UtcFieldsToSeconds(int year, int month, int day, int hour, int minute, int second,
                        int64_t& seconds) {
    // The converter's own idea of the calendar: February always admits day
    // 29, which in a common year lands on 1 March.  The count is 64-bit, so
    // the range ends where a time stamp runs out of digits, not in 2038.
    static constexpr int kMonthLength[12] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (year < kFirstConvertibleYear || year > kLastConvertibleYear || month < 1 || month > 12 || day < 1 ||
        day > kMonthLength[month - 1] || hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 ||
        second > 59) {
        return false;
    }
    // Days past a month's end run on into the next month.
    const int64_t days = detail::DaysFromCivil(year, month, day);
    seconds = days * 86400 + hour * 3600 + minute * 60 + second;
    return true;
}

}  // namespace kx305mon
