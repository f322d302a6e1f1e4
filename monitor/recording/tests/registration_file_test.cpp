#include "recording/registration_file.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "instruments/catalogue.h"
#include "memory_file.h"
#include "test_environment.h"
#include "time_builders.h"

namespace kx305mon {
namespace {

using testing::MemoryFile;
using testing::UseTimeZone;

constexpr char kPlainUtcPlusOne[] = "UTC-1";
constexpr char kCentralEurope[] = "CET-1CEST,M3.5.0,M10.5.0/3";
constexpr char kZoneNotSettable[] = "the time zone of this platform cannot be set by the test";

// The example record: rain 0.2 mm on input 0 (gauge serial 1234), a KX-124
// with 21.5 °C and 45.3 % on input 1, nothing on inputs 2 to 4.
LogRecord ExampleRecord() {
    LogRecord record{};
    record.year = 2007;
    record.month = 2;
    record.day = 19;
    record.hour = 14;
    record.minute = 16;
    record.second = 55;
    record.results[0].type = kTypeRainGauge;
    record.results[0].data[0] = 1;  // one impulse of 0.2 mm
    record.results[1].type = kTypeKX124;
    record.results[1].data[3] = 5678;
    record.results[1].data[4] = 453;
    record.results[1].data[5] = 215;
    return record;
}

// The example record at another UTC time.
LogRecord ExampleAt(int year, int month, int day, int hour, int minute, int second) {
    return testing::RecordAt(year, month, day, hour, minute, second, ExampleRecord());
}

std::vector<uint8_t> Negated(const std::string& text) {
    std::vector<uint8_t> bytes;
    for (char c : text) {
        bytes.push_back(static_cast<uint8_t>(0u - static_cast<uint8_t>(c)));
    }
    return bytes;
}

// The stored form of a record text: negated bytes and the check trailer.
// Written independently of the writer so that it can build damaged and
// unusual records the writer never makes.
std::vector<uint8_t> Stored(const std::string& plain) {
    int32_t sum = 0;
    for (char c : plain) {
        sum += static_cast<int8_t>(c);
    }
    std::string text = plain + '@';
    text += static_cast<char>(sum % 253 + 1);
    text += static_cast<char>(sum % 251 + 1);
    return Negated(text);
}

std::vector<uint8_t> operator+(std::vector<uint8_t> a, const std::vector<uint8_t>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

std::string PlainText(const std::vector<uint8_t>& stored) {
    std::string text;
    for (uint8_t b : stored) {
        text += static_cast<char>(0u - b);
    }
    return text;
}

class RegistrationFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        ResetRainGaugeSettings();
        rainGaugeSettings().serial = 1234;
        rainGaugeSettings().calibration = 200;
    }
    void TearDown() override { ResetRainGaugeSettings(); }

