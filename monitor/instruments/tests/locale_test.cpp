#include <cstdio>

#include "../locale_backend.h"
#include "test_support.h"
#include "time/calendar_time.h"

namespace kx305mon::test {
namespace {

CalendarTime At(int year, int month, int day, int hour = 0, int minute = 0, int second = 0) {
    return MakeCalendarTime(year, month, day, hour, minute, second);
}

TEST(FixedLocales, PolishSeparatorsAndDates) {
    const auto polish = MakePolishLocale();
    EXPECT_EQ(polish->DecimalSeparator(), ',');
    EXPECT_EQ(polish->ListSeparator(), ';');
    EXPECT_EQ(polish->NegativeSign(), '-');
    EXPECT_TRUE(polish->LeadingZero());
    const CalendarTime t = At(2007, 2, 19, 15, 16, 55);
    EXPECT_EQ(polish->FormatDate(t, DateStyle::Short), "19.02.2007");
    EXPECT_EQ(polish->FormatDate(t, DateStyle::Long), "19 lutego 2007");
    EXPECT_EQ(polish->FormatTime(t), "15:16:55");
    EXPECT_EQ(polish->FormatTime(At(2007, 2, 19, 7, 5, 3)), "07:05:03");
    EXPECT_EQ(polish->FormatDate(At(2007, 9, 5), DateStyle::Long), "5 wrze\x9cnia 2007");
}

TEST(FixedLocales, EnglishSeparatorsAndDates) {
    const auto english = MakeEnglishLocale();
    EXPECT_EQ(english->DecimalSeparator(), '.');
    EXPECT_EQ(english->ListSeparator(), ',');
    const CalendarTime t = At(2007, 2, 19, 15, 16, 55);
    EXPECT_EQ(english->FormatDate(t, DateStyle::Short), "2/19/2007");
    EXPECT_EQ(english->FormatDate(t, DateStyle::Long), "Monday, February 19, 2007");
    EXPECT_EQ(english->FormatDate(At(2000, 1, 1), DateStyle::Long), "Saturday, January 1, 2000");
    EXPECT_EQ(english->FormatDate(At(2024, 12, 31), DateStyle::Long), "Tuesday, December 31, 2024");
    EXPECT_EQ(english->FormatTime(t), "3:16:55 PM");
    EXPECT_EQ(english->FormatTime(At(2007, 2, 19, 0, 0, 0)), "12:00:00 AM");
    EXPECT_EQ(english->FormatTime(At(2007, 2, 19, 12, 30, 0)), "12:30:00 PM");
}

// Time stamps of a damaged registration file whose check bytes are right
// anyway: shown with their numbers as stored, never normalised or dropped.
TEST(FixedLocales, ImpossibleDatesAndTimesAreShownAsStored) {
    struct Case {
        CalendarTime time;
        const char* date;   // "" = a real date, formatted by the locale
        const char* clock;  // "" = a real time of day
    };
    const Case cases[] = {
        {At(2007, 0, 19, 15, 16, 55), "2007.00.19", ""},
        {At(2007, 13, 1, 0, 0, 0), "2007.13.01", ""},
        {At(2007, 2, 29, 12, 0, 0), "2007.02.29", ""},
        {At(2007, 4, 31, 12, 0, 0), "2007.04.31", ""},
        {At(2007, 2, 0, 25, 61, 99), "2007.02.00", "25:61:99"},
        {At(9999, 99, 99, 99, 99, 99), "9999.99.99", "99:99:99"},
        {At(2008, 2, 29, 24, 0, 0), "", "24:00:00"},
    };
    const auto polish = MakePolishLocale();
    const auto english = MakeEnglishLocale();
    const auto overridden = MakeOverrideLocale(*polish, '.', '\t');
    for (const NumberLocale* locale : {polish.get(), english.get(), overridden.get()}) {
        for (const Case& c : cases) {
            for (DateStyle style : {DateStyle::Short, DateStyle::Long}) {
                const std::string date = locale->FormatDate(c.time, style);
                if (c.date[0] != '\0') {
                    EXPECT_EQ(date, c.date);
                } else {
                    EXPECT_NE(date.find("2008"), std::string::npos) << date;
                    EXPECT_NE(date.find("29"), std::string::npos) << date;
                }
            }
            const std::string clock = locale->FormatTime(c.time);
            if (c.clock[0] != '\0') {
                EXPECT_EQ(clock, c.clock);
            } else {
                char minutes[16];
                std::snprintf(minutes, sizeof minutes, ":%02u:%02u", unsigned{c.time.minute}, unsigned{c.time.second});
                EXPECT_NE(clock.find(minutes), std::string::npos) << clock;
            }
        }
    }
}

TEST(FixedLocales, OverrideReplacesOnlyTheChosenSeparators) {
    const auto polish = MakePolishLocale();
    const auto dotted = MakeOverrideLocale(*polish, '.', 0);
    EXPECT_EQ(dotted->DecimalSeparator(), '.');
    EXPECT_EQ(dotted->ListSeparator(), ';');
    EXPECT_EQ(dotted->FormatNumber("21.5", 2), "21.50");
    EXPECT_EQ(dotted->FormatDate(At(2007, 2, 19), DateStyle::Short), "19.02.2007");
    const auto tabbed = MakeOverrideLocale(*polish, 0, '\t');
    EXPECT_EQ(tabbed->DecimalSeparator(), ',');
    EXPECT_EQ(tabbed->ListSeparator(), '\t');
    EXPECT_EQ(tabbed->FormatNumber("-0.5", 1), "-0,5");

    SetLocaleOverride(dotted.get());
    EXPECT_EQ(Format(215, 10,
                     "\xb0"
                     "C"),
              "21.5 \xb0"
              "C");
    SetLocaleOverride(nullptr);
}

TEST(NumberRendering, PadsToTheRequestedDecimals) {
    EXPECT_EQ(RenderNumber("21.5", 2, ',', true, '-'), "21,50");
    EXPECT_EQ(RenderNumber("22", 2, ',', true, '-'), "22,00");
    EXPECT_EQ(RenderNumber("100", 0, ',', true, '-'), "100");
    EXPECT_EQ(RenderNumber("007.5", 1, ',', true, '-'), "7,5");
    EXPECT_EQ(RenderNumber(".5", 1, ',', true, '-'), "0,5");
}

TEST(NumberRendering, LeadingZeroOffDropsOnlyALoneZero) {
    EXPECT_EQ(RenderNumber("0.05", 2, ',', false, '-'), ",05");
    EXPECT_EQ(RenderNumber("-0.5", 1, ',', false, '-'), "-,5");
    EXPECT_EQ(RenderNumber("10.5", 1, ',', false, '-'), "10,5");
    EXPECT_EQ(RenderNumber("0", 0, ',', false, '-'), "0");
}

TEST(NumberRendering, RoundsHalfAwayFromZero) {
    EXPECT_EQ(RenderNumber("0.995", 2, '.', true, '-'), "1.00");
    EXPECT_EQ(RenderNumber("9.96", 1, '.', true, '-'), "10.0");
    EXPECT_EQ(RenderNumber("-2.45", 1, '.', true, '-'), "-2.5");
    EXPECT_EQ(RenderNumber("2.44", 1, '.', true, '-'), "2.4");
    EXPECT_EQ(RenderNumber("-0.004", 2, '.', true, '-'), "0.00");
}

TEST(NumberRendering, RejectsTextsThatAreNotNumbers) {
    EXPECT_EQ(RenderNumber("", 1, ',', true, '-'), "");
    EXPECT_EQ(RenderNumber("-", 1, ',', true, '-'), "");
    EXPECT_EQ(RenderNumber("1.2.3", 1, ',', true, '-'), "");
    EXPECT_EQ(RenderNumber("1,5", 1, ',', true, '-'), "");
    EXPECT_EQ(RenderNumber("12a", 1, ',', true, '-'), "");
}

}  // namespace
}  // namespace kx305mon::test
