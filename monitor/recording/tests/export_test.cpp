#include "recording/export.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "instruments/catalogue.h"
#include "memory_file.h"
#include "recording/record_text.h"

namespace kx305mon {
namespace {

using testing::MemoryFile;

MemoryEntry Entry(int type, int status, int serial, int quantity, const char* value) {
    MemoryEntry entry{};
    entry.type = type;
    entry.status = status;
    entry.serial = serial;
    entry.quantity = quantity;
    std::strncpy(entry.value, value, kEntryValueLength);
    return entry;
}

CalendarTime ExampleTime() {
    CalendarTime time;
    time.year = 2007;
    time.month = 2;
    time.day = 19;
    time.hour = 15;
    time.minute = 16;
    time.second = 55;
    return time;
}

// Appends the record of the example registration file, as read back.
MemoryRecord& AddExampleRecord(RecordList& records) {
    return records.Add(ExampleTime(),
                       {Entry(1, 1, 1234, 40, "0.2"), Entry(3, 1, 5678, 25, "21.5"), Entry(3, 1, 5678, 26, "45.3")});
}

// Appends a KX-125 with the average (quantity 25) and eight channels.
MemoryRecord& AddKX125Record(RecordList& records) {
    std::vector<MemoryEntry> entries;
    entries.push_back(Entry(1, 1, 1234, 40, "0.2"));
    entries.push_back(Entry(5, 1, 900, 25, "22"));
    for (int channel = 1; channel <= 8; ++channel) {
        entries.push_back(Entry(5, 1, 900, 29 + channel, channel <= 2 ? "21.5" : "????? "));
    }
    return records.Add(ExampleTime(), entries.data(), entries.size());
}

std::string Contents(FileStream& file) {
    EXPECT_TRUE(file.SeekToStart());
    std::string text;
    char block[512];
    long got;
    while ((got = file.Read(block, sizeof block)) > 0) {
        text.append(block, static_cast<size_t>(got));
    }
    return text;
}

class ExportTest : public ::testing::Test {
protected:
    void SetUp() override {
        ResetRainGaugeSettings();
        polish_ = MakePolishLocale();
        AddExampleRecord(records_);
    }
    void TearDown() override { ResetRainGaugeSettings(); }

    ExportContext Context(uint32_t flags, bool average = true) {
        return MakeExportContext(flags, average, records_, *polish_);
    }

    // Exports into a temporary file, as the clipboard copy does.
    std::string Export(const ExportContext& context, int choice = kAllRecords) {
        ExportResult result = ExportRecords(context, "", choice);
        EXPECT_NE(result.file, nullptr);
        EXPECT_TRUE(result.written);
        return result.file ? Contents(*result.file) : std::string();
    }