    std::string StampOf(const LogRecord& record) {
        MemoryFile file;
        EXPECT_TRUE(WriteRegistrationRecord(file, record));
        return PlainText(file.bytes).substr(0, 14);
    }
};

// --- Writing ---------------------------------------------------------------

TEST_F(RegistrationFileTest, ExampleRecordIsStoredByteForByte) {
    if (!UseTimeZone(kPlainUtcPlusOne)) {
        GTEST_SKIP() << kZoneNotSettable;
    }
    MemoryFile file;
    ASSERT_TRUE(WriteRegistrationRecord(file, ExampleRecord()));

    const std::string plain = "20070219151655$1,1234,40,0.2,1$3,5678,25,21.5,1$3,5678,26,45.3,1$";
    std::vector<uint8_t> expected;
    for (char c : plain) {
        expected.push_back(static_cast<uint8_t>(0x100 - static_cast<uint8_t>(c)));
    }
    expected.insert(expected.end(), {0xC0, 0x74, 0x5C});  // "@", 140, 164 negated
    ASSERT_EQ(file.bytes.size(), 68u);
    EXPECT_EQ(file.bytes, expected);
    const std::string encoded = EncodeRegistrationRecord(ExampleRecord());
    EXPECT_EQ(std::vector<uint8_t>(encoded.begin(), encoded.end()), expected);
    const std::vector<uint8_t> head = {0xCE, 0xD0, 0xD0, 0xC9, 0xD0, 0xCE, 0xCF, 0xC7, 0xCF,
                                       0xCB, 0xCF, 0xCA, 0xCB, 0xCB, 0xDC, 0xCF, 0xD4};
    EXPECT_TRUE(std::equal(head.begin(), head.end(), file.bytes.begin()));
}

TEST_F(RegistrationFileTest, SummerTimeStampIsTwoHoursAfterUtc) {
    if (!UseTimeZone(kCentralEurope)) {
        GTEST_SKIP() << kZoneNotSettable;
    }
    EXPECT_EQ(StampOf(ExampleAt(2007, 7, 10, 12, 0, 0)), "20070710140000");
    EXPECT_EQ(StampOf(ExampleAt(2007, 1, 10, 12, 0, 0)), "20070110130000");  // winter: one hour
}

TEST_F(RegistrationFileTest, LastHalfHourOfTheYearMovesIntoTheNextYear) {
    if (!UseTimeZone(kPlainUtcPlusOne)) {
        GTEST_SKIP() << kZoneNotSettable;
    }
    EXPECT_EQ(StampOf(ExampleAt(2006, 12, 31, 23, 30, 0)), "20070101003000");
}

// A time stamp no local time has (a damaged stamp, a record frame too short
// for its time bytes) is stored as it came, each field held to its digits,
// and read back so; encoding gives the bytes the writer stores.
TEST_F(RegistrationFileTest, ImpossibleTimeIsStoredAsItCameAndReadBack) {
    if (!UseTimeZone(kPlainUtcPlusOne)) {
        GTEST_SKIP() << kZoneNotSettable;
    }
    const struct {
        int year, month, day, hour, minute, second;
        const char* stamp;
    } cases[] = {
        {2007, 0, 1, 0, 0, 0, "20070001000000"},          {2007, 0, 0, 0, 0, 0, "20070000000000"},
        {2007, 13, 1, 0, 0, 0, "20071301000000"},         {2007, 4, 31, 0, 0, 0, "20070431000000"},
        {2007, 2, 30, 0, 0, 0, "20070230000000"},         {2007, 1, 32, 5, 6, 7, "20070132050607"},
        {2007, 2, 19, 24, 0, 0, "20070219240000"},        {2007, 2, 19, 12, 60, 0, "20070219126000"},
        {2007, 2, 19, 12, 0, 60, "20070219120060"},       {1969, 12, 31, 23, 0, 0, "19691231230000"},
        {2007, 165, 255, 200, 99, 100, "20079999999999"}, {65535, 1, 1, 0, 0, 0, "99990101000000"},
        {9999, 12, 31, 23, 30, 0, "99991231233000"},  // a local year of five digits
    };
    for (const auto& t : cases) {
        SCOPED_TRACE(t.stamp);
        const LogRecord record = ExampleAt(t.year, t.month, t.day, t.hour, t.minute, t.second);
        MemoryFile file;
        ASSERT_TRUE(WriteRegistrationRecord(file, record));
        EXPECT_EQ(PlainText(file.bytes).substr(0, 15), std::string(t.stamp) + "$");
        const std::string encoded = EncodeRegistrationRecord(record);
        EXPECT_EQ(std::vector<uint8_t>(encoded.begin(), encoded.end()), file.bytes);

        RecordList records;
        ASSERT_EQ(ReadRegistrationFile(&file, records), 1);
        const CalendarTime& read = records[0].time;
        const std::string digits =
            std::to_string(read.year * 10000000000LL + read.month * 100000000LL + read.day * 1000000LL +
                           read.hour * 10000 + read.minute * 100 + read.second);
        EXPECT_EQ(std::string(14 - digits.size(), '0') + digits, t.stamp);
        EXPECT_EQ(records[0].entries.size(), 3u);
    }
}

// Times past 2038-01-19 03:14:07 UTC get their local stamp like any other,
// summer time and the Gregorian calendar included.
TEST_F(RegistrationFileTest, TimesPast2038GetTheirLocalStamp) {
    if (!UseTimeZone(kCentralEurope)) {
        GTEST_SKIP() << kZoneNotSettable;
    }
    EXPECT_EQ(StampOf(ExampleAt(2038, 1, 19, 3, 14, 8)), "20380119041408");
    EXPECT_EQ(StampOf(ExampleAt(2040, 7, 1, 12, 0, 0)), "20400701140000");
    EXPECT_EQ(StampOf(ExampleAt(2099, 12, 31, 23, 30, 0)), "21000101003000");
    EXPECT_EQ(StampOf(ExampleAt(2100, 2, 29, 10, 0, 0)), "21000301110000");  // 2100 has no 29 February
}

TEST_F(RegistrationFileTest, TwentyNinthFebruaryOfACommonYearIsFirstMarch) {
    if (!UseTimeZone(kPlainUtcPlusOne)) {
        GTEST_SKIP() << kZoneNotSettable;
    }
    EXPECT_EQ(StampOf(ExampleAt(2007, 2, 29, 10, 16, 55)), "20070301111655");
}

TEST_F(RegistrationFileTest, FailingWritesStillAttemptTheWholeRecord) {
    MemoryFile file;
    file.failWrites = true;
    EXPECT_FALSE(WriteRegistrationRecord(file, ExampleRecord()));
    EXPECT_EQ(file.writeCalls, 5);  // stamp, three lines, trailer
}

TEST_F(RegistrationFileTest, InvalidValueAndMissingSerialAreStoredAsText) {
    if (!UseTimeZone(kPlainUtcPlusOne)) {
        GTEST_SKIP() << kZoneNotSettable;
    }
    LogRecord record = ExampleRecord();
    record.results[1].data[1] = 1;  // temperature error: status 3
    record.results[1].data[5] = INVALID_VALUE;
    record.results[2].type = 99;  // unknown instruments give no line
    MemoryFile file;
    ASSERT_TRUE(WriteRegistrationRecord(file, record));
    const std::string plain = PlainText(file.bytes);
    EXPECT_EQ(plain.substr(0, plain.size() - 3), "20070219151655$1,1234,40,0.2,1$3,5678,25,????? ,3$3,5678,26,45.3,3$");

    RecordList records;
    ASSERT_EQ(ReadRegistrationFile(&file, records), 1);
    EXPECT_STREQ(records[0].entries[1].value, "????? ");
    EXPECT_EQ(records[0].entries[1].status, 3);
}

// --- Reading ---------------------------------------------------------------

TEST_F(RegistrationFileTest, ExampleBytesReadAsOneRecordWithThreeEntries) {
    const std::string plain = "20070219151655$1,1234,40,0.2,1$3,5678,25,21.5,1$3,5678,26,45.3,1$";
    MemoryFile file(Stored(plain));
    ASSERT_EQ(file.bytes.size(), 68u);
    RecordList records;
    ASSERT_EQ(ReadRegistrationFile(&file, records), 1);
    const MemoryRecord& r = records[0];
    EXPECT_EQ(r.time.year, 2007);
    EXPECT_EQ(r.time.month, 2);
    EXPECT_EQ(r.time.day, 19);
    EXPECT_EQ(r.time.hour, 15);
    EXPECT_EQ(r.time.minute, 16);
    EXPECT_EQ(r.time.second, 55);
    EXPECT_EQ(r.time.dayOfWeek, 0);
    EXPECT_EQ(r.time.milliseconds, 0);
    ASSERT_EQ(r.entries.size(), 3u);
    const struct {
        int type, status, serial, quantity;
        const char* value;
    } expected[] = {{1, 1, 1234, 40, "0.2"}, {3, 1, 5678, 25, "21.5"}, {3, 1, 5678, 26, "45.3"}};
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(r.entries[i].type, expected[i].type);
        EXPECT_EQ(r.entries[i].status, expected[i].status);
        EXPECT_EQ(r.entries[i].serial, expected[i].serial);
        EXPECT_EQ(r.entries[i].quantity, expected[i].quantity);
        EXPECT_STREQ(r.entries[i].value, expected[i].value);
    }
}

