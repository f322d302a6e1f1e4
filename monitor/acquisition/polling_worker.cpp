#include "acquisition/polling_worker.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <thread>

#include "acquisition/device_operations.h"
#include "acquisition/events.h"
#include "acquisition/internal.h"
#include "acquisition/log_schedule.h"
#include "instruments/catalogue.h"
#include "time/local_time.h"

namespace kx305mon {

namespace {

using SteadyClock = std::chrono::steady_clock;

int64_t MicrosSince(SteadyClock::time_point start) {
    return std::chrono::duration_cast<std::chrono::microseconds>(SteadyClock::now() - start).count();
}

bool Stopping(AppContext& context) {
    MutexLock guard(context.plumbing.lock);
    return context.plumbing.stopping;
}

// Sleeps `pause`, or less when the worker is told to stop or the port
// changes from `port`.
void PauseCycle(AppContext& context, std::chrono::milliseconds pause, int32_t port) {
    MutexLock guard(context.plumbing.lock);
    context.plumbing.wake.wait_for(guard.native(), pause, [&] {
        context.plumbing.lock.AssertHeld();  // the wait holds it again
        return context.plumbing.stopping || context.port != port;
    });
}

// One cycle's clock and results reads into the worker's transaction records;
// adds the time spent in the driver to `micros`.
bool ReadClockAndResults(AppContext& context, int64_t& micros) {
    PollingWorkerState::Transaction& t = context.worker->transaction;
    SteadyClock::time_point start = SteadyClock::now();
    const int64_t sent = SteadyMs();
    bool clockRead = detail::Transact(context, [&](KX305Handle* device) { KX305GetTime(device, &t.clock); });
    micros += MicrosSince(start);
    // Each cycle's read narrows the bounds on the converter clock's phase,
    // which the downloads are timed by.
    if (clockRead) {
        ObservePhase(context.worker->clockPhase, detail::WorkerDevice(context), sent, SteadyMs(),
                     ConverterMs(t.clock, CurrentUtcTime()));
    } else {
        ForgetPhase(context.worker->clockPhase);
    }
    start = SteadyClock::now();
    bool resultsRead = detail::Transact(context, [&](KX305Handle* device) { KX305GetResults(device, t.results); });
    micros += MicrosSince(start);
    return clockRead && resultsRead;
}

// Stores the cycle's readings; tells the main window about every input whose
// instrument came, went or was exchanged.  Returns the time spent in the
// events calls.
int64_t PublishCycle(AppContext& context) {
    PollingWorkerState::Transaction& t = context.worker->transaction;
    bool changed[KX305_INPUTS] = {};
    WindowRef window;
    {
        MutexLock guard(context.plumbing.lock);
        for (int i = 0; i < KX305_INPUTS; ++i) {
            changed[i] = InstrumentChanged(t.results[i].type, t.results[i], context.inputs[i].type, context.inputs[i]);
        }
        std::memcpy(context.inputs, t.results, sizeof context.inputs);
        context.info = t.info;
        context.clock = t.clock;
        window = context.mainWindow;
    }
    if (window == kNoWindow) return 0;
    AcquisitionEvents& events = detail::EventsOf(context);
    SteadyClock::time_point start = SteadyClock::now();
    for (int i = 0; i < KX305_INPUTS; ++i) {
        if (changed[i]) events.InputChanged(window, i);
    }
    events.LiveData(window, &t.info, &t.clock, t.results, context);
    events.RainGauge(window, t.results[0].type);
    events.CycleDone(window);
    return MicrosSince(start);
}

void ResumeRecordingTimer(AppContext& context) {
    {
        MutexLock guard(context.plumbing.lock);
        if (context.plumbing.timerResumed) return;
        context.plumbing.timerResumed = true;
    }
    context.plumbing.wake.notify_all();
}

// What one connection achieved.
struct Session {
    bool reachedConverter = false;  // the identity was read
    bool published = false;         // at least one good cycle reached the windows
};

// Polls an open connection until a cycle fails, the port changes or the
// worker is told to stop.
void RunCycles(AppContext& context, int32_t port, Session& session) {
    for (;;) {
        CycleTiming timing;
        SteadyClock::time_point cycleStart = SteadyClock::now();
        bool readOk = ReadClockAndResults(context, timing.transactionMicros);
        // The pending operation runs even after a failed read: it fails on
        // the line the same way and its requester learns so.
        SteadyClock::time_point operationStart = SteadyClock::now();
        bool operationOk = !Stopping(context) && RunDeviceRequest(context) == 1;
        timing.operationMicros = MicrosSince(operationStart);
        if (!readOk || !operationOk) return;
        timing.eventsMicros = PublishCycle(context);
        timing.cycleMicros = MicrosSince(cycleStart);
        if (context.plumbing.onCycleTiming) context.plumbing.onCycleTiming(timing);
        session.published = true;
        ResumeRecordingTimer(context);
        PauseCycle(context, context.plumbing.timing.cyclePause, port);
        MutexLock guard(context.plumbing.lock);
        if (context.plumbing.stopping || context.port != port) return;
    }
}

// Opens the port, reads the converter's identity and polls it.  The handle
// is published in context.device under the lock, so that a stop can break a
// running transaction and never meets a closed handle.
Session Connect(AppContext& context, int32_t port) {
    Session session;
    std::string name = context.plumbing.portNamer(port);
    KX305Handle device = nullptr;
    if (KX305Open(&device, name.c_str()) != 0) return session;
    {
        MutexLock guard(context.plumbing.lock);
        context.device = device;
    }
    PollingWorkerState::Transaction& t = context.worker->transaction;
    session.reachedConverter = detail::Transact(context, [&](KX305Handle* handle) { KX305GetInfo(handle, &t.info); });
    if (!session.reachedConverter) return session;
    RainGaugeSettings& rain = rainGaugeSettings();
    if (rain.serial.load() == 0 && t.info.serialNumber > 0) rain.serial.store(t.info.serialNumber);
    {
        // The operations of the first cycle already depend on the firmware.
        MutexLock guard(context.plumbing.lock);
        context.info = t.info;
    }
    if (!Stopping(context)) RunCycles(context, port, session);
    return session;
}

// Closes the connection and forgets the inputs.  A request that never got
// its turn (placed over a running download, or during a change of port)
// waits for the next connection when this one had reached the converter;
// otherwise there is no connection to run it on and its requester is told.
// The windows hear of the loss once, not at every failed reopening.
void Disconnect(AppContext& context, const Session& session, bool& windowsShowLive) {
    KX305Handle device;
    DeviceRequest dropped = 0;
    Requester requester = kNoRequester;
    WindowRef window;
    {
        MutexLock guard(context.plumbing.lock);
        device = context.device;
        context.device = nullptr;
        if (!session.reachedConverter || context.plumbing.stopping) {
            dropped = context.request;
            requester = context.requesterWindow;
            context.request = 0;
        }
        for (InputReading& input : context.inputs) input.type = 0;
        window = context.mainWindow;
    }
    // Without a handle this only reports an invalid handle.
    KX305Close(&device);
    // What was learnt on this connection is tied to it by its handle, and
    // the next connection's handle may come at the same address.
    ForgetPhase(context.worker->clockPhase);
    context.worker->lastHandOver.device = nullptr;
    detail::NotifyFailure(context, dropped, requester);
    if (session.published) windowsShowLive = true;
    if (!windowsShowLive) return;
    windowsShowLive = false;
    if (window == kNoWindow) return;
    AcquisitionEvents& events = detail::EventsOf(context);
    events.LiveData(window, nullptr, nullptr, nullptr, context);
    events.ConnectionLost(window);
}

}  // namespace

int WaitDone(KX305Handle* device) {
    uint32_t percent = 0;
    KX305Status status;
    do {
        status = KX305DoneWait(device, &percent);
    } while (status == KX305_STATUS_BUSY || status == KX305_STATUS_PROGRESS);
    return status == KX305_STATUS_OK ? 1 : 0;
}

unsigned PollingWorker(AppContext& context) {
    context.worker->transaction = {};
    WindowRef window = detail::MainWindow(context);
    if (window != kNoWindow) {
        detail::EventsOf(context).LiveData(window, nullptr, nullptr, nullptr, context);
    }
    std::thread timer(RecordingTimer, std::ref(context));

    // The start counts as live: the first loss (or a start without a port)
    // is announced.
    bool windowsShowLive = true;
    for (;;) {
        int32_t port;
        {
            MutexLock guard(context.plumbing.lock);
            port = context.port;
        }
        Session session;
        if (port < PORT_NONE) session = Connect(context, port);
        Disconnect(context, session, windowsShowLive);
        {
            MutexLock guard(context.plumbing.lock);
            context.plumbing.wake.wait_for(guard.native(), context.plumbing.timing.reconnectPause, [&] {
                context.plumbing.lock.AssertHeld();  // the wait holds it again
                return context.plumbing.stopping;
            });
            if (port >= PORT_NONE || context.plumbing.stopping) break;
        }
    }

    {
        MutexLock guard(context.plumbing.lock);
        context.plumbing.timerStop = true;
    }
    context.plumbing.wake.notify_all();
    timer.join();
    return 0;
}

namespace {

class RealTimerClock final : public RecordingTimerClock {
public:
    bool Pause(MutexLock& guard, AppContext& context, std::chrono::milliseconds length,
               const std::function<bool()>& ended) override REQUIRES(context.plumbing.lock) {
        return context.plumbing.wake.wait_for(guard.native(), length, ended);
    }
    bool AwaitRecording(MutexLock&, AppContext& context, const std::function<bool()>& ended) override
        REQUIRES(context.plumbing.lock) {
        for (;;) {
            // The guard's lock, let go for the wait and taken again.
            context.plumbing.lock.unlock();
            bool allowed = context.recordingEvent.WaitFor(context.plumbing.timing.recordingTick);
            context.plumbing.lock.lock();
            if (ended()) return true;
            if (allowed) return false;
        }
    }
};

}  // namespace

void RecordingTimer(AppContext& context) {
    detail::RaiseCurrentThreadPriority();
    static RealTimerClock realTime;
    RecordingTimerClock& clock = context.plumbing.timerClock != nullptr ? *context.plumbing.timerClock : realTime;
    // Called with the lock held (by the clock, and by the wait below).
    auto ended = [&] {
        context.plumbing.lock.AssertHeld();
        return context.plumbing.timerStop;
    };
    MutexLock guard(context.plumbing.lock);
    context.plumbing.wake.wait(guard.native(), [&] {
        context.plumbing.lock.AssertHeld();
        return context.plumbing.timerResumed || context.plumbing.timerStop;
    });
    for (;;) {
        // Ask for a download.  The slot may hold a user's operation, which
        // must not be overwritten: try again a second later.
        for (;;) {
            if (context.plumbing.timerStop) return;
            if (!context.registrationFile) break;
            if (context.request == 0 || RequestOperation(context.request) == kOpDownloadLog) {
                context.request = MakeDeviceRequest(kOpDownloadLog, 0);
                context.requesterWindow = kNoRequester;
                break;
            }
            if (clock.Pause(guard, context, context.plumbing.timing.slotRetry, ended)) return;
        }
        // Count signalled seconds up to the recording interval (at least one).
        uint32_t ticks = 0;
        uint32_t interval;
        do {
            if (clock.AwaitRecording(guard, context, ended)) return;
            if (clock.Pause(guard, context, context.plumbing.timing.recordingTick, ended)) return;
            ++ticks;
            // A short log period asks for downloads more often.
            interval = context.recordingInterval;
            if (context.downloadInterval != 0) interval = std::min(interval, context.downloadInterval);
        } while (ticks < interval);
    }
}

bool StartPollingWorker(AppContext& context) {
    if (context.pollingThread.joinable()) return false;
    {
        MutexLock guard(context.plumbing.lock);
        context.plumbing.stopping = false;
        context.plumbing.timerResumed = false;
        context.plumbing.timerStop = false;
    }
    context.pollingThread = std::thread(PollingWorker, std::ref(context));
    return true;
}

void SignalStop(AppContext& context) {
    {
        MutexLock guard(context.plumbing.lock);
        context.mainWindow = kNoWindow;
        context.port = PORT_NONE;
        context.plumbing.stopping = true;
        // The worker closes the handle only after taking it out of the
        // context under this lock, so the break never meets a closed handle.
        // A GetLog transfer is not broken: the converter has let go of its
        // records, which would exist nowhere.  A peek loses nothing.
        if (context.device != nullptr && !context.plumbing.logTransferMustFinish) KX305UserBreak(&context.device);
    }
    context.plumbing.wake.notify_all();
}

void StopPollingWorker(AppContext& context) {
    SignalStop(context);
    if (context.pollingThread.joinable()) context.pollingThread.join();
}

int PortTest(AppContext& context, WindowRef owner, int32_t port) {
    std::string name = context.plumbing.portNamer(port);
    KX305Handle device = nullptr;
    if (KX305Open(&device, name.c_str()) != 0) {
        detail::EventsOf(context).Failure(owner, AcquisitionFailure::PortInUse);
        return 0;
    }
    return KX305Close(&device) == 0 ? 1 : 0;
}

}  // namespace kx305mon
