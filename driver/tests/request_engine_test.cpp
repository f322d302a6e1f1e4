// The request engine end to end: exported functions, the handle's threads,
// the POSIX serial backend and a scripted converter on a pseudo-terminal.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <thread>
#include <vector>

#include <poll.h>
#include <unistd.h>

#include "converter_link.h"
#include "done_wait.h"
#include "fake_converter.h"
#include "kx305.h"
#include "protocol.h"
#include "request_timing_scope.h"

namespace kx305 {
namespace {

using namespace std::chrono_literals;
using testing::Bytes;
using testing::FakeConverter;
using testing::InfoPayload;
using testing::Outcome;
using testing::ScopedRequestTiming;
using testing::WaitUntil;
using Clock = std::chrono::steady_clock;

// Tries that are meant to fail end this soon; a reply that is meant to
// arrive comes within microseconds.
constexpr uint32_t kShortTryMs = 400;

uint32_t CallersWaiting(KX305Handle handle) { return static_cast<ConverterLink*>(handle)->CallersWaiting(); }

// Proves that nothing went out before: a request started now must be the
// next frame on the line (a stray earlier one would be read first).
void ExpectNothingSentBefore(KX305Handle* handle, FakeConverter& device) {
    ConverterInfo info{};
    ASSERT_EQ(KX305GetInfo(handle, &info), KX305_STATUS_OK);
    Frame request;
    ASSERT_TRUE(device.ReadRequest(request));
    EXPECT_EQ(request.command(), CMD_GET_INFO) << "an earlier request went out";
    device.Reply(CMD_GET_INFO, InfoPayload(1, 13));
    EXPECT_EQ(testing::WaitOnce(handle), (Outcome{KX305_STATUS_OK, 100}));
}

Bytes PayloadOf(const Frame& frame) { return Bytes(frame.payload(), frame.payload() + frame.length()); }

class RequestEngine : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(KX305Open(&handle_, device_.path().c_str()), KX305_STATUS_OK); }
    void TearDown() override {
        if (handle_ != nullptr) {
            EXPECT_EQ(KX305Close(&handle_), KX305_STATUS_OK);
        }
    }

    Outcome Wait() { return testing::WaitOnce(&handle_); }

    // Reads the next request and checks its command code.
    Frame Expect(uint8_t command) {
        Frame request;
        EXPECT_TRUE(device_.ReadRequest(request)) << "no request for command " << int{command};
        EXPECT_EQ(request.command(), command);
        EXPECT_EQ(request.address(), 0);
        EXPECT_EQ(request.aux(), 0);
        return request;
    }

    // GetInfo answered with the given firmware version.
    void Identify(uint8_t major, uint8_t minor) {
        ConverterInfo info{};
        ASSERT_EQ(KX305GetInfo(&handle_, &info), KX305_STATUS_OK);
        Expect(CMD_GET_INFO);
        device_.Reply(CMD_GET_INFO, InfoPayload(major, minor));
        ASSERT_EQ(Wait(), (Outcome{KX305_STATUS_OK, 100}));
        ASSERT_EQ(info.versionMajor, major);
        ASSERT_EQ(info.versionMinor, minor);
    }

    FakeConverter device_;
    KX305Handle handle_ = nullptr;
};