TEST_F(RegistrationFileTest, WrittenRecordsReadBackInOrder) {
    MemoryFile file;
    LogRecord record = ExampleRecord();
    record.results[2].type = kTypeKX125;  // nine lines, channels absent
    record.results[2].data[3] = 77;
    for (int minute = 0; minute < 5; ++minute) {
        record.minute = static_cast<uint8_t>(minute);
        ASSERT_TRUE(WriteRegistrationRecord(file, record));
    }
    RecordList records;
    ASSERT_EQ(ReadRegistrationFile(&file, records), 5);
    for (int k = 0; k < 5; ++k) {
        EXPECT_EQ(records[k].time.minute, k);
        ASSERT_EQ(records[k].entries.size(), 12u);
        EXPECT_EQ(records[k].entries[3].type, static_cast<int32_t>(kTypeKX125));
        EXPECT_EQ(records[k].entries[3].serial, 77);
        EXPECT_EQ(records[k].entries[3].quantity, 25);
        EXPECT_EQ(records[k].entries[11].quantity, 37);
    }
}

TEST_F(RegistrationFileTest, EmptyAndShortFilesGiveNoRecords) {
    RecordList records;
    MemoryFile empty;
    EXPECT_EQ(ReadRegistrationFile(&empty, records), 0);
    EXPECT_EQ(ReadRegistrationFile(nullptr, records), 0);

    // A complete, correctly summed record of 23 bytes: too short to be
    // looked at when nothing follows it.
    const std::vector<uint8_t> tiny = Stored("20070219151655$,,,,$");
    ASSERT_EQ(tiny.size(), 23u);
    MemoryFile shortFile(tiny);
    EXPECT_EQ(ReadRegistrationFile(&shortFile, records), 0);

    const std::vector<uint8_t> example = Stored("20070219151655$1,1234,40,0.2,1$");
    MemoryFile cut(std::vector<uint8_t>(example.begin(), example.begin() + 26));
    EXPECT_EQ(ReadRegistrationFile(&cut, records), 0);
    MemoryFile cutTrailer(std::vector<uint8_t>(example.begin(), example.end() - 1));
    EXPECT_EQ(ReadRegistrationFile(&cutTrailer, records), 0);
}

