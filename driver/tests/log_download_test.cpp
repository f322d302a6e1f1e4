// Downloads of the logging memory through the exported functions, with the
// converter scripted on a pseudo-terminal.
#include <gtest/gtest.h>

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
    const Bytes block{0x00, 4, 10, 0, 0, 0, static_cast<uint8_t>(k), static_cast<uint8_t>(k >> 8), 0, 0,
                      0x35, '1', '2', '3', '4', static_cast<uint8_t>(pressure[0]), static_cast<uint8_t>(pressure[1]),
                      static_cast<uint8_t>(pressure[2]), static_cast<uint8_t>(pressure[3]),
                      static_cast<uint8_t>(pressure[4])};
    return testing::RecordPayload(month, static_cast<uint8_t>(1 + k % 28), static_cast<uint8_t>(k % 24),
                                  static_cast<uint8_t>(k % 60), 0, block);
}

LocalDate MidJanuary() { return {2025, 1, 15}; }
LocalDate MidDecember() { return {2024, 12, 15}; }
LocalDate MidJune() { return {2024, 6, 15}; }

class LogDownload : public ::testing::Test {
protected:
    void SetUp() override {
        SetLocalDateProvider(&MidJune);
        ASSERT_EQ(KX305Open(&handle_, device_.path().c_str()), KX305_STATUS_OK);
        // Firmware 1.13: the new results layout.
        ConverterInfo info{};
        ASSERT_EQ(KX305GetInfo(&handle_, &info), KX305_STATUS_OK);
        Expect(CMD_GET_INFO);
        device_.Reply(CMD_GET_INFO, testing::InfoPayload(1, 13));
        ASSERT_EQ(Wait().status, KX305_STATUS_OK);
    }
    void TearDown() override {
        if (handle_ != nullptr) {
            EXPECT_EQ(KX305Close(&handle_), KX305_STATUS_OK);
        }
        SetLocalDateProvider(nullptr);
    }

    Outcome Wait() { return testing::WaitOnce(&handle_); }

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

TEST_F(LogDownload, StalledTransferIsRequestedAgainFromTheStart) {
    const testing::ScopedRequestTiming timing(400);
    LogBuffer log{};
    ASSERT_EQ(KX305GetLog(&handle_, &log), KX305_STATUS_OK);
    Expect(CMD_GET_LOG);
    device_.Reply(CMD_GET_LOG, CountPayload(3));
    device_.Reply(CMD_GET_LOG, RecordOf(1));
    EXPECT_EQ(WaitPast(0), (Outcome{KX305_STATUS_PROGRESS, 33}));
    EXPECT_EQ(Wait(), (Outcome{KX305_STATUS_BUSY, 25}));
    Expect(CMD_GET_LOG);
    device_.Reply(CMD_GET_LOG, CountPayload(2));
    device_.Reply(CMD_GET_LOG, RecordOf(7));
    device_.Reply(CMD_GET_LOG, RecordOf(8));
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

}  // namespace
}  // namespace kx305