TEST_F(RequestEngine, RepliesFillTheCallersRecords) {
    ConverterInfo info{};
    ASSERT_EQ(KX305GetInfo(&handle_, &info), KX305_STATUS_OK);
    EXPECT_EQ(PayloadOf(Expect(CMD_GET_INFO)), Bytes{});
    device_.Reply(CMD_GET_INFO, InfoPayload(1, 13, 0xBEEF));
    EXPECT_EQ(Wait(), (Outcome{KX305_STATUS_OK, 100}));
    EXPECT_EQ(info.versionMajor, 1);
    EXPECT_EQ(info.versionMinor, 13);
    EXPECT_EQ(info.day, 7);
    EXPECT_EQ(info.month, 3);
    EXPECT_EQ(info.year, 2011);
    EXPECT_EQ(info.serialNumber, 0xBEEF);

    ClockRecord clock{};
    ASSERT_EQ(KX305GetTime(&handle_, &clock), KX305_STATUS_OK);
    Expect(CMD_GET_TIME);
    // Hour, day and month carry flag bits above their BCD digits.
    device_.Reply(CMD_GET_TIME, {0x99, 0x59, 0x07, 0x23 | 0xC0, 0x31 | 0xC0, 0x12 | 0xE0});
    EXPECT_EQ(Wait(), (Outcome{KX305_STATUS_OK, 100}));
    EXPECT_EQ(clock.second, 59);
    EXPECT_EQ(clock.minute, 7);
    EXPECT_EQ(clock.hour, 23);
    EXPECT_EQ(clock.day, 31);
    EXPECT_EQ(clock.month, 12);

    const ClockRecord set{11, 9, 8, 45, 30};
    ASSERT_EQ(KX305SetTime(&handle_, &set), KX305_STATUS_OK);
    EXPECT_EQ(PayloadOf(Expect(CMD_SET_TIME)), (Bytes{0, 0x30, 0x45, 0x08, 0x09, 0x11}));
    device_.Reply(CMD_SET_TIME, {});
    EXPECT_EQ(Wait(), (Outcome{KX305_STATUS_OK, 100}));

    const uint16_t serial = 0x1234;
    ASSERT_EQ(KX305SetSerialNumber(&handle_, &serial), KX305_STATUS_OK);
    EXPECT_EQ(PayloadOf(Expect(CMD_SET_SERIAL)), (Bytes{0x12, 0x34, 0, 0}));
    device_.Reply(CMD_SET_SERIAL, {});
    EXPECT_EQ(Wait(), (Outcome{KX305_STATUS_OK, 100}));

    uint16_t period = 0;
    ASSERT_EQ(KX305GetLogPeriod(&handle_, &period), KX305_STATUS_OK);
    Expect(CMD_GET_PERIOD_SEC);
    device_.Reply(CMD_GET_PERIOD_SEC, {0x01, 0x2C});
    EXPECT_EQ(Wait(), (Outcome{KX305_STATUS_OK, 100}));
    EXPECT_EQ(period, 300);

    InputReading results[KX305_INPUTS] = {};
    ASSERT_EQ(KX305GetResults(&handle_, results), KX305_STATUS_OK);
    Expect(CMD_GET_RESULTS);
    device_.Reply(CMD_GET_RESULTS, {0, 4, 0, 0, 0, 0, 0x10, 0x27, 0, 0});
    EXPECT_EQ(Wait(), (Outcome{KX305_STATUS_OK, 100}));
    EXPECT_EQ(results[0].type, 1u);
    EXPECT_EQ(results[0].data[0], 10000);
    EXPECT_EQ(results[1].type, 0u);
}

TEST_F(RequestEngine, RequestFramesGoOutEscapedByteForByte) {
    Identify(1, 13);
    const uint16_t period = 126;
    ASSERT_EQ(KX305SetLogPeriod(&handle_, &period), KX305_STATUS_OK);
    Frame request;
    ASSERT_TRUE(device_.ReadRequest(request));
    uint8_t wire[kMaxWireFrame];
    const size_t n = EncodeFrame(request, wire);
    EXPECT_EQ(Bytes(wire, wire + n), (Bytes{0x7E, 0x00, 0x00, 0x0A, 0x02, 0x76, 0x00, 0x7F, 0x81}));
    device_.Reply(CMD_SET_PERIOD_SEC, {});
    EXPECT_EQ(Wait(), (Outcome{KX305_STATUS_OK, 100}));
}

// The one test at the library's own timing (2500 ms x 4); it runs as a test
// of its own (driver/CMakeLists.txt), the others shorten the tries.
using FullTiming = RequestEngine;

