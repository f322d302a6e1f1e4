// The calendar arithmetic against a plain day-by-day count, the converter's
// clock readings placed in a year, and the copy to and from struct tm.
#include "time/calendar.h"

#include <gtest/gtest.h>

#include <vector>

#include "time/calendar_time.h"
#include "time_builders.h"

namespace kx305mon {
namespace {

// Walks the calendar one day at a time from 1970-01-01, the way a wall
// calendar is torn off, and checks every day the arithmetic is asked about.
TEST(Calendar, AgreesWithADayByDayCountFrom1970To9999) {
    static const int kCommonYear[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    int64_t days = 0;
    int weekday = 4;  // 1970-01-01 was a Thursday
    for (int year = 1970; year <= 9999; ++year) {
        const bool leap = year % 400 == 0 || (year % 4 == 0 && year % 100 != 0);
        ASSERT_EQ(IsLeapYear(year), leap) << year;
        for (int month = 1; month <= 12; ++month) {
            const int length = kCommonYear[month - 1] + (month == 2 && leap ? 1 : 0);
            ASSERT_EQ(DaysInMonth(year, month), length) << year << "-" << month;
            for (int day = 1; day <= length; ++day, ++days, weekday = (weekday + 1) % 7) {
                ASSERT_EQ(DaysFromCivil(year, month, day), days) << year << "-" << month << "-" << day;
                const CalendarTime civil = CivilFromDays(days);
                ASSERT_EQ(civil.year, year) << year << "-" << month << "-" << day;
                ASSERT_EQ(civil.month, month) << year << "-" << month << "-" << day;
                ASSERT_EQ(civil.day, day) << year << "-" << month << "-" << day;
                ASSERT_EQ(civil.dayOfWeek, weekday) << year << "-" << month << "-" << day;
                ASSERT_EQ(DayOfWeek(year, month, day), weekday) << year << "-" << month << "-" << day;
                ASSERT_TRUE(IsCalendarDate(MakeCalendarTime(year, month, day))) << year << "-" << month << "-" << day;
            }
            ASSERT_FALSE(IsCalendarDate(MakeCalendarTime(year, month, length + 1))) << year << "-" << month;
        }
    }
}

TEST(Calendar, SecondsRunOnAcrossDaysMonthsAndYearsOnA64BitCount) {
    struct Case {
        CalendarTime time;
        int64_t seconds;
    };
    const std::vector<Case> cases = {
        {MakeCalendarTime(1970, 1, 1), 0},
        {MakeCalendarTime(1969, 12, 31, 23, 59, 59), -1},
        {MakeCalendarTime(2038, 1, 19, 3, 14, 7), 2147483647},
        {MakeCalendarTime(2038, 1, 19, 3, 14, 8), 2147483648},
        {MakeCalendarTime(2106, 2, 7, 6, 28, 16), 4294967296},
        {MakeCalendarTime(9999, 12, 31, 23, 59, 59), 253402300799},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(SecondsOf(c.time), c.seconds) << c.seconds;
        const CalendarTime back = CalendarFromSeconds(c.seconds);
        EXPECT_EQ(SecondsOf(back), c.seconds);
        EXPECT_EQ(back.hour, c.time.hour);
        EXPECT_EQ(back.second, c.time.second);
    }
    // Days past a month's end run on: 31 April is 1 May, 29 February 2007
    // is 1 March.
    EXPECT_EQ(SecondsOf(MakeCalendarTime(2007, 4, 31)), SecondsOf(MakeCalendarTime(2007, 5, 1)));
    EXPECT_EQ(SecondsOf(MakeCalendarTime(2007, 2, 29)), SecondsOf(MakeCalendarTime(2007, 3, 1)));
    EXPECT_EQ(DaysInMonth(2024, 0), 0);
    EXPECT_EQ(DaysInMonth(2024, 13), 0);
    EXPECT_FALSE(IsTimeOfDay(MakeCalendarTime(2024, 1, 1, 24, 0, 0)));
    EXPECT_TRUE(IsTimeOfDay(MakeCalendarTime(2024, 1, 1, 23, 59, 59)));
}

TEST(ClockYear, DecemberClockReadInJanuaryBelongsToThePreviousYear) {
    using testing::ClockAt;
    EXPECT_EQ(ClockYear(ClockAt(12, 31, 23, 30, 0), MakeCalendarTime(2025, 1, 1, 0, 10)), 2024);
    EXPECT_EQ(ClockYear(ClockAt(1, 1, 0, 5, 0), MakeCalendarTime(2024, 12, 31, 23, 59)), 2025);
    EXPECT_EQ(ClockYear(ClockAt(12, 1, 0, 0, 0), MakeCalendarTime(2024, 12, 31, 12)), 2024);
    EXPECT_EQ(ClockYear(ClockAt(1, 31, 0, 0, 0), MakeCalendarTime(2025, 1, 1, 12)), 2025);
    EXPECT_EQ(ClockYear(ClockAt(6, 30, 0, 0, 0), MakeCalendarTime(2025, 1, 1, 12)), 2025);
}

TEST(CalendarTime, CrossesStructTmAndTimeTUnchanged) {
    CalendarTime time = MakeCalendarTime(2041, 3, 5, 6, 7, 8);
    time.dayOfWeek = 2;
    const CalendarTime back = CalendarFromTm(TmFromCalendar(time), 250);
    EXPECT_EQ(SecondsOf(back), SecondsOf(time));
    EXPECT_EQ(back.dayOfWeek, 2);
    EXPECT_EQ(back.milliseconds, 250);
    time_t instant = 0;
    ASSERT_TRUE(ToTimeT(0, instant));
    EXPECT_EQ(instant, 0);
    EXPECT_EQ(ToTimeT(SecondsOf(time), instant), sizeof(time_t) == 8);
}

}  // namespace
}  // namespace kx305mon