TEST_F(RegistrationFileTest, OneDamagedByteLosesOnlyItsRecord) {
    const std::vector<uint8_t> a = Stored("20070219151655$1,1234,40,0.2,1$");
    const std::vector<uint8_t> b = Stored("20070219152655$1,1234,40,0.4,1$3,5678,25,21.5,1$");
    const std::vector<uint8_t> c = Stored("20070219153655$1,1234,40,0.6,1$");
    const std::vector<uint8_t> whole = a + b + c;
    // A digit of the stamp and a digit of a value of the middle record.
    for (size_t offset : {a.size() + 3, a.size() + 27}) {
        MemoryFile file(whole);
        const char digit = static_cast<char>(0u - file.bytes[offset]);
        ASSERT_TRUE(digit >= '0' && digit < '9');
        file.bytes[offset] = static_cast<uint8_t>(file.bytes[offset] - 1);  // another digit
        RecordList records;
        ASSERT_EQ(ReadRegistrationFile(&file, records), 2) << offset;
        EXPECT_STREQ(records[0].entries[0].value, "0.2");
        EXPECT_STREQ(records[1].entries[0].value, "0.6");
    }
}

TEST_F(RegistrationFileTest, ConcatenatedFilesReadAsAllTheirRecords) {
    MemoryFile first;
    MemoryFile second;
    LogRecord record = ExampleRecord();
    for (int k = 0; k < 3; ++k) {
        record.second = static_cast<uint8_t>(k);
        WriteRegistrationRecord(first, record);
    }
    record.hour = 20;
    WriteRegistrationRecord(second, record);
    MemoryFile both(first.bytes + second.bytes);
    RecordList records;
    ASSERT_EQ(ReadRegistrationFile(&both, records), 4);
    EXPECT_EQ(records[2].time.second, 2);
    EXPECT_EQ(records[3].time.hour, records[0].time.hour + 6);
}

