// Downloads of the logging memory through the exported functions, with the
// converter scripted on a pseudo-terminal.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <thread>
#include <vector>

#include "done_wait.h"
#include "fake_converter.h"
#include "kx305.h"
#include "local_clock.h"
#include "protocol.h"
#include "request_timing_scope.h"

namespace kx305 {
namespace {

using testing::Bytes;
using testing::FakeConverter;

using testing::Outcome;

Bytes CountPayload(uint16_t count, uint16_t capacity = 4096) {
    return {static_cast<uint8_t>(count >> 8), static_cast<uint8_t>(count), static_cast<uint8_t>(capacity >> 8),
            static_cast<uint8_t>(capacity)};
}

// Record k: rain count k on input 0, a KX-132 on input 1 reading k % 10000.
Bytes RecordOf(unsigned k, uint8_t month = 6) {
    char pressure[6];
    std::snprintf(pressure, sizeof pressure, "%05u", k % 10000);
    const Bytes block{0x00,
                      4,
                      10,
                      0,
                      0,
                      0,
                      static_cast<uint8_t>(k),
                      static_cast<uint8_t>(k >> 8),
                      0,
                      0,
                      0x35,
                      '1',
                      '2',
                      '3',
                      '4',
                      static_cast<uint8_t>(pressure[0]),
                      static_cast<uint8_t>(pressure[1]),
                      static_cast<uint8_t>(pressure[2]),
                      static_cast<uint8_t>(pressure[3]),
                      static_cast<uint8_t>(pressure[4])};
    return testing::RecordPayload(month, static_cast<uint8_t>(1 + k % 28), static_cast<uint8_t>(k % 24),
                                  static_cast<uint8_t>(k % 60), 0, block);
}

// Firmware up to 1.12: the converter hands its memory over on the first
// CMD_GET_LOG it takes (the line may lose some of the frames) and finds it
// empty on every later one.  It answers on its own thread, counting the
// requests, until it goes.
class HandingOverConverter {
public:
    struct Sent {
        Bytes payload;
        int pauseMs = 0;  // before this frame
    };
    // With `silent` it only counts.
    HandingOverConverter(FakeConverter& device, std::vector<Sent> firstAnswer, bool silent = false)
        : device_(device), first_(std::move(firstAnswer)), silent_(silent), thread_([this] { Run(); }) {}
    ~HandingOverConverter() {
        stop_ = true;
        thread_.join();
    }
    int requests() const { return requests_; }

private:
    void Run() {
        while (!stop_) {
            Frame request;
            if (!device_.ReadRequest(request, 20) || request.command() != CMD_GET_LOG) continue;
            const bool first = requests_++ == 0;
            if (silent_) continue;
            if (!first) {
                device_.Reply(CMD_GET_LOG, CountPayload(0));
                continue;
            }
            for (const Sent& frame : first_) {
                if (frame.pauseMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(frame.pauseMs));
                device_.Reply(CMD_GET_LOG, frame.payload);
            }
        }
    }

    FakeConverter& device_;
    const std::vector<Sent> first_;
    const bool silent_;
    std::atomic<bool> stop_{false};
    std::atomic<int> requests_{0};
    std::thread thread_;
};

LocalDate MidJanuary() { return {2025, 1, 15}; }
LocalDate MidDecember() { return {2024, 12, 15}; }
LocalDate MidJune() { return {2024, 6, 15}; }

class LogDownload : public ::testing::Test {
protected:
    void SetUp() override {
        SetLocalDateProvider(&MidJune);
        ASSERT_EQ(KX305Open(&handle_, device_.path().c_str()), KX305_STATUS_OK);
        // Firmware 1.13: the new results layout.
        Identify(13);
    }
    void TearDown() override {
        if (handle_ != nullptr) {
            EXPECT_EQ(KX305Close(&handle_), KX305_STATUS_OK);
        }
        SetLocalDateProvider(nullptr);
    }

    Outcome Wait() { return testing::WaitOnce(&handle_); }

    void Identify(uint8_t minor) {
        ConverterInfo info{};
        ASSERT_EQ(KX305GetInfo(&handle_, &info), KX305_STATUS_OK);
        Expect(CMD_GET_INFO);
        device_.Reply(CMD_GET_INFO, testing::InfoPayload(1, minor));
        ASSERT_EQ(Wait().status, KX305_STATUS_OK);
    }

    void Expect(uint8_t command) {
        Frame request;
        ASSERT_TRUE(device_.ReadRequest(request));
        ASSERT_EQ(request.command(), command);
        ASSERT_EQ(request.length(), 0);
    }

