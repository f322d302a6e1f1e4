// The polling worker on simulated converters: publishing, instrument
// changes, loss and return of the converter, change of port, stop.
#include <gtest/gtest.h>

#include <mutex>
#include <vector>

#include "simulator_fixture.h"

namespace kx305mon::testing {
namespace {

TEST_F(AcquisitionOnSimulator, GoodConnectionPublishesReadingsAndIdentity) {
    StartSimulator({"--firmware", "1.13", "--serial", "3051", "--no-drift", "--input",
                    "1=kx124,serial=1201,t=21.5,h=45", "--input", "4=none"});
    StartWorker();
    ASSERT_TRUE(WaitCycles(3));

    ConverterInfo info = Info();
    EXPECT_EQ(info.versionMajor, 1);
    EXPECT_EQ(info.versionMinor, 13);
    EXPECT_EQ(info.serialNumber, 3051);
    InputReading input1 = Input(1);
    EXPECT_EQ(input1.type, kTypeKX124);
    EXPECT_EQ(InstrumentSerial(input1.type, input1), 1201);
    char value[64];
    ASSERT_NE(QuantityValue(input1.type, input1, 0, value, sizeof value, false, true), 0);
    EXPECT_STREQ(value, "21.5");
    EXPECT_EQ(Input(0).type, kTypeRainGauge);
    EXPECT_EQ(Input(4).type, kTypeNone);

    // Inputs 0 to 3 appeared in the first cycle, each announced once;
    // nothing changes afterwards.
    for (unsigned i = 0; i < 4; ++i) EXPECT_EQ(recorder.Count(IsWith(Notice::InputChanged, i)), 1u) << i;
    EXPECT_EQ(recorder.Count(IsWith(Notice::InputChanged, 4)), 0u);
    EXPECT_EQ(recorder.Count(Notice::ConnectionLost), 0u);

    std::vector<Notice> all = recorder.All();
    EXPECT_EQ(all.front().kind, Notice::LiveData);
    EXPECT_FALSE(all.front().flag);  // question marks until the converter answers
    bool sawLiveDisplay = false;
    for (const Notice& n : all) {
        if (n.kind == Notice::LiveData && n.flag && n.withInfo) {
            sawLiveDisplay = n.info.serialNumber == 3051 && n.results[1].type == kTypeKX124;
        }
        if (n.kind == Notice::RainGauge) {
            EXPECT_EQ(n.value, kTypeRainGauge);
        }
    }
    EXPECT_TRUE(sawLiveDisplay);
}

TEST_F(AcquisitionOnSimulator, ExchangedInstrumentIsAnnouncedOnceAndNewValuesAreNot) {
    StartSimulator({"--no-drift", "--input", "3=kx129,serial=1303"});
    StartWorker();
    ASSERT_TRUE(WaitCycles(2));

    size_t mark = recorder.Size();
    ASSERT_EQ(Control("set 3 t=30.5 h=20").rfind("ok", 0), 0u);
    ASSERT_TRUE(WaitCycles(4));
    EXPECT_EQ(recorder.Count(Notice::InputChanged, mark), 0u);

    mark = recorder.Size();
    ASSERT_EQ(Control("input 3 kx129,serial=4444").rfind("ok", 0), 0u);
    ASSERT_TRUE(recorder.WaitFor(IsWith(Notice::InputChanged, 3), 1, mark));
    ASSERT_TRUE(WaitCycles(4));
    EXPECT_EQ(recorder.Count(Notice::InputChanged, mark), 1u);
    EXPECT_EQ(InstrumentSerial(Input(3).type, Input(3)), 4444);
}

TEST_F(AcquisitionOnSimulator, UnpluggedConverterIsAnnouncedOnceAndReconnectedSilently) {
    StartSimulator({"--no-drift"});
    StartWorker();
    ASSERT_TRUE(WaitCycles(2));

    size_t mark = recorder.Size();
    ASSERT_EQ(Control("vanish 1").rfind("ok", 0), 0u);
    ASSERT_TRUE(recorder.WaitFor(Notice::ConnectionLost, 1, mark));
    EXPECT_EQ(Input(1).type, kTypeNone);
    EXPECT_FALSE(ReadLiveState(context).connected);
    EXPECT_EQ(
        recorder.Count([](const Notice& n) { return n.kind == Notice::LiveData && !n.flag && !n.withInfo; }, mark), 1u);

    // Back after a second: polling resumes with nothing said in between but
    // the instruments that reappear.
    size_t lost = recorder.Size();
    ASSERT_TRUE(WaitCycles(2));
    EXPECT_EQ(Input(1).type, kTypeKX124);
    EXPECT_TRUE(ReadLiveState(context).connected);
    EXPECT_EQ(recorder.Count(Notice::ConnectionLost, mark), 1u);
    EXPECT_EQ(recorder.Count(Notice::Failure), 0u);
    EXPECT_EQ(recorder.Count([](const Notice& n) { return n.kind == Notice::LiveData && !n.flag; }, lost), 0u);
}

TEST_F(AcquisitionOnSimulator, ChangeOfPortMovesPollingToTheOtherConverter) {
    StartSimulator({"--serial", "1111", "--no-drift"}, 1);
    StartSimulator({"--serial", "2222", "--no-drift", "--input", "2=kx132,serial=2202"}, 2);
    StartWorker(1);
    ASSERT_TRUE(WaitCycles(2));
    EXPECT_EQ(Info().serialNumber, 1111);

    size_t mark = recorder.Size();
    SetPort(context, 2);
    ASSERT_TRUE(recorder.WaitFor(Notice::ConnectionLost, 1, mark));
    ASSERT_TRUE(WaitCycles(2));
    EXPECT_EQ(Info().serialNumber, 2222);
    EXPECT_EQ(Input(2).type, kTypeKX132);
    // The old converter is no longer asked.
    ASSERT_EQ(Control("received reset", 1), "ok");
    ASSERT_TRUE(WaitCycles(3));
    EXPECT_EQ(ReplyField(Control("received", 1), "frames"), 0);
}

TEST_F(AcquisitionOnSimulator, RainGaugeSerialComesFromTheConverterOnlyWhenUnset) {
    rainGaugeSettings().serial = 0;
    StartSimulator({"--serial", "3051", "--no-drift"});
    StartWorker();
    ASSERT_TRUE(WaitCycles(1));
    EXPECT_EQ(rainGaugeSettings().serial.load(), 3051u);
    EXPECT_EQ(InstrumentSerial(kTypeRainGauge, Input(0)), 3051);

    rainGaugeSettings().serial = 77;
    size_t mark = recorder.Size();
    ASSERT_EQ(Control("vanish 0.2").rfind("ok", 0), 0u);
    ASSERT_TRUE(recorder.WaitFor(Notice::ConnectionLost, 1, mark));
    ASSERT_TRUE(WaitCycles(1));
    EXPECT_EQ(rainGaugeSettings().serial.load(), 77u);
}

TEST_F(AcquisitionOnSimulator, EveryGoodCycleReportsWhereItsTimeWent) {
    StartSimulator({"--no-drift"});
    std::mutex mutex;
    std::vector<CycleTiming> timings;
    std::vector<size_t> cyclesBefore;  // CycleDone events recorded when the hook ran
    context.plumbing.onCycleTiming = [&](const CycleTiming& timing) {
        size_t done = recorder.Count(Notice::CycleDone);
        std::lock_guard<std::mutex> guard(mutex);
        timings.push_back(timing);
        cyclesBefore.push_back(done);
    };
    StartWorker();
    ASSERT_TRUE(WaitCycles(5));
    StopPollingWorker(context);

    std::lock_guard<std::mutex> guard(mutex);
    ASSERT_GE(timings.size(), 5u);
    EXPECT_EQ(timings.size(), recorder.Count(Notice::CycleDone));
    for (size_t i = 0; i < timings.size(); ++i) {
        const CycleTiming& t = timings[i];
        // Two exchanges on a pty take some time; the parts fit in the whole,
        // and the pause after the cycle is not in it.
        EXPECT_GT(t.transactionMicros, 0) << i;
        EXPECT_GE(t.operationMicros, 0) << i;
        EXPECT_GE(t.eventsMicros, 0) << i;
        EXPECT_GE(t.cycleMicros, t.transactionMicros + t.operationMicros + t.eventsMicros) << i;
        EXPECT_LT(t.cycleMicros, 5000000) << i;
        // Reported after the cycle's events, once per cycle.
        EXPECT_EQ(cyclesBefore[i], i + 1) << i;
    }
}

TEST_F(AcquisitionOnSimulator, StopBreaksOffATransactionTheConverterNeverAnswers) {
    StartSimulator({"--no-drift"});
    StartWorker();
    ASSERT_TRUE(WaitCycles(1));
    ASSERT_EQ(Control("fault silent on").rfind("ok", 0), 0u);
    // A request reaches the converter after it fell silent: the worker now
    // waits for a reply that never comes.
    long frames = ReplyField(Control("received"), "frames");
    ASSERT_TRUE(WaitUntil([&] { return ReplyField(Control("received"), "frames") > frames; }));

    auto start = std::chrono::steady_clock::now();
    StopPollingWorker(context);
    // A silent converter holds a transaction for four tries of 2.5 s.
    EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
    EXPECT_FALSE(context.pollingThread.joinable());
    MutexLock guard(context.plumbing.lock);
    EXPECT_EQ(context.port, PORT_NONE);
    EXPECT_EQ(context.mainWindow, kNoWindow);
    EXPECT_EQ(context.device, nullptr);
}

}  // namespace
}  // namespace kx305mon::testing
