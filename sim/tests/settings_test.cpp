// The text forms shared by the command line and the control channel:
// instruments, firmware versions, dates and clock times.
#include <gtest/gtest.h>

#include "encoder.h"
#include "settings.h"

namespace kx305sim {
namespace {

std::vector<uint8_t> Encoded(const Instrument& instrument) {
    std::vector<uint8_t> data(kMaxInputData);
    data.resize(EncodeInput(instrument, data.data()));
    return data;
}

TEST(InstrumentText, DescriptionParsesBackToTheSameInstrument) {
    const char* const forms[] = {
        "kx538s,unit=mm,dec=0,d=-5,d-err=1",
        "kx124,t=-3.5,h=80,h-err=1,serial=1201",
        "kx124t,dec=2,t=12.34",
        "kx125,ch=0357,dec=2,t3=-1.25,main=7",
        "kx125,ch=none",
        "kx129,p=987.6,cal-err=1",
        "kx132,unit=pa,dec=0,p=120",
        "kx153,dir=10,speed=0.5,speed-err=1",
        "kx261,unit=klx,dec=1,i=33.3",
        "kx262,ch=1,unit1=5,unit2=umol,dec2=1,err2=1",
        "kx273,r=1,int-err=1",
        "3,t=1",
        "none",
    };
    for (const char* form : forms) {
        Instrument first;
        std::string error;
        ASSERT_TRUE(ParseInstrument(form, 2, first, error)) << form << ": " << error;
        Instrument second;
        const std::string description = DescribeInstrument(first);
        ASSERT_TRUE(ParseInstrument(description, 3, second, error)) << description << ": " << error;
        EXPECT_EQ(second.serial, first.serial) << description;
        EXPECT_EQ(Encoded(second), Encoded(first)) << description;
        EXPECT_EQ(DescribeInstrument(second), description);
    }
}

TEST(InstrumentText, DefaultSerialNumbersDifferByInputAndType) {
    Instrument a, b, c;
    std::string error;
    ASSERT_TRUE(ParseInstrument("kx124", 1, a, error));
    ASSERT_TRUE(ParseInstrument("kx124", 2, b, error));
    ASSERT_TRUE(ParseInstrument("kx129", 1, c, error));
    EXPECT_EQ(a.serial, 1103);
    EXPECT_EQ(b.serial, 1203);
    EXPECT_EQ(c.serial, 1106);
}

TEST(InstrumentText, ErrorsNameTheProblemAndChangeNothing) {
    struct Case {
        const char* settings;
        const char* mentions;
    };
    const Case cases[] = {
        {"t=1000", "does not fit kx124 (-99.9 to 999.9)"},
        {"h=-1", "h=-1.0 does not fit"},
        {"t=21,h=101", "h=101.0"},
        {"wind=3", "kx124 has no key 'wind' (keys: serial t h cal-err t-err h-err)"},
        {"t-err=2", "expected 0 to 1"},
        {"serial=-1", "expected 0 to 65535"},
        {"t==1", "not a number"},
        {"=1", "is not KEY=VALUE"},
    };
    Instrument kx124;
    std::string error;
    ASSERT_TRUE(ParseInstrument("kx124,t=20", 1, kx124, error));
    const std::string before = DescribeInstrument(kx124);
    for (const Case& c : cases) {
        error.clear();
        EXPECT_FALSE(ApplySettings(kx124, c.settings, error)) << c.settings;
        EXPECT_NE(error.find(c.mentions), std::string::npos) << c.settings << ": " << error;
        EXPECT_EQ(DescribeInstrument(kx124), before) << c.settings;
    }
    // Decimals and value are checked together: two decimals leave less room.
    Instrument kx124t;
    ASSERT_TRUE(ParseInstrument("kx124t,t=999.9", 1, kx124t, error));
    EXPECT_TRUE(ApplySettings(kx124t, "dec=2,t=99.99", error)) << error;
    EXPECT_FALSE(ApplySettings(kx124t, "t=1000", error));
}

TEST(InstrumentText, DriftResumesForAValueThatWasHeld) {
    Instrument kx124;
    std::string error;
    ASSERT_TRUE(ParseInstrument("kx124,t=20", 1, kx124, error));
    std::mt19937 random(3);
    Drift(kx124, 600, random);
    EXPECT_EQ(kx124.q[kTemperature].value, 20.0);
    EXPECT_NE(kx124.q[kHumidity].value, 45.0);
    ASSERT_TRUE(ApplySettings(kx124, "t=drift", error));
    Drift(kx124, 600, random);
    EXPECT_NE(kx124.q[kTemperature].value, 20.0);
}

TEST(SettingsText, FirmwareDatesAndClockTimes) {
    uint16_t version = 0;
    EXPECT_TRUE(ParseFirmware("1.13", version));
    EXPECT_EQ(version, 0x010D);
    EXPECT_EQ(FormatFirmware(version), "1.13");
    EXPECT_TRUE(ParseFirmware("1.5", version));
    EXPECT_EQ(version, 0x0105);
    EXPECT_EQ(FormatFirmware(0x0101), "1.01");
    for (const char* bad : {"", "1", "1.", ".1", "x.1", "1.x", "256.0", "1.300", "1.1.1", "-1.2"})
        EXPECT_FALSE(ParseFirmware(bad, version)) << bad;

    int y = 0, m = 0, d = 0;
    EXPECT_TRUE(ParseDate("2004-02-29", y, m, d));
    EXPECT_EQ(y * 10000 + m * 100 + d, 20040229);
    for (const char* bad :
         {"2004-2-29", "2004-13-01", "2004-04-31", "2004/02/01", "20040201", "2004-02-01x", "2005-02-29"})
        EXPECT_FALSE(ParseDate(bad, y, m, d)) << bad;

    ClockTime c;
    EXPECT_TRUE(ParseClock("12-31 23:59:58", c));
    EXPECT_EQ(FormatClock(c), "12-31T23:59:58");
    EXPECT_TRUE(ParseClock("02-29T00:00:00", c));
    for (const char* bad : {"12-31 24:00:00", "00-10 10:00:00", "06-31 10:00:00", "06-15 10:60:00", "06-15",
                            "6-15 10:00:00", "06-15  10:00:00"})
        EXPECT_FALSE(ParseClock(bad, c)) << bad;
}

TEST(SettingsText, InputOptionPlacesTheInstrument) {
    Instrument inputs[4];
    DefaultInputs(inputs);
    EXPECT_EQ(inputs[0].type, kKX124);
    EXPECT_EQ(inputs[1].type, kKX125);
    EXPECT_EQ(inputs[2].type, kKX129);
    EXPECT_EQ(inputs[3].type, kNoInstrument);
    std::string error;
    EXPECT_TRUE(ParseInputOption("4=kx273,r=5", inputs, error)) << error;
    EXPECT_EQ(inputs[3].type, kKX273);
    EXPECT_TRUE(ParseInputOption("1=none", inputs, error)) << error;
    EXPECT_EQ(inputs[0].type, kNoInstrument);
    for (const char* bad : {"0=kx124", "5=kx124", "kx124", "=kx124", "2=", "2=kx125,ch=9"}) {
        error.clear();
        EXPECT_FALSE(ParseInputOption(bad, inputs, error)) << bad;
        EXPECT_FALSE(error.empty()) << bad;
    }
    EXPECT_EQ(inputs[1].type, kKX125);
}

}  // namespace
}  // namespace kx305sim
