#include "time/local_time.h"

#include <gtest/gtest.h>

#include "time/calendar_time.h"
#include "time_zone.h"

namespace kx305mon {
namespace {

TEST(UtcFieldsToSeconds, AcceptsTheConvertersRangeOnly) {
    int64_t seconds = -1;
    ASSERT_TRUE(UtcFieldsToSeconds(1970, 1, 1, 0, 0, 0, seconds));
    EXPECT_EQ(seconds, 0);
    ASSERT_TRUE(UtcFieldsToSeconds(2007, 2, 19, 14, 16, 55, seconds));
    EXPECT_EQ(seconds, 1171894615);
    ASSERT_TRUE(UtcFieldsToSeconds(2038, 1, 19, 3, 14, 7, seconds));
    EXPECT_EQ(seconds, INT32_MAX);
    ASSERT_TRUE(UtcFieldsToSeconds(2038, 1, 19, 3, 14, 8, seconds));
    EXPECT_EQ(seconds, int64_t{INT32_MAX} + 1);
    ASSERT_TRUE(UtcFieldsToSeconds(9999, 12, 31, 23, 59, 59, seconds));
    EXPECT_EQ(seconds, 253402300799);
    EXPECT_FALSE(UtcFieldsToSeconds(10000, 1, 1, 0, 0, 0, seconds));
    EXPECT_FALSE(UtcFieldsToSeconds(1969, 12, 31, 23, 59, 59, seconds));
    EXPECT_FALSE(UtcFieldsToSeconds(2007, 4, 31, 0, 0, 0, seconds));
    EXPECT_FALSE(UtcFieldsToSeconds(2007, 2, 30, 0, 0, 0, seconds));
    EXPECT_FALSE(UtcFieldsToSeconds(2007, 1, 1, 0, 60, 0, seconds));
    EXPECT_FALSE(UtcFieldsToSeconds(2007, 1, 1, 0, 0, 60, seconds));
}

TEST(UtcFieldsToSeconds, LeapDaysFollowTheCalendar) {
    int64_t leapDay = 0;
    int64_t firstMarch = 0;
    ASSERT_TRUE(UtcFieldsToSeconds(2008, 2, 29, 0, 0, 0, leapDay));
    ASSERT_TRUE(UtcFieldsToSeconds(2008, 3, 1, 0, 0, 0, firstMarch));
    EXPECT_EQ(firstMarch - leapDay, 86400);
    ASSERT_TRUE(UtcFieldsToSeconds(2007, 2, 29, 0, 0, 0, leapDay));
    ASSERT_TRUE(UtcFieldsToSeconds(2007, 3, 1, 0, 0, 0, firstMarch));
    EXPECT_EQ(firstMarch, leapDay);
    ASSERT_TRUE(UtcFieldsToSeconds(2000, 12, 31, 0, 0, 0, leapDay));
    ASSERT_TRUE(UtcFieldsToSeconds(2001, 1, 1, 0, 0, 0, firstMarch));
    EXPECT_EQ(firstMarch - leapDay, 86400);
    EXPECT_EQ(firstMarch, 978307200);
    ASSERT_TRUE(UtcFieldsToSeconds(2100, 2, 29, 0, 0, 0, leapDay));
    ASSERT_TRUE(UtcFieldsToSeconds(2100, 3, 1, 0, 0, 0, firstMarch));
    EXPECT_EQ(firstMarch, leapDay);
}

CalendarTime Time(int year, int month, int day, int hour, int minute, int second) {
    return MakeCalendarTime(year, month, day, hour, minute, second);
}

void ExpectFields(const CalendarTime& t, int year, int month, int day, int hour, int minute) {
    EXPECT_EQ(t.year, year);
    EXPECT_EQ(t.month, month);
    EXPECT_EQ(t.day, day);
    EXPECT_EQ(t.hour, hour);
    EXPECT_EQ(t.minute, minute);
}

TEST(LocalTime, ConversionsFollowTheZoneAndItsSummerTime) {
    if (!testing::UseTimeZone("CET-1CEST,M3.5.0,M10.5.0/3")) {
        GTEST_SKIP() << "the time zone of this platform cannot be set by the test";
    }
    CalendarTime out;
    ASSERT_TRUE(UtcToLocal(Time(2007, 7, 10, 12, 0, 0), out));
    ExpectFields(out, 2007, 7, 10, 14, 0);
    EXPECT_EQ(out.dayOfWeek, 2);  // a Tuesday
    ASSERT_TRUE(UtcToLocal(Time(2007, 2, 29, 23, 30, 0), out));
    ExpectFields(out, 2007, 3, 2, 0, 30);
    EXPECT_FALSE(UtcToLocal(Time(2007, 2, 30, 0, 0, 0), out));

    ASSERT_TRUE(LocalToUtc(Time(2007, 7, 10, 14, 0, 0), out));
    ExpectFields(out, 2007, 7, 10, 12, 0);
    ASSERT_TRUE(LocalToUtc(Time(2007, 1, 10, 14, 0, 0), out));
    ExpectFields(out, 2007, 1, 10, 13, 0);
    // 31 April is 1 May, in summer time.
    ASSERT_TRUE(LocalToUtc(Time(2007, 4, 31, 0, 30, 0), out));
    ExpectFields(out, 2007, 4, 30, 22, 30);
}

TEST(LocalTime, ClockReadingsDifferByTheZoneOffset) {
    if (!testing::UseTimeZone("UTC-1")) {
        GTEST_SKIP() << "the time zone of this platform cannot be set by the test";
    }
    const CalendarTime utc = CurrentUtcTime();
    const CalendarTime local = CurrentLocalTime();
    const int utcMinutes = utc.hour * 60 + utc.minute;
    const int localMinutes = local.hour * 60 + local.minute;
    // One hour ahead, give or take a minute turning over between the calls.
    const int difference = ((localMinutes - utcMinutes) % 1440 + 1440) % 1440;
    EXPECT_TRUE(difference == 60 || difference == 61) << difference;
}

}  // namespace
}  // namespace kx305mon
