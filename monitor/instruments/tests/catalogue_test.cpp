#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "test_support.h"

namespace kx305mon::test {
namespace {

using CatalogueTest = LocaleTest;

std::string Name(uint32_t type, bool longName, size_t size = 200) {
    char buffer[200];
    InstrumentName(type, buffer, size, longName);
    return buffer;
}

int QuantityCount(const InputReading& reading) {
    int count = 0;
    while (QuantityValue(reading.type, reading, count, nullptr, 0, true, false) != 0) ++count;
    return count;
}

TEST(StringTable, CarriesPolishTextsInCodePage1250) {
    EXPECT_STREQ(StringText(2),
                 "B\xb3\xb9"
                 "d pomiaru wilgotno\x9c"
                 "ci");
    EXPECT_STREQ(StringText(62),
                 "Miernik odleg\xb3o\x9c"
                 "ci KX-538S");
    EXPECT_STREQ(StringText(1), "Pomiar --> OK");
    EXPECT_STREQ(StringText(67),
                 "B\xb3\xb9"
                 "d pomiaru odleg\xb3o\x9c"
                 "ci");
}

TEST(StringTable, UnknownIdsGiveEmptyText) {
    EXPECT_STREQ(StringText(0), "");
    EXPECT_STREQ(StringText(68), "");
    EXPECT_STREQ(StringText(-1), "");
}

TEST_F(CatalogueTest, LostConnectionAndUnknownTypesHaveNoInstrument) {
    for (uint32_t type : {0u, 12u, 0xFFFFFFFFu}) {
        SCOPED_TRACE(type);
        const InputReading reading = Reading(type, {{0, 1}, {3, 77}, {4, 77}});
        EXPECT_EQ(Name(type, true),
                  "Brak przyrz\xb9"
                  "du lub przyrz\xb9"
                  "d nieznany");
        EXPECT_EQ(Name(type, false), "KX???");
        EXPECT_EQ(InstrumentSerial(type, reading), INVALID_VALUE);
        EXPECT_EQ(InstrumentStatus(type, reading), 0);
        EXPECT_EQ(QuantityCount(reading), 0);
        char buffer[16] = "stale";
        EXPECT_EQ(QuantityStatusText(type, reading, 0, buffer, sizeof buffer, true), 0);
        EXPECT_STREQ(buffer, "");
    }
}

TEST_F(CatalogueTest, NamesAndTagsFollowTheType) {
    struct Row {
        uint32_t type;
        int nameId;
        const char* tag;
    };
    const Row rows[] = {{2, 62, "KX538S"}, {3, 13, "KX124"},  {4, 13, "KX124"}, {5, 15, "KX125"},
                        {6, 17, "KX129"},  {7, 19, "KX132"},  {8, 21, "KX153"}, {9, 42, "KX261"},
                        {10, 48, "KX262"}, {11, 57, "KX273"}, {1, 39, "KX305"}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.type);
        EXPECT_EQ(Name(row.type, true), StringText(row.nameId));
        EXPECT_EQ(Name(row.type, false), row.tag);
    }
}

TEST_F(CatalogueTest, RainGaugeIsNamedAndNumberedByItsSettings) {
    std::strcpy(rainGaugeSettings().name, "Deszczomierz na dachu");
    rainGaugeSettings().serial = 4711;
    EXPECT_EQ(Name(kTypeRainGauge, true), "Deszczomierz na dachu");
    EXPECT_EQ(Name(kTypeRainGauge, false), "KX305");
    EXPECT_EQ(InstrumentSerial(kTypeRainGauge, Reading(kTypeRainGauge, {{0, 99}})), 4711);
}

// Dialog 119 renames the rain gauge on the UI thread while the polling
// worker names it for the live display: the worker gets the old name or the
// new one, never a mixture of both.
TEST_F(CatalogueTest, RainGaugeNameIsReadWholeWhileItIsRenamed) {
    const std::string names[2] = {std::string(150, 'x'), "Deszczomierz na dachu"};
    SetRainGaugeName(names[0].c_str());
    std::atomic<bool> done{false};
    std::thread dialog([&] {
        for (int i = 1; i <= 20000; ++i) SetRainGaugeName(names[i % 2].c_str());
        done = true;
    });
    size_t reads = 0;
    size_t torn = 0;
    char buffer[200];
    while (!done || reads == 0) {
        InstrumentName(kTypeRainGauge, buffer, sizeof buffer, true);
        const std::string copy = RainGaugeName();
        torn += (buffer != names[0] && buffer != names[1]) + (copy != names[0] && copy != names[1]);
        ++reads;
    }
    dialog.join();
    EXPECT_EQ(torn, 0u) << "of " << reads;
    EXPECT_EQ(RainGaugeName(), names[0]);
}

TEST_F(CatalogueTest, NamesAreCutToTheBuffer) {
    char buffer[6];
    EXPECT_EQ(InstrumentName(kTypeRainGauge, buffer, sizeof buffer, true), 5u);
    EXPECT_STREQ(buffer, "Deszc");
    EXPECT_EQ(InstrumentName(kTypeKX153, buffer, sizeof buffer, true), 5u);
    EXPECT_STREQ(buffer, "Wiatr");
    EXPECT_EQ(InstrumentName(kTypeKX153, buffer, 0, true), 0u);
}

TEST_F(CatalogueTest, RainGaugeSettingsStartWithTheirDefaults) {
    rainGaugeSettings().calibration = 200;
    rainGaugeSettings().serial = 5;
    ResetRainGaugeSettings();
    EXPECT_STREQ(rainGaugeSettings().name, "Deszczomierz KX-305");
    EXPECT_EQ(rainGaugeSettings().serial.load(), 0u);
    EXPECT_EQ(rainGaugeSettings().calibration.load(), 1000);
}

TEST_F(CatalogueTest, SerialIsTheLow16BitsOfTheTypesSerialWord) {
    const std::pair<uint32_t, int> serialWords[] = {{2, 4}, {3, 3}, {4, 3}, {5, 3},  {6, 4},
                                                    {7, 4}, {8, 3}, {9, 4}, {10, 8}, {11, 3}};
    for (const auto& [type, word] : serialWords) {
        SCOPED_TRACE(type);
        InputReading reading = Reading(type);
        for (int32_t& w : reading.data) w = 0x1111;  // every other word a decoy
        reading.data[word] = 0x7ABCDEF5;
        EXPECT_EQ(InstrumentSerial(type, reading), 0xDEF5);
    }
}

TEST_F(CatalogueTest, QuantityCountsPerType) {
    const std::pair<uint32_t, int> counts[] = {{1, 1}, {2, 1}, {3, 2}, {4, 1},  {5, 9}, {6, 3},
                                               {7, 1}, {8, 2}, {9, 1}, {10, 1}, {11, 1}};
    for (const auto& [type, count] : counts) {
        SCOPED_TRACE(type);
        EXPECT_EQ(QuantityCount(Reading(type)), count);
    }
    // The KX-262 counts its second channel only when word 0 says it is fitted.
    EXPECT_EQ(QuantityCount(Reading(kTypeKX262, {{0, 1}})), 2);
}

TEST_F(CatalogueTest, QuantityNameIdsFollowTheUnitCodes) {
    auto nameId = [](const InputReading& r, int q) { return QuantityValue(r.type, r, q, nullptr, 0, true, false); };
    EXPECT_EQ(nameId(Reading(kTypeKX538S, {{3, 0}}), 0), 66);
    EXPECT_EQ(nameId(Reading(kTypeKX538S, {{3, 1}}), 0), 65);
    EXPECT_EQ(nameId(Reading(kTypeKX132, {{2, 0}}), 0), 47);
    EXPECT_EQ(nameId(Reading(kTypeKX132, {{2, -3}}), 0), 27);
    EXPECT_EQ(nameId(Reading(kTypeKX261, {{3, 0}}), 0), 45);
    EXPECT_EQ(nameId(Reading(kTypeKX261, {{3, 1}}), 0), 46);
    const int channel1Ids[] = {45, 46, 53};
    for (int code = 0; code < 3; ++code) {
        const InputReading reading = Reading(kTypeKX262, {{0, 1}, {5, code}, {6, code}});
        EXPECT_EQ(nameId(reading, 0), channel1Ids[code]);
        EXPECT_EQ(nameId(reading, 1), 54 + code);
    }
    const InputReading kx125 = Reading(kTypeKX125);
    EXPECT_EQ(nameId(kx125, 0), 25);
    EXPECT_EQ(nameId(kx125, 1), 30);
    EXPECT_EQ(nameId(kx125, 8), 37);
    EXPECT_EQ(nameId(kx125, 9), 0);
    EXPECT_EQ(nameId(Reading(kTypeKX153), 0), 29);
    EXPECT_EQ(nameId(Reading(kTypeKX153), 1), 28);
    EXPECT_EQ(nameId(Reading(kTypeKX129), 2), 27);
    EXPECT_EQ(nameId(Reading(kTypeRainGauge), 0), 40);
    EXPECT_EQ(nameId(Reading(kTypeKX273), 0), 61);
    EXPECT_EQ(nameId(Reading(kTypeKX124), -1), 0);
}

TEST_F(CatalogueTest, UnknownUnitCodeKeepsTheQuantityWithoutUnit) {
    // Three-bit unit codes of the KX-262 can carry 3 to 7.
    const InputReading kx262 = Reading(kTypeKX262, {{0, 1}, {5, 5}, {6, 7}, {9, 123}, {3, 1}, {10, 40}});
    char buffer[200];
    EXPECT_EQ(QuantityValue(kTypeKX262, kx262, 0, buffer, sizeof buffer, true, false), 44);
    EXPECT_STREQ(buffer, "12,3 ");
    EXPECT_EQ(QuantityValue(kTypeKX262, kx262, 1, buffer, sizeof buffer, true, false), 54);
    EXPECT_STREQ(buffer, "40 ");
    EXPECT_EQ(QuantityCount(kx262), 2);
    // Damaged one-bit codes of the KX-261 and KX-538S behave alike.
    const InputReading kx261 = Reading(kTypeKX261, {{3, 2}, {5, 9}});
    EXPECT_EQ(QuantityValue(kTypeKX261, kx261, 0, buffer, sizeof buffer, true, false), 44);
    EXPECT_STREQ(buffer, "9 ");
    const InputReading kx538 = Reading(kTypeKX538S, {{3, -1}, {5, 9}});
    EXPECT_EQ(QuantityValue(kTypeKX538S, kx538, 0, buffer, sizeof buffer, true, false), 64);
    EXPECT_STREQ(buffer, "9 ");
}

TEST_F(CatalogueTest, KX262WithOneChannelHasNoSecondQuantity) {
    const InputReading reading = Reading(kTypeKX262, {{0, 0}, {9, 850}, {10, 500}});
    char buffer[200] = "stale";
    EXPECT_EQ(QuantityValue(kTypeKX262, reading, 1, buffer, sizeof buffer, true, false), 0);
    EXPECT_EQ(Value(reading, 0), "850 W/m2");
}

TEST_F(CatalogueTest, KX262ChannelsTakeTheirOwnDecimalsAndUnits) {
    const InputReading reading = Reading(kTypeKX262, {{0, 1}, {3, 1}, {4, 0}, {5, 1}, {6, 2}, {9, 125}, {10, 1800}});
    EXPECT_EQ(Value(reading, 0), "12,5 kLx");
    EXPECT_EQ(Value(reading, 1), "1800 \xb5mol/sm2");
}

TEST_F(CatalogueTest, KX124TemperatureOnlyShowsTwoDecimalsWhenFlagged) {
    EXPECT_EQ(Value(Reading(kTypeKX124Temperature, {{0, 1}, {4, 2153}}), 0),
              "21,53 \xb0"
              "C");
    EXPECT_EQ(Value(Reading(kTypeKX124Temperature, {{0, -1}, {4, 2153}}), 0),
              "21,53 \xb0"
              "C");
    EXPECT_EQ(Value(Reading(kTypeKX124Temperature, {{0, 0}, {4, 215}}), 0),
              "21,5 \xb0"
              "C");
}

TEST_F(CatalogueTest, KX125AveragesThePresentChannels) {
    // Channels 2 and 5 present at 21,50 and 22,50 degrees, hundredths.
    const InputReading reading =
        Reading(kTypeKX125, {{2, 2}, {7, 1}, {10, 1}, {15, 2150}, {18, 2250}, {14, 999}, {16, 999}, {4, 1}, {5, 3000}});
    EXPECT_EQ(KX125Average(reading), 2200);
    EXPECT_EQ(Value(reading, 0),
              "22,00 \xb0"
              "C");
    EXPECT_EQ(Value(reading, 2),
              "21,50 \xb0"
              "C");
    EXPECT_EQ(Value(reading, 5),
              "22,50 \xb0"
              "C");
    for (int absent : {1, 3, 4, 6, 7, 8})
        EXPECT_EQ(Value(reading, absent),
                  "????? \xb0"
                  "C")
            << absent;
}

TEST_F(CatalogueTest, KX125ResolutionWordSelectsTenths) {
    const InputReading reading = Reading(kTypeKX125, {{2, 1}, {6, 1}, {14, 215}});
    EXPECT_EQ(Value(reading, 0),
              "21,5 \xb0"
              "C");
    EXPECT_EQ(Value(reading, 1),
              "21,5 \xb0"
              "C");
}

TEST_F(CatalogueTest, KX125AverageTruncatesTowardsZeroAndNeedsAChannel) {
    EXPECT_EQ(KX125Average(Reading(kTypeKX125, {{6, 1}, {7, 1}, {14, -5}, {15, -6}})), -5);
    EXPECT_EQ(KX125Average(Reading(kTypeKX125, {{6, 1}, {7, 1}, {14, 5}, {15, 6}})), 5);
    // Full-scale channels must not overflow the sum.
    EXPECT_EQ(KX125Average(Reading(kTypeKX125, {{6, 1}, {7, -1}, {14, 2000000000}, {15, 2000000000}})), 2000000000);
    const InputReading none = Reading(kTypeKX125, {{14, 2150}, {15, 2250}});
    EXPECT_EQ(KX125Average(none), INVALID_VALUE);
    EXPECT_EQ(Value(none, 0),
              "????? \xb0"
              "C");
}

TEST_F(CatalogueTest, RainIsImpulsesTimesCalibrationInTenths) {
    EXPECT_EQ(Value(Reading(kTypeRainGauge, {{0, 0}}), 0), "0,0 mm");
    rainGaugeSettings().calibration = 200;
    EXPECT_EQ(RainAmount(15), 30);
    EXPECT_EQ(Value(Reading(kTypeRainGauge, {{0, 15}}), 0), "3,0 mm");
}

TEST_F(CatalogueTest, RainProductWrapsAt32BitsBeforeTheDivision) {
    // 5 000 000 x 1000 = 5e9 = 2^32 + 705 032 704.
    EXPECT_EQ(RainAmount(5000000), 7050327);
    // The wrapped product is divided unsigned: 2^32 - 1000, not -1000.
    EXPECT_EQ(RainAmount(0xFFFFFFFFu), 42949662);
    EXPECT_EQ(Value(Reading(kTypeRainGauge, {{0, -1}}), 0), "4294966,2 mm");
}

TEST_F(CatalogueTest, ValuesWithLeadingBlankUnitsAndWithoutUnits) {
    const InputReading kx129 = Reading(kTypeKX129, {{5, 10132}, {6, 452}, {7, -15}});
    EXPECT_EQ(Value(kx129, 0),
              "-1,5 \xb0"
              "C");
    EXPECT_EQ(Value(kx129, 1), "45,2  %");
    EXPECT_EQ(Value(kx129, 2), "1013,2  hPa");
    EXPECT_EQ(Value(kx129, 2, false), "1013,2 ");
    EXPECT_EQ(Value(kx129, 2, true, true), "1013.2");
    EXPECT_EQ(Value(kx129, 0, false, true), "-1.5");
}

TEST_F(CatalogueTest, BarometerAndDistanceUnitsFollowTheirWords) {
    EXPECT_EQ(Value(Reading(kTypeKX132, {{0, 1}, {2, 1}, {5, 10132}}), 0), "1013,2 hPa");
    EXPECT_EQ(Value(Reading(kTypeKX132, {{0, 0}, {2, 0}, {5, 101320}}), 0), "101320 Pa");
    EXPECT_EQ(Value(Reading(kTypeKX538S, {{0, 1}, {3, 0}, {5, 125}}), 0), "12,5 m");
    EXPECT_EQ(Value(Reading(kTypeKX538S, {{0, 0}, {3, 1}, {5, 1250}}), 0), "1250 mm");
    EXPECT_EQ(Value(Reading(kTypeKX153, {{4, 270}, {5, 34}}), 1), "270 \xb0");
    EXPECT_EQ(Value(Reading(kTypeKX273, {{4, 1500}}), 0), "1500 Ohm");
}

// (type, words set to -1, expected status id): non-zero flags count as set,
// negative ones included, and the first matching rule wins.
struct StatusCase {
    uint32_t type;
    std::vector<int> setWords;
    int status;
};

TEST_F(CatalogueTest, StatusRulesApplyInOrder) {
    const StatusCase cases[] = {
        {1, {0, 1, 2, 3}, 1}, {2, {}, 1},      {2, {1, 2}, 5},       {2, {2}, 67},       {3, {}, 1},
        {3, {0, 1, 2}, 5},    {3, {1, 2}, 4},  {3, {1}, 3},          {3, {2}, 2},        {4, {}, 1},
        {4, {1, 2}, 5},       {4, {2}, 3},     {4, {0}, 1},          {5, {}, 1},         {5, {0, 1}, 5},
        {5, {1}, 3},          {6, {}, 1},      {6, {0, 1, 2, 3}, 5}, {6, {1, 2, 3}, 9},  {6, {2, 3}, 4},
        {6, {1, 2}, 8},       {6, {1, 3}, 7},  {6, {2}, 3},          {6, {3}, 2},        {6, {1}, 6},
        {7, {}, 1},           {7, {1, 3}, 5},  {7, {3}, 6},          {7, {0, 2}, 1},     {8, {}, 1},
        {8, {0, 1, 2}, 5},    {8, {1, 2}, 12}, {8, {2}, 11},         {8, {1}, 10},       {9, {}, 1},
        {9, {1, 2}, 5},       {9, {2}, 41},    {10, {}, 1},          {10, {7, 1, 2}, 5}, {10, {1, 2}, 50},
        {10, {1}, 51},        {10, {2}, 52},   {11, {}, 1},          {11, {0, 1, 2}, 5}, {11, {1, 2}, 59},
        {11, {2}, 60},
    };
    for (const StatusCase& c : cases) {
        InputReading reading = Reading(c.type);
        std::string words;
        for (int w : c.setWords) {
            reading.data[w] = -1;
            words += std::to_string(w) + " ";
        }
        EXPECT_EQ(InstrumentStatus(c.type, reading), c.status) << "type " << c.type << ", words set: " << words;
    }
}

TEST_F(CatalogueTest, InstrumentChangesWithTypeOrSerial) {
    const InputReading a = Reading(kTypeKX124, {{3, 1234}, {5, 215}});
    EXPECT_FALSE(InstrumentChanged(kTypeKX124, a, kTypeKX124, Reading(kTypeKX124, {{3, 1234}, {5, 300}, {0, 1}})));
    EXPECT_TRUE(InstrumentChanged(kTypeKX124, a, kTypeKX124, Reading(kTypeKX124, {{3, 1235}})));
    // Type 4 keeps its serial in the same word: still another instrument.
    EXPECT_TRUE(InstrumentChanged(kTypeKX124, a, kTypeKX124Temperature, Reading(kTypeKX124Temperature, {{3, 1234}})));
    // Only the low 16 bits are the serial number.
    EXPECT_FALSE(InstrumentChanged(kTypeKX124, a, kTypeKX124, Reading(kTypeKX124, {{3, 0x10000 + 1234}})));
    EXPECT_FALSE(InstrumentChanged(kTypeNone, Reading(0), kTypeNone, Reading(0, {{3, 5}})));
}

TEST_F(CatalogueTest, DdeDispatchFormatsAndReportsTheStatus) {
    const InputReading reading = Reading(kTypeKX124, {{1, 1}, {3, 77}, {4, 452}, {5, 215}});
    char buffer[200];
    EXPECT_EQ(QuantityStatusText(kTypeKX124, reading, 0, buffer, sizeof buffer, true), 3);
    EXPECT_STREQ(buffer,
                 "21,5 \xb0"
                 "C");
    EXPECT_EQ(QuantityStatusText(kTypeKX124, reading, 1, buffer, sizeof buffer, false), 3);
    EXPECT_STREQ(buffer, "45,2 ");
}

}  // namespace
}  // namespace kx305mon::test
