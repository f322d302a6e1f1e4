#include <cfloat>
#include <cstring>

#include "../locale_backend.h"
#include "test_support.h"

namespace kx305mon::test {
namespace {

using FormatTest = LocaleTest;

// The Polish locale with the leading zero switched off in the control panel.
class NoLeadingZeroLocale final : public NumberLocale {
public:
    char DecimalSeparator() const override { return ','; }
    bool LeadingZero() const override { return false; }
    char NegativeSign() const override { return '-'; }
    char ListSeparator() const override { return ';'; }
    std::string FormatNumber(const std::string& plain, int decimals) const override {
        return RenderNumber(plain, decimals, ',', false, '-');
    }
    std::string FormatDate(const CalendarTime&, DateStyle) const override { return ""; }
    std::string FormatTime(const CalendarTime&) const override { return ""; }
};

TEST_F(FormatTest, InvalidValueIsShownAsQuestionMarksInBothForms) {
    char buffer[200];
    EXPECT_EQ(FormatValue("Ci\x9cnienie: ", INVALID_VALUE, 10, "hPa", buffer, sizeof buffer, false), 11u);
    EXPECT_STREQ(buffer, "Ci\x9cnienie: ????? hPa");
    EXPECT_EQ(Format(INVALID_VALUE, 10, "", true), "????? ");
    EXPECT_EQ(Format(INVALID_VALUE, 1, "hPa", true), "????? hPa");
}

TEST_F(FormatTest, OnlyTheExactInvalidMarkerIsInvalid) {
    EXPECT_EQ(Format(2147483646, 1, "hPa"), "2147483646 hPa");
    EXPECT_EQ(Format(2147483646, 10, "", true), "214748364.6");
    EXPECT_EQ(Format(-2147483647 - 1, 1), "-2147483648 ");
}

TEST_F(FormatTest, DivisorGivesTheNumberOfDecimals) {
    EXPECT_EQ(Format(17, 1, "Ohm"), "17 Ohm");
    EXPECT_EQ(Format(215, 10,
                     "\xb0"
                     "C"),
              "21,5 \xb0"
              "C");
    EXPECT_EQ(Format(5, 100), "0,05 ");
    EXPECT_EQ(Format(2200, 100,
                     "\xb0"
                     "C"),
              "22,00 \xb0"
              "C");
    EXPECT_EQ(Format(1000, 1000), "1,000 ");
    EXPECT_EQ(Format(100, 10, "hPa"), "10,0 hPa");
    EXPECT_EQ(Format(452, 10, " %"), "45,2  %");
    EXPECT_EQ(Format(-5, 10,
                     "\xb0"
                     "C"),
              "-0,5 \xb0"
              "C");
    EXPECT_EQ(Format(0, 10, "mm"), "0,0 mm");
}

TEST_F(FormatTest, LeadingZeroFollowsTheUserChoice) {
    const NoLeadingZeroLocale noLeadingZero;
    Use(noLeadingZero);
    EXPECT_EQ(Format(5, 100), ",05 ");
    EXPECT_EQ(Format(-5, 10), "-,5 ");
    EXPECT_EQ(Format(0, 1), "0 ");
    EXPECT_EQ(Format(1234, 100), "12,34 ");
}

TEST_F(FormatTest, PlainFormDropsTrailingZerosAndUnit) {
    EXPECT_EQ(Format(215, 10,
                     "\xb0"
                     "C",
                     true),
              "21.5");
    EXPECT_EQ(Format(220, 10, "", true), "22");
    EXPECT_EQ(Format(1000, 10, "", true), "100");
    EXPECT_EQ(Format(0, 10, "", true), "0");
    EXPECT_EQ(Format(-5, 10, "", true), "-0.5");
    EXPECT_EQ(Format(2150, 100, "", true), "21.5");
    EXPECT_EQ(Format(2200, 100, "", true), "22");
    EXPECT_EQ(Format(1, 1000, "", true), "0.001");
    EXPECT_EQ(Format(-2147483647, 1, "", true), "-2147483647");
}

TEST_F(FormatTest, SameReadingFollowsTheDecimalSeparatorOfTheLocale) {
    EXPECT_EQ(Format(215, 10,
                     "\xb0"
                     "C"),
              "21,5 \xb0"
              "C");
    const auto english = MakeEnglishLocale();
    Use(*english);
    EXPECT_EQ(Format(215, 10,
                     "\xb0"
                     "C"),
              "21.5 \xb0"
              "C");
    EXPECT_EQ(Format(215, 10, "", true), "21.5");
}

TEST_F(FormatTest, ReturnsThePositionAfterThePrefix) {
    char buffer[200];
    EXPECT_EQ(FormatValue("Temperatura: ", 215, 10,
                          "\xb0"
                          "C",
                          buffer, sizeof buffer, false),
              13u);
    EXPECT_STREQ(buffer + 13,
                 "21,5 \xb0"
                 "C");
    EXPECT_EQ(FormatValue("", 215, 10, "", buffer, sizeof buffer, true), 0u);
}

TEST_F(FormatTest, OutputIsCutToTheBuffer) {
    char buffer[8];
    std::memset(buffer, 'x', sizeof buffer);
    EXPECT_EQ(FormatValue("Temperatura: ", 215, 10,
                          "\xb0"
                          "C",
                          buffer, sizeof buffer, false),
              7u);
    EXPECT_STREQ(buffer, "Tempera");
    EXPECT_EQ(FormatValue("T: ", 2150, 100,
                          "\xb0"
                          "C",
                          buffer, sizeof buffer, false),
              3u);
    EXPECT_STREQ(buffer, "T: 21,5");
    char untouched[4] = "abc";
    EXPECT_EQ(FormatValue("T: ", 1, 1, "", untouched, 0, false), 0u);
    EXPECT_STREQ(untouched, "abc");
}

TEST_F(FormatTest, BufferMayBeItsOwnPrefix) {
    char buffer[200] = "Opad: ";
    FormatValue(buffer, 30, 10, "mm", buffer, sizeof buffer, false);
    EXPECT_STREQ(buffer, "Opad: 3,0 mm");
}

double Parse(const char* text) {
    char buffer[64];
    std::strcpy(buffer, text);
    return ParseLocaleNumber(buffer);
}

TEST_F(FormatTest, ParsesNumbersTypedInPolish) {
    EXPECT_DOUBLE_EQ(Parse("1,5"), 1.5);
    EXPECT_DOUBLE_EQ(Parse("-0,2"), -0.2);
    EXPECT_DOUBLE_EQ(Parse("12"), 12.0);
    EXPECT_DOUBLE_EQ(Parse(",5"), 0.5);
    EXPECT_DOUBLE_EQ(Parse(""), 0.0);
    EXPECT_EQ(Parse("1.5"), DBL_MAX);
    EXPECT_EQ(Parse("1 000"), DBL_MAX);
    EXPECT_EQ(Parse("1,5 "), DBL_MAX);
    EXPECT_EQ(Parse("1,2,3"), DBL_MAX);
    EXPECT_EQ(Parse("-"), DBL_MAX);
    EXPECT_EQ(Parse("1-2"), DBL_MAX);
    EXPECT_EQ(Parse("+1"), DBL_MAX);
    EXPECT_EQ(Parse("1e5"), DBL_MAX);
}

TEST_F(FormatTest, ParsingRewritesTheTextToDotAndMinus) {
    char text[] = "-0,25";
    EXPECT_DOUBLE_EQ(ParseLocaleNumber(text), -0.25);
    EXPECT_STREQ(text, "-0.25");
}

TEST_F(FormatTest, ParsesNumbersTypedInEnglish) {
    const auto english = MakeEnglishLocale();
    Use(*english);
    EXPECT_DOUBLE_EQ(Parse("1.5"), 1.5);
    EXPECT_EQ(Parse("1,5"), DBL_MAX);
}

TEST_F(FormatTest, KX125DescriptionWithAverage) {
    const InputReading reading = Reading(kTypeKX125, {{2, 2}, {6, 1}, {7, 1}, {14, 2150}, {15, 2250}});
    EXPECT_EQ(Describe(reading),
              "Temperatura: 22,00 \xb0"
              "C <21,50  22,50  ?????  ?????  ?????  ?????  ?????  ????? > ");
}

TEST_F(FormatTest, KX125DescriptionWithoutAverageOrChannels) {
    const InputReading reading = Reading(kTypeKX125, {{2, 1}, {13, 1}, {21, -15}});
    EXPECT_EQ(Describe(reading, false), "Temperatura <?????  ?????  ?????  ?????  ?????  ?????  ?????  -1,5 > ");
    EXPECT_EQ(Describe(Reading(kTypeKX125), true),
              "Temperatura: ????? \xb0"
              "C <?????  ?????  ?????  ?????  ?????  ?????  ?????  ????? > ");
}

TEST_F(FormatTest, DescriptionsOfTheOtherInstruments) {
    rainGaugeSettings().calibration = 200;
    EXPECT_EQ(Describe(Reading(kTypeRainGauge, {{0, 15}})), "Ilo\x9c\xe6 opad\xf3w atmosferycznych: 3,0 mm");
    EXPECT_EQ(Describe(Reading(kTypeKX538S, {{0, 1}, {3, 0}, {5, 125}})), "Odleg\xb3o\x9c\xe6: 12,5 m");
    EXPECT_EQ(Describe(Reading(kTypeKX124, {{4, 452}, {5, 215}})),
              "Temperatura: 21,5 \xb0"
              "C, Wilgotno\x9c\xe6: 45,2  %");
    EXPECT_EQ(Describe(Reading(kTypeKX124Temperature, {{0, 1}, {4, 2153}})),
              "Temperatura: 21,53 \xb0"
              "C");
    EXPECT_EQ(Describe(Reading(kTypeKX129, {{5, 10132}, {6, 452}, {7, 215}})),
              "Temperatura: 21,5 \xb0"
              "C, Wilgotno\x9c\xe6: 45,2  %, Ci\x9cnienie: 1013,2  hPa");
    EXPECT_EQ(Describe(Reading(kTypeKX132, {{0, 0}, {2, 0}, {5, 101320}})), "Ci\x9cnienie: 101320 Pa");
    EXPECT_EQ(Describe(Reading(kTypeKX153, {{4, 270}, {5, 34}})),
              "Pr\xea"
              "dko\x9c\xe6 wiatru: 3,4 m/s, Kierunek wiatru: 270 \xb0");
    EXPECT_EQ(Describe(Reading(kTypeKX261, {{0, 1}, {3, 1}, {5, 125}})),
              "Nat\xea\xbf"
              "enie \x9cwiat\xb3"
              "a: 12,5 kLx");
    EXPECT_EQ(Describe(Reading(kTypeKX273, {{4, 1500}})), "Rezystancja: 1500 Ohm");
    EXPECT_EQ(Describe(Reading(kTypeNone, {{4, 1500}})), "");
    EXPECT_EQ(Describe(Reading(12, {{4, 1500}})), "");
}

TEST_F(FormatTest, KX262DescriptionNamesChannelsOnlyWhenTwoAreFitted) {
    EXPECT_EQ(Describe(Reading(kTypeKX262, {{9, 850}, {10, 40}})),
              "Nat\xea\xbf"
              "enie \x9cwiat\xb3"
              "a: 850 W/m2");
    EXPECT_EQ(Describe(Reading(kTypeKX262, {{0, 1}, {3, 1}, {5, 1}, {6, 2}, {9, 125}, {10, 1800}})),
              "Nat\xea\xbf"
              "enie \x9cwiat\xb3"
              "a 1: 12,5 kLx, Nat\xea\xbf"
              "enie \x9cwiat\xb3"
              "a 2: 1800 \xb5mol/sm2");
    EXPECT_EQ(Describe(Reading(kTypeKX262, {{0, 1}, {5, 6}, {6, 7}, {9, 1}, {10, 2}})),
              "Nat\xea\xbf"
              "enie \x9cwiat\xb3"
              "a 1: 1 , Nat\xea\xbf"
              "enie \x9cwiat\xb3"
              "a 2: 2 ");
}

}  // namespace
}  // namespace kx305mon::test