TEST_F(RegistrationFileTest, LongValueIsCutToFourteenCharacters) {
    MemoryFile file(Stored("20070219151655$3,5678,25,12345678901234567890,1$"));
    RecordList records;
    ASSERT_EQ(ReadRegistrationFile(&file, records), 1);
    EXPECT_STREQ(records[0].entries[0].value, "12345678901234");
    EXPECT_EQ(records[0].entries[0].status, 1);
}

TEST_F(RegistrationFileTest, NumbersAreTakenAsTheCLibraryDoes) {
    MemoryFile file(Stored("20070219151655$  7x,-12,+40junk,v,,$"));
    RecordList records;
    ASSERT_EQ(ReadRegistrationFile(&file, records), 1);
    const MemoryEntry& e = records[0].entries[0];
    EXPECT_EQ(e.type, 7);
    EXPECT_EQ(e.serial, -12);
    EXPECT_EQ(e.quantity, 40);
    EXPECT_STREQ(e.value, "v");
    EXPECT_EQ(e.status, 0);  // "," is part of the last field, no digits
}

TEST_F(RegistrationFileTest, AtMostFortyLinesPerRecord) {
    std::string forty = "20070219151655$";
    for (int i = 0; i < 40; ++i) {
        forty += "5,1,30,1.5,1$";
    }
    MemoryFile accepted(Stored(forty) + Stored("20070219151755$1,1,40,0.1,1$"));
    RecordList records;
    ASSERT_EQ(ReadRegistrationFile(&accepted, records), 2);
    EXPECT_EQ(records[0].entries.size(), 40u);

    MemoryFile rejected(Stored(forty + "5,1,30,1.5,1$") + Stored("20070219151755$1,1,40,0.1,1$"));
    ASSERT_EQ(ReadRegistrationFile(&rejected, records), 1);
    EXPECT_EQ(records[0].time.minute, 17);
}

TEST_F(RegistrationFileTest, RecordWithoutLinesDoesNotSwallowTheNext) {
    if (!UseTimeZone(kPlainUtcPlusOne)) {
        GTEST_SKIP() << kZoneNotSettable;
    }
    LogRecord empty = ExampleRecord();
    for (InputReading& input : empty.results) {
        input.type = kTypeNone;
    }
    MemoryFile file;
    ASSERT_TRUE(WriteRegistrationRecord(file, empty));
    EXPECT_EQ(file.bytes.size(), 18u);  // stamp, "$" and trailer
    ASSERT_TRUE(WriteRegistrationRecord(file, ExampleRecord()));
    RecordList records;
    ASSERT_EQ(ReadRegistrationFile(&file, records), 1);
    EXPECT_EQ(records[0].entries.size(), 3u);
}

TEST_F(RegistrationFileTest, ForeignDataBetweenRecordsIsSkipped) {
    const std::vector<uint8_t> good = Stored("20070219151655$1,1234,40,0.2,1$");
    // A serial field far longer than the reading window, and a trailer
    // that does not match.
    const std::string damaged = "20070219151655$1," + std::string(50000, '7') + ",1,x,1$@xx";
    MemoryFile file(good + Negated(damaged) + good + Negated("some foreign text@xy") + good);
    RecordList records;
    EXPECT_EQ(ReadRegistrationFile(&file, records), 3);
}

