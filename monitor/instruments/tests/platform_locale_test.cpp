// The platform's own locale backend, as the user's regional settings give
// it.  Runs natively under C.UTF-8 (a dot) and, in the Windows build, under
// Wine with a Polish user locale; KX305_EXPECT_DECIMAL names the separator
// the run was set up for, so a backend that ignores the user's locale fails.
#include <gtest/gtest.h>

#include <cfloat>
#include <cstdlib>
#include <cstring>
#include <string>

#include "instruments/format.h"
#include "instruments/locale.h"

namespace kx305mon {
namespace {

std::string Format(int32_t raw, int divisor, const char* unit) {
    char buffer[200];
    FormatValue("", raw, divisor, unit, buffer, sizeof buffer, false);
    return buffer;
}

double Parse(const char* text) {
    char buffer[64];
    std::strcpy(buffer, text);
    return ParseLocaleNumber(buffer);
}

CalendarTime February19() {
    CalendarTime time;
    time.year = 2007;
    time.month = 2;
    time.dayOfWeek = 1;
    time.day = 19;
    time.hour = 15;
    time.minute = 16;
    time.second = 55;
    return time;
}

class PlatformLocale : public ::testing::Test {
protected:
    void SetUp() override { SetLocaleOverride(nullptr); }
    const NumberLocale& user = CurrentLocale();
    const char decimal = CurrentLocale().DecimalSeparator();
};

TEST_F(PlatformLocale, SeesTheLocaleTheRunWasSetUpFor) {
    const char* expected = std::getenv("KX305_EXPECT_DECIMAL");
    if (expected == nullptr || expected[0] == '\0') GTEST_SKIP() << "no expected decimal separator given";
    EXPECT_EQ(decimal, expected[0]);
}

TEST_F(PlatformLocale, DisplayFormUsesTheUsersSeparatorAndLeadingZero) {
    const std::string zero = user.LeadingZero() ? "0" : "";
    EXPECT_EQ(Format(215, 10,
                     "\xb0"
                     "C"),
              std::string("21") + decimal +
                  "5 \xb0"
                  "C");
    EXPECT_EQ(Format(5, 100, ""), zero + decimal + "05 ");
    EXPECT_EQ(Format(-5, 10, ""), std::string(1, user.NegativeSign()) + zero + decimal + "5 ");
    EXPECT_EQ(Format(1000, 1000, ""), std::string("1") + decimal + "000 ");
    // No grouping, whatever the user's thousands separator.
    EXPECT_EQ(Format(1234567, 1, "Pa"), "1234567 Pa");
    EXPECT_EQ(Format(1234567, 10, ""), std::string("123456") + decimal + "7 ");
}

TEST_F(PlatformLocale, ParsesWithTheUsersSeparator) {
    const std::string typed = std::string("1") + decimal + "5";
    EXPECT_DOUBLE_EQ(Parse(typed.c_str()), 1.5);
    EXPECT_EQ(Parse("1 000"), DBL_MAX);
}

TEST_F(PlatformLocale, FormatsDatesAndTimes) {
    const CalendarTime time = February19();
    const std::string shortDate = user.FormatDate(time, DateStyle::Short);
    const std::string longDate = user.FormatDate(time, DateStyle::Long);
    const std::string clock = user.FormatTime(time);
    EXPECT_NE(shortDate.find("19"), std::string::npos) << shortDate;
    EXPECT_NE(shortDate.find("07"), std::string::npos) << shortDate;
    EXPECT_NE(longDate.find("19"), std::string::npos) << longDate;
    EXPECT_NE(longDate.find("2007"), std::string::npos) << longDate;
    EXPECT_NE(clock.find("16"), std::string::npos) << clock;
    EXPECT_NE(clock.find("55"), std::string::npos) << clock;
}

TEST_F(PlatformLocale, ImpossibleDatesAndTimesAreShownAsStored) {
    struct Case {
        uint16_t year, month, day, hour, minute, second;
        const char* date;
        const char* clock;
    };
    const Case cases[] = {
        {2007, 0, 19, 25, 16, 55, "2007.00.19", "25:16:55"},
        {2007, 13, 1, 23, 60, 0, "2007.13.01", "23:60:00"},
        {2007, 2, 29, 0, 0, 61, "2007.02.29", "00:00:61"},
        {2007, 4, 31, 99, 99, 99, "2007.04.31", "99:99:99"},
    };
    for (const Case& c : cases) {
        CalendarTime time;
        time.year = c.year;
        time.month = c.month;
        time.day = c.day;
        time.hour = c.hour;
        time.minute = c.minute;
        time.second = c.second;
        EXPECT_EQ(user.FormatDate(time, DateStyle::Short), c.date);
        EXPECT_EQ(user.FormatDate(time, DateStyle::Long), c.date);
        EXPECT_EQ(user.FormatTime(time), c.clock);
    }
}

TEST_F(PlatformLocale, PolishUserLocaleGivesPolishResults) {
    if (decimal != ',') GTEST_SKIP() << "the user's locale is not Polish";
    EXPECT_EQ(user.ListSeparator(), ';');
    EXPECT_EQ(Format(215, 10,
                     "\xb0"
                     "C"),
              "21,5 \xb0"
              "C");
    EXPECT_EQ(Format(452, 10, " %"), "45,2  %");
    EXPECT_EQ(Format(100, 10, "hPa"), "10,0 hPa");
    EXPECT_EQ(Format(1000, 1000, ""), "1,000 ");
    EXPECT_EQ(Format(-5, 10,
                     "\xb0"
                     "C"),
              "-0,5 \xb0"
              "C");
    EXPECT_DOUBLE_EQ(Parse("-0,2"), -0.2);
    EXPECT_EQ(Parse("1.5"), DBL_MAX);
    // February in a Polish long date: "luty" or "lutego".
    EXPECT_NE(user.FormatDate(February19(), DateStyle::Long).find("lut"), std::string::npos)
        << user.FormatDate(February19(), DateStyle::Long);
}

TEST_F(PlatformLocale, DotLocaleGivesDotResults) {
    if (decimal != '.') GTEST_SKIP() << "the user's decimal separator is not a dot";
    EXPECT_EQ(user.ListSeparator(), ',');
    EXPECT_EQ(Format(215, 10,
                     "\xb0"
                     "C"),
              "21.5 \xb0"
              "C");
    EXPECT_DOUBLE_EQ(Parse("1.5"), 1.5);
    EXPECT_EQ(Parse("1,5"), DBL_MAX);
}

}  // namespace
}  // namespace kx305mon
