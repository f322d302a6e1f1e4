// The request slot, the recording timer and the worker without a converter.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "acquisition/app_context.h"
#include "acquisition/events.h"
#include "acquisition/polling_worker.h"
#include "memory_file.h"
#include "recording_events.h"
#include "stepped_timer_clock.h"

namespace kx305mon {
namespace {

using namespace std::chrono_literals;
using testing::IsAnswer;
using testing::MemoryFile;
using testing::Notice;
using testing::RecordingEvents;
using testing::RequesterOf;
using testing::SteppedTimerClock;
using testing::WindowOf;

constexpr WindowRef kMain = 102;
constexpr WindowRef kDialog = 105;

DeviceRequest Slot(AppContext& context) {
    MutexLock guard(context.plumbing.lock);
    return context.request;
}

WindowRef RequesterWindow(AppContext& context) {
    MutexLock guard(context.plumbing.lock);
    return WindowOf(context.requesterWindow);
}

TEST(RequestSlot, PlacedRequestCarriesOperationParameterAndRequester) {
    AppContext context;
    PlaceRequest(context, RequesterOf(kMain), kOpResetRain, 2);
    EXPECT_EQ(Slot(context), 0x50002u);
    EXPECT_EQ(RequesterWindow(context), kMain);
}

TEST(RequestSlot, DisplacedUserOperationGetsItsFailureNotice) {
    AppContext context;
    RecordingEvents recorder;
    context.plumbing.events = &recorder;

    PlaceRequest(context, RequesterOf(kMain), kOpSyncClock, 0);
    PlaceRequest(context, RequesterOf(kDialog), kOpWriteLogPeriod, 60);
    EXPECT_EQ(recorder.Count(IsAnswer(Notice::ClockSet, false)), 1u);
    EXPECT_EQ(recorder.All().back().window, kMain);

    PlaceRequest(context, RequesterOf(kMain), kOpSetClock, 0);
    EXPECT_EQ(recorder.Count(IsAnswer(Notice::LogPeriodWritten, false)), 1u);
    EXPECT_EQ(recorder.All().back().window, kDialog);
    EXPECT_EQ(Slot(context), MakeDeviceRequest(kOpSetClock, 0));
}

TEST(RequestSlot, DisplacedDownloadOrSilentOperationGivesNoNotice) {
    AppContext context;
    RecordingEvents recorder;
    context.plumbing.events = &recorder;
    {
        MutexLock guard(context.plumbing.lock);
        context.request = MakeDeviceRequest(kOpDownloadLog, 0);
    }
    PlaceRequest(context, RequesterOf(kMain), kOpResetRain, 1);
    PlaceRequest(context, RequesterOf(kMain), kOpResetRain, 3);
    EXPECT_EQ(recorder.Size(), 0u);
    EXPECT_EQ(Slot(context), 0x50003u);
}

TEST(RequestSlot, RunningOperationIsNotDeclaredFailedWhenAnotherIsPlaced) {
    AppContext context;
    RecordingEvents recorder;
    context.plumbing.events = &recorder;
    PlaceRequest(context, RequesterOf(kMain), kOpSyncClock, 0);
    {
        // The worker has taken it.
        MutexLock guard(context.plumbing.lock);
        context.plumbing.runningRequest = context.request;
        context.plumbing.runningRequester = context.requesterWindow;
    }
    PlaceRequest(context, RequesterOf(kDialog), kOpReadLogPeriod, 0);
    EXPECT_EQ(recorder.Size(), 0u);
}

TEST(RequestSlot, LogPeriodAboveSixteenBitsIsCutAndZeroRefused) {
    AppContext context;
    EXPECT_TRUE(PlaceLogPeriodRequest(context, RequesterOf(kDialog), 70000));
    EXPECT_EQ(Slot(context), MakeDeviceRequest(kOpWriteLogPeriod, 65535));
    EXPECT_TRUE(PlaceLogPeriodRequest(context, RequesterOf(kDialog), 600));
    EXPECT_EQ(RequestParameter(Slot(context)), 600u);
    EXPECT_FALSE(PlaceLogPeriodRequest(context, RequesterOf(kDialog), 0));
    EXPECT_EQ(RequestParameter(Slot(context)), 600u);
}

TEST(RequestSlot, WithdrawOnlyTakesBackTheCallersOwnRequest) {
    AppContext context;
    PlaceRequest(context, RequesterOf(kDialog), kOpReadLogPeriod, 0);
    WithdrawRequest(context, RequesterOf(kMain));
    EXPECT_EQ(Slot(context), MakeDeviceRequest(kOpReadLogPeriod, 0));
    WithdrawRequest(context, RequesterOf(kDialog));
    EXPECT_EQ(Slot(context), 0u);
    EXPECT_EQ(RequesterWindow(context), kNoWindow);

    // A download of the recording timer has no requester; a closing dialog
    // does not cancel it.
    {
        MutexLock guard(context.plumbing.lock);
        context.request = MakeDeviceRequest(kOpDownloadLog, 0);
    }
    WithdrawRequest(context, RequesterOf(kDialog));
    WithdrawRequest(context, kNoRequester);
    EXPECT_EQ(Slot(context), MakeDeviceRequest(kOpDownloadLog, 0));
}

// The timer alone, with the worker's part played by the test and its time
// stepped by the test.
class RecordingTimerTest : public ::testing::Test {
protected:
    void SetUp() override {
        context.plumbing.timerClock = &clock;
        context.recordingInterval = 1;
        context.registrationFile = std::make_unique<MemoryFile>();
    }
    void TearDown() override { StopTimer(); }