TEST_F(FullTiming, SilentConverterTimesOutAfterFourTries) {
    ClockRecord clock{};
    ASSERT_EQ(KX305GetTime(&handle_, &clock), KX305_STATUS_OK);
    const auto start = Clock::now();
    EXPECT_EQ(Wait(), (Outcome{KX305_STATUS_BUSY, 25}));
    EXPECT_EQ(Wait(), (Outcome{KX305_STATUS_BUSY, 50}));
    EXPECT_EQ(Wait(), (Outcome{KX305_STATUS_BUSY, 75}));
    EXPECT_EQ(Wait(), (Outcome{KX305_STATUS_BUSY, 100}));
    const auto fourTries = Clock::now() - start;
    EXPECT_EQ(Wait(), (Outcome{KX305_STATUS_TIMEOUT, 100}));
    EXPECT_LT(Clock::now() - start - fourTries, 500ms) << "the fifth call finds the time-out posted";
    EXPECT_GE(fourTries, 4 * 2500ms - 100ms);

    for (int i = 0; i < 4; ++i) Expect(CMD_GET_TIME);
    ExpectNothingSentBefore(&handle_, device_);  // not a fifth time
}

TEST_F(RequestEngine, AnswerOnTheThirdTryCompletes) {
    const ScopedRequestTiming timing(kShortTryMs);
    ClockRecord clock{};
    ASSERT_EQ(KX305GetTime(&handle_, &clock), KX305_STATUS_OK);
    Expect(CMD_GET_TIME);
    EXPECT_EQ(Wait(), (Outcome{KX305_STATUS_BUSY, 25}));
    Expect(CMD_GET_TIME);
    EXPECT_EQ(Wait(), (Outcome{KX305_STATUS_BUSY, 50}));
    Expect(CMD_GET_TIME);
    device_.Reply(CMD_GET_TIME, {0, 0x01, 0x02, 0x03, 0x04, 0x05});
    EXPECT_EQ(Wait(), (Outcome{KX305_STATUS_OK, 100}));
    EXPECT_EQ(clock.second, 1);
    EXPECT_EQ(clock.month, 5);
}

TEST_F(RequestEngine, StrayFramesNeitherCompleteNorTouchTheRecord) {
    const ScopedRequestTiming timing(kShortTryMs);
    ClockRecord clock{};
    ASSERT_EQ(KX305GetTime(&handle_, &clock), KX305_STATUS_OK);
    Expect(CMD_GET_TIME);
    const Bytes stale = testing::WireFrame(CMD_GET_RESULTS, {0, 4, 0, 0, 0, 0, 1, 2, 3, 4});
    const Bytes wrongAddress = testing::WireFrame(CMD_GET_TIME, {0, 1, 2, 3, 4, 5}, 7);
    Bytes badSum = testing::WireFrame(CMD_GET_TIME, {0, 1, 2, 3, 4, 5});
    badSum.back() ^= 0x01;
    Bytes truncated = testing::WireFrame(CMD_GET_TIME, {0, 1, 2, 3, 4});  // a time reply needs 6 bytes
    Bytes unknown = testing::WireFrame(12, {});
    for (const Bytes& b : {stale, wrongAddress, badSum, truncated, unknown}) device_.Write(b);
    EXPECT_EQ(Wait(), (Outcome{KX305_STATUS_BUSY, 25}));
    // Ended, so that the record may be looked at.
    ASSERT_EQ(KX305UserBreak(&handle_), KX305_STATUS_OK);
    EXPECT_EQ(Wait(), (Outcome{KX305_STATUS_BROKEN_OFF, 100}));
    EXPECT_EQ(clock.second, 0);
    EXPECT_EQ(clock.month, 0);
    Expect(CMD_GET_TIME);  // the retry that the time-out had asked for

    // The next request is answered after line noise, split into single bytes.
    ASSERT_EQ(KX305GetTime(&handle_, &clock), KX305_STATUS_OK);
    Expect(CMD_GET_TIME);
    device_.Write({0x00, 0x7F, 0x12, 0xFF, 0x7E, 0x01});
    device_.Write(testing::WireFrame(CMD_GET_TIME, {0x7E, 0x15, 0x28, 0x12, 0x24, 0x06}), true);
    EXPECT_EQ(Wait(), (Outcome{KX305_STATUS_OK, 100}));
    EXPECT_EQ(clock.second, 15);
    EXPECT_EQ(clock.minute, 28);
    EXPECT_EQ(clock.day, 24);
}

