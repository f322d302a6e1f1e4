#include "../locale_backend.h"
#include "test_support.h"

namespace kx305mon::test {
namespace {

CalendarTime At(int year, int month, int day, int hour = 0, int minute = 0, int second = 0) {
    CalendarTime time;
    time.year = static_cast<uint16_t>(year);
    time.month = static_cast<uint16_t>(month);
    time.day = static_cast<uint16_t>(day);
    time.hour = static_cast<uint16_t>(hour);
    time.minute = static_cast<uint16_t>(minute);
    time.second = static_cast<uint16_t>(second);
    return time;
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

TEST(FixedLocales, ImpossibleDatesAndTimesGiveNoText) {
    const auto polish = MakePolishLocale();
    EXPECT_EQ(polish->FormatDate(At(2007, 13, 1), DateStyle::Long), "");
    EXPECT_EQ(polish->FormatDate(At(2007, 0, 1), DateStyle::Short), "");
    EXPECT_EQ(polish->FormatTime(At(2007, 1, 1, 24, 0, 0)), "");
    EXPECT_EQ(MakeEnglishLocale()->FormatDate(At(2007, 2, 0), DateStyle::Long), "");
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
    EXPECT_EQ(Format(215, 10, "\xb0" "C"), "21.5 \xb0" "C");
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
