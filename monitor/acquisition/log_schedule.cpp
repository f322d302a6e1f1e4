#include "acquisition/log_schedule.h"

namespace kx305mon {

namespace {

constexpr int64_t kDaySeconds = 86400;

bool ValidTime(unsigned month, unsigned day, unsigned hour, unsigned minute, unsigned second) {
    return month >= 1 && month <= 12 && day >= 1 && day <= 31 && hour < 24 && minute < 60 && second < 60;
}

// Days since 1970-01-01 of a proleptic Gregorian date.
int64_t DaysFromCivil(int64_t year, unsigned month, unsigned day) {
    year -= month <= 2 ? 1 : 0;
    const int64_t era = (year >= 0 ? year : year - 399) / 400;
    const int64_t yearOfEra = year - era * 400;
    const int64_t dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + dayOfEra - 719468;
}

int64_t Seconds(int64_t year, unsigned month, unsigned day, unsigned hour, unsigned minute, unsigned second) {
    return DaysFromCivil(year, month, day) * kDaySeconds + hour * 3600 + minute * 60 + second;
}

// The converter's clock has no year: the computer's, moved across New Year
// when the two months say so.
int64_t ClockSeconds(const ClockRecord& clock, const CalendarTime& nowUtc) {
    int64_t year = nowUtc.year;
    if (nowUtc.month == 12 && clock.month == 1) ++year;
    if (nowUtc.month == 1 && clock.month == 12) --year;
    return Seconds(year, clock.month, clock.day, clock.hour, clock.minute, clock.second);
}

int64_t FloorDiv(int64_t a, int64_t b) {
    return a / b - ((a % b != 0) && ((a < 0) != (b < 0)) ? 1 : 0);
}

// An instant anchor + k * period lies in [from, to].
bool InstantWithin(int64_t anchor, int64_t period, int64_t from, int64_t to) {
    const int64_t first = anchor - FloorDiv(anchor - from, period) * period;  // first instant >= from
    return first <= to;
}

}  // namespace

DownloadReport::Clear ClearVerdict(const ClockRecord& start, const ClockRecord& end, uint32_t periodSeconds,
                                   const LogRecord& newest, const CalendarTime& nowUtc) {
    using Clear = DownloadReport::Clear;
    if (periodSeconds == 0) return Clear::Cleared;  // nothing is stored meanwhile
    if (!ValidTime(start.month, start.day, start.hour, start.minute, start.second) ||
        !ValidTime(end.month, end.day, end.hour, end.minute, end.second)) {
        return Clear::ClockUnknown;
    }
    const int64_t from = ClockSeconds(start, nowUtc);
    const int64_t to = ClockSeconds(end, nowUtc) + kClearMarginSeconds;
    // A clock that ran backwards or jumped (set by someone else meanwhile)
    // tells nothing about what was stored.
    if (to < from || to - from > kDaySeconds) return Clear::ClockUnknown;
    const int64_t period = periodSeconds;
    if (to - from >= period) return Clear::TransferLongerThanLogPeriod;
    const int64_t dayStart = FloorDiv(from, kDaySeconds) * kDaySeconds;
    if (InstantWithin(0, period, from, to) || InstantWithin(dayStart, period, from, to)) {
        return Clear::LoggedDuringTransfer;
    }
    if (ValidTime(newest.month, newest.day, newest.hour, newest.minute, newest.second) &&
        InstantWithin(Seconds(newest.year, newest.month, newest.day, newest.hour, newest.minute, newest.second),
                      period, from, to)) {
        return Clear::LoggedDuringTransfer;
    }
    return Clear::Cleared;
}

}  // namespace kx305mon