    std::unique_ptr<NumberLocale> polish_;
    RecordList records_;
};

TEST_F(ExportTest, CsvExampleWithTheLocalesSeparators) {
    const std::string expected =
        "Data i Czas;KX305 Opad (mm);KX124 Temperatura (°C);KX124 Wilgotność (%);\r\n"
        "2007.02.19 15:16:55;0,2;21,5;45,3;\r\n";
    EXPECT_EQ(Export(Context(kExportListSeparator)), expected);
}

TEST_F(ExportTest, CsvExampleWithTabs) {
    const std::string expected =
        "Data i Czas\tKX305 Opad (mm)\tKX124 Temperatura (°C)\tKX124 Wilgotność (%)\t\r\n"
        "2007.02.19 15:16:55\t0,2\t21,5\t45,3\t\r\n";
    EXPECT_EQ(Export(Context(0)), expected);
}

TEST_F(ExportTest, DescriptiveExampleWithAllFields) {
    const std::string expected =
        "19.02.2007 15:16:55;\r\n"
        "Deszczomierz KX-305;1234;Opad;0.2;mm;Pomiar --> OK;\r\n"
        "Termohigrometr KX-124;5678;Temperatura;21.5;°C;Pomiar --> OK;\r\n"
        "Termohigrometr KX-124;5678;Wilgotność;45.3;%;Pomiar --> OK;\r\n"
        "\r\n";
    EXPECT_EQ(Export(Context(kDefaultExportFlags)), expected);

    std::string tabbed = expected;
    std::replace(tabbed.begin(), tabbed.end(), ';', '\t');
    EXPECT_EQ(Export(Context(kDefaultExportFlags & ~kExportListSeparator)), tabbed);
}

TEST_F(ExportTest, DescriptiveUsesTheRainGaugeNameAndMarksMissingSerials) {
    std::strcpy(rainGaugeSettings().name, "Deszczomierz na dachu");
    records_[0].entries[1].serial = INVALID_VALUE;
    const std::string text =
        Export(Context(kExportDescriptive | kExportListSeparator | kExportFieldName | kExportFieldSerial));
    EXPECT_EQ(text,
              "Deszczomierz na dachu;1234;\r\nTermohigrometr KX-124;?????;\r\nTermohigrometr KX-124;5678;\r\n\r\n");
}

TEST_F(ExportTest, DescriptiveWithOnlyTheResultField) {
    records_[0].entries[1] = Entry(3, 3, 5678, 25, "????? ");
    const std::string text = Export(Context(kExportDescriptive | kExportListSeparator | kExportFieldValue));
    EXPECT_EQ(text, "0.2;mm;\r\n;°C;\r\n45.3;%;\r\n\r\n");
}

TEST_F(ExportTest, InvalidValueGivesAnEmptyCsvCell) {
    records_[0].entries[1] = Entry(3, 3, 5678, 25, "????? ");
    const std::string text = Export(Context(kExportListSeparator));
    EXPECT_NE(text.find("\r\n2007.02.19 15:16:55;0,2;;45,3;\r\n"), std::string::npos) << text;
}

TEST_F(ExportTest, QuantityWithoutUnitKeepsTheBlankInItsTitle) {
    std::vector<MemoryEntry> entries(records_[0].entries.begin(), records_[0].entries.end());
    entries.push_back(Entry(9, 1, 42, 44, "812"));
    records_.clear();
    records_.Add(ExampleTime(), entries.data(), entries.size());
    const std::string text = Export(Context(kExportListSeparator));
    EXPECT_NE(text.find(";KX261 Natężenie ;\r\n"), std::string::npos) << text;
}

TEST_F(ExportTest, TitleLineWhereverTheColumnsChange) {
    records_.clear();
    for (int k = 0; k < 7; ++k) {
        MemoryRecord& record = AddExampleRecord(records_);
        record.time.minute = static_cast<uint16_t>(k);
        if (k >= 5) {  // the instrument on input 2 exchanged before record 6
            record.entries[1].serial = 6000;
            record.entries[2].serial = 6000;
        }
        if (k == 6) {
            record.entries[2].value[0] = '5';  // values never matter
        }
    }
    const std::string text = Export(Context(kExportListSeparator));
    std::vector<std::string> lines;
    for (size_t start = 0, end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2) {
        lines.push_back(text.substr(start, end - start));
    }
    ASSERT_EQ(lines.size(), 9u);
    for (size_t i : {0u, 6u}) {
        EXPECT_EQ(lines[i].rfind("Data i Czas;", 0), 0u) << i;
    }
    for (size_t i : {1u, 2u, 3u, 4u, 5u, 7u, 8u}) {
        EXPECT_EQ(lines[i].rfind("2007.02.19 15:0", 0), 0u) << i;
    }

    // A quantity changing its id (a unit switched) also changes the columns.
    records_[6].entries[0].quantity = 65;
    const std::string changed = Export(Context(kExportListSeparator));
    EXPECT_NE(changed.find("KX305 Odległość (mm)"), std::string::npos);
}

TEST_F(ExportTest, OnlyTheChosenRecordWithItsTitle) {
    AddExampleRecord(records_);
    records_[1].time.hour = 16;
    const std::string text = Export(Context(kExportListSeparator), 1);
    EXPECT_EQ(text.rfind("Data i Czas;", 0), 0u);
    EXPECT_EQ(text.find("15:16:55"), std::string::npos);
    EXPECT_NE(text.find("\r\n2007.02.19 16:16:55;"), std::string::npos);
    EXPECT_EQ(Export(Context(kExportListSeparator), 5), "");
}

TEST_F(ExportTest, KX125AverageFollowsTheOption) {
    records_.clear();
    AddKX125Record(records_);
    const std::string without = Export(Context(kExportListSeparator, false));
    EXPECT_EQ(without.find("KX125 Temperatura (°C)"), std::string::npos);
    EXPECT_NE(without.find("KX305 Opad (mm);KX125 Temperatura1 (°C);"), std::string::npos);
    EXPECT_NE(without.find(";KX125 Temperatura8 (°C);\r\n"), std::string::npos);
    EXPECT_NE(without.find("15:16:55;0,2;21,5;21,5;;;;;;;\r\n"), std::string::npos) << without;

    const std::string with = Export(Context(kExportListSeparator, true));
    EXPECT_NE(with.find("KX305 Opad (mm);KX125 Temperatura (°C);KX125 Temperatura1 (°C);"), std::string::npos);
    EXPECT_NE(with.find("15:16:55;0,2;22;21,5;21,5;;;;;;;\r\n"), std::string::npos) << with;

    const uint32_t descriptive = kExportDescriptive | kExportListSeparator | kExportFieldQuantity;
    const std::string lines = Export(Context(descriptive, false));
    EXPECT_EQ(lines,
              "Opad;\r\nTemperatura1;\r\nTemperatura2;\r\nTemperatura3;\r\nTemperatura4;\r\n"
              "Temperatura5;\r\nTemperatura6;\r\nTemperatura7;\r\nTemperatura8;\r\n\r\n");
    EXPECT_EQ(Export(Context(descriptive, true)).find("Opad;\r\nTemperatura;\r\nTemperatura1;"), 0u);
}

TEST_F(ExportTest, ExportsLeaveTheRecordListAsItWas) {
    const RecordList before = records_;
    Export(Context(kExportListSeparator));
    for (size_t i = 0; i < before[0].entries.size(); ++i) {
        EXPECT_STREQ(records_[0].entries[i].value, before[0].entries[i].value);
    }
    // A descriptive export after a CSV export with "," still shows the dot.
    const std::string text = Export(Context(kDefaultExportFlags));
    EXPECT_NE(text.find(";Temperatura;21.5;°C;"), std::string::npos) << text;
}

TEST_F(ExportTest, FileThatCannotBeCreatedGivesNoFile) {
    ExportResult result = ExportRecords(Context(kDefaultExportFlags), "/no/such/directory/Memory.csv", kAllRecords);
    EXPECT_EQ(result.file, nullptr);
    EXPECT_FALSE(result.written);
    std::vector<RainReportRow> rows;
    EXPECT_EQ(ExportRainReport(Context(0), "/no/such/directory/RainMeter.csv", rows).file, nullptr);
}

TEST_F(ExportTest, LargeExportsAreWrittenInWholeRecordsAndAFailedWriteEndsThem) {
    for (int k = 0; k < 3000; ++k) {
        (k % 2 == 0 ? AddKX125Record : AddExampleRecord)(records_);
    }
    for (const uint32_t flags : {kExportListSeparator, kDefaultExportFlags}) {
        const ExportContext context = Context(flags);
        const std::string whole = Export(context);
        ASSERT_GT(whole.size(), 200000u);

        MemoryFile good;
        EXPECT_TRUE(WriteRecords(context, good, kAllRecords));
        EXPECT_EQ(std::string(good.bytes.begin(), good.bytes.end()), whole);
        EXPECT_LE(good.writeCalls, static_cast<int>(whole.size() / 32768) + 1) << "batches, not lines";

        // A disk that fills up, and one whose second write fails: the
        // export ends at the failed write, whatever follows is not written.
        MemoryFile full;
        full.capacity = 100000;
        EXPECT_FALSE(WriteRecords(context, full, kAllRecords));
        EXPECT_EQ(std::string(full.bytes.begin(), full.bytes.end()), whole.substr(0, 100000));
        MemoryFile failing;
        failing.writesLeft = 1;
        EXPECT_FALSE(WriteRecords(context, failing, kAllRecords));
        EXPECT_EQ(failing.writeCalls, 2);
        // What was written is the export's head up to the start of a record
        // (in CSV, every record here follows a title line).
        const std::string kept(failing.bytes.begin(), failing.bytes.end());
        EXPECT_EQ(whole.compare(0, kept.size(), kept), 0);
        const std::string recordStart =
            (flags & kExportDescriptive) ? whole.substr(0, whole.find("\r\n") + 2) : "Data i Czas";
        EXPECT_EQ(whole.compare(kept.size(), recordStart.size(), recordStart), 0);
    }
}

TEST_F(ExportTest, RainReportHasATitleAndThreeFieldsPerRow) {
    std::vector<RainReportRow> rows = {{"2007-02-19 15:00:00", "2", 1}, {"2007-02-19 16:00:00", "0", 1}};
    ExportResult result = ExportRainReport(Context(kExportListSeparator | kExportDescriptive), "", rows);
    ASSERT_NE(result.file, nullptr);
    EXPECT_TRUE(result.written);
    EXPECT_EQ(Contents(*result.file),
              "Data i czas;Wynik [mm];Status\r\n"
              "2007-02-19 15:00:00;2;Pomiar --> OK\r\n"
              "2007-02-19 16:00:00;0;Pomiar --> OK\r\n");
    result = ExportRainReport(Context(0), "", rows);
    EXPECT_EQ(Contents(*result.file).substr(0, 31), "Data i czas\tWynik [mm]\tStatus\r\n");
}

TEST(NumericPart, KeepsTheNumberAndDropsWhatFollows) {
    EXPECT_EQ(NumericPart("21.5"), "21.5");
    EXPECT_EQ(NumericPart("-3,25"), "-3,25");
    EXPECT_EQ(NumericPart("5 mm"), "5");
    EXPECT_EQ(NumericPart("12 W/m2"), "12");
    EXPECT_EQ(NumericPart("????? "), "");
    EXPECT_EQ(NumericPart(""), "");
    EXPECT_EQ(NumericPart("7"), "7");
    EXPECT_EQ(NumericPart("-"), "");
    EXPECT_EQ(NumericPart("-5"), "-5");
    EXPECT_EQ(NumericPart("100"), "100");
}

TEST(RecordText, FixedShortAndLongTimes) {
    const auto polish = MakePolishLocale();
    CalendarTime time = ExampleTime();
    EXPECT_EQ(FormatRecordTime(time, RecordTimeStyle::Fixed, *polish), "2007.02.19 15:16:55");
    EXPECT_EQ(FormatRecordTime(time, RecordTimeStyle::Short, *polish), "19.02.2007 15:16:55");
    EXPECT_EQ(FormatRecordTime(time, RecordTimeStyle::Long, *polish),
              polish->FormatDate(time, DateStyle::Long) + " 15:16:55");
    const auto english = MakeEnglishLocale();
    EXPECT_EQ(FormatRecordTime(time, RecordTimeStyle::Fixed, *english), "2007.02.19 15:16:55");
    EXPECT_EQ(FormatRecordTime(time, RecordTimeStyle::Short, *english), "2/19/2007 3:16:55 PM");
}

TEST(RecordText, UnitsOfTheQuantityIds) {
    const struct {
        int id;
        const char* bare;
    } units[] = {{25, "°C"},  {30, "°C"}, {37, "°C"},       {26, "%"},        {27, "hPa"},  {28, "°"},
                 {29, "m/s"}, {40, "mm"}, {65, "mm"},       {45, "W/m2"},     {54, "W/m2"}, {46, "kLx"},
                 {55, "kLx"}, {47, "Pa"}, {53, "µmol/sm2"}, {56, "µmol/sm2"}, {61, "Ohm"},  {66, "m"},
                 {44, ""},    {64, ""},   {38, ""},         {1, ""},          {0, ""}};
    for (const auto& unit : units) {
        EXPECT_STREQ(UnitText(unit.id, UnitForm::Bare), unit.bare) << unit.id;
        const std::string parenthesised = unit.bare[0] ? std::string("(") + unit.bare + ")" : "";
        EXPECT_EQ(UnitText(unit.id, UnitForm::Parenthesised), parenthesised) << unit.id;
    }
}

}  // namespace
}  // namespace kx305mon
