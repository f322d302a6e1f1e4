// The user's device operations on a simulated converter: clock, log
// interval, rain counter, withdrawn and undeliverable requests.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <optional>

#include "simulator_fixture.h"
#include "time/local_time.h"
#include "time_zone.h"

namespace kx305mon::testing {
namespace {

class DeviceOperations : public AcquisitionOnSimulator {
protected:
    void TearDown() override {
        AcquisitionOnSimulator::TearDown();  // the worker is gone before the zone changes back
        zone_.reset();
    }

    // A zone one hour east of UTC without summer time.  Before the worker starts.
    void UseUtcPlusOne() { zone_.emplace("CET-1"); }

    // The converter clock as the simulator reports it, in seconds of this
    // UTC year (no year is kept by the converter).
    long ConverterSecondsOfYear() {
        std::string clock = ReplyText(Control("state"), "clock");  // MM-DDTHH:MM:SS
        struct tm fields {};
        time_t now = time(nullptr);
        gmtime_r(&now, &fields);
        if (std::sscanf(clock.c_str(), "%d-%dT%d:%d:%d", &fields.tm_mon, &fields.tm_mday, &fields.tm_hour,
                        &fields.tm_min, &fields.tm_sec) != 5) {
            return -1;
        }
        fields.tm_mon -= 1;
        return static_cast<long>(timegm(&fields));
    }

    size_t EventsTo(WindowRef window, Notice::Kind kind, size_t from = 0) {
        return recorder.Count([&](const Notice& n) { return n.kind == kind && n.window == window; }, from);
    }

