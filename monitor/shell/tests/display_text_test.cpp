// The live display's texts: the status line, the clock's local time, the
// panels and pictures of inputs with and without an instrument, the
// hand-over to the UI thread and the rain-gauge menu switch.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <map>
#include <thread>

#include "instruments/catalogue.h"
#include "resources/resource.h"
#include "shell/display_text.h"
#include "time_builders.h"

namespace kx305mon {
namespace {

// The clock texts are checked in Central European time.
const bool kTimeZoneSet = [] {
    setenv("TZ", "CET-1CEST,M3.5.0,M10.5.0/3", 1);
    tzset();
    return true;
}();

CalendarTime At(int year, int month, int day, int hour = 12, int minute = 0) {
    return MakeCalendarTime(year, month, day, hour, minute);
}

constexpr auto& Clock = testing::ClockAt;

// Shows exactly the calendar fields it is given.
class FieldLocale final : public NumberLocale {
public:
    char DecimalSeparator() const override { return '.'; }
    bool LeadingZero() const override { return true; }
    char NegativeSign() const override { return '-'; }
    char ListSeparator() const override { return ','; }
    std::string FormatNumber(const std::string& plain, int) const override { return plain; }
    std::string FormatDate(const CalendarTime& t, DateStyle) const override {
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
    kx124.type = kTypeKX124;
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

TEST(Panel, PictureShowsWhetherAnInstrumentIsPresent) {
    InputReading reading = {};
    EXPECT_EQ(InputIcon(nullptr), IDB_NO_INSTRUMENT);
    EXPECT_EQ(InputIcon(&reading), IDB_NO_INSTRUMENT);
    for (uint32_t type : {uint32_t{kTypeRainGauge}, uint32_t{kTypeKX124}, uint32_t{kTypeKX273}, 12u}) {
        reading.type = type;
        EXPECT_EQ(InputIcon(&reading), IDB_INSTRUMENT) << type;
    }
}

TEST(StatusField, TwoLinesOfIdentityAndClock) {
    const FieldLocale locale;
    const ConverterInfo info{1, 13, 15, 6, 2009, 3051};
    const ClockRecord clock = Clock(2, 19, 14, 16, 55);
    EXPECT_EQ(StatusFieldText(&info, &clock, At(2007, 2, 19), At(2007, 2, 19), locale),
              "KX-305 wersja 1.13, nr 3051\r\n2007-02-19, 15:16:55");
    EXPECT_EQ(StatusFieldText(nullptr, nullptr, At(2007, 2, 19), At(2007, 2, 19), locale),
              "KX-305 wersja ?.?, nr ????\r\n?????, ?????");
}

// Before the first answer and after a lost connection the worker shows the
// display without a converter: question marks and five empty inputs.
TEST(DisplaySnapshot, WithoutConverterShowsQuestionMarksAndNoInstruments) {
    const DisplaySnapshot snapshot = MakeDisplaySnapshot(nullptr, nullptr, nullptr, true);
    EXPECT_EQ(snapshot.status, "KX-305 wersja ?.?, nr ????\r\n?????, ?????");
    for (int i = 0; i < KX305_INPUTS; ++i) {
        EXPECT_EQ(snapshot.panels[i].name, "Brak przyrządu lub przyrząd nieznany");
        EXPECT_EQ(snapshot.panels[i].description, "");
        EXPECT_EQ(snapshot.panels[i].status, "");
        EXPECT_EQ(snapshot.icons[i], IDB_NO_INSTRUMENT);
    }
}

TEST(DisplaySnapshot, PanelsFollowTheirInputs) {
    InputReading results[KX305_INPUTS] = {};
    results[2].type = kTypeKX124;
    results[2].data[3] = 1234;
    const ConverterInfo info{1, 13, 15, 6, 2009, 77};
    const DisplaySnapshot snapshot = MakeDisplaySnapshot(&info, nullptr, results, true);
    EXPECT_EQ(snapshot.status.rfind("KX-305 wersja 1.13, nr 77\r\n", 0), 0u) << snapshot.status;
    EXPECT_EQ(snapshot.panels[2].name, "Termohigrometr KX-124 nr 1234");
    EXPECT_EQ(snapshot.icons[2], IDB_INSTRUMENT);
    for (int i : {0, 1, 3, 4}) EXPECT_EQ(snapshot.icons[i], IDB_NO_INSTRUMENT) << i;
}

TEST(DisplaySnapshot, TextsReachTheControlsOfTheirInput) {
    DisplaySnapshot snapshot;
    snapshot.status = "status";
    for (int i = 0; i < KX305_INPUTS; ++i) {
        snapshot.panels[i] = {"name" + std::to_string(i), "description" + std::to_string(i),
                              "status" + std::to_string(i)};
    }
    std::map<int, std::string> shown;
    for (const ControlText& control : DisplayControlTexts(snapshot)) {
        EXPECT_TRUE(shown.emplace(control.controlId, *control.text).second) << control.controlId;
    }
    std::map<int, std::string> expected = {{1025, "status"}};
    for (int i = 0; i < KX305_INPUTS; ++i) {
        expected[1010 + i] = "name" + std::to_string(i);
        expected[1015 + i] = "description" + std::to_string(i);
        expected[1020 + i] = "status" + std::to_string(i);
    }
    EXPECT_EQ(shown, expected);
}

// The worker never waits for the window: it wakes the UI once, later cycles
// replace the waiting texts, and the UI takes the newest.
TEST(DisplayMailbox, WakesOnceAndHandsOverTheNewestSnapshot) {
    DisplayMailbox mailbox;
    EXPECT_FALSE(mailbox.Take().has_value());
    DisplaySnapshot first, second;
    first.status = "first";
    second.status = "second";
    EXPECT_TRUE(mailbox.Put(first));
    EXPECT_FALSE(mailbox.Put(second));
    const auto taken = mailbox.Take();
    ASSERT_TRUE(taken.has_value());
    EXPECT_EQ(taken->status, "second");
    EXPECT_FALSE(mailbox.Take().has_value());
    EXPECT_TRUE(mailbox.Put(first));

    // A worker putting many cycles while the UI thread takes them: every
    // wake-up finds a snapshot, and the last one put is the last one taken.
    DisplayMailbox busy;
    int wakeups = 0;
    std::thread worker([&] {
        for (int cycle = 0; cycle < 2000; ++cycle) {
            DisplaySnapshot snapshot;
            snapshot.status = std::to_string(cycle);
            if (busy.Put(snapshot)) ++wakeups;
        }
    });
    std::string last;
    int taken_count = 0;
    while (last != "1999") {
        if (auto snapshot = busy.Take()) {
            last = snapshot->status;
            ++taken_count;
        }
    }
    worker.join();
    EXPECT_EQ(taken_count, wakeups);
}

TEST(RainGaugeMenu, ChangesOnlyWhenTheRainGaugeComesOrGoes) {
    RainGaugeMenuSwitch menu;
    EXPECT_FALSE(menu.enabled());
    EXPECT_EQ(menu.Update(kTypeNone), std::nullopt);  // off at start already
    EXPECT_EQ(menu.Update(kTypeRainGauge), std::optional<bool>(true));
    EXPECT_EQ(menu.Update(kTypeRainGauge), std::nullopt);
    EXPECT_TRUE(menu.enabled());
    EXPECT_EQ(menu.Update(kTypeKX124), std::optional<bool>(false));
    EXPECT_EQ(menu.Update(kTypeNone), std::nullopt);
    EXPECT_EQ(menu.Update(kTypeRainGauge), std::optional<bool>(true));
    EXPECT_EQ(menu.Update(kTypeNone), std::optional<bool>(false));
}

// A lost converter greys the command at once, and it stays greyed through
// the failed reopenings until a cycle reads a rain gauge again.
TEST(RainGaugeMenu, ConnectionLossGreysItUntilARainGaugeIsSeenAgain) {
    RainGaugeMenuSwitch menu;
    EXPECT_EQ(menu.ConnectionLost(), std::nullopt);  // lost before the first cycle
    EXPECT_EQ(menu.Update(kTypeRainGauge), std::optional<bool>(true));
    EXPECT_EQ(menu.ConnectionLost(), std::optional<bool>(false));
    EXPECT_FALSE(menu.enabled());
    EXPECT_EQ(menu.ConnectionLost(), std::nullopt);
    // Back with something else on input 0, then with the rain gauge.
    EXPECT_EQ(menu.Update(kTypeKX124), std::nullopt);
    EXPECT_EQ(menu.Update(kTypeRainGauge), std::optional<bool>(true));
    EXPECT_TRUE(menu.enabled());
}

}  // namespace
}  // namespace kx305mon