TEST_F(RequestEngine, NewRequestReplacesThePendingOne) {
    ClockRecord clock{};
    ConverterInfo info{};
    ASSERT_EQ(KX305GetTime(&handle_, &clock), KX305_STATUS_OK);
    ASSERT_EQ(KX305GetInfo(&handle_, &info), KX305_STATUS_OK);
    Frame request;
    do {
        ASSERT_TRUE(device_.ReadRequest(request));
    } while (request.command() == CMD_GET_TIME);
    EXPECT_EQ(request.command(), CMD_GET_INFO);
    device_.Reply(CMD_GET_TIME, {0, 0x01, 0x02, 0x03, 0x04, 0x05});
    device_.Reply(CMD_GET_INFO, InfoPayload(1, 5));
    EXPECT_EQ(Wait(), (Outcome{KX305_STATUS_OK, 100}));
    EXPECT_EQ(info.versionMinor, 5);
    EXPECT_EQ(clock.month, 0) << "the replaced request's reply is not awaited";
}

TEST_F(RequestEngine, UserBreakEndsAWaitOnAnotherThreadAtOnce) {
    // A try far longer than the test: only the break can end the wait.
    const ScopedRequestTiming timing(60000);
    ClockRecord clock{};
    ASSERT_EQ(KX305GetTime(&handle_, &clock), KX305_STATUS_OK);
    auto waiting = std::async(std::launch::async, [this] { return Wait(); });
    ASSERT_TRUE(WaitUntil([this] { return CallersWaiting(handle_) == 1; }));
    EXPECT_EQ(KX305UserBreak(&handle_), KX305_STATUS_OK);
    ASSERT_EQ(waiting.wait_for(20s), std::future_status::ready) << "the break did not end the wait";
    EXPECT_EQ(waiting.get(), (Outcome{KX305_STATUS_BROKEN_OFF, 100}));

    // The reply still arriving for the broken-off request is handled as usual.
    Expect(CMD_GET_TIME);
    device_.Reply(CMD_GET_TIME, {0, 0x01, 0x02, 0x03, 0x04, 0x05});
    EXPECT_EQ(Wait(), (Outcome{KX305_STATUS_OK, 100}));
    EXPECT_EQ(clock.month, 5);
}

TEST_F(RequestEngine, NeverStartedHandleReportsTimeoutAtOnceAndSendsNothing) {
    const auto start = Clock::now();
    EXPECT_EQ(Wait(), (Outcome{KX305_STATUS_TIMEOUT, 100}));
    EXPECT_EQ(Wait(), (Outcome{KX305_STATUS_TIMEOUT, 100}));
    EXPECT_LT(Clock::now() - start, 1000ms);
    ExpectNothingSentBefore(&handle_, device_);
}

