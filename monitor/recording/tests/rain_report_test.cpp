#include "recording/rain_report.h"

#include <gtest/gtest.h>

#include <cstring>

namespace kx305mon {
namespace {

MemoryRecord RainRecord(int year, int month, int day, int hour, int minute, const char* total, int status = 1) {
    MemoryRecord record;
    record.time.year = static_cast<uint16_t>(year);
    record.time.month = static_cast<uint16_t>(month);
    record.time.day = static_cast<uint16_t>(day);
    record.time.hour = static_cast<uint16_t>(hour);
    record.time.minute = static_cast<uint16_t>(minute);
    MemoryEntry rain{};
    rain.type = 1;
    rain.status = status;
    rain.serial = 1234;
    rain.quantity = 40;
    std::strncpy(rain.value, total, kEntryValueLength);
    record.entries.push_back(rain);
    MemoryEntry temperature{3, 1, 5678, 25, "21.5"};
    record.entries.push_back(temperature);
    return record;
}

struct Row {
    const char* label;
    const char* amount;
};

void ExpectRows(const std::vector<RainReportRow>& rows, std::initializer_list<Row> expected) {
    ASSERT_EQ(rows.size(), expected.size());
    size_t i = 0;
    for (const Row& row : expected) {
        EXPECT_EQ(rows[i].timeLabel, row.label) << i;
        EXPECT_EQ(rows[i].amount, row.amount) << i;
        EXPECT_EQ(rows[i].status, 1) << i;
        ++i;
    }
}

TEST(RainReport, HourlyTotalsEveryTenMinutes) {
    RecordList records;
    const char* totals[] = {"10.2", "10.4", "10.9", "11.3", "11.8", "12.1"};
    for (int i = 0; i < 6; ++i) {
        records.push_back(RainRecord(2007, 2, 19, 14, i * 10, totals[i]));
    }
    for (int i = 0; i < 6; ++i) {
        records.push_back(RainRecord(2007, 2, 19, 15, i * 10, i == 0 ? "12.5" : "12.7"));
    }
    records.push_back(RainRecord(2007, 2, 19, 16, 0, "12.9"));
    ExpectRows(BuildRainReport(records, RainInterval::Hours),
               {{"2007-02-19 15:00:00", "2"}, {"2007-02-19 16:00:00", "0"}});
    // The same records by day: one open interval, no row.
    EXPECT_TRUE(BuildRainReport(records, RainInterval::Days).empty());
}

TEST(RainReport, OnlyClosedIntervalsGiveRows) {
    RecordList records = {RainRecord(2007, 2, 19, 14, 50, "1.0")};
    EXPECT_TRUE(BuildRainReport(records, RainInterval::Hours).empty());
    records.push_back(RainRecord(2007, 2, 19, 14, 59, "3.0"));
    EXPECT_TRUE(BuildRainReport(records, RainInterval::Hours).empty());
    records.push_back(RainRecord(2007, 2, 19, 15, 5, "4.0"));
    ExpectRows(BuildRainReport(records, RainInterval::Hours), {{"2007-02-19 15:00:00", "3"}});
    EXPECT_TRUE(BuildRainReport({}, RainInterval::Hours).empty());
}

TEST(RainReport, CounterResetCountsTheNewTotal) {
    RecordList records = {RainRecord(2007, 2, 19, 0, 0, "30.0"), RainRecord(2007, 2, 20, 0, 0, "2.4")};
    ExpectRows(BuildRainReport(records, RainInterval::Days), {{"2007-02-20 00:00:00", "2"}});
}

TEST(RainReport, MonthAndYearBoundaries) {
    RecordList days = {RainRecord(2007, 1, 31, 23, 50, "5.0"), RainRecord(2007, 2, 1, 0, 10, "7.5")};
    ExpectRows(BuildRainReport(days, RainInterval::Days), {{"2007-02-01 00:00:00", "2"}});
    RecordList months = {RainRecord(2006, 12, 31, 23, 0, "5.0"), RainRecord(2007, 1, 1, 1, 0, "9.0")};
    ExpectRows(BuildRainReport(months, RainInterval::Months), {{"2007-01-01 00:00:00", "4"}});
    // Same day of another month, same hour of another day: still new intervals.
    RecordList sameDay = {RainRecord(2007, 1, 5, 10, 0, "1"), RainRecord(2007, 2, 5, 10, 0, "2")};
    ExpectRows(BuildRainReport(sameDay, RainInterval::Days), {{"2007-02-05 00:00:00", "1"}});
    ExpectRows(BuildRainReport(sameDay, RainInterval::Hours), {{"2007-02-05 10:00:00", "1"}});
    RecordList sameMonth = {RainRecord(2006, 3, 5, 10, 0, "1"), RainRecord(2007, 3, 5, 10, 0, "3")};
    ExpectRows(BuildRainReport(sameMonth, RainInterval::Months), {{"2007-03-01 00:00:00", "2"}});
}

TEST(RainReport, GapOfDaysGivesOneRowWithTheWholeAmount) {
    RecordList records = {RainRecord(2007, 2, 10, 12, 0, "3.0"), RainRecord(2007, 2, 14, 6, 0, "17.8")};
    ExpectRows(BuildRainReport(records, RainInterval::Days), {{"2007-02-14 00:00:00", "14"}});
}

TEST(RainReport, AmountsAreWholeMillimetres) {
    RecordList records = {RainRecord(2007, 2, 19, 14, 0, "0.9"), RainRecord(2007, 2, 19, 15, 0, "1.1")};
    ExpectRows(BuildRainReport(records, RainInterval::Hours), {{"2007-02-19 15:00:00", "1"}});
}

TEST(RainReport, RecordsWithoutRainGaugeFirstAreIgnored) {
    MemoryRecord foreign = RainRecord(2007, 2, 19, 15, 0, "50.0");
    std::swap(foreign.entries[0], foreign.entries[1]);
    RecordList records = {RainRecord(2007, 2, 19, 14, 0, "1.0"), foreign, RainRecord(2007, 2, 19, 16, 0, "4.0")};
    ExpectRows(BuildRainReport(records, RainInterval::Hours), {{"2007-02-19 16:00:00", "3"}});
}

TEST(RainReport, BadStatusKeepsTheIntervalOpen) {
    RecordList records = {RainRecord(2007, 2, 19, 14, 0, "1.0"), RainRecord(2007, 2, 19, 15, 0, "2.0", 5),
                          RainRecord(2007, 2, 19, 16, 0, "4.0")};
    ExpectRows(BuildRainReport(records, RainInterval::Hours), {{"2007-02-19 16:00:00", "3"}});
    EXPECT_EQ(RainStatusIcon(1), 1);
    EXPECT_EQ(RainStatusIcon(5), 0);
}

}  // namespace
}  // namespace kx305mon