    void Resume() {
        {
            MutexLock guard(context.plumbing.lock);
            context.plumbing.timerResumed = true;
        }
        context.plumbing.wake.notify_all();
    }
    void StartTimer() {
        Resume();
        timer = std::thread(RecordingTimer, std::ref(context));
        clock.Step(context, 0);  // until it pauses the first time
    }
    void StopTimer() {
        if (!timer.joinable()) return;
        {
            MutexLock guard(context.plumbing.lock);
            context.plumbing.timerStop = true;
        }
        context.plumbing.wake.notify_all();
        timer.join();
    }
    // The worker takes the request out of the slot.
    void TakeRequest() {
        MutexLock guard(context.plumbing.lock);
        context.request = 0;
    }

    AppContext context;
    SteppedTimerClock clock;
    std::thread timer;
};

const DeviceRequest kDownload = MakeDeviceRequest(kOpDownloadLog, 0);

TEST_F(RecordingTimerTest, WaitsForTheSlotInsteadOfOverwritingAUserOperation) {
    PlaceRequest(context, RequesterOf(kMain), kOpSyncClock, 0);
    StartTimer();
    clock.Step(context, 10);  // ten retries
    EXPECT_EQ(Slot(context), MakeDeviceRequest(kOpSyncClock, 0));
    EXPECT_EQ(RequesterWindow(context), kMain);

    TakeRequest();  // the worker finishes the user's operation
    clock.Step(context, 1);
    EXPECT_EQ(Slot(context), kDownload);
    EXPECT_EQ(RequesterWindow(context), kNoWindow);

    // Once taken, the next download is asked for after the interval.
    {
        MutexLock guard(context.plumbing.lock);
        context.request = 0;
        context.recordingInterval = 3;
    }
    clock.Step(context, 2);
    EXPECT_EQ(Slot(context), 0u);
    clock.Step(context, 1);
    EXPECT_EQ(Slot(context), kDownload);
}

TEST_F(RecordingTimerTest, AsksForNothingWhileNoRegistrationFileIsOpen) {
    context.registrationFile.reset();
    StartTimer();
    clock.Step(context, 10);
    EXPECT_EQ(Slot(context), 0u);
    EXPECT_EQ(clock.taken(context), 10);
}

TEST_F(RecordingTimerTest, CountsNothingBeforeTheWorkerResumesIt) {
    timer = std::thread(RecordingTimer, std::ref(context));
    // Whatever the timer does now, it has no pause to take before it is resumed.
    {
        MutexLock guard(context.plumbing.lock);
        EXPECT_FALSE(context.plumbing.wake.wait_for(guard.native(), std::chrono::milliseconds(50),
                                                    [&] { return context.request != 0; }));
    }
    EXPECT_EQ(clock.taken(context), 0);
    Resume();
    clock.Step(context, 0);
    EXPECT_EQ(Slot(context), kDownload);
}

TEST_F(RecordingTimerTest, StandsStillWhileRecordingIsHeld) {
    context.recordingInterval = 3;
    StartTimer();
    ASSERT_EQ(Slot(context), kDownload);
    context.recordingEvent.Reset();
    TakeRequest();
    clock.Step(context, 20);  // the tick under way ends, then the gate holds it
    EXPECT_EQ(clock.taken(context), 1);
    EXPECT_EQ(Slot(context), 0u);
    context.recordingEvent.Set();
    clock.Step(context, 1);
    EXPECT_EQ(Slot(context), 0u);
    clock.Step(context, 1);
    EXPECT_EQ(Slot(context), kDownload);
}

TEST(PollingWorker, WithoutPortResetsOnceAndEnds) {
    AppContext context;
    RecordingEvents recorder;
    context.plumbing.events = &recorder;
    context.mainWindow = kMain;
    context.plumbing.timing.reconnectPause = 20ms;
    context.inputs[2].type = 3;
    PlaceRequest(context, RequesterOf(kDialog), kOpWriteLogPeriod, 30);
    ASSERT_TRUE(StartPollingWorker(context));
    context.pollingThread.join();  // ends by itself

    EXPECT_EQ(recorder.Count(Notice::InputChanged), 0u);
    EXPECT_EQ(recorder.Count(Notice::ConnectionLost), 1u);
    EXPECT_EQ(recorder.Count(Notice::CycleDone), 0u);
    // The pending operation could not run: its requester is told.
    EXPECT_EQ(recorder.Count(
                  [](const Notice& n) { return n.kind == Notice::LogPeriodWritten && n.window == kDialog && !n.flag; }),
              1u);
    std::vector<Notice> all = recorder.All();
    ASSERT_FALSE(all.empty());
    EXPECT_EQ(all.front().kind, Notice::LiveData);
    EXPECT_FALSE(all.front().flag);
    EXPECT_FALSE(all.front().withInfo);
    MutexLock guard(context.plumbing.lock);
    EXPECT_EQ(context.inputs[2].type, 0u);
    EXPECT_EQ(context.request, 0u);
}

TEST(PortTest, PortThatCannotBeOpenedFailsWithTheMessage) {
    AppContext context;
    RecordingEvents recorder;
    context.plumbing.events = &recorder;
    context.plumbing.portNamer = [](int32_t) { return std::string("/nonexistent/kx305-port"); };
    EXPECT_EQ(PortTest(context, kDialog, 7), 0);
    ASSERT_EQ(recorder.Size(), 1u);
    Notice n = recorder.All()[0];
    EXPECT_EQ(n.kind, Notice::Failure);
    EXPECT_EQ(n.window, kDialog);
    EXPECT_EQ(n.failure, AcquisitionFailure::PortInUse);
}

}  // namespace
}  // namespace kx305mon