TEST_F(RequestEngine, MinutePeriodCommandsUpToFirmware101) {
    Identify(1, 1);
    uint16_t period = 0;
    ASSERT_EQ(KX305GetLogPeriod(&handle_, &period), KX305_STATUS_OK);
    Expect(CMD_GET_PERIOD_MIN);
    device_.Reply(CMD_GET_PERIOD_MIN, {15});
    EXPECT_EQ(Wait(), (Outcome{KX305_STATUS_OK, 100}));
    EXPECT_EQ(period, 15);
    const uint16_t set = 0x0105;
    ASSERT_EQ(KX305SetLogPeriod(&handle_, &set), KX305_STATUS_OK);
    EXPECT_EQ(PayloadOf(Expect(CMD_SET_PERIOD_MIN)), Bytes{0x05});
    device_.Reply(CMD_SET_PERIOD_MIN, {});
    EXPECT_EQ(Wait(), (Outcome{KX305_STATUS_OK, 100}));

    Identify(1, 2);
    ASSERT_EQ(KX305GetLogPeriod(&handle_, &period), KX305_STATUS_OK);
    Expect(CMD_GET_PERIOD_SEC);
    device_.Reply(CMD_GET_PERIOD_SEC, {0x0E, 0x10});
    EXPECT_EQ(Wait(), (Outcome{KX305_STATUS_OK, 100}));
    EXPECT_EQ(period, 3600);
    ASSERT_EQ(KX305SetLogPeriod(&handle_, &set), KX305_STATUS_OK);
    EXPECT_EQ(PayloadOf(Expect(CMD_SET_PERIOD_SEC)), (Bytes{0x01, 0x05}));
}

TEST_F(RequestEngine, RainResetAndResultsLayoutFollowFirmware105) {
    Identify(1, 4);
    const auto start = Clock::now();
    ASSERT_EQ(KX305ResetRainCounter(&handle_), KX305_STATUS_OK);
    EXPECT_EQ(Wait(), (Outcome{KX305_STATUS_OK, 100}));
    EXPECT_LT(Clock::now() - start, 1000ms);
    // Nothing went out: the next frame on the line is the next request.
    InputReading results[KX305_INPUTS] = {};
    ASSERT_EQ(KX305GetResults(&handle_, results), KX305_STATUS_OK);
    Expect(CMD_GET_RESULTS);
    // Old layout: lengths of inputs 1 to 4 only.
    device_.Reply(CMD_GET_RESULTS, {0, 4, 0, 0, 0, 0x10, 0x27, 0, 0});
    EXPECT_EQ(Wait(), (Outcome{KX305_STATUS_OK, 100}));
    EXPECT_EQ(results[0].type, 0u);
    EXPECT_EQ(results[1].type, 1u);
    EXPECT_EQ(results[1].data[0], 10000);

    Identify(1, 5);
    ASSERT_EQ(KX305ResetRainCounter(&handle_), KX305_STATUS_OK);
    Expect(CMD_RESET_RAIN);
    device_.Reply(CMD_RESET_RAIN, {});
    EXPECT_EQ(Wait(), (Outcome{KX305_STATUS_OK, 100}));
}

TEST_F(RequestEngine, ClearLogIsSentFromFirmware113) {
    Identify(1, 12);
    ASSERT_EQ(KX305ClearLog(&handle_), KX305_STATUS_OK);
    EXPECT_EQ(Wait(), (Outcome{KX305_STATUS_OK, 100}));
    ClockRecord clock{};
    ASSERT_EQ(KX305GetTime(&handle_, &clock), KX305_STATUS_OK);
    Expect(CMD_GET_TIME);
    device_.Reply(CMD_GET_TIME, {0, 1, 2, 3, 4, 5});
    EXPECT_EQ(Wait(), (Outcome{KX305_STATUS_OK, 100}));

    Identify(1, 13);
    ASSERT_EQ(KX305ClearLog(&handle_), KX305_STATUS_OK);
    Expect(CMD_CLEAR_LOG);
    device_.Reply(CMD_CLEAR_LOG, {});
    EXPECT_EQ(Wait(), (Outcome{KX305_STATUS_OK, 100}));
}

TEST_F(RequestEngine, CloseWithTheReaderBlockedReturnsPromptly) {
    auto closing = std::async(std::launch::async, [this] { return KX305Close(&handle_); });
    ASSERT_EQ(closing.wait_for(2s), std::future_status::ready) << "KX305Close hangs";
    EXPECT_EQ(closing.get(), KX305_STATUS_OK);
    EXPECT_EQ(handle_, nullptr);
}

