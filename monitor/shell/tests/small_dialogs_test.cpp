// The small dialogs' decisions: the set-time dialog's opening fields, clamp,
// checks and local-to-UTC conversion (Central European time), the interval
// dialog's value rules, the rain gauge's calibration in both decimal
// conventions and what its OK stores, and the additional settings' boxes.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <string>

#include "instruments/catalogue.h"
#include "resources/messages.h"
#include "shell/small_dialogs.h"
#include "shell_fixture.h"
#include "time/calendar_time.h"

namespace kx305mon {
namespace {

const bool kTimeZoneSet = [] {
    setenv("TZ", "CET-1CEST,M3.5.0,M10.5.0/3", 1);
    tzset();
    return true;
}();

TimeFields Fields(int day, int month, int hour, int minute, int second) {
    TimeFields fields;
    fields.value[kTimeDay] = day;
    fields.value[kTimeMonth] = month;
    fields.value[kTimeHour] = hour;
    fields.value[kTimeMinute] = minute;
    fields.value[kTimeSecond] = second;
    return fields;
}

std::string Text(const TimeFields& f) {
    return std::to_string(f.value[kTimeDay]) + "." + std::to_string(f.value[kTimeMonth]) + " " +
           std::to_string(f.value[kTimeHour]) + ":" + std::to_string(f.value[kTimeMinute]) + ":" +
           std::to_string(f.value[kTimeSecond]);
}

std::string Text(const ClockRecord& c) { return Text(Fields(c.day, c.month, c.hour, c.minute, c.second)); }

TEST(SetTimeDialog, OpensWithTheConverterClockInLocalTimeElseTheComputersTime) {
    ASSERT_TRUE(kTimeZoneSet);
    struct Case {
        const char* what;
        ClockRecord clock;
        CalendarTime utcNow;
        const char* shown;
    } cases[] = {
        {"winter clock", {1, 15, 11, 5, 7}, MakeCalendarTime(2026, 1, 15, 11, 6), "15.1 12:5:7"},
        {"summer clock", {7, 15, 22, 30, 0}, MakeCalendarTime(2026, 7, 15, 22, 31), "16.7 0:30:0"},
        // The clock already in the new year while the computer is not: 2027
        // (a Friday's winter time either way, but 1 January follows).
        {"January clock in December", {1, 1, 0, 0, 5}, MakeCalendarTime(2026, 12, 31, 23, 59), "1.1 1:0:5"},
        {"December clock in January", {12, 31, 23, 0, 0}, MakeCalendarTime(2027, 1, 1, 0, 1), "1.1 0:0:0"},
        // Before the first poll the record is all zeros: the computer's time.
        {"no clock yet", {0, 0, 0, 0, 0}, MakeCalendarTime(2026, 8, 3, 9, 15, 20), "3.8 11:15:20"},
        {"impossible clock", {13, 40, 25, 61, 61}, MakeCalendarTime(2026, 2, 3, 9, 15, 20), "3.2 10:15:20"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Text(SetTimeOpeningFields(c.clock, c.utcNow)), c.shown) << c.what;
    }
}

TEST(SetTimeDialog, TypingIsHeldWithinEachFieldsRange) {
    struct Case {
        TimeField field;
        int typed;
        bool replaced;
        int shown;
    } cases[] = {
        {kTimeDay, 32, true, 31},     {kTimeDay, 31, false, 31},   {kTimeDay, 0, false, 0},
        {kTimeMonth, 13, true, 12},   {kTimeMonth, 12, false, 12}, {kTimeHour, 24, true, 23},
        {kTimeHour, 23, false, 23},   {kTimeMinute, 60, true, 59}, {kTimeSecond, 99, true, 59},
        {kTimeSecond, 59, false, 59}, {kTimeMinute, -1, true, 0},  {kTimeHour, -30, true, 0},
    };
    for (const Case& c : cases) {
        int value = c.typed;
        EXPECT_EQ(ClampTimeField(c.field, value), c.replaced) << c.field << " " << c.typed;
        EXPECT_EQ(value, c.shown) << c.field << " " << c.typed;
    }
}

TEST(SetTimeDialog, OkNamesTheFirstFieldOutOfRange) {
    struct Case {
        TimeFields fields;
        const char* message;
    } cases[] = {
        {Fields(0, 0, 99, 99, 99), messages::kSetDays},
        {Fields(32, 5, 1, 1, 1), messages::kSetDays},
        {Fields(1, 0, 99, 99, 99), messages::kSetMonths},
        {Fields(31, 13, 0, 0, 0), messages::kSetMonths},
        {Fields(31, 12, 24, 60, 60), messages::kSetHours},
        {Fields(31, 12, 23, 60, 60), messages::kSetMinutes},
        {Fields(31, 12, 23, 59, 60), messages::kSetSeconds},
        {Fields(31, 12, 23, 59, 59), nullptr},
        {Fields(1, 1, 0, 0, 0), nullptr},
        // Each number counts with its low 8 bits: 257 is 1, 256 is 0.
        {Fields(257, 1, 0, 0, 0), nullptr},
        {Fields(1, 256, 0, 0, 0), messages::kSetMonths},
    };
    for (const Case& c : cases) {
        const char* message = CheckTimeFields(c.fields);
        EXPECT_STREQ(message != nullptr ? message : "(none)", c.message != nullptr ? c.message : "(none)")
            << Text(c.fields);
    }
}

TEST(SetTimeDialog, EnteredLocalTimeReachesTheConverterInUtc) {
    struct Case {
        const char* what;
        TimeFields entered;
        CalendarTime utcNow;
        const char* converter;
    } cases[] = {
        {"winter: one hour earlier", Fields(15, 1, 12, 30, 45), MakeCalendarTime(2026, 6, 1), "15.1 11:30:45"},
        {"summer: two hours earlier", Fields(15, 7, 12, 30, 45), MakeCalendarTime(2026, 1, 1), "15.7 10:30:45"},
        {"midnight in winter goes back a day", Fields(1, 1, 0, 30, 0), MakeCalendarTime(2026, 1, 1), "31.12 23:30:0"},
        {"31 April is 1 May (summer)", Fields(31, 4, 12, 0, 0), MakeCalendarTime(2026, 3, 1), "1.5 10:0:0"},
        {"31 November is 1 December (winter)", Fields(31, 11, 12, 0, 0), MakeCalendarTime(2026, 3, 1), "1.12 11:0:0"},
        // The year is the computer's UTC year: 2026 is no leap year.
        {"29 February 2026 is 1 March", Fields(29, 2, 12, 0, 0), MakeCalendarTime(2026, 3, 1), "1.3 11:0:0"},
        {"29 February 2028 stays", Fields(29, 2, 12, 0, 0), MakeCalendarTime(2028, 3, 1), "29.2 11:0:0"},
        {"last winter hour before the switch", Fields(29, 3, 1, 59, 0), MakeCalendarTime(2026, 3, 1), "29.3 0:59:0"},
        {"first summer hour after it", Fields(29, 3, 3, 0, 0), MakeCalendarTime(2026, 3, 1), "29.3 1:0:0"},
    };
    for (const Case& c : cases) {
        ClockRecord clock{};
        ASSERT_TRUE(SetTimeClock(c.entered, c.utcNow, clock)) << c.what;
        EXPECT_EQ(Text(clock), c.converter) << c.what;
    }
}

TEST(LogIntervalDialog, OkWritesAPositiveIntervalOfAtMost65535Seconds) {
    struct Case {
        const char* typed;
        const char* message;
        uint32_t written;
    } cases[] = {
        {"1", nullptr, 1},
        {"600", nullptr, 600},
        {"65535", nullptr, 65535},
        {"65536", nullptr, 65535},
        {"70000", nullptr, 65535},
        {" 20 ", nullptr, 20},
        {"0", messages::kIntervalNotPositive, 7},
        {"", messages::kIntervalNotPositive, 7},
        {"????", messages::kIntervalNotPositive, 7},
        {"12s", messages::kIntervalNotPositive, 7},
        {"-5", messages::kIntervalNotPositive, 7},
        {"99999999999", messages::kIntervalNotPositive, 7},
    };
    for (const Case& c : cases) {
        uint32_t seconds = 7;
        const char* message = LogIntervalToWrite(c.typed, seconds);
        EXPECT_STREQ(message != nullptr ? message : "(none)", c.message != nullptr ? c.message : "(none)")
            << "'" << c.typed << "'";
        EXPECT_EQ(seconds, c.written) << "'" << c.typed << "'";
    }
}

// The rain gauge and the additional settings on the in-memory store, in a
// fixed locale.
class SettingsDialogTest : public testing::ShellTest {
protected:
    void SetUp() override {
        ShellTest::SetUp();
        ResetRainGaugeSettings();
        UseLocale(',');
    }
    void TearDown() override {
        SetLocaleOverride(nullptr);
        ResetRainGaugeSettings();
    }
    void UseLocale(char decimal) {
        locale_ = decimal == ',' ? MakePolishLocale() : MakeEnglishLocale();
        SetLocaleOverride(locale_.get());
    }
    void SetRainGauge(const char* name, uint32_t serial, int32_t calibration) {
        std::strncpy(rainGaugeSettings().name, name, sizeof rainGaugeSettings().name - 1);
        rainGaugeSettings().serial = serial;
        rainGaugeSettings().calibration = calibration;
    }

private:
    std::unique_ptr<NumberLocale> locale_;
};

TEST_F(SettingsDialogTest, CalibrationIsShownWithThreeDecimalsOfTheLocale) {
    EXPECT_EQ(CalibrationText(200), "0,200");
    EXPECT_EQ(CalibrationText(1000), "1,000");
    EXPECT_EQ(CalibrationText(1), "0,001");
    UseLocale('.');
    EXPECT_EQ(CalibrationText(200), "0.200");
}

TEST_F(SettingsDialogTest, SpinClickMovesTheTypedCalibrationByThousandths) {
    struct Case {
        const char* text;
        int delta;
        bool allowed;
        const char* after;
    } cases[] = {
        {"0,200", 1, true, "0,201"},  {"0,200", -1, true, "0,199"},  {"0,2", 10, true, "0,210"},
        {"0,5", 100, true, "0,600"},  {"0,95", 100, true, "1,000"},  {"1,000", 1, true, "1,000"},
        {"0,001", -1, true, "0,001"}, {"0,05", -100, true, "0,001"}, {"7", 1, true, "1,000"},
        {"0,0005", 1, true, "0,001"}, {"0,29", 1, true, "0,291"},    {"", 1, true, "0,001"},
        {"abc", 1, false, "abc"},     {"0.2", 1, false, "0.2"},      {"0,2 mm", 1, false, "0,2 mm"},
    };
    for (const Case& c : cases) {
        std::string text = c.text;
        EXPECT_EQ(StepCalibration(text, c.delta), c.allowed) << c.text << " " << c.delta;
        EXPECT_EQ(text, c.after) << c.text << " " << c.delta;
    }
}

TEST_F(SettingsDialogTest, RainGaugeOkAcceptsOnlyAValidCalibrationAndSerial) {
    struct Case {
        char decimal;
        const char* serial;
        const char* calibration;
        RainGaugeOutcome outcome;
        int32_t stored;  // calibration afterwards
    } cases[] = {
        {',', "17", "0,2", RainGaugeOutcome::Stored, 200},
        {',', "17", "1,0", RainGaugeOutcome::Stored, 1000},
        {',', "17", "1", RainGaugeOutcome::Stored, 1000},
        {',', "17", "0,29", RainGaugeOutcome::Stored, 290},
        {',', "17", "0,001", RainGaugeOutcome::Stored, 1},
        {',', "17", "1,5", RainGaugeOutcome::Refused, 500},
        {',', "17", "1,001", RainGaugeOutcome::Refused, 500},
        {',', "17", "0", RainGaugeOutcome::Refused, 500},
        {',', "17", "", RainGaugeOutcome::Refused, 500},
        {',', "17", "-0,2", RainGaugeOutcome::Refused, 500},
        {',', "17", "0.2", RainGaugeOutcome::Refused, 500},
        {',', "0", "0,2", RainGaugeOutcome::Refused, 500},
        {',', "", "0,2", RainGaugeOutcome::Refused, 500},
        {',', "1", "0,2", RainGaugeOutcome::SerialChanged, 200},
        {'.', "17", "0.2", RainGaugeOutcome::Stored, 200},
        {'.', "17", "0,2", RainGaugeOutcome::Refused, 500},
        {'.', "4321", "0.25", RainGaugeOutcome::SerialChanged, 250},
    };
    for (const Case& c : cases) {
        SetRainGauge("Deszczomierz", 17, 500);
        store = MemorySettingsStore();
        UseLocale(c.decimal);
        const std::string what = std::string(c.serial) + " / " + c.calibration;
        EXPECT_EQ(StoreRainGauge(context, store, "RG-50 dach", c.serial, c.calibration), c.outcome) << what;
        EXPECT_EQ(rainGaugeSettings().calibration.load(), c.stored) << what;
        if (c.outcome == RainGaugeOutcome::Refused) {
            EXPECT_STREQ(rainGaugeSettings().name, "Deszczomierz") << what;
            EXPECT_EQ(rainGaugeSettings().serial.load(), 17u) << what;
            EXPECT_TRUE(StoredNames().empty()) << what;
        } else {
            EXPECT_STREQ(rainGaugeSettings().name, "RG-50 dach") << what;
            EXPECT_EQ(StoredNumber("RainMeter Cal"), static_cast<uint32_t>(c.stored)) << what;
            EXPECT_EQ(StoredNumber("RainMeter Serial"), UnsignedFromText(c.serial)) << what;
            // Group 4 and the report interval, nothing else.
            EXPECT_EQ(StoredNames(), (std::set<std::string>{"RainMeter Name", "RainMeter Serial", "RainMeter Cal",
                                                            "RainMeter Period"}))
                << what;
        }
    }
}

TEST_F(SettingsDialogTest, RainGaugeNameIsCutToItsField) {
    const std::string longName(300, 'n');
    EXPECT_EQ(StoreRainGauge(context, store, longName.c_str(), "5", "0,5"), RainGaugeOutcome::SerialChanged);
    EXPECT_EQ(std::string(rainGaugeSettings().name), longName.substr(0, sizeof rainGaugeSettings().name - 1));
}

TEST_F(SettingsDialogTest, AdditionalSettingsBoxesReachTheFieldsAndTheStore) {
    struct Case {
        ExtraSettingsBoxes boxes;
        uint32_t kx125av, quickStart, showQmv;
    } cases[] = {
        {{false, false, false}, 0, 0, 1}, {{true, false, false}, 1, 0, 1},
        {{false, true, false}, 0, 1, 1},  {{false, false, true}, 0, 0, 0},  // the promotion box ticked: SHOW_QMV 0
        {{true, true, true}, 1, 1, 0},
    };
    for (const Case& c : cases) {
        store = MemorySettingsStore();
        ASSERT_TRUE(StoreExtraSettings(context, store, c.boxes));
        EXPECT_EQ(context.averageKX125, c.kx125av != 0);
        EXPECT_EQ(context.quickStart, c.quickStart != 0);
        EXPECT_EQ(context.showQmv, c.showQmv != 0);
        EXPECT_EQ(StoredNumber("KX125AV"), c.kx125av);
        EXPECT_EQ(StoredNumber("QUICK_START"), c.quickStart);
        EXPECT_EQ(StoredNumber("SHOW_QMV"), c.showQmv);
        EXPECT_EQ(StoredNames(), (std::set<std::string>{"KX125AV", "QUICK_START", "SHOW_QMV", "RainMeter Period"}));
        // Opening again shows what was stored.
        const ExtraSettingsBoxes shown = ReadExtraSettings(context);
        EXPECT_EQ(shown.kx125Average, c.boxes.kx125Average);
        EXPECT_EQ(shown.quickStart, c.boxes.quickStart);
        EXPECT_EQ(shown.hidePromotion, c.boxes.hidePromotion);
    }
}

}  // namespace
}  // namespace kx305mon