    DeviceRequest Slot() {
        MutexLock guard(context.plumbing.lock);
        return context.request;
    }

private:
    std::optional<ScopedTimeZone> zone_;
};

TEST_F(DeviceOperations, ClockSynchronisationWritesTheComputersUtcTime) {
    UseUtcPlusOne();
    StartSimulator({"--no-drift", "--clock", "01-01 00:00:00"});
    StartWorker();
    ASSERT_TRUE(WaitCycles(1));

    PlaceRequest(context, RequesterOf(kMain), kOpSyncClock, 0);
    ASSERT_TRUE(recorder.WaitFor(Notice::ClockSet));
    ASSERT_EQ(EventsTo(kMain, Notice::ClockSet), 1u);
    EXPECT_EQ(recorder.Count(IsAnswer(Notice::ClockSet, true)), 1u);

    // UTC, not the local time an hour ahead.
    long utcNow = static_cast<long>(time(nullptr));
    EXPECT_LE(std::labs(ConverterSecondsOfYear() - utcNow), 5);
    EXPECT_EQ(Received(kCodeSetTime), 1);
    EXPECT_EQ(Slot(), 0u);
}

TEST_F(DeviceOperations, SetClockSendsTheStoredUtcTime) {
    UseUtcPlusOne();
    StartSimulator({"--no-drift"});
    StartWorker();
    ASSERT_TRUE(WaitCycles(1));

    // 10:00 local time on 19 February in UTC+1 is 09:00 UTC.
    CalendarTime local;
    local.year = CurrentUtcTime().year;
    local.month = 2;
    local.day = 19;
    local.hour = 10;
    CalendarTime utc;
    ASSERT_TRUE(LocalToUtc(local, utc));
    {
        MutexLock guard(context.plumbing.lock);
        context.setTimeClock = {static_cast<uint8_t>(utc.month), static_cast<uint8_t>(utc.day),
                                static_cast<uint8_t>(utc.hour), static_cast<uint8_t>(utc.minute),
                                static_cast<uint8_t>(utc.second)};
    }
    PlaceRequest(context, RequesterOf(kMain), kOpSetClock, 0);
    ASSERT_TRUE(recorder.WaitFor(IsAnswer(Notice::ClockSet, true)));
    std::string clock = ReplyText(Control("state"), "clock");
    EXPECT_EQ(clock.substr(0, 11), "02-19T09:00") << clock;
}

TEST_F(DeviceOperations, ReadingTheLogIntervalFillsAndEnablesTheDialog) {
    StartSimulator({"--no-drift", "--period", "90"});
    StartWorker();
    ASSERT_TRUE(WaitCycles(1));

    PlaceRequest(context, RequesterOf(kDialog), kOpReadLogPeriod, 0);
    ASSERT_TRUE(recorder.WaitFor(Notice::LogPeriodRead));
    ASSERT_TRUE(WaitCycles(2));
    EXPECT_EQ(recorder.Count([](const Notice& n) {
        return n.kind == Notice::LogPeriodRead && n.window == kDialog && n.value == 90;
    }),
              1u);
    // The read answers once and with nothing else.
    EXPECT_EQ(recorder.Count([](const Notice& n) { return n.window == kDialog; }), 1u);
}

TEST_F(DeviceOperations, WritingTheLogIntervalSetsConverterAndRecordingInterval) {
    StartSimulator({"--no-drift"});
    StartWorker();
    ASSERT_TRUE(WaitCycles(1));

    struct Case {
        uint32_t typed;
        long written;
        uint32_t recording;
    };
    for (Case c : {Case{5, 5, 20}, Case{600, 600, 600}, Case{70000, 65535, 65535}}) {
        size_t mark = recorder.Size();
        ASSERT_TRUE(PlaceLogPeriodRequest(context, RequesterOf(kDialog), c.typed));
        ASSERT_TRUE(recorder.WaitFor(IsAnswer(Notice::LogPeriodWritten, true), 1, mark)) << c.typed;
        EXPECT_EQ(EventsTo(kDialog, Notice::LogPeriodWritten, mark), 1u);
        EXPECT_EQ(State("period"), c.written);
        MutexLock guard(context.plumbing.lock);
        EXPECT_EQ(context.recordingInterval, c.recording);
    }
}

TEST_F(DeviceOperations, RainCounterResetRunsWithoutNotice) {
    StartSimulator({"--no-drift", "--rain", "50"});
    StartWorker();
    ASSERT_TRUE(WaitCycles(1));
    ASSERT_NE(Control("input 0").find("count=50,"), std::string::npos);

    size_t mark = recorder.Size();
    PlaceRequest(context, RequesterOf(kMain), kOpResetRain, 2);
    ASSERT_TRUE(WaitUntil([&] { return Received(kCodeResetRain) == 1; }));
    ASSERT_TRUE(WaitCycles(2));
    EXPECT_NE(Control("input 0").find("count=0,"), std::string::npos);
    EXPECT_EQ(recorder.Count(
                  [](const Notice& n) {
                      return n.kind != Notice::InputChanged && n.kind != Notice::LiveData &&
                             n.kind != Notice::RainGauge && n.kind != Notice::CycleDone;
                  },
                  mark),
              0u);
    EXPECT_EQ(Slot(), 0u);
}

TEST_F(DeviceOperations, WithdrawnRequestFindsNoRequester) {
    StartSimulator({"--no-drift"});
    StartWorker();
    ASSERT_TRUE(WaitCycles(1));

    // Whether the worker took it already or not, the closed dialog hears
    // nothing more.
    PlaceRequest(context, RequesterOf(kDialog), kOpReadLogPeriod, 0);
    WithdrawRequest(context, RequesterOf(kDialog));
    ASSERT_TRUE(WaitCycles(4));
    EXPECT_EQ(recorder.Count([](const Notice& n) { return n.window == kDialog; }), 0u);
    EXPECT_EQ(Slot(), 0u);
}

TEST_F(DeviceOperations, RequestWithoutAConverterGetsItsFailureNotice) {
    StartWorker(kMissingPort);
    for (int i = 0; i < 3; ++i) {
        size_t mark = recorder.Size();
        PlaceRequest(context, RequesterOf(kMain), kOpSyncClock, 0);
        ASSERT_TRUE(recorder.WaitFor(IsAnswer(Notice::ClockSet, false), 1, mark));
        mark = recorder.Size();
        PlaceLogPeriodRequest(context, RequesterOf(kDialog), 60);
        ASSERT_TRUE(recorder.WaitFor(IsAnswer(Notice::LogPeriodWritten, false), 1, mark));
    }
    EXPECT_EQ(EventsTo(kMain, Notice::ClockSet), 3u);
    EXPECT_EQ(EventsTo(kDialog, Notice::LogPeriodWritten), 3u);
    // The lost converter was announced once, not at every attempt.
    EXPECT_EQ(recorder.Count(Notice::ConnectionLost), 1u);
}

}  // namespace
}  // namespace kx305mon::testing