TEST_F(RequestEngine, HungUpLineFailsTheRequestAndStillCloses) {
    // An unplugged converter: the other end of the line is gone.  The reader
    // stops on its failed read, and the request cannot be written.
    device_.HangUp();
    ClockRecord clock{};
    ASSERT_EQ(KX305GetTime(&handle_, &clock), KX305_STATUS_OK);
    EXPECT_EQ(Wait(), (Outcome{KX305_STATUS_PORT_ERROR, 100}));
    auto closing = std::async(std::launch::async, [this] { return KX305Close(&handle_); });
    ASSERT_EQ(closing.wait_for(2s), std::future_status::ready);
}

TEST(HandleRules, BadHandlesGive9AndChangeNothing) {
    KX305Handle null = nullptr;
    int notAHandle = 0;
    KX305Handle unknown = &notAHandle;
    uint32_t percent = 7;
    ConverterInfo info{};
    ClockRecord clock{};
    uint16_t value = 0;
    InputReading results[KX305_INPUTS];
    LogBuffer log{3, nullptr};
    for (KX305Handle* ph : {static_cast<KX305Handle*>(nullptr), &null, &unknown}) {
        EXPECT_EQ(KX305Close(ph), KX305_STATUS_BAD_HANDLE);
        EXPECT_EQ(KX305DoneWait(ph, &percent), KX305_STATUS_BAD_HANDLE);
        EXPECT_EQ(KX305UserBreak(ph), KX305_STATUS_BAD_HANDLE);
        EXPECT_EQ(KX305GetInfo(ph, &info), KX305_STATUS_BAD_HANDLE);
        EXPECT_EQ(KX305SetSerialNumber(ph, &value), KX305_STATUS_BAD_HANDLE);
        EXPECT_EQ(KX305GetTime(ph, &clock), KX305_STATUS_BAD_HANDLE);
        EXPECT_EQ(KX305SetTime(ph, &clock), KX305_STATUS_BAD_HANDLE);
        EXPECT_EQ(KX305GetLogPeriod(ph, &value), KX305_STATUS_BAD_HANDLE);
        EXPECT_EQ(KX305SetLogPeriod(ph, &value), KX305_STATUS_BAD_HANDLE);
        EXPECT_EQ(KX305GetResults(ph, results), KX305_STATUS_BAD_HANDLE);
        EXPECT_EQ(KX305GetLog(ph, &log), KX305_STATUS_BAD_HANDLE);
        EXPECT_EQ(KX305PeekLog(ph, &log), KX305_STATUS_BAD_HANDLE);
        EXPECT_EQ(KX305FreeLog(ph, &log), KX305_STATUS_BAD_HANDLE);
        EXPECT_EQ(KX305ResetRainCounter(ph), KX305_STATUS_BAD_HANDLE);
        EXPECT_EQ(KX305ClearLog(ph), KX305_STATUS_BAD_HANDLE);
    }
    EXPECT_EQ(percent, 7u);
    EXPECT_EQ(log.count, 3);
    EXPECT_EQ(unknown, &notAHandle);
}

TEST(HandleRules, ClosedHandleAndNullRecordsGive9) {
    FakeConverter device;
    KX305Handle handle = nullptr;
    ASSERT_EQ(KX305Open(&handle, device.path().c_str()), KX305_STATUS_OK);
    KX305Handle copy = handle;
    EXPECT_EQ(KX305GetInfo(&handle, nullptr), KX305_STATUS_BAD_HANDLE);
    EXPECT_EQ(KX305GetResults(&handle, nullptr), KX305_STATUS_BAD_HANDLE);
    EXPECT_EQ(KX305SetLogPeriod(&handle, nullptr), KX305_STATUS_BAD_HANDLE);
    EXPECT_EQ(KX305GetLog(&handle, nullptr), KX305_STATUS_BAD_HANDLE);
    ExpectNothingSentBefore(&handle, device);
    ASSERT_EQ(KX305Close(&handle), KX305_STATUS_OK);
    EXPECT_EQ(handle, nullptr);
    EXPECT_EQ(KX305Close(&handle), KX305_STATUS_BAD_HANDLE);
    EXPECT_EQ(KX305Close(&copy), KX305_STATUS_BAD_HANDLE) << "a closed handle is no longer registered";
    EXPECT_EQ(KX305Open(nullptr, device.path().c_str()), KX305_STATUS_BAD_HANDLE);
}