// A record cut at any place (a write that failed on a full disk) and the
// whole records appended after it: every whole one is read, also when the
// damage is read in small pieces.
TEST_F(RegistrationFileTest, WholeRecordsAfterATornOneAreAllRead) {
    std::vector<uint8_t> torn;
    std::vector<uint8_t> after;
    LogRecord record = ExampleRecord();
    record.results[2].type = kTypeKX125;
    record.results[2].data[3] = 77;
    {
        MemoryFile a;
        WriteRegistrationRecord(a, record);
        torn = a.bytes;
        MemoryFile b;
        for (int minute = 30; minute < 33; ++minute) {
            record.minute = static_cast<uint8_t>(minute);
            WriteRegistrationRecord(b, record);
        }
        after = b.bytes;
    }
    for (size_t cut = 1; cut < torn.size(); ++cut) {
        for (size_t maxRead : {size_t{2000}, size_t{7}}) {
            MemoryFile file(torn + std::vector<uint8_t>(torn.begin(), torn.begin() + cut) + after);
            file.maxRead = maxRead;
            RecordList records;
            ASSERT_EQ(ReadRegistrationFile(&file, records), 4) << "cut at " << cut << ", reads of " << maxRead;
            EXPECT_EQ(records[1].time.minute, 30);
            EXPECT_EQ(records[3].time.minute, 32);
        }
    }
}

// Foreign bytes before the first record, of any length and content (digits
// and "$" too, which look like the start of a record): every record is read.
TEST_F(RegistrationFileTest, GarbageAtTheHeadLosesNoRecord) {
    std::vector<uint8_t> records;
    for (int k = 0; k < 77; ++k) {
        records = records + Stored("200702191516" + std::to_string(10 + k) + "$3," + std::to_string(k) + ",25,1.5,1$");
    }
    const std::string kinds[] = {"x", "12345", "2007021915165", "20070219151655", "2007$12,3,4$", "@", "@@1", "$$$"};
    uint32_t seed = 7;
    for (const std::string& kind : kinds) {
        for (size_t length : {size_t{1}, size_t{13}, size_t{14}, size_t{15}, size_t{40}, size_t{3000}}) {
            std::string garbage;
            while (garbage.size() < length) {
                garbage += kind;
                seed = seed * 1103515245u + 12345u;
                if (seed % 5 == 0) garbage += static_cast<char>(seed >> 24);
            }
            garbage.resize(length);
            MemoryFile file(Negated(garbage) + records);
            RecordList list;
            ASSERT_EQ(ReadRegistrationFile(&file, list), 77) << kind << " x " << length;
            EXPECT_EQ(list[0].entries[0].serial, 0);
        }
    }
}

TEST_F(RegistrationFileTest, RecordsAcrossManyBlocksAreAllRead) {
    // Records of varying length put every block boundary at another place
    // of a record.
    std::vector<uint8_t> bytes;
    for (int k = 0; k < 700; ++k) {
        std::string text = "20070219151655$";
        for (int line = 0; line <= k % 7; ++line) {
            text += "3," + std::to_string(k) + ",25," + std::to_string(line) + ".5,1$";
        }
        bytes = bytes + Stored(text);
    }
    MemoryFile file(bytes);
    RecordList records;
    ASSERT_EQ(ReadRegistrationFile(&file, records), 700);
    for (int k = 0; k < 700; ++k) {
        ASSERT_EQ(records[k].entries.size(), static_cast<size_t>(k % 7 + 1));
        ASSERT_EQ(records[k].entries.back().serial, k);
    }
    EXPECT_GT(file.readCalls, static_cast<int>(bytes.size() / 2000));
}

