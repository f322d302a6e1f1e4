// Which records at the head of a download the registration file already
// holds, when the file was written in another time zone, and the torn tail
// a download cuts off before it appends.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "instruments/catalogue.h"
#include "memory_file.h"
#include "recording/registration_file.h"
#include "test_environment.h"
#include "time_builders.h"

namespace kx305mon {
namespace {

using testing::MemoryFile;
using testing::UseTimeZone;

constexpr int64_t kStart = 1709251200;  // 2024-03-01 00:00:00 UTC

// Record `index` of a station logging every `period` seconds.  A quiet
// station reads the same every time; a working one differs from record to
// record.
LogRecord StationRecord(int index, int period, bool quiet) {
    LogRecord record = testing::RecordAt(CalendarFromSeconds(kStart + int64_t{index} * period));
    record.results[0].type = kTypeRainGauge;
    record.results[0].data[0] = quiet ? 3 : static_cast<uint32_t>(index);
    record.results[1].type = kTypeKX124;
    record.results[1].data[3] = 5678;
    record.results[1].data[4] = quiet ? 453 : static_cast<uint32_t>(400 + index * 7 % 90);
    record.results[1].data[5] = quiet ? 215 : static_cast<uint32_t>(150 + index);
    return record;
}

std::vector<LogRecord> Station(int first, int last, int period, bool quiet) {
    std::vector<LogRecord> records;
    for (int i = first; i < last; ++i) records.push_back(StationRecord(i, period, quiet));
    return records;
}

std::vector<std::string> Encoded(const std::vector<LogRecord>& records) {
    std::vector<std::string> stored(records.size());
    for (size_t i = 0; i < records.size(); ++i) stored[i] = EncodeRegistrationRecord(records[i]);
    return stored;
}

std::vector<uint8_t> Bytes(const std::vector<std::string>& stored) {
    std::vector<uint8_t> bytes;
    for (const std::string& record : stored) bytes.insert(bytes.end(), record.begin(), record.end());
    return bytes;
}

// What a download of `download` finds in `file`, read as the download reads it.
size_t KnownHead(MemoryFile& file, const std::vector<LogRecord>& download) {
    const std::vector<std::string> stored = Encoded(download);
    RegistrationTail tail;
    EXPECT_TRUE(ReadRegistrationTail(file, TailLengthFor(stored), tail));
    return RecordsAlreadyStored(tail.records, download.data(), stored);
}

class KnownRecords : public ::testing::Test {
protected:
    void SetUp() override {
        ResetRainGaugeSettings();
        rainGaugeSettings().serial = 1234;
    }
    void TearDown() override { ResetRainGaugeSettings(); }
};

// The file holds records [0, 10) written in one zone; the download brings
// [first, last) in another.  Records of a working station are recognised
// across the change.  A quiet station's cannot be told from records a
// multiple of the period away, so they may be written again, but a record
// the file does not have is never taken for one it has.  (Once the zone has
// moved west by whole periods, a quiet station's file is byte for byte the
// file of an unchanged zone that holds those records: its stamps are
// trusted, so that case is left out.)
TEST_F(KnownRecords, TimeZoneChangeNeverSwallowsANewRecord) {
    const struct {
        const char* written;
        const char* now;
        int64_t shift;  // seconds the local stamps moved
    } zones[] = {
        {"UTC-1", "UTC0", -3600},     {"UTC0", "UTC-1", 3600},
        {"UTC-5:30", "UTC0", -19800}, {"CET-1CEST,M3.5.0,M10.5.0/3", "UTC-3", 7200},  // in winter
        {"UTC0", "UTC-5:45", 20700},
    };
    const struct { int first, last; } downloads[] = {{4, 13}, {8, 10}, {10, 13}, {0, 20}};
    for (const auto& zone : zones) {
        for (int period : {900, 3600}) {
            for (bool quiet : {false, true}) {
                if (quiet && zone.shift < 0 && zone.shift % period == 0) continue;
                for (const auto& d : downloads) {
                    SCOPED_TRACE(::testing::Message()
                                 << zone.written << " -> " << zone.now << ", period " << period
                                 << (quiet ? ", quiet" : "") << ", download " << d.first << ".." << d.last);
                    if (!UseTimeZone(zone.written)) GTEST_SKIP() << "the time zone cannot be set by the test";
                    MemoryFile file(Bytes(Encoded(Station(0, 10, period, quiet))));
                    if (!UseTimeZone(zone.now)) GTEST_SKIP() << "the time zone cannot be set by the test";
                    const size_t held = static_cast<size_t>(std::max(0, 10 - d.first));
                    const size_t known = KnownHead(file, Station(d.first, d.last, period, quiet));
                    if (quiet) {
                        EXPECT_LE(known, held);
                    } else {
                        EXPECT_EQ(known, held);
                    }
                }
            }
        }
    }
}

// In the zone the file was written in, stamps tell the records apart even
// when the readings do not: a quiet station's repeated records are known,
// and records right after the file's last are new.
TEST_F(KnownRecords, SameZoneKnowsQuietRecordsByTheirStamps) {
    if (!UseTimeZone("CET-1CEST,M3.5.0,M10.5.0/3")) GTEST_SKIP() << "the time zone cannot be set by the test";
    for (int period : {900, 3600}) {
        MemoryFile file(Bytes(Encoded(Station(0, 10, period, true))));
        EXPECT_EQ(KnownHead(file, Station(4, 13, period, true)), 6u);
        EXPECT_EQ(KnownHead(file, Station(10, 12, period, true)), 0u);
        EXPECT_EQ(KnownHead(file, Station(9, 12, period, true)), 1u);
    }
    // Records a minute apart, and three new ones an hour after the last:
    // a whole number of zone steps away, they line up with the file's last
    // three, but nothing says the zone changed.
    MemoryFile file(Bytes(Encoded(Station(0, 5, 60, true))));
    EXPECT_EQ(KnownHead(file, Station(62, 65, 60, true)), 0u);
}

// The rain gauge's serial is the user's setting when the record was
// written; other serials belong to the measurement.
TEST_F(KnownRecords, RenamedRainGaugeStillMatchesOtherSerialsDoNot) {
    MemoryFile file(Bytes(Encoded(Station(0, 6, 60, false))));
    rainGaugeSettings().serial = 987654;
    EXPECT_EQ(KnownHead(file, Station(2, 9, 60, false)), 4u);
    std::vector<LogRecord> other = Station(2, 9, 60, false);
    for (LogRecord& record : other) record.results[1].data[3] = 5679;
    EXPECT_EQ(KnownHead(file, other), 0u);
}

// A record whose stamp could not be converted is stored with its own
// fields; delivered again, it is known by them.
TEST_F(KnownRecords, RecordsWithImpossibleStampsAreKnownByTheirFields) {
    std::vector<LogRecord> records = Station(0, 4, 60, false);
    records[2].month = 0;
    records[3].day = 32;
    MemoryFile file(Bytes(Encoded(records)));
    records.push_back(StationRecord(4, 60, false));
    EXPECT_EQ(KnownHead(file, records), 4u);
}

// What a download finds after a record torn by a kill during the write
// burst: the whole records before it, and the torn bytes are cut off.  A
// long unreadable tail, or one that does not begin like a record, is no
// torn record of ours and stays.
TEST_F(KnownRecords, TornTailIsCutOnlyWhenItIsOurs) {
    const std::vector<std::string> stored = Encoded(Station(0, 6, 60, false));
    const std::vector<uint8_t> whole = Bytes({stored.begin(), stored.begin() + 5});
    const std::string& last = stored[5];
    for (size_t cut : {size_t{1}, size_t{14}, size_t{15}, last.size() / 2, last.size() - 3, last.size() - 1}) {
        SCOPED_TRACE(cut);
        MemoryFile file(whole);
        file.bytes.insert(file.bytes.end(), last.begin(), last.begin() + static_cast<ptrdiff_t>(cut));
        RegistrationTail tail;
        ASSERT_TRUE(ReadRegistrationTail(file, TailLengthFor(stored), tail));
        EXPECT_EQ(tail.records.size(), 5u);
        EXPECT_EQ(tail.wholeEnd, static_cast<int64_t>(whole.size()));
        EXPECT_TRUE(CutTornTail(file, tail));
        EXPECT_EQ(file.bytes, whole);
        EXPECT_EQ(file.position, whole.size());
    }

    // Only a torn first record: the file is emptied.
    MemoryFile first(std::vector<uint8_t>(last.begin(), last.begin() + 20));
    RegistrationTail tail;
    ASSERT_TRUE(ReadRegistrationTail(first, 1000, tail));
    EXPECT_TRUE(CutTornTail(first, tail));
    EXPECT_TRUE(first.bytes.empty());

    const struct {
        const char* name;
        std::vector<uint8_t> after;
    } foreign[] = {
        {"longer than a torn record", std::vector<uint8_t>(kMaxTornTail + 1, 0xCF)},
        {"not a record", std::vector<uint8_t>(40, 'x')},
    };
    for (const auto& f : foreign) {
        SCOPED_TRACE(f.name);
        std::vector<uint8_t> bytes = whole;
        bytes.insert(bytes.end(), f.after.begin(), f.after.end());
        MemoryFile file(bytes);
        ASSERT_TRUE(ReadRegistrationTail(file, TailLengthFor(stored), tail));
        EXPECT_FALSE(CutTornTail(file, tail));
        EXPECT_EQ(file.bytes, bytes);
    }
}

// The tail is read from the end only, however long the file.
TEST_F(KnownRecords, OnlyTheEndOfALongFileIsRead) {
    const std::vector<std::string> stored = Encoded(Station(0, 2000, 60, false));
    MemoryFile file(Bytes(stored));
    const std::vector<LogRecord> download = Station(1995, 2003, 60, false);
    const std::vector<std::string> downloadStored = Encoded(download);
    RegistrationTail tail;
    ASSERT_TRUE(ReadRegistrationTail(file, TailLengthFor(downloadStored), tail));
    EXPECT_GT(tail.from, 0);
    EXPECT_LT(tail.records.size(), 200u);
    EXPECT_EQ(RecordsAlreadyStored(tail.records, download.data(), downloadStored), 5u);
}

}  // namespace
}  // namespace kx305mon