TEST(HandleRules, OpenFailuresGive6AndLeaveTheVariableNull) {
    int marker = 0;
    KX305Handle handle = &marker;
    EXPECT_EQ(KX305Open(&handle, "/dev/kx305-no-such-port"), KX305_STATUS_PORT_ERROR);
    EXPECT_EQ(handle, nullptr);
    handle = &marker;
    EXPECT_EQ(KX305Open(&handle, "/dev/null"), KX305_STATUS_PORT_ERROR) << "not a terminal";
    EXPECT_EQ(handle, nullptr);
    EXPECT_EQ(KX305Open(&handle, nullptr), KX305_STATUS_PORT_ERROR);
    EXPECT_EQ(handle, nullptr);
}

TEST(HandleRules, SecondOpenOfAPortGives6) {
    FakeConverter device;
    KX305Handle first = nullptr;
    KX305Handle second = nullptr;
    ASSERT_EQ(KX305Open(&first, device.path().c_str()), KX305_STATUS_OK);
    EXPECT_EQ(KX305Open(&second, device.path().c_str()), KX305_STATUS_PORT_ERROR);
    EXPECT_EQ(second, nullptr);
    ASSERT_EQ(KX305Close(&first), KX305_STATUS_OK);
    // Released with the first handle.
    ASSERT_EQ(KX305Open(&second, device.path().c_str()), KX305_STATUS_OK);
    EXPECT_EQ(KX305Close(&second), KX305_STATUS_OK);
}

TEST(HandleRules, HandlesAreIndependent) {
    FakeConverter a;
    FakeConverter b;
    KX305Handle ha = nullptr;
    KX305Handle hb = nullptr;
    ASSERT_EQ(KX305Open(&ha, a.path().c_str()), KX305_STATUS_OK);
    ASSERT_EQ(KX305Open(&hb, b.path().c_str()), KX305_STATUS_OK);
    ClockRecord ca{};
    ClockRecord cb{};
    ASSERT_EQ(KX305GetTime(&ha, &ca), KX305_STATUS_OK);
    ASSERT_EQ(KX305GetTime(&hb, &cb), KX305_STATUS_OK);
    Frame request;
    ASSERT_TRUE(b.ReadRequest(request));
    b.Reply(CMD_GET_TIME, {0, 0x22, 0, 0, 0x01, 0x02});
    uint32_t percent = 0;
    EXPECT_EQ(KX305DoneWait(&hb, &percent), KX305_STATUS_OK);
    EXPECT_EQ(cb.second, 22);
    EXPECT_EQ(ca.second, 0);
    ASSERT_EQ(KX305Close(&ha), KX305_STATUS_OK);
    // Closing one leaves the other working.
    ASSERT_EQ(KX305GetTime(&hb, &cb), KX305_STATUS_OK);
    ASSERT_TRUE(b.ReadRequest(request));
    b.Reply(CMD_GET_TIME, {0, 0x33, 0, 0, 0x01, 0x02});
    EXPECT_EQ(KX305DoneWait(&hb, &percent), KX305_STATUS_OK);
    EXPECT_EQ(cb.second, 33);
    EXPECT_EQ(KX305Close(&hb), KX305_STATUS_OK);
}

