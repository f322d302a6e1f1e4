// When the converter's memory may be cleared after a download, from the
// clock read before the transfer, the clock read after the write, the log
// period and the newest record.
#include <gtest/gtest.h>

#include "instruments/calendar_time.h"
#include "acquisition/log_schedule.h"

namespace kx305mon {
namespace {

using Clear = DownloadReport::Clear;

ClockRecord At(int month, int day, int hour, int minute, int second) {
    return ClockFromCalendar(MakeCalendarTime(0, month, day, hour, minute, second));
}

LogRecord Newest(int year, const ClockRecord& at) {
    LogRecord record{};
    record.year = static_cast<uint16_t>(year);
    record.month = at.month;
    record.day = at.day;
    record.hour = at.hour;
    record.minute = at.minute;
    record.second = at.second;
    return record;
}

TEST(ClearVerdict, ClearsOnlyWhenNoLogInstantCanHaveFallenMeanwhile) {
    struct Case {
        const char* what;
        ClockRecord start;
        ClockRecord end;
        uint32_t period;
        LogRecord newest;
        Clear expected;
    };
    const ClockRecord noon = At(6, 1, 12, 0, 0);
    const Case cases[] = {
        {"no logging", At(6, 1, 12, 0, 59), At(6, 1, 12, 1, 30), 0, Newest(2026, noon), Clear::Cleared},
        {"between two minutes", At(6, 1, 12, 0, 10), At(6, 1, 12, 0, 21), 60, Newest(2026, noon), Clear::Cleared},
        {"across a minute", At(6, 1, 12, 0, 50), At(6, 1, 12, 0, 59), 60, Newest(2026, noon), Clear::LoggedDuringTransfer},
        {"the margin after the last read", At(6, 1, 12, 0, 40), At(6, 1, 12, 0, 58), 60, Newest(2026, noon),
         Clear::LoggedDuringTransfer},
        {"an instant in the first second", At(6, 1, 12, 1, 0), At(6, 1, 12, 1, 5), 60, Newest(2026, noon),
         Clear::LoggedDuringTransfer},
        {"one second", At(6, 1, 12, 0, 10), At(6, 1, 12, 0, 10), 1, Newest(2026, noon),
         Clear::TransferLongerThanLogPeriod},
        {"eleven seconds of transfer, ten of period", At(6, 1, 12, 0, 1), At(6, 1, 12, 0, 10), 10, Newest(2026, noon),
         Clear::TransferLongerThanLogPeriod},
        // A period that does not divide a day: counted from the newest
        // record (12:00:00, then every 7 s: 12:00:14 falls in).
        {"seven seconds from the newest", At(6, 1, 12, 0, 12), At(6, 1, 12, 0, 12), 7, Newest(2026, noon),
         Clear::LoggedDuringTransfer},
        {"New Year between the reads", At(12, 31, 23, 59, 58), At(1, 1, 0, 0, 1), 3600,
         Newest(2026, At(12, 31, 23, 0, 0)), Clear::LoggedDuringTransfer},
        {"just after New Year", At(1, 1, 0, 0, 5), At(1, 1, 0, 0, 9), 3600, Newest(2027, At(1, 1, 0, 0, 0)),
         Clear::Cleared},
        {"month 0 on the clock", At(0, 1, 12, 0, 10), At(6, 1, 12, 0, 12), 60, Newest(2026, noon), Clear::ClockUnknown},
        {"hour 25 on the clock", At(6, 1, 12, 0, 10), At(6, 1, 25, 0, 12), 60, Newest(2026, noon), Clear::ClockUnknown},
        {"clock set back meanwhile", At(6, 1, 12, 0, 30), At(6, 1, 11, 0, 31), 3600, Newest(2026, noon),
         Clear::ClockUnknown},
    };
    CalendarTime now;
    now.year = 2026;
    now.month = 12;
    now.day = 31;
    for (const Case& c : cases) {
        EXPECT_EQ(ClearVerdict(c.start, c.end, c.period, c.newest, now), c.expected) << c.what;
    }
}

}  // namespace
}  // namespace kx305mon
