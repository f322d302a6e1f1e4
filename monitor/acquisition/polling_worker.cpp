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

using Lock = std::unique_lock<std::mutex>;
using SteadyClock = std::chrono::steady_clock;

int64_t MicrosSince(SteadyClock::time_point start) {
    return std::chrono::duration_cast<std::chrono::microseconds>(SteadyClock::now() - start).count();
}

bool Stopping(AppContext& context) {
    std::lock_guard<std::mutex> guard(context.lock);
    return context.stopping;
}

// Sleeps `pause`, or less when the worker is told to stop or the port
// changes from `port`.
void PauseCycle(AppContext& context, std::chrono::milliseconds pause, int32_t port) {
    Lock guard(context.lock);
    context.wake.wait_for(guard, pause,
                          [&] { return context.stopping || context.port != port; });
}

// One cycle's clock and results reads into the worker's transaction records;
// adds the time spent in the driver to `micros`.
bool ReadClockAndResults(AppContext& context, int64_t& micros) {
    AppContext::Transaction& t = context.transaction;
    SteadyClock::time_point start = SteadyClock::now();
    const int64_t sent = SteadyMs();
    bool clockRead = detail::Transact(context, [&](KX305Handle* device) { KX305GetTime(device, &t.clock); });
    micros += MicrosSince(start);
    // Each cycle's read narrows the bounds on the converter clock's phase,
    // which the downloads are timed by.
    if (clockRead) {
        ObservePhase(context.clockPhase, context.device, sent, SteadyMs(), ConverterMs(t.clock, CurrentUtcTime()));
    } else {
        ForgetPhase(context.clockPhase);
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
    AppContext::Transaction& t = context.transaction;
    bool changed[KX305_INPUTS] = {};
    WindowRef window;
    {
        std::lock_guard<std::mutex> guard(context.lock);
        for (int i = 0; i < KX305_INPUTS; ++i) {
            changed[i] = InstrumentChanged(t.results[i].type, t.results[i], context.inputs[i].type,
                                           context.inputs[i]);
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
        std::lock_guard<std::mutex> guard(context.lock);
        if (context.timerResumed) return;
        context.timerResumed = true;
    }
    context.wake.notify_all();
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
        if (context.onCycleTiming) context.onCycleTiming(timing);
        session.published = true;
        ResumeRecordingTimer(context);
        PauseCycle(context, context.timing.cyclePause, port);
        std::lock_guard<std::mutex> guard(context.lock);
        if (context.stopping || context.port != port) return;
    }
}

// Opens the port, reads the converter's identity and polls it.  The handle
// is published in context.device under the lock, so that a stop can break a
// running transaction and never meets a closed handle.
Session Connect(AppContext& context, int32_t port) {
    Session session;
    std::string name = context.portNamer(port);
    KX305Handle device = nullptr;
    if (KX305Open(&device, name.c_str()) != 0) return session;
    {
        std::lock_guard<std::mutex> guard(context.lock);
        context.device = device;
    }
    AppContext::Transaction& t = context.transaction;
    session.reachedConverter =
        detail::Transact(context, [&](KX305Handle* handle) { KX305GetInfo(handle, &t.info); });
    if (!session.reachedConverter) return session;
    RainGaugeSettings& rain = rainGaugeSettings();
    if (rain.serial.load() == 0 && t.info.serialNumber > 0) rain.serial.store(t.info.serialNumber);
    {
        // The operations of the first cycle already depend on the firmware.
        std::lock_guard<std::mutex> guard(context.lock);
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
    WindowRef requester = kNoWindow;
    WindowRef window;
    {
        std::lock_guard<std::mutex> guard(context.lock);
        device = context.device;
        context.device = nullptr;
        if (!session.reachedConverter || context.stopping) {
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
    ForgetPhase(context.clockPhase);
    context.lastHandOver.device = nullptr;
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
    context.transaction = {};
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
            std::lock_guard<std::mutex> guard(context.lock);
            port = context.port;
        }
        Session session;
        if (port < PORT_NONE) session = Connect(context, port);
        Disconnect(context, session, windowsShowLive);
        {
            Lock guard(context.lock);
            context.wake.wait_for(guard, context.timing.reconnectPause,
                                  [&] { return context.stopping; });
            if (port >= PORT_NONE || context.stopping) break;
        }
    }

    {
        std::lock_guard<std::mutex> guard(context.lock);
        context.timerStop = true;
    }
    context.wake.notify_all();
    timer.join();
    return 0;
}

namespace {

class RealTimerClock final : public RecordingTimerClock {
public:
    bool Pause(Lock& guard, AppContext& context, std::chrono::milliseconds length,
               const std::function<bool()>& ended) override {
        return context.wake.wait_for(guard, length, ended);
    }
    bool AwaitRecording(Lock& guard, AppContext& context, const std::function<bool()>& ended) override {
        for (;;) {
            guard.unlock();
            bool allowed = context.recordingEvent.WaitFor(context.timing.recordingTick);
            guard.lock();
            if (ended()) return true;
            if (allowed) return false;
        }
    }
};

}  // namespace

void RecordingTimer(AppContext& context) {
    detail::RaiseCurrentThreadPriority();
    static RealTimerClock realTime;
    RecordingTimerClock& clock = context.timerClock != nullptr ? *context.timerClock : realTime;
    auto ended = [&] { return context.timerStop; };
    Lock guard(context.lock);
    context.wake.wait(guard, [&] { return context.timerResumed || context.timerStop; });
    for (;;) {
        // Ask for a download.  The slot may hold a user's operation, which
        // must not be overwritten: try again a second later.
        for (;;) {
            if (context.timerStop) return;
            if (!context.registrationFile) break;
            if (context.request == 0 || RequestOperation(context.request) == kOpDownloadLog) {
                context.request = MakeDeviceRequest(kOpDownloadLog, 0);
                context.requesterWindow = kNoWindow;
                break;
            }
            if (clock.Pause(guard, context, context.timing.slotRetry, ended)) return;
        }
        // Count signalled seconds up to the recording interval (at least one).
        uint32_t ticks = 0;
        uint32_t interval;
        do {
            if (clock.AwaitRecording(guard, context, ended)) return;
            if (clock.Pause(guard, context, context.timing.recordingTick, ended)) return;
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
        std::lock_guard<std::mutex> guard(context.lock);
        context.stopping = false;
        context.timerResumed = false;
        context.timerStop = false;
    }
    context.pollingThread = std::thread(PollingWorker, std::ref(context));
    return true;
}

void SignalStop(AppContext& context) {
    {
        std::lock_guard<std::mutex> guard(context.lock);
        context.mainWindow = kNoWindow;
        context.port = PORT_NONE;
        context.stopping = true;
        // The worker closes the handle only after taking it out of the
        // context under this lock, so the break never meets a closed handle.
        // A GetLog transfer is not broken: the converter has let go of its
        // records, which would exist nowhere.  A peek loses nothing.
        if (context.device != nullptr && !context.logTransferMustFinish) KX305UserBreak(&context.device);
    }
    context.wake.notify_all();
}

void StopPollingWorker(AppContext& context) {
    SignalStop(context);
    if (context.pollingThread.joinable()) context.pollingThread.join();
}

int PortTest(AppContext& context, WindowRef owner, int32_t port) {
    std::string name = context.portNamer(port);
    KX305Handle device = nullptr;
    if (KX305Open(&device, name.c_str()) != 0) {
        detail::EventsOf(context).Failure(owner, AcquisitionFailure::PortInUse);
        return 0;
    }
    return KX305Close(&device) == 0 ? 1 : 0;
}

}  // namespace kx305mon
