// The log transfer's state machine fed frame by frame, without threads.
#include "log_transfer.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "diagnostic_log.h"
#include "fake_converter.h"
#include "local_clock.h"
#include "protocol.h"

namespace kx305 {
namespace {

using testing::Bytes;

struct Posted {
    KX305Status status;
    uint32_t percent;
    bool operator==(const Posted&) const = default;
};
std::ostream& operator<<(std::ostream& os, const Posted& p) {
    return os << "{" << p.status << ", " << p.percent << "}";
}

struct Recorder final : StatusSink {
    std::vector<Posted> posts;
    void Post(KX305Status status, uint32_t percent) override { posts.push_back({status, percent}); }
};

Frame MakeFrame(const Bytes& payload, uint8_t command = CMD_GET_LOG) {
    Frame frame;
    BuildFrame(frame, 0, 0, command, payload.data(), static_cast<uint8_t>(payload.size()));
    return frame;
}

Frame CountFrame(uint16_t count, uint16_t capacity = 1000) {
    return MakeFrame({static_cast<uint8_t>(count >> 8), static_cast<uint8_t>(count),
                      static_cast<uint8_t>(capacity >> 8), static_cast<uint8_t>(capacity)});
}

// New-layout results block with a rain count on input 0.
Bytes RainBlock(uint32_t impulses) {
    return {0,
            4,
            0,
            0,
            0,
            0,
            static_cast<uint8_t>(impulses),
            static_cast<uint8_t>(impulses >> 8),
            static_cast<uint8_t>(impulses >> 16),
            static_cast<uint8_t>(impulses >> 24)};
}

Frame RecordFrame(uint8_t month, uint8_t day, uint32_t impulses) {
    return MakeFrame(testing::RecordPayload(month, day, 10, 20, 30, RainBlock(impulses)));
}

LocalDate June2024() { return {2024, 6, 15}; }

class LogTransferTest : public ::testing::Test {
protected:
    void SetUp() override { SetLocalDateProvider(&June2024); }
    void TearDown() override { SetLocalDateProvider(nullptr); }

    void Feed(const Frame& frame) { transfer_.Receive(frame, kVersion, out_, sink_); }