TEST_F(RegistrationFileTest, ShortReadsGiveTheSameRecords) {
    // Lines the writer makes and lines only a damaged or foreign file has
    // (blanks, signs, long fields), split at every possible place.
    std::vector<uint8_t> bytes = Stored("20070219151655$1,1234,40,0.2,1$3,5678,25,21.5,1$");
    bytes = bytes + Stored("20070219151755$ 3, -5678,+25,1234567890123456789,  1$9,12345678901,26,x,2$");
    bytes = bytes + Stored("20070219151855$,,,,$5,1,30,?????  ,3$") + Negated("some foreign text@xy");
    bytes = bytes + Stored("20070219151955$3,1,25,-0.5,1$");
    MemoryFile whole(bytes);
    RecordList expected;
    ASSERT_EQ(ReadRegistrationFile(&whole, expected), 4);
    for (size_t maxRead : {1, 2, 3, 5, 7, 13, 31}) {
        MemoryFile split(bytes);
        split.maxRead = maxRead;
        RecordList records;
        ASSERT_EQ(ReadRegistrationFile(&split, records), 4) << maxRead;
        for (size_t k = 0; k < 4; ++k) {
            ASSERT_EQ(records[k].entries.size(), expected[k].entries.size()) << maxRead;
            EXPECT_EQ(std::memcmp(records[k].entries.data(), expected[k].entries.data(),
                                  expected[k].entries.size() * sizeof(MemoryEntry)),
                      0)
                << maxRead << " " << k;
        }
    }
    const MemoryEntry& odd = expected[1].entries[0];
    EXPECT_EQ(odd.type, 3);
    EXPECT_EQ(odd.serial, -5678);
    EXPECT_EQ(odd.quantity, 25);
    EXPECT_STREQ(odd.value, "12345678901234");
    EXPECT_EQ(odd.status, 1);
    EXPECT_EQ(expected[1].entries[1].serial, static_cast<int32_t>(12345678901u % 4294967296u));
    EXPECT_STREQ(expected[2].entries[1].value, "?????  ");
}

TEST_F(RegistrationFileTest, ChangedInstrumentFieldsAreReadAnew) {
    // The reader compares a line's first fields with those of the same line
    // one record earlier; any change there must still be read.
    const char* texts[] = {
        "20070219151655$3,5678,25,21.5,1$3,5678,26,45.3,1$", "20070219151755$3,5679,25,21.6,1$3,5678,26,45.4,1$",
        "20070219151855$3,5679,250,1,1$31,5678,26,45.5,1$",  "20070219151955$3,5679,25,1,1$",
        "20070219152055$3,5679,25,7,2$3,5678,2,45.6,1$",
    };
    std::vector<uint8_t> bytes;
    for (const char* text : texts) {
        bytes = bytes + Stored(text);
    }
    MemoryFile file(bytes);
    RecordList records;
    ASSERT_EQ(ReadRegistrationFile(&file, records), 5);
    const struct {
        size_t record, line;
        int type, serial, quantity, status;
        const char* value;
    } expected[] = {{0, 0, 3, 5678, 25, 1, "21.5"}, {0, 1, 3, 5678, 26, 1, "45.3"}, {1, 0, 3, 5679, 25, 1, "21.6"},
                    {1, 1, 3, 5678, 26, 1, "45.4"}, {2, 0, 3, 5679, 250, 1, "1"},   {2, 1, 31, 5678, 26, 1, "45.5"},
                    {3, 0, 3, 5679, 25, 1, "1"},    {4, 0, 3, 5679, 25, 2, "7"},    {4, 1, 3, 5678, 2, 1, "45.6"}};
    for (const auto& e : expected) {
        const MemoryEntry& entry = records[e.record].entries[e.line];
        EXPECT_EQ(entry.type, e.type) << e.record << "/" << e.line;
        EXPECT_EQ(entry.serial, e.serial) << e.record << "/" << e.line;
        EXPECT_EQ(entry.quantity, e.quantity) << e.record << "/" << e.line;
        EXPECT_EQ(entry.status, e.status) << e.record << "/" << e.line;
        EXPECT_STREQ(entry.value, e.value) << e.record << "/" << e.line;
    }
}

TEST_F(RegistrationFileTest, FailedReadEndsReadingWithTheRecordsBeforeIt) {
    std::vector<uint8_t> bytes;
    for (int k = 0; k < 100; ++k) {
        bytes = bytes + Stored("20070219151655$1,1234,40,0.2,1$");  // 34 bytes
    }
    MemoryFile file(bytes);
    file.failReadNumber = 2;
    RecordList records;
    EXPECT_EQ(ReadRegistrationFile(&file, records), 2000 / 34);
    EXPECT_EQ(file.position, bytes.size());
}

