// kx305.dll under Wine against simulated converters on COM ports (see
// scripts/wine-sim-run for what sits on which port).  These go through the
// real Win32 serial path: overlapped reads and writes on a pseudo-terminal
// that Wine opens as \\.\COMn.
#include <windows.h>

#include <atomic>
#include <future>
#include <vector>

#include <gtest/gtest.h>

#include "../done_wait.h"
#include "kx305.h"
#include "test_support.h"

namespace kx305::wintest {
namespace {

using Step = testing::Outcome;
using testing::Finish;
using testing::PollToEnd;

ConverterInfo ReadInfo(KX305Handle* h) {
    ConverterInfo info{};
    EXPECT_EQ(KX305GetInfo(h, &info), KX305_STATUS_OK);
    EXPECT_EQ(Finish(h), KX305_STATUS_OK);
    return info;
}

uint16_t ReadPeriod(KX305Handle* h) {
    uint16_t period = 0;
    EXPECT_EQ(KX305GetLogPeriod(h, &period), KX305_STATUS_OK);
    EXPECT_EQ(Finish(h), KX305_STATUS_OK);
    return period;
}

void ReadResults(KX305Handle* h, InputReading (&results)[KX305_INPUTS]) {
    ASSERT_EQ(KX305GetResults(h, results), KX305_STATUS_OK);
    ASSERT_EQ(Finish(h), KX305_STATUS_OK);
}

// A command the firmware lacks is not sent: the simulator would not answer
// it, and the wait would run into retries.  It completes on the first wait.
void ExpectCompletesAtOnce(KX305Handle* h, KX305Status started) {
    ASSERT_EQ(started, KX305_STATUS_OK);
    EXPECT_EQ(PollToEnd(h), (std::vector<Step>{{0, 100}}));
}

TEST(ConverterOnComPort, ReadsIdentityClockAndReadings) {
    OpenHandle h(SimPort("KX305_PORT_FW113"));
    ASSERT_EQ(h.status(), KX305_STATUS_OK);

    const ConverterInfo info = ReadInfo(h.get());
    EXPECT_EQ(info.versionMajor, 1);
    EXPECT_EQ(info.versionMinor, 13);
    EXPECT_EQ(info.day, 15);
    EXPECT_EQ(info.month, 6);
    EXPECT_EQ(info.year, 2009);
    EXPECT_EQ(info.serialNumber, 3051);

    // The converter was started at 06-15 12:00:00 UTC a few seconds ago.
    ClockRecord clock{};
    ASSERT_EQ(KX305GetTime(h.get(), &clock), KX305_STATUS_OK);
    ASSERT_EQ(Finish(h.get()), KX305_STATUS_OK);
    EXPECT_EQ(clock.month, 6);
    EXPECT_EQ(clock.day, 15);
    EXPECT_EQ(clock.hour, 12);
    EXPECT_LT(clock.minute, 10);

    InputReading results[KX305_INPUTS]{};
    ReadResults(h.get(), results);
    EXPECT_EQ(results[0].type, 1u);  // rain gauge
    EXPECT_EQ(results[1].type, 3u);  // KX-124
    EXPECT_EQ(results[1].data[3], 1201);
    EXPECT_EQ(results[2].type, 5u);  // KX-125
    EXPECT_EQ(results[3].type, 6u);  // KX-129
    EXPECT_EQ(results[4].type, 0u);
}

TEST(ConverterOnComPort, SetsTheClock) {
    OpenHandle h(SimPort("KX305_PORT_FW112"));
    ASSERT_EQ(h.status(), KX305_STATUS_OK);
    ReadInfo(h.get());

    const ClockRecord wanted{1, 2, 3, 4, 5};
    ASSERT_EQ(KX305SetTime(h.get(), &wanted), KX305_STATUS_OK);
    ASSERT_EQ(Finish(h.get()), KX305_STATUS_OK);
    ClockRecord clock{};
    ASSERT_EQ(KX305GetTime(h.get(), &clock), KX305_STATUS_OK);
    ASSERT_EQ(Finish(h.get()), KX305_STATUS_OK);
    EXPECT_EQ(clock.month, 1);
    EXPECT_EQ(clock.day, 2);
    EXPECT_EQ(clock.hour, 3);
    EXPECT_EQ(clock.minute, 4);
    EXPECT_GE(clock.second, 5);
    EXPECT_LT(clock.second, 35);
}

TEST(ConverterOnComPort, SilentConverterTimesOutAfterFourTries) {
    OpenHandle h(SimPort("KX305_PORT_SILENT"));
    ASSERT_EQ(h.status(), KX305_STATUS_OK);
    ConverterInfo info{};
    ASSERT_EQ(KX305GetInfo(h.get(), &info), KX305_STATUS_OK);
    EXPECT_EQ(PollToEnd(h.get()), (std::vector<Step>{{1, 25}, {1, 50}, {1, 75}, {1, 100}, {4, 100}}));
}

TEST(ConverterOnComPort, UserBreakEndsAWaitOnAnotherThread) {
    OpenHandle h(SimPort("KX305_PORT_SILENT"));
    ASSERT_EQ(h.status(), KX305_STATUS_OK);
    ConverterInfo info{};
    ASSERT_EQ(KX305GetInfo(h.get(), &info), KX305_STATUS_OK);
    // The waiter's wait begins right after it has said so; the try would
    // end it only after 2500 ms.
    std::atomic<bool> waiting{false};
    auto waiter = std::async(std::launch::async, [&] {
        waiting.store(true);
        const auto start = std::chrono::steady_clock::now();
        const Step step = testing::WaitOnce(h.get());
        return std::make_pair(step, std::chrono::steady_clock::now() - start);
    });
    ASSERT_TRUE(testing::WaitUntil([&] { return waiting.load(); }));
    EXPECT_EQ(KX305UserBreak(h.get()), KX305_STATUS_OK);
    const auto [step, waited] = waiter.get();
    EXPECT_EQ(step, (Step{3, 100}));
    EXPECT_LT(waited, std::chrono::milliseconds(2000)) << "the try ran out instead";
}

// Log period in minutes up to 1.01, in seconds after; rain reset from 1.05;
// clearing the memory from 1.13.
TEST(FirmwareGates, Firmware101KeepsThePeriodInMinutesAndLacksRainResetAndClear) {
    OpenHandle h(SimPort("KX305_PORT_FW101"));
    ASSERT_EQ(h.status(), KX305_STATUS_OK);
    const ConverterInfo info = ReadInfo(h.get());
    EXPECT_EQ(info.versionMinor, 1);
    EXPECT_EQ(info.serialNumber, 1011);

    EXPECT_EQ(ReadPeriod(h.get()), 2);
    const uint16_t newPeriod = 5;
    ASSERT_EQ(KX305SetLogPeriod(h.get(), &newPeriod), KX305_STATUS_OK);
    ASSERT_EQ(Finish(h.get()), KX305_STATUS_OK);
    EXPECT_EQ(ReadPeriod(h.get()), 5);

    ExpectCompletesAtOnce(h.get(), KX305ResetRainCounter(h.get()));
    ExpectCompletesAtOnce(h.get(), KX305ClearLog(h.get()));
}

TEST(FirmwareGates, Firmware104CountsSecondsButHasNoRainInputOrReset) {
    OpenHandle h(SimPort("KX305_PORT_FW104"));
    ASSERT_EQ(h.status(), KX305_STATUS_OK);
    EXPECT_EQ(ReadInfo(h.get()).serialNumber, 1041);

    EXPECT_EQ(ReadPeriod(h.get()), 120);

    // The old results block has no input 0.
    InputReading results[KX305_INPUTS]{};
    ReadResults(h.get(), results);
    EXPECT_EQ(results[0].type, 0u);
    EXPECT_EQ(results[1].type, 3u);

    ExpectCompletesAtOnce(h.get(), KX305ResetRainCounter(h.get()));
}

TEST(FirmwareGates, Firmware112ResetsTheRainCounterButCannotClearTheMemory) {
    OpenHandle h(SimPort("KX305_PORT_FW112"));
    ASSERT_EQ(h.status(), KX305_STATUS_OK);
    EXPECT_EQ(ReadInfo(h.get()).serialNumber, 1121);

    InputReading results[KX305_INPUTS]{};
    ReadResults(h.get(), results);
    ASSERT_EQ(results[0].type, 1u);
    EXPECT_EQ(results[0].data[0], static_cast<int32_t>(SimNumber("KX305_FW112_RAIN")));
    EXPECT_NE(results[0].data[0], 0);

    ASSERT_EQ(KX305ResetRainCounter(h.get()), KX305_STATUS_OK);
    ASSERT_EQ(Finish(h.get()), KX305_STATUS_OK);
    ReadResults(h.get(), results);
    EXPECT_EQ(results[0].data[0], 0);

    ExpectCompletesAtOnce(h.get(), KX305ClearLog(h.get()));
}

// The simulator on this port sends at the real 9600-baud rate, so the
// transfer of its records takes seconds and the waits see it progress.
TEST(LogTransfer, PeekReportsProgressAndDeliversEveryRecordThenClearEmptiesTheMemory) {
    const unsigned stored = SimNumber("KX305_FW113_RECORDS");
    ASSERT_GT(stored, 10u);
    OpenHandle h(SimPort("KX305_PORT_FW113"));
    ASSERT_EQ(h.status(), KX305_STATUS_OK);
    ReadInfo(h.get());

    LogBuffer log{};
    ASSERT_EQ(KX305PeekLog(h.get(), &log), KX305_STATUS_OK);
    const std::vector<Step> steps = PollToEnd(h.get());
    ASSERT_EQ(steps.back(), (Step{0, 100}));
    size_t progressSteps = 0;
    uint32_t lastPercent = 0;
    for (size_t i = 0; i + 1 < steps.size(); ++i) {
        EXPECT_EQ(steps[i].status, KX305_STATUS_PROGRESS) << "step " << i;
        EXPECT_GE(steps[i].percent, lastPercent) << "step " << i;
        lastPercent = steps[i].percent;
        ++progressSteps;
    }
    EXPECT_GE(progressSteps, 3u);

    ASSERT_EQ(log.count, stored);
    ASSERT_NE(log.records, nullptr);
    SYSTEMTIME now{};
    GetLocalTime(&now);
    for (unsigned k = 0; k < log.count; ++k) {
        const LogRecord& r = log.records[k];
        EXPECT_EQ(r.year, now.wYear) << "record " << k;
        EXPECT_EQ(r.month, 6) << "record " << k;
        EXPECT_EQ(r.day, 15) << "record " << k;
        EXPECT_EQ(r.results[0].type, 1u) << "record " << k;
        EXPECT_EQ(r.results[1].type, 3u) << "record " << k;
        EXPECT_EQ(r.results[1].data[3], 1201) << "record " << k;
        EXPECT_EQ(r.results[3].type, 6u) << "record " << k;
        if (k > 0) {
            const int minutes = r.hour * 60 + r.minute;
            const int before = log.records[k - 1].hour * 60 + log.records[k - 1].minute;
            EXPECT_EQ(minutes - before, 1) << "record " << k << " is one log period after the one before";
        }
    }

    // A peek leaves the records in the converter; clearing removes them.
    ASSERT_EQ(KX305ClearLog(h.get()), KX305_STATUS_OK);
    ASSERT_EQ(Finish(h.get()), KX305_STATUS_OK);
    ASSERT_EQ(KX305PeekLog(h.get(), &log), KX305_STATUS_OK);
    ASSERT_EQ(Finish(h.get()), KX305_STATUS_OK);
    EXPECT_LE(log.count, 1u);  // a new record may have been stored meanwhile

    ASSERT_EQ(KX305FreeLog(h.get(), &log), KX305_STATUS_OK);
    EXPECT_EQ(log.count, 0);
    EXPECT_EQ(log.records, nullptr);
}

TEST(PortUse, ASecondOpenOfAHeldPortFailsUntilItIsClosed) {
    const std::string port = SimPort("KX305_PORT_FW104");
    KX305Handle first = nullptr;
    ASSERT_EQ(KX305Open(&first, port.c_str()), KX305_STATUS_OK);
    KX305Handle second = reinterpret_cast<KX305Handle>(1);
    EXPECT_EQ(KX305Open(&second, port.c_str()), KX305_STATUS_PORT_ERROR);
    EXPECT_EQ(second, nullptr);
    // The same port under another spelling of its name.
    EXPECT_EQ(KX305Open(&second, "com7"), KX305_STATUS_PORT_ERROR);

    EXPECT_EQ(KX305Close(&first), KX305_STATUS_OK);
    ASSERT_EQ(KX305Open(&second, port.c_str()), KX305_STATUS_OK);
    EXPECT_EQ(ReadInfo(&second).serialNumber, 1041);
    EXPECT_EQ(KX305Close(&second), KX305_STATUS_OK);
}

TEST(PortUse, AMissingPortGivesPortError) {
    KX305Handle h = reinterpret_cast<KX305Handle>(1);
    EXPECT_EQ(KX305Open(&h, SimPort("KX305_PORT_MISSING").c_str()), KX305_STATUS_PORT_ERROR);
    EXPECT_EQ(h, nullptr);
}

// Nothing arrives on the silent port, so the reader thread sits in a pending
// overlapped read; Close must end it and return.
TEST(PortUse, CloseEndsAReadThatWaitsForever) {
    const std::string port = SimPort("KX305_PORT_SILENT");
    for (bool requestPending : {false, true}) {
        SCOPED_TRACE(requestPending ? "request sent" : "idle");
        KX305Handle h = nullptr;
        ASSERT_EQ(KX305Open(&h, port.c_str()), KX305_STATUS_OK);
        ConverterInfo info{};
        if (requestPending) {
            // A try that found no reply: the request went out, and the
            // reader has been waiting for bytes through the whole try.
            ASSERT_EQ(KX305GetInfo(&h, &info), KX305_STATUS_OK);
            ASSERT_EQ(testing::WaitOnce(&h), (Step{1, 25}));
        }
        KX305Status closed = -1;
        ExpectReturnsWithin(30, "KX305Close", [&] { closed = KX305Close(&h); });
        EXPECT_EQ(closed, KX305_STATUS_OK);
        EXPECT_EQ(h, nullptr);
        EXPECT_EQ(KX305Close(&h), KX305_STATUS_BAD_HANDLE);
    }
}

TEST(PortUse, HandlesOnDifferentPortsWorkSideBySide) {
    OpenHandle a(SimPort("KX305_PORT_FW101"));
    OpenHandle b(SimPort("KX305_PORT_FW112"));
    ASSERT_EQ(a.status(), KX305_STATUS_OK);
    ASSERT_EQ(b.status(), KX305_STATUS_OK);
    ConverterInfo infoA{}, infoB{};
    ASSERT_EQ(KX305GetInfo(a.get(), &infoA), KX305_STATUS_OK);
    ASSERT_EQ(KX305GetInfo(b.get(), &infoB), KX305_STATUS_OK);
    EXPECT_EQ(Finish(b.get()), KX305_STATUS_OK);
    EXPECT_EQ(Finish(a.get()), KX305_STATUS_OK);
    EXPECT_EQ(infoA.serialNumber, 1011);
    EXPECT_EQ(infoB.serialNumber, 1121);
}

}  // namespace
}  // namespace kx305::wintest