    static constexpr uint16_t kVersion = 0x010D;
    LogTransfer transfer_;
    LogBuffer out_{77, nullptr};
    Recorder sink_;
};

TEST_F(LogTransferTest, ProgressThenDecodedRecords) {
    transfer_.Begin(out_);
    EXPECT_EQ(out_.count, 0);
    Feed(CountFrame(3));
    Feed(RecordFrame(5, 1, 100));
    Feed(RecordFrame(5, 2, 200));
    Feed(RecordFrame(5, 3, 300));
    EXPECT_EQ(sink_.posts, (std::vector<Posted>{{2, 0}, {2, 33}, {2, 67}, {2, 100}, {0, 100}}));
    ASSERT_EQ(out_.count, 3);
    ASSERT_NE(out_.records, nullptr);
    for (int k = 0; k < 3; ++k) {
        const LogRecord& r = out_.records[k];
        EXPECT_EQ(r.year, 2024);
        EXPECT_EQ(r.month, 5);
        EXPECT_EQ(r.day, k + 1);
        EXPECT_EQ(r.hour, 10);
        EXPECT_EQ(r.minute, 20);
        EXPECT_EQ(r.second, 30);
        EXPECT_EQ(r.subSecond, 42);
        EXPECT_EQ(r.results[0].type, 1u);
        EXPECT_EQ(r.results[0].data[0], 100 * (k + 1));
        EXPECT_EQ(r.results[1].type, 0u);
    }
}

TEST_F(LogTransferTest, EmptyMemoryEndsWithTheCountFrame) {
    transfer_.Begin(out_);
    Feed(CountFrame(0));
    EXPECT_EQ(sink_.posts, (std::vector<Posted>{{2, 100}, {0, 100}}));
    EXPECT_EQ(out_.count, 0);
    EXPECT_EQ(out_.records, nullptr);
}

TEST_F(LogTransferTest, FramesBeforeBeginOrAfterTheEndAreDropped) {
    Feed(CountFrame(1));
    EXPECT_TRUE(sink_.posts.empty());

    transfer_.Begin(out_);
    Feed(CountFrame(1));
    Feed(RecordFrame(7, 4, 1));
    ASSERT_EQ(out_.count, 1);
    const LogRecord* records = out_.records;
    const size_t posts = sink_.posts.size();
    // A late duplicate, more records than announced, a new count frame.
    Feed(RecordFrame(7, 4, 1));
    Feed(RecordFrame(8, 9, 2));
    Feed(CountFrame(5));
    EXPECT_EQ(sink_.posts.size(), posts) << "a finished transfer finishes only once";
    EXPECT_EQ(out_.count, 1);
    EXPECT_EQ(out_.records, records);
    EXPECT_EQ(records[0].month, 7);
}

TEST_F(LogTransferTest, OnlyACountSizedFrameIsTakenForTheCount) {
    transfer_.NewTransfer(out_, CMD_PEEK_LOG);
    Feed(MakeFrame({0, 5}));
    // The count frame of a peek was lost and the records stream in: none of
    // them is the count (its first bytes would read as 0x00AA... here).
    Feed(RecordFrame(5, 1, 100));
    Feed(MakeFrame({0, 1, 0, 0, 0, 0, 0, 0}));
    EXPECT_TRUE(sink_.posts.empty());
    Feed(CountFrame(1));
    EXPECT_EQ(sink_.posts, (std::vector<Posted>{{2, 0}}));
}

// A GetLog cannot be asked for again: what comes instead of its count frame
// is kept, every frame a record from the first record-sized one on.  Each
// interrupted transfer writes one line.
TEST_F(LogTransferTest, GetLogWithoutItsCountFrameKeepsTheRecordsThatCame) {
    const std::filesystem::path logPath =
        std::filesystem::temp_directory_path() / ("kx305-transfer-" + std::to_string(getpid()) + ".log");
    std::filesystem::remove(logPath);
    ASSERT_TRUE(OpenDiagnosticLog(logPath.c_str(), 0));
    transfer_.NewTransfer(out_, CMD_GET_LOG);
    EXPECT_FALSE(transfer_.Answered());
    Feed(MakeFrame({0, 5}));
    EXPECT_FALSE(transfer_.Answered()) << "a frame too short for anything is no answer";
    Feed(RecordFrame(5, 1, 100));
    Feed(CountFrame(9));  // no count any more: a record cut short
    Feed(RecordFrame(5, 3, 300));
    EXPECT_TRUE(sink_.posts.empty());
    EXPECT_TRUE(transfer_.Answered());
    transfer_.Interrupt(kVersion, out_, sink_);
    transfer_.Interrupt(kVersion, out_, sink_);
    const Posted lost{KX305_STATUS_NO_RESOURCE, static_cast<uint32_t>(KX305_LOG_LOST_UNKNOWN)};
    EXPECT_EQ(sink_.posts, (std::vector<Posted>{lost, lost}));
    ASSERT_EQ(out_.count, 3);
    EXPECT_EQ(out_.records[0].day, 1);
    EXPECT_EQ(out_.records[0].results[0].data[0], 100);
    EXPECT_EQ(out_.records[1].results[0].type, 0u);
    EXPECT_EQ(out_.records[2].day, 3);
    EXPECT_EQ(out_.records[2].results[0].data[0], 300);

    // With its count frame: the number lost is known.
    transfer_.NewTransfer(out_, CMD_GET_LOG);
    Feed(CountFrame(5));
    Feed(RecordFrame(5, 4, 400));
    Feed(RecordFrame(5, 5, 500));
    transfer_.Interrupt(kVersion, out_, sink_);
    EXPECT_EQ(sink_.posts.back(), (Posted{KX305_STATUS_NO_RESOURCE, 3}));
    ASSERT_EQ(out_.count, 2);
    EXPECT_EQ(out_.records[1].results[0].data[0], 500);

    CloseDiagnosticLog();
    std::ifstream in(logPath);
    std::vector<std::string> interrupted;
    for (std::string line; std::getline(in, line);)
        if (line.find("przerwany") != std::string::npos) interrupted.push_back(line.substr(line.find("GetLog")));
    std::filesystem::remove(logPath);
    EXPECT_EQ(interrupted, (std::vector<std::string>{"GetLog(): transfer przerwany, odebrane rekordy: 3/?",
                                                     "GetLog(): transfer przerwany, odebrane rekordy: 2/5"}));
}

TEST_F(LogTransferTest, RecordFramesOfOddSizesStayInTheirSlot) {
    transfer_.Begin(out_);
    Feed(CountFrame(4));
    Feed(MakeFrame({}));      // nothing stored: slot stays empty
    Feed(MakeFrame({0xAA}));  // as empty
    // 255 payload bytes: the 253 record bytes are cut to the 252 of a slot.
    // Input 4's data end exactly at record byte 252 in the first, one byte
    // later in the second.
    auto longRecord = [](uint8_t input4Length) {
        // Input 4 is a KX-273 (it takes any length from 13 on).
        Bytes block{0,  4,    0,   0,   0,   input4Length, 0x10, 0,   0,   0,   1,  0,
                    11, 0x03, '0', '0', '0', '0',          '1',  '2', '3', '4', '5'};
        Bytes record = testing::RecordPayload(3, 3, 3, 3, 3, block);
        record.resize(255, '0');
        return MakeFrame(record);
    };
    // Record bytes: 6 time bytes, 6 header bytes, 4 rain bytes: input 4's
    // data start at record byte 16, and 236 bytes reach byte 252.
    Feed(longRecord(236));
    Feed(longRecord(237));
    ASSERT_EQ(out_.count, 4);
    for (int k : {0, 1}) {
        EXPECT_EQ(out_.records[k].month, 0) << k;
        EXPECT_EQ(out_.records[k].results[0].type, 0u) << k;
    }
    EXPECT_EQ(out_.records[2].month, 3);
    EXPECT_EQ(out_.records[2].results[0].type, 1u);
    EXPECT_EQ(out_.records[2].results[0].data[0], 16);
    EXPECT_EQ(out_.records[2].results[4].type, 11u);
    EXPECT_EQ(out_.records[2].results[4].data[4], 12345);
    EXPECT_EQ(out_.records[3].results[4].type, 0u) << "its 253rd byte was not kept";
    EXPECT_EQ(out_.records[3].results[0].type, 1u);
}

TEST_F(LogTransferTest, EveryTryStartsOverAndFreesTheLastRecords) {
    transfer_.Begin(out_);
    Feed(CountFrame(2));
    Feed(RecordFrame(1, 1, 1));
    transfer_.Begin(out_);  // a retry
    EXPECT_EQ(out_.count, 0);
    EXPECT_EQ(out_.records, nullptr);
    Feed(CountFrame(1));
    Feed(RecordFrame(2, 2, 2));
    ASSERT_EQ(out_.count, 1);
    EXPECT_EQ(out_.records[0].month, 2);
    transfer_.Begin(out_);  // the next transfer releases the records
    EXPECT_EQ(out_.records, nullptr);
}

TEST_F(LogTransferTest, ReleaseDuringATransferEndsItWith8) {
    transfer_.Begin(out_);
    Feed(CountFrame(2));
    Feed(RecordFrame(1, 1, 1));
    transfer_.Release();
    Feed(RecordFrame(1, 2, 1));
    EXPECT_EQ(sink_.posts.back(), (Posted{KX305_STATUS_NO_RESOURCE, 2})) << "both records lost";
    EXPECT_EQ(out_.records, nullptr);
}

void* FailingAllocate(size_t, size_t) { return nullptr; }

TEST(LogTransferMemory, FailedAllocationReports7ThenCountsOnAndEndsWith8) {
    LogTransfer transfer(&FailingAllocate);
    LogBuffer out{};
    Recorder sink;
    transfer.Begin(out);
    transfer.Receive(CountFrame(2), 0x010D, out, sink);
    transfer.Receive(RecordFrame(1, 1, 1), 0x010D, out, sink);
    transfer.Receive(RecordFrame(1, 2, 1), 0x010D, out, sink);
    // 8 carries the records lost: all 2.
    EXPECT_EQ(sink.posts, (std::vector<Posted>{{7, 100}, {2, 0}, {2, 50}, {2, 100}, {8, 2}}));
    EXPECT_EQ(out.count, 0);
    EXPECT_EQ(out.records, nullptr);
}

TEST(LogRecordYear, DecemberAndJanuaryAcrossTheTurnOfTheYear) {
    const Bytes block = RainBlock(1);
    auto yearOf = [&](uint8_t recordMonth, int year, int month) {
        Bytes stored = testing::RecordPayload(recordMonth, 31, 23, 59, 59, block);
        stored.erase(stored.begin(), stored.begin() + 2);
        LogRecord record{};
        DecodeLogRecord(stored.data(), stored.size(), 0x010D, year, month, record);
        EXPECT_EQ(record.month, recordMonth);
        return record.year;
    };
    EXPECT_EQ(yearOf(12, 2025, 1), 2024);
    EXPECT_EQ(yearOf(1, 2025, 1), 2025);
    EXPECT_EQ(yearOf(11, 2025, 1), 2025);
    EXPECT_EQ(yearOf(1, 2024, 12), 2025);
    EXPECT_EQ(yearOf(12, 2024, 12), 2024);
    EXPECT_EQ(yearOf(2, 2024, 12), 2024);
    EXPECT_EQ(yearOf(12, 2024, 6), 2024);
    EXPECT_EQ(yearOf(1, 2024, 6), 2024);
}

TEST(LogRecordLayout, OldFirmwareRecordsHaveNoInput0) {
    // Lengths of inputs 1 to 4 only; input 1 is a rain count here.
    const Bytes block{0, 4, 0, 0, 0, 0x05, 0, 0, 0};
    Bytes stored = testing::RecordPayload(4, 4, 4, 4, 4, block);
    stored.erase(stored.begin(), stored.begin() + 2);
    LogRecord record{};
    DecodeLogRecord(stored.data(), stored.size(), 0x0104, 2024, 4, record);
    EXPECT_EQ(record.results[0].type, 0u);
    EXPECT_EQ(record.results[1].type, 1u);
    EXPECT_EQ(record.results[1].data[0], 5);
}

// A PeekLog whose tries lose frames: the records a failed try received are
// kept, and a later try completes once the kept ones and its own make up
// the N records it announces.  Record id k (k < 1000) is stored at 06-15
// 10:00 + k minutes with a rain count of k; id 1000 + k has the same time
// stamp as k but other bytes (the memory changed); id 2000 + k is stored
// on 01-01 (its stamp does not follow a June record's).
struct Try {
    uint16_t count;
    std::vector<int> frames;  // the record frames that arrive, in order
    uint16_t capacity = 1000;
};
struct MergeCase {
    const char* name;
    bool peek;
    std::vector<Try> tries;
    int completesInTry;          // -1: no try completes
    std::vector<int> delivered;  // the records handed out, in order
};

void PrintTo(const MergeCase& c, std::ostream* os) { *os << c.name; }

Frame RecordById(int id, uint8_t command) {
    const int k = id % 1000;
    const uint8_t month = id >= 2000 ? 1 : 6;
    const uint8_t day = id >= 2000 ? 1 : 15;
    return MakeFrame(testing::RecordPayload(month, day, static_cast<uint8_t>(10 + k / 60), static_cast<uint8_t>(k % 60),
                                            0, RainBlock(static_cast<uint32_t>(id))),
                     command);
}

class LostFrames : public LogTransferTest, public ::testing::WithParamInterface<MergeCase> {};

TEST_P(LostFrames, PeekKeepsWhatFailedTriesBroughtAndNeverDuplicatesOrReorders) {
    const MergeCase& c = GetParam();
    const uint8_t command = c.peek ? CMD_PEEK_LOG : CMD_GET_LOG;
    transfer_.NewTransfer(out_, command);
    int completedIn = -1;
    for (size_t t = 0; t < c.tries.size(); ++t) {
        transfer_.Begin(out_);  // every try, as the dispatcher does
        const Try& attempt = c.tries[t];
        const Frame count =
            MakeFrame({static_cast<uint8_t>(attempt.count >> 8), static_cast<uint8_t>(attempt.count),
                       static_cast<uint8_t>(attempt.capacity >> 8), static_cast<uint8_t>(attempt.capacity)},
                      command);
        transfer_.Receive(count, kVersion, out_, sink_);
        for (int id : attempt.frames) transfer_.Receive(RecordById(id, command), kVersion, out_, sink_);
        if (completedIn < 0 && !sink_.posts.empty() && sink_.posts.back() == (Posted{KX305_STATUS_OK, 100})) {
            completedIn = static_cast<int>(t);
            break;
        }
    }
    EXPECT_EQ(completedIn, c.completesInTry);
    if (completedIn < 0) {
        EXPECT_EQ(out_.records, nullptr);
        return;
    }
    std::vector<int> delivered;
    for (unsigned k = 0; k < out_.count; ++k) delivered.push_back(out_.records[k].results[0].data[0]);
    EXPECT_EQ(delivered, c.delivered);
}

INSTANTIATE_TEST_SUITE_P(
    Tries, LostFrames,
    ::testing::Values(MergeCase{"NoLossIsOneTryAsBefore", true, {{5, {0, 1, 2, 3, 4}}}, 0, {0, 1, 2, 3, 4}},
                      MergeCase{"NextTryFillsTheGap", true, {{5, {0, 1, 3, 4}}, {5, {1, 2, 4}}}, 1, {0, 1, 2, 3, 4}},
                      MergeCase{"ThreeTriesTogether", true, {{5, {0, 1}}, {5, {3}}, {5, {2, 4}}}, 2, {0, 1, 2, 3, 4}},
                      MergeCase{"ARecordLoggedBetweenTriesIsAwaited",
                                true,
                                {{5, {0, 1, 2, 3}}, {6, {0, 4}}, {6, {5}}},
                                2,
                                {0, 1, 2, 3, 4, 5}},
                      MergeCase{"FullMemoryIsNotMerged", true, {{5, {0, 1, 2, 3}, 5}, {5, {4}, 5}}, -1, {}},
                      MergeCase{"StampsThatDoNotGrowAreNotMerged", true, {{5, {0, 1, 2002, 3}}, {5, {4}}}, -1, {}},
                      MergeCase{"AChangedRecordDropsWhatWasKept",
                                true,
                                {{5, {0, 1, 3, 4}}, {5, {1001, 2}}, {5, {0, 1001, 2, 3, 4}}},
                                2,
                                {0, 1001, 2, 3, 4}},
                      MergeCase{"AShrunkMemoryDropsWhatWasKept", true, {{5, {0, 1, 3, 4}}, {3, {0, 2}}}, -1, {}},
                      MergeCase{"GetLogStartsEveryTryOver", false, {{5, {0, 1, 3, 4}}, {5, {1, 2, 4}}}, -1, {}}),
    [](const ::testing::TestParamInfo<MergeCase>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace kx305
