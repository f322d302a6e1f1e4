#include "recording/rain_report.h"

#include <gtest/gtest.h>

#include <cstring>

namespace kx305mon {
namespace {

struct Rain {
    int year, month, day, hour, minute;
    const char* total;
    int status = 1;
};

// Appends a record with the rain gauge's total first and a temperature.
MemoryRecord& AddRainRecord(RecordList& records, const Rain& rain) {
    CalendarTime time;
    time.year = static_cast<uint16_t>(rain.year);
    time.month = static_cast<uint16_t>(rain.month);
    time.day = static_cast<uint16_t>(rain.day);
    time.hour = static_cast<uint16_t>(rain.hour);
    time.minute = static_cast<uint16_t>(rain.minute);
    MemoryEntry gauge{};
    gauge.type = 1;
    gauge.status = rain.status;
    gauge.serial = 1234;
    gauge.quantity = 40;
    std::strncpy(gauge.value, rain.total, kEntryValueLength);
    MemoryEntry temperature{3, 1, 5678, 25, "21.5"};
    return records.Add(time, {gauge, temperature});
}

RecordList RainRecords(std::initializer_list<Rain> rains) {
    RecordList records;
    for (const Rain& rain : rains) {
        AddRainRecord(records, rain);
    }
    return records;
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
        AddRainRecord(records, {2007, 2, 19, 14, i * 10, totals[i]});
    }
    for (int i = 0; i < 6; ++i) {
        AddRainRecord(records, {2007, 2, 19, 15, i * 10, i == 0 ? "12.5" : "12.7"});
    }
    AddRainRecord(records, {2007, 2, 19, 16, 0, "12.9"});
    ExpectRows(BuildRainReport(records, RainInterval::Hours),
               {{"2007-02-19 15:00:00", "2"}, {"2007-02-19 16:00:00", "0"}});
    // The same records by day: one open interval, no row.
    EXPECT_TRUE(BuildRainReport(records, RainInterval::Days).empty());
}

TEST(RainReport, OnlyClosedIntervalsGiveRows) {
    RecordList records = RainRecords({{2007, 2, 19, 14, 50, "1.0"}});
    EXPECT_TRUE(BuildRainReport(records, RainInterval::Hours).empty());
    AddRainRecord(records, {2007, 2, 19, 14, 59, "3.0"});
    EXPECT_TRUE(BuildRainReport(records, RainInterval::Hours).empty());
    AddRainRecord(records, {2007, 2, 19, 15, 5, "4.0"});
    ExpectRows(BuildRainReport(records, RainInterval::Hours), {{"2007-02-19 15:00:00", "3"}});
    EXPECT_TRUE(BuildRainReport({}, RainInterval::Hours).empty());
}

TEST(RainReport, CounterResetCountsTheNewTotal) {
    RecordList records = RainRecords({{2007, 2, 19, 0, 0, "30.0"}, {2007, 2, 20, 0, 0, "2.4"}});
    ExpectRows(BuildRainReport(records, RainInterval::Days), {{"2007-02-20 00:00:00", "2"}});
}

TEST(RainReport, MonthAndYearBoundaries) {
    RecordList days = RainRecords({{2007, 1, 31, 23, 50, "5.0"}, {2007, 2, 1, 0, 10, "7.5"}});
    ExpectRows(BuildRainReport(days, RainInterval::Days), {{"2007-02-01 00:00:00", "2"}});
    RecordList months = RainRecords({{2006, 12, 31, 23, 0, "5.0"}, {2007, 1, 1, 1, 0, "9.0"}});
    ExpectRows(BuildRainReport(months, RainInterval::Months), {{"2007-01-01 00:00:00", "4"}});
    // Same day of another month, same hour of another day: still new intervals.
    RecordList sameDay = RainRecords({{2007, 1, 5, 10, 0, "1"}, {2007, 2, 5, 10, 0, "2"}});
    ExpectRows(BuildRainReport(sameDay, RainInterval::Days), {{"2007-02-05 00:00:00", "1"}});
    ExpectRows(BuildRainReport(sameDay, RainInterval::Hours), {{"2007-02-05 10:00:00", "1"}});
    RecordList sameMonth = RainRecords({{2006, 3, 5, 10, 0, "1"}, {2007, 3, 5, 10, 0, "3"}});
    ExpectRows(BuildRainReport(sameMonth, RainInterval::Months), {{"2007-03-01 00:00:00", "2"}});
}

TEST(RainReport, GapOfDaysGivesOneRowWithTheWholeAmount) {
    RecordList records = RainRecords({{2007, 2, 10, 12, 0, "3.0"}, {2007, 2, 14, 6, 0, "17.8"}});
    ExpectRows(BuildRainReport(records, RainInterval::Days), {{"2007-02-14 00:00:00", "14"}});
}

TEST(RainReport, AmountsAreWholeMillimetres) {
    RecordList records = RainRecords({{2007, 2, 19, 14, 0, "0.9"}, {2007, 2, 19, 15, 0, "1.1"}});
    ExpectRows(BuildRainReport(records, RainInterval::Hours), {{"2007-02-19 15:00:00", "1"}});
}

TEST(RainReport, RecordsWithoutRainGaugeFirstAreIgnored) {
    RecordList records =
        RainRecords({{2007, 2, 19, 14, 0, "1.0"}, {2007, 2, 19, 15, 0, "50.0"}, {2007, 2, 19, 16, 0, "4.0"}});
    std::swap(records[1].entries[0], records[1].entries[1]);  // the rain gauge not first
    ExpectRows(BuildRainReport(records, RainInterval::Hours), {{"2007-02-19 16:00:00", "3"}});
}

TEST(RainReport, BadStatusKeepsTheIntervalOpen) {
    RecordList records =
        RainRecords({{2007, 2, 19, 14, 0, "1.0"}, {2007, 2, 19, 15, 0, "2.0", 5}, {2007, 2, 19, 16, 0, "4.0"}});
    ExpectRows(BuildRainReport(records, RainInterval::Hours), {{"2007-02-19 16:00:00", "3"}});
    EXPECT_EQ(RainStatusIcon(1), 1);
    EXPECT_EQ(RainStatusIcon(5), 0);
}

}  // namespace
}  // namespace kx305mon