TEST_F(RegistrationFileTest, NextRecordIsAppendedAfterReading) {
    MemoryFile file;
    WriteRegistrationRecord(file, ExampleRecord());
    WriteRegistrationRecord(file, ExampleRecord());
    RecordList records;
    ASSERT_EQ(ReadRegistrationFile(&file, records), 2);
    EXPECT_EQ(file.position, file.bytes.size());
    ASSERT_TRUE(WriteRegistrationRecord(file, ExampleRecord()));
    EXPECT_EQ(ReadRegistrationFile(&file, records), 3);
}

TEST_F(RegistrationFileTest, FreeRecordListEmptiesTheList) {
    MemoryFile file;
    WriteRegistrationRecord(file, ExampleRecord());
    RecordList records;
    ReadRegistrationFile(&file, records);
    FreeRecordList(records);
    EXPECT_TRUE(records.empty());
}

TEST(RecordList, EntriesStayWhereTheyWereAdded) {
    RecordList records;
    MemoryEntry lines[kMaxRecordLines] = {};
    std::vector<const MemoryEntry*> places;
    // Many chunks' worth, with a record longer than a chunk in between.
    for (int k = 0; k < 1000; ++k) {
        for (MemoryEntry& line : lines) {
            line.serial = k;
        }
        if (k == 500) {
            std::vector<MemoryEntry> longRecord(5000, lines[0]);
            places.push_back(records.Add(CalendarTime{}, longRecord.data(), longRecord.size()).entries.data());
            continue;
        }
        places.push_back(
            records.Add(CalendarTime{}, lines, static_cast<size_t>(k % kMaxRecordLines + 1)).entries.data());
    }
    ASSERT_EQ(records.size(), 1000u);
    for (size_t k = 0; k < records.size(); ++k) {
        const std::span<MemoryEntry> entries = records[k].entries;
        ASSERT_EQ(entries.data(), places[k]) << k;
        ASSERT_EQ(entries.size(), k == 500 ? 5000u : k % kMaxRecordLines + 1) << k;
        for (const MemoryEntry& entry : entries) {
            ASSERT_EQ(entry.serial, static_cast<int32_t>(k)) << k;
        }
    }
}

TEST(RecordList, CopiesHaveTheirOwnEntries) {
    RecordList records;
    records.Add(CalendarTime{}, {MemoryEntry{1, 1, 1234, 40, "0.2"}, MemoryEntry{3, 1, 5678, 25, "21.5"}});
    RecordList copy = records;
    copy[0].entries[1].serial = 99;
    std::strcpy(copy[0].entries[0].value, "7.0");
    EXPECT_EQ(records[0].entries[1].serial, 5678);
    EXPECT_STREQ(records[0].entries[0].value, "0.2");
    EXPECT_EQ(copy[0].entries.size(), 2u);

    const RecordList prefix(copy.begin(), copy.begin() + 1);
    ASSERT_EQ(prefix.size(), 1u);
    EXPECT_NE(prefix[0].entries.data(), copy[0].entries.data());
    EXPECT_EQ(prefix[0].entries[1].serial, 99);

    // A list moved away from is empty and takes new records.
    RecordList moved = std::move(records);
    EXPECT_TRUE(records.empty());
    records.Add(CalendarTime{}, {MemoryEntry{5, 1, 900, 25, "22"}});
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].entries[0].serial, 900);
    ASSERT_EQ(moved.size(), 1u);
    EXPECT_EQ(moved[0].entries[1].serial, 5678);

    moved.clear();
    EXPECT_TRUE(moved.empty());
    moved.Add(CalendarTime{}, {});
    ASSERT_EQ(moved.size(), 1u);
    EXPECT_TRUE(moved[0].entries.empty());
}

}  // namespace
}  // namespace kx305mon
