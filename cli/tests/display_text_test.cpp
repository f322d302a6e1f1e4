// The live display's texts: the status line, the clock's year and local
// time, and the panels of inputs with and without an instrument.
#include <gtest/gtest.h>

#include <cstdio>

#include "display_text.h"
#include "instruments/catalogue.h"

namespace kx305cli {
namespace {

using kx305mon::CalendarTime;

CalendarTime At(int year, int month, int day, int hour = 12, int minute = 0) {
    CalendarTime t;
    t.year = static_cast<uint16_t>(year);
    t.month = static_cast<uint16_t>(month);
    t.day = static_cast<uint16_t>(day);
    t.hour = static_cast<uint16_t>(hour);
    t.minute = static_cast<uint16_t>(minute);
    return t;
}

ClockRecord Clock(int month, int day, int hour, int minute, int second) {
    return ClockRecord{static_cast<uint8_t>(month), static_cast<uint8_t>(day), static_cast<uint8_t>(hour),
                       static_cast<uint8_t>(minute), static_cast<uint8_t>(second)};
}

// Shows exactly the calendar fields it is given.
class FieldLocale final : public kx305mon::NumberLocale {
public:
    char DecimalSeparator() const override { return '.'; }
    bool LeadingZero() const override { return true; }
    char NegativeSign() const override { return '-'; }
    char ListSeparator() const override { return ','; }
    std::string FormatNumber(const std::string& plain, int) const override { return plain; }
    std::string FormatDate(const CalendarTime& t, kx305mon::DateStyle) const override {
        char text[32];
        std::snprintf(text, sizeof text, "%04d-%02d-%02d", t.year, t.month, t.day);
        return text;
    }
    std::string FormatTime(const CalendarTime& t) const override {
        char text[32];
        std::snprintf(text, sizeof text, "%02d:%02d:%02d", t.hour, t.minute, t.second);
        return text;
    }
};

TEST(StatusLine, ShowsVersionAndSerialOrQuestionMarks) {
    const ConverterInfo info{1, 13, 15, 6, 2009, 3051};
    EXPECT_EQ(StatusLine(&info), "KX-305 wersja 1.13, nr 3051");
    const ConverterInfo early{1, 5, 1, 1, 2005, 0};
    EXPECT_EQ(StatusLine(&early), "KX-305 wersja 1.5, nr 0");
    EXPECT_EQ(StatusLine(nullptr), "KX-305 wersja ?.?, nr ????");
}

TEST(ClockYear, DecemberClockReadInJanuaryBelongsToThePreviousYear) {
    EXPECT_EQ(ClockYear(Clock(12, 31, 23, 30, 0), At(2025, 1, 1, 0, 10)), 2024);
    EXPECT_EQ(ClockYear(Clock(1, 1, 0, 5, 0), At(2024, 12, 31, 23, 59)), 2025);
    EXPECT_EQ(ClockYear(Clock(12, 1, 0, 0, 0), At(2024, 12, 31)), 2024);
    EXPECT_EQ(ClockYear(Clock(1, 31, 0, 0, 0), At(2025, 1, 1)), 2025);
    EXPECT_EQ(ClockYear(Clock(6, 30, 0, 0, 0), At(2025, 1, 1)), 2025);
}

// The test binary runs in CET/CEST (see cli_test.cpp).
TEST(ClockText, ConvertsToLocalTimeAndDatesInTheCurrentLocalYear) {
    const FieldLocale locale;
    const ClockRecord winter = Clock(2, 19, 14, 16, 55);
    EXPECT_EQ(ClockText(&winter, At(2007, 2, 19), At(2007, 2, 19), locale), "2007-02-19, 15:16:55");
    const ClockRecord summer = Clock(7, 1, 10, 0, 0);
    EXPECT_EQ(ClockText(&summer, At(2024, 7, 1), At(2024, 7, 1), locale), "2024-07-01, 12:00:00");
    // 23:30 UTC on 31 December, read at 00:10 UTC on 1 January: last year's
    // clock, 00:30 local on 1 January, dated in the local year of now.
    const ClockRecord newYear = Clock(12, 31, 23, 30, 0);
    EXPECT_EQ(ClockText(&newYear, At(2025, 1, 1, 0, 10), At(2025, 1, 1, 1, 10), locale), "2025-01-01, 00:30:00");
}

TEST(ClockText, MissingOrImpossibleClockShowsQuestionMarks) {
    const FieldLocale locale;
    const CalendarTime now = At(2024, 5, 5);
    EXPECT_EQ(ClockText(nullptr, now, now, locale), "?????, ?????");
    for (const ClockRecord& bad : {Clock(0, 0, 0, 0, 0), Clock(4, 31, 12, 0, 0), Clock(2, 30, 12, 0, 0),
                                   Clock(5, 5, 24, 0, 0), Clock(5, 5, 12, 60, 0), Clock(13, 1, 0, 0, 0)}) {
        EXPECT_EQ(ClockText(&bad, now, now, locale), "?????, ?????");
    }
    // February 29 is always accepted.
    const ClockRecord leapDay = Clock(2, 29, 12, 0, 0);
    EXPECT_NE(ClockText(&leapDay, At(2023, 3, 1), At(2023, 3, 1), locale), "?????, ?????");
}

TEST(Panel, EmptyInputShowsNoInstrumentWithoutSerialDescriptionOrStatus) {
    const PanelText panel = DescribePanel(nullptr, true);
    EXPECT_EQ(panel.name, "Brak przyrządu lub przyrząd nieznany");
    EXPECT_EQ(panel.description, "");
    EXPECT_EQ(panel.status, "");
    InputReading unknown = {};
    unknown.type = 12;
    EXPECT_EQ(DescribePanel(&unknown, true).name, "Brak przyrządu lub przyrząd nieznany");
}

TEST(Panel, InstrumentShowsNameWithSerialDescriptionAndStatus) {
    InputReading kx124 = {};
    kx124.type = kx305mon::kTypeKX124;
    kx124.data[3] = 0;  // serial 0 is still a serial
    kx124.data[5] = 215;
    kx124.data[4] = 453;
    const PanelText panel = DescribePanel(&kx124, true);
    EXPECT_EQ(panel.name, "Termohigrometr KX-124 nr 0");
    EXPECT_EQ(panel.description.rfind("Temperatura: 21", 0), 0u) << panel.description;
    EXPECT_EQ(panel.status, "Pomiar --> OK");
}

TEST(LiveBlock, WithoutConverterEveryInputShowsNoInstrument) {
    const std::string block = LiveBlock(nullptr, nullptr, nullptr, true);
    EXPECT_EQ(block,
              "KX-305 wersja ?.?, nr ????\n"
              "?????, ?????\n"
              "Wejście nr 0: Brak przyrządu lub przyrząd nieznany\n"
              "Wejście nr 1: Brak przyrządu lub przyrząd nieznany\n"
              "Wejście nr 2: Brak przyrządu lub przyrząd nieznany\n"
              "Wejście nr 3: Brak przyrządu lub przyrząd nieznany\n"
              "Wejście nr 4: Brak przyrządu lub przyrząd nieznany\n"
              "\n");
}

}  // namespace
}  // namespace kx305cli
