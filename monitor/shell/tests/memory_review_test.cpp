// What the memory viewer shows of a record: the rows of its list (with and
// without the KX-125 average), the caption line and the navigation.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "instruments/catalogue.h"
#include "recording/registration_file.h"
#include "shell/memory_review.h"
#include "time/calendar_time.h"

namespace kx305mon::testing {
namespace {

MemoryEntry Entry(int32_t type, int32_t status, int32_t serial, int32_t quantity, const char* value) {
    MemoryEntry entry{type, status, serial, quantity, {}};
    std::snprintf(entry.value, sizeof entry.value, "%s", value);
    return entry;
}

struct Row {
    int image;
    uint32_t itemData;
    std::vector<std::string> texts;
};

TEST(ViewerRows, OneRowPerEntryAndTheKX125AverageOnlyWhenAsked) {
    ResetRainGaugeSettings();
    RecordList list;
    const MemoryRecord& record =
        list.Add(MakeCalendarTime(2007, 2, 19, 15, 16, 55),
                 {Entry(kTypeRainGauge, kStrMeasurementOk, 1234, kStrRain, "0.2"),
                  Entry(kTypeKX125, kStrMeasurementOk, 77, kStrTemperature, "20.1"),
                  Entry(kTypeKX125, kStrMeasurementOk, 77, kStrTemperature1, "19.5"),
                  // An invalid value, a bad status and no serial.
                  Entry(kTypeKX124, kStrTemperatureError, INVALID_VALUE, kStrTemperature, "????? "),
                  // A quantity without unit keeps the blank after the value.
                  Entry(kTypeKX261, kStrMeasurementOk, 0x12345, kStrIntensity, "3")});
    const Row rain{kRowImageTick, 0x012804D2u, {"Deszczomierz KX-305", "1234", "Opad", "0.2 mm", "Pomiar --> OK"}};
    const Row average{kRowImageTick,
                      0x0519004Du,
                      {"Termometr KX-125", "77", "Temperatura",
                       "20.1 \xb0"
                       "C",
                       "Pomiar --> OK"}};
    const Row channel{kRowImageTick,
                      0x051E004Du,
                      {"Termometr KX-125", "77", "Temperatura1",
                       "19.5 \xb0"
                       "C",
                       "Pomiar --> OK"}};
    const Row invalid{kRowImageWarning,
                      0x0319FFFFu,
                      {"Termohigrometr KX-124", "?????", "Temperatura",
                       "?????  \xb0"
                       "C",
                       "B\xb3\xb9"
                       "d pomiaru temperatury"}};
    const Row noUnit{kRowImageTick,
                     0x092C2345u,
                     {"Miernik promieniowania KX-261", "74565",
                      "Nat\xea\xbf"
                      "enie",
                      "3 ", "Pomiar --> OK"}};
    struct Case {
        bool averageKX125;
        std::vector<Row> rows;
    };
    const Case cases[] = {
        {true, {rain, average, channel, invalid, noUnit}},
        {false, {rain, channel, invalid, noUnit}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.averageKX125 ? "KX125AV on" : "KX125AV off");
        const std::vector<ViewerRow> rows = ViewerRows(record, c.averageKX125);
        ASSERT_EQ(rows.size(), c.rows.size());
        for (size_t i = 0; i < rows.size(); ++i) {
            SCOPED_TRACE(i);
            EXPECT_EQ(rows[i].image, c.rows[i].image);
            EXPECT_EQ(rows[i].itemData, c.rows[i].itemData);
            EXPECT_EQ((std::vector<std::string>{rows[i].instrument, rows[i].serial, rows[i].quantity, rows[i].result,
                                                rows[i].status}),
                      c.rows[i].texts);
        }
    }
}

TEST(RecordCaption, NumberCountAndLongDateCutTo200Characters) {
    const std::unique_ptr<NumberLocale> polish = MakePolishLocale();
    const CalendarTime time = MakeCalendarTime(2007, 2, 19, 15, 16, 55);
    const std::string caption = RecordCaption(0, 1, time, *polish);
    EXPECT_EQ(caption,
              "Rekord 1/1 z dnia " + polish->FormatDate(time, DateStyle::Long) + " " + polish->FormatTime(time));
    EXPECT_EQ(caption.rfind("Rekord 1/1 z dnia 19 ", 0), 0u) << caption;
    EXPECT_LE(RecordCaption(2147483646, 2147483647, time, *polish).size(), kRecordCaptionLength);
}

TEST(StepRecord, TheEndsStayPut) {
    struct Case {
        ViewerStep step;
        int current, count, expected;
    };
    const Case cases[] = {
        {ViewerStep::First, 3, 5, 0},    {ViewerStep::Last, 1, 5, 4},     {ViewerStep::Previous, 3, 5, 2},
        {ViewerStep::Previous, 0, 5, 0}, {ViewerStep::Next, 3, 5, 4},     {ViewerStep::Next, 4, 5, 4},
        {ViewerStep::Next, 0, 1, 0},     {ViewerStep::Previous, 0, 1, 0}, {ViewerStep::Last, 0, 1, 0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(StepRecord(c.step, c.current, c.count), c.expected)
            << static_cast<int>(c.step) << " from " << c.current << " of " << c.count;
    }
}

}  // namespace
}  // namespace kx305mon::testing