// Calls on a handle from many threads while another thread opens and closes
// it over and over: a call racing the close must either run on the live
// handle or give 9, never touch a freed one (the sanitizer builds see that).
TEST(HandleRules, CallsRacingCloseRunOnTheLiveHandleOrGive9) {
    const ScopedRequestTiming timing(2);
    FakeConverter device;
    std::atomic<bool> stop{false};
    // The requests that go out are read away, so that the line never fills.
    std::thread drain([&] {
        uint8_t buffer[256];
        while (!stop.load()) {
            pollfd p{device.master(), POLLIN, 0};
            if (poll(&p, 1, 10) > 0 && (p.revents & POLLIN)) {
                [[maybe_unused]] const ssize_t n = read(device.master(), buffer, sizeof buffer);
            }
        }
    });

    std::atomic<KX305Handle> current{nullptr};
    std::atomic<uint64_t> calls{0};
    std::atomic<uint64_t> live{0};
    std::atomic<uint64_t> gone{0};
    std::atomic<uint64_t> wrong{0};
    auto caller = [&](unsigned seed) {
        ClockRecord clock{};
        for (unsigned n = seed; !stop.load(); ++n) {
            KX305Handle handle = current.load();
            if (handle == nullptr) {
                std::this_thread::yield();
                continue;
            }
            KX305Status status = 0;
            bool request = true;  // 0 or 9 are the only answers
            switch (n % 4) {
            case 0:
                status = KX305UserBreak(&handle);
                break;
            case 1:
                status = KX305GetTime(&handle, &clock);
                break;
            case 2:
                status = KX305ClearLog(&handle);
                break;
            default:
                uint32_t percent = 0;
                status = KX305DoneWait(&handle, &percent);
                request = false;
                if (status != KX305_STATUS_BAD_HANDLE && percent > 100) ++wrong;
                break;
            }
            if (status == KX305_STATUS_BAD_HANDLE) {
                ++gone;
                std::this_thread::yield();  // leave the cores to the next open
            } else if (request ? status == KX305_STATUS_OK : status >= 0 && status <= KX305_STATUS_NO_RESOURCE)
                ++live;
            else
                ++wrong;
            ++calls;
        }
    };
    std::vector<std::thread> callers;
    for (unsigned t = 0; t < 4; ++t) callers.emplace_back(caller, t);

    for (int round = 0; round < 100; ++round) {
        KX305Handle handle = nullptr;
        ASSERT_EQ(KX305Open(&handle, device.path().c_str()), KX305_STATUS_OK) << "round " << round;
        current.store(handle);
        // Let the callers get going on this handle before it is closed.
        const uint64_t before = calls.load();
        ASSERT_TRUE(WaitUntil([&] { return calls.load() >= before + 8; }));
        ASSERT_EQ(KX305Close(&handle), KX305_STATUS_OK) << "round " << round;
        // `current` still names the closed handle until the next open.
    }
    stop.store(true);
    for (std::thread& t : callers) t.join();
    drain.join();
    EXPECT_EQ(wrong.load(), 0u);
    EXPECT_GT(live.load(), 0u);
    EXPECT_GT(gone.load(), 0u);
}

// KX305Close while a KX305DoneWait of another thread waits on the handle:
// the wait ends with 9 and the close returns, neither waits out the try.
TEST_F(RequestEngine, CloseEndsAWaitOnAnotherThread) {
    const ScopedRequestTiming timing(60000);
    ClockRecord clock{};
    ASSERT_EQ(KX305GetTime(&handle_, &clock), KX305_STATUS_OK);
    KX305Handle copy = handle_;
    auto waiting = std::async(std::launch::async, [&copy] { return testing::WaitOnce(&copy); });
    ASSERT_TRUE(WaitUntil([this] { return CallersWaiting(handle_) == 1; }));
    auto closing = std::async(std::launch::async, [this] { return KX305Close(&handle_); });
    ASSERT_EQ(closing.wait_for(20s), std::future_status::ready) << "KX305Close waits for the other call's try";
    EXPECT_EQ(closing.get(), KX305_STATUS_OK);
    ASSERT_EQ(waiting.wait_for(20s), std::future_status::ready);
    EXPECT_EQ(waiting.get(), (Outcome{KX305_STATUS_BAD_HANDLE, 12345}));
}

}  // namespace
}  // namespace kx305