    void DownloadOneRecord(LogBuffer& log) {
        ASSERT_EQ(KX305GetLog(&handle_, &log), KX305_STATUS_OK);
        Expect(CMD_GET_LOG);
        device_.Reply(CMD_GET_LOG, CountPayload(1));
        device_.Reply(CMD_GET_LOG, RecordOf(1));
        ASSERT_EQ(WaitToTheEnd().status, KX305_STATUS_OK);
        ASSERT_EQ(log.count, 1);
    }

    // The next state other than progress at `percent` (posted just before).
    Outcome WaitPast(uint32_t percent) {
        Outcome o = Wait();
        return o == Outcome{KX305_STATUS_PROGRESS, percent} ? Wait() : o;
    }

    // Polls until a final status; the progress seen on the way must rise.
    Outcome WaitToTheEnd(std::vector<uint32_t>* progress = nullptr) {
        Outcome o = Wait();
        uint32_t last = 0;
        while (o.status == KX305_STATUS_PROGRESS) {
            EXPECT_GE(o.percent, last);
            last = o.percent;
            if (progress != nullptr) progress->push_back(o.percent);
            o = Wait();
        }
        return o;
    }

    FakeConverter device_;
    KX305Handle handle_ = nullptr;
};

TEST_F(LogDownload, EmptyMemoryCompletesWithTheCountFrame) {
    LogBuffer log{9, reinterpret_cast<LogRecord*>(&log)};
    ASSERT_EQ(KX305GetLog(&handle_, &log), KX305_STATUS_OK);
    Expect(CMD_GET_LOG);
    device_.Reply(CMD_GET_LOG, CountPayload(0));
    EXPECT_EQ(Wait(), (Outcome{KX305_STATUS_OK, 100}));
    EXPECT_EQ(log.count, 0);
    EXPECT_EQ(log.records, nullptr);
}

TEST_F(LogDownload, ThreeRecordsReportEachShareThenFillTheBuffer) {
    LogBuffer log{};
    ASSERT_EQ(KX305GetLog(&handle_, &log), KX305_STATUS_OK);
    Expect(CMD_GET_LOG);
    device_.Reply(CMD_GET_LOG, CountPayload(3));
    EXPECT_EQ(Wait(), (Outcome{KX305_STATUS_PROGRESS, 0}));
    device_.Reply(CMD_GET_LOG, RecordOf(1));
    EXPECT_EQ(Wait(), (Outcome{KX305_STATUS_PROGRESS, 33}));
    device_.Reply(CMD_GET_LOG, RecordOf(2));
    EXPECT_EQ(Wait(), (Outcome{KX305_STATUS_PROGRESS, 67}));
    device_.Reply(CMD_GET_LOG, RecordOf(3));
    EXPECT_EQ(Wait(), (Outcome{KX305_STATUS_OK, 100}));
    ASSERT_EQ(log.count, 3);
    for (unsigned k = 1; k <= 3; ++k) {
        const LogRecord& r = log.records[k - 1];
        EXPECT_EQ(r.year, 2024);
        EXPECT_EQ(r.month, 6);
        EXPECT_EQ(r.day, 1 + k);
        EXPECT_EQ(r.hour, k);
        EXPECT_EQ(r.minute, k);
        EXPECT_EQ(r.results[0].type, 1u);
        EXPECT_EQ(r.results[0].data[0], static_cast<int32_t>(k));
        EXPECT_EQ(r.results[1].type, 7u);
        EXPECT_EQ(r.results[1].data[5], static_cast<int32_t>(k));
    }
}

TEST_F(LogDownload, FourThousandRecordsWhileTheCallerPolls) {
    LogBuffer log{};
    ASSERT_EQ(KX305PeekLog(&handle_, &log), KX305_STATUS_OK);
    Expect(CMD_PEEK_LOG);
    constexpr unsigned kCount = 4000;
    std::thread converter([this] {
        device_.Reply(CMD_PEEK_LOG, CountPayload(kCount));
        for (unsigned k = 0; k < kCount; ++k) device_.Reply(CMD_PEEK_LOG, RecordOf(k));
    });
    std::vector<uint32_t> progress;
    const Outcome end = WaitToTheEnd(&progress);
    converter.join();
    EXPECT_EQ(end, (Outcome{KX305_STATUS_OK, 100}));
    EXPECT_FALSE(progress.empty()) << "no progress reached the caller";
    ASSERT_EQ(log.count, kCount);
    for (unsigned k : {0u, 1u, 1234u, kCount - 1}) {
        EXPECT_EQ(log.records[k].results[0].data[0], static_cast<int32_t>(k & 0xFFFF)) << k;
        EXPECT_EQ(log.records[k].results[1].data[5], static_cast<int32_t>(k % 10000)) << k;
        EXPECT_EQ(log.records[k].day, 1 + k % 28) << k;
    }
}

TEST_F(LogDownload, YearOfRecordsAcrossTheTurnOfTheYear) {
    struct Case {
        LocalDateProvider today;
        uint16_t december;
        uint16_t january;
        uint16_t june;
    };
    for (const Case& c : {Case{&MidJanuary, 2024, 2025, 2025}, Case{&MidDecember, 2024, 2025, 2024}}) {
        SetLocalDateProvider(c.today);
        LogBuffer log{};
        ASSERT_EQ(KX305GetLog(&handle_, &log), KX305_STATUS_OK);
        Expect(CMD_GET_LOG);
        device_.Reply(CMD_GET_LOG, CountPayload(3));
        device_.Reply(CMD_GET_LOG, RecordOf(1, 12));
        device_.Reply(CMD_GET_LOG, RecordOf(2, 1));
        device_.Reply(CMD_GET_LOG, RecordOf(3, 6));
        ASSERT_EQ(WaitToTheEnd(), (Outcome{KX305_STATUS_OK, 100}));
        ASSERT_EQ(log.count, 3);
        EXPECT_EQ(log.records[0].year, c.december);
        EXPECT_EQ(log.records[1].year, c.january);
        EXPECT_EQ(log.records[2].year, c.june);
    }
}

// A peek finds the records again, so a stalled one is asked for again.
TEST_F(LogDownload, StalledPeekIsRequestedAgainFromTheStart) {
    const testing::ScopedRequestTiming timing(400);
    LogBuffer log{};
    ASSERT_EQ(KX305PeekLog(&handle_, &log), KX305_STATUS_OK);
    Expect(CMD_PEEK_LOG);
    device_.Reply(CMD_PEEK_LOG, CountPayload(3));
    device_.Reply(CMD_PEEK_LOG, RecordOf(1));
    EXPECT_EQ(WaitPast(0), (Outcome{KX305_STATUS_PROGRESS, 33}));
    EXPECT_EQ(Wait(), (Outcome{KX305_STATUS_BUSY, 25}));
    Expect(CMD_PEEK_LOG);
    device_.Reply(CMD_PEEK_LOG, CountPayload(2));
    device_.Reply(CMD_PEEK_LOG, RecordOf(7));
    device_.Reply(CMD_PEEK_LOG, RecordOf(8));
    EXPECT_EQ(WaitToTheEnd(), (Outcome{KX305_STATUS_OK, 100}));
    ASSERT_EQ(log.count, 2);
    EXPECT_EQ(log.records[0].results[0].data[0], 7);
    EXPECT_EQ(log.records[1].results[0].data[0], 8);
}

TEST_F(LogDownload, FreeLogReleasesTheHandlesRecordsAndClearsTheBuffer) {
    LogBuffer log{};
    DownloadOneRecord(log);

    // Any LogBuffer frees the handle's records; that one is cleared.
    LogRecord other{};
    LogBuffer unrelated{5, &other};
    EXPECT_EQ(KX305FreeLog(&handle_, &unrelated), KX305_STATUS_OK);
    EXPECT_EQ(unrelated.count, 0);
    EXPECT_EQ(unrelated.records, nullptr);

    // A broken-off transfer leaves its partial data to the next free.
    LogBuffer second{};
    ASSERT_EQ(KX305GetLog(&handle_, &second), KX305_STATUS_OK);
    Expect(CMD_GET_LOG);
    device_.Reply(CMD_GET_LOG, CountPayload(3));
    device_.Reply(CMD_GET_LOG, RecordOf(1));
    EXPECT_EQ(WaitPast(0), (Outcome{KX305_STATUS_PROGRESS, 33}));
    ASSERT_EQ(KX305UserBreak(&handle_), KX305_STATUS_OK);
    EXPECT_EQ(Wait(), (Outcome{KX305_STATUS_BROKEN_OFF, 100}));
    EXPECT_EQ(second.count, 0);
    EXPECT_EQ(KX305FreeLog(&handle_, &second), KX305_STATUS_OK);
    EXPECT_EQ(KX305FreeLog(&handle_, &second), KX305_STATUS_OK);
    EXPECT_EQ(second.records, nullptr);
}

TEST_F(LogDownload, NextTransferClearsTheBufferBeforeSending) {
    LogBuffer log{};
    DownloadOneRecord(log);
    ASSERT_EQ(KX305GetLog(&handle_, &log), KX305_STATUS_OK);
    EXPECT_EQ(log.count, 0);
    EXPECT_EQ(log.records, nullptr);
    Expect(CMD_GET_LOG);
}

// Firmware 1.12 empties its memory on the request, so a GetLog it has
// begun to answer is never sent again: it ends with 8, the records that
// arrived in the buffer in their order and the number lost in the percent.
TEST_F(LogDownload, GetLogThatLosesFramesEndsWithWhatArrivedAndTheNumberLost) {
    const testing::ScopedRequestTiming timing(300);
    Identify(12);
    struct Case {
        const char* name;
        bool countFrameLost;
        std::vector<unsigned> recordsLost;  // of records 1 to 5
        uint32_t percent;
    };
    const Case cases[] = {
        {"one record frame", false, {3}, 1},
        {"the last record frame", false, {5}, 1},
        {"every record frame", false, {1, 2, 3, 4, 5}, 5},
        {"the count frame", true, {}, KX305_LOG_LOST_UNKNOWN},
        {"the count frame and a record frame", true, {2}, KX305_LOG_LOST_UNKNOWN},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<HandingOverConverter::Sent> answer;
        if (!c.countFrameLost) answer.push_back({CountPayload(5)});
        std::vector<int32_t> arriving;
        for (unsigned k = 1; k <= 5; ++k) {
            if (std::find(c.recordsLost.begin(), c.recordsLost.end(), k) != c.recordsLost.end()) continue;
            answer.push_back({RecordOf(k)});
            arriving.push_back(static_cast<int32_t>(k));
        }
        HandingOverConverter converter(device_, answer);
        LogBuffer log{};
        ASSERT_EQ(KX305GetLog(&handle_, &log), KX305_STATUS_OK);
        std::vector<Outcome> answers = testing::PollToEnd(&handle_);
        for (size_t i = 0; i + 1 < answers.size(); ++i)
            EXPECT_EQ(answers[i].status, KX305_STATUS_PROGRESS) << "answer " << i << ": " << answers[i];
        EXPECT_EQ(answers.back(), (Outcome{KX305_STATUS_NO_RESOURCE, c.percent}));
        std::vector<int32_t> delivered;
        for (unsigned k = 0; k < log.count; ++k) delivered.push_back(log.records[k].results[0].data[0]);
        EXPECT_EQ(delivered, arriving);
        if (log.count > 0) {
            EXPECT_EQ(log.records[0].day, 1 + arriving[0]) << "decoded as usual";
        }
        // Polled once more, it is still over and nothing is sent.
        EXPECT_EQ(Wait(), (Outcome{KX305_STATUS_NO_RESOURCE, c.percent}));
        EXPECT_EQ(converter.requests(), 1);
    }
}

// No answer at all: the converter may never have got the request.
TEST_F(LogDownload, GetLogToASilentConverterIsSentFourTimes) {
    const testing::ScopedRequestTiming timing(200);
    Identify(12);
    HandingOverConverter converter(device_, {}, true);
    LogBuffer log{};
    ASSERT_EQ(KX305GetLog(&handle_, &log), KX305_STATUS_OK);
    EXPECT_EQ(testing::PollToEnd(&handle_), (std::vector<Outcome>{{KX305_STATUS_BUSY, 25},
                                                                  {KX305_STATUS_BUSY, 50},
                                                                  {KX305_STATUS_BUSY, 75},
                                                                  {KX305_STATUS_BUSY, 100},
                                                                  {KX305_STATUS_TIMEOUT, 100}}));
    EXPECT_TRUE(testing::WaitUntil([&] { return converter.requests() == 4; }));
    EXPECT_EQ(log.count, 0);
}

// A percentage moves only every N/100 records, which may take longer than
// a try: a GetLog whose frames still come goes on.
TEST_F(LogDownload, GetLogSlowerThanATryPerPercentIsNotCutShort) {
    const testing::ScopedRequestTiming timing(300);
    Identify(12);
    constexpr unsigned kCount = 1000;
    std::vector<HandingOverConverter::Sent> answer{{CountPayload(kCount)}};
    // 10 records a percent, 50 ms apart: 500 ms without a new percentage.
    for (unsigned k = 0; k < kCount; ++k) answer.push_back({RecordOf(k), k < 25 ? 50 : 0});
    HandingOverConverter converter(device_, answer);
    LogBuffer log{};
    ASSERT_EQ(KX305GetLog(&handle_, &log), KX305_STATUS_OK);
    const std::vector<Outcome> answers = testing::PollToEnd(&handle_);
    EXPECT_EQ(answers.back(), (Outcome{KX305_STATUS_OK, 100}));
    for (const Outcome& o : answers) EXPECT_NE(o.status, KX305_STATUS_BUSY);
    EXPECT_EQ(log.count, kCount);
    EXPECT_EQ(converter.requests(), 1);
}

}  // namespace
}  // namespace kx305
