#include "acquisition/app_context.h"

#include <cstring>

#include "acquisition/events.h"
#include "acquisition/internal.h"
#include "acquisition/polling_worker.h"

namespace kx305mon {

namespace {

class NullEvents final : public AcquisitionEvents {
public:
    void InputChanged(WindowRef, int) override {}
    void LiveData(WindowRef, const ConverterInfo*, const ClockRecord*, const InputReading*, AppContext&) override {}
    void RainGauge(WindowRef, uint32_t) override {}
    void CycleDone(WindowRef) override {}
    void ConnectionLost(WindowRef) override {}
    void DownloadStarted(WindowRef) override {}
    void DownloadProgress(WindowRef, unsigned) override {}
    void DownloadFinished(WindowRef, const DownloadReport&) override {}
    void ClockSet(Requester, bool) override {}
    void LogPeriodRead(Requester, unsigned) override {}
    void LogPeriodWritten(Requester, bool) override {}
    void Failure(WindowRef, AcquisitionFailure) override {}
};

bool IsUserOperation(DeviceRequest request) { return request != 0 && RequestOperation(request) != kOpDownloadLog; }

}  // namespace

namespace detail {

AcquisitionEvents& EventsOf(AppContext& context) {
    static NullEvents nowhere;
    return context.plumbing.events != nullptr ? *context.plumbing.events : nowhere;
}

WindowRef MainWindow(AppContext& context) {
    MutexLock guard(context.plumbing.lock);
    return context.mainWindow;
}

void NotifyFailure(AppContext& context, DeviceRequest request, Requester requester) {
    if (request == 0 || requester == kNoRequester) return;
    switch (RequestOperation(request)) {
    case kOpSyncClock:
    case kOpSetClock:
        EventsOf(context).ClockSet(requester, false);
        break;
    case kOpWriteLogPeriod:
        EventsOf(context).LogPeriodWritten(requester, false);
        break;
    default:
        break;
    }
}

}  // namespace detail

void ManualResetEvent::Set() {
    {
        std::lock_guard<std::mutex> guard(mutex_);
        signalled_ = true;
    }
    changed_.notify_all();
}

void ManualResetEvent::Reset() {
    std::lock_guard<std::mutex> guard(mutex_);
    signalled_ = false;
}

bool ManualResetEvent::IsSet() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return signalled_;
}

bool ManualResetEvent::WaitFor(std::chrono::milliseconds timeout) const {
    std::unique_lock<std::mutex> guard(mutex_);
    return changed_.wait_for(guard, timeout, [this] { return signalled_; });
}

AppContext::AppContext() : worker(std::make_unique<PollingWorkerState>()) {}

AppContext::~AppContext() {
    // The worker uses this record to its last instruction.
    if (pollingThread.joinable()) StopPollingWorker(*this);
}

void PlaceRequest(AppContext& context, Requester requester, uint32_t operation, uint32_t parameter) {
    DeviceRequest displaced = 0;
    Requester displacedRequester = kNoRequester;
    {
        MutexLock guard(context.plumbing.lock);
        // A user operation that the worker has not taken yet would vanish
        // without a word; one that is running answers when it finishes.
        bool running = context.request == context.plumbing.runningRequest &&
                       context.requesterWindow == context.plumbing.runningRequester;
        if (IsUserOperation(context.request) && !running) {
            displaced = context.request;
            displacedRequester = context.requesterWindow;
        }
        context.request = MakeDeviceRequest(operation, parameter);
        context.requesterWindow = requester;
    }
    detail::NotifyFailure(context, displaced, displacedRequester);
}

bool PlaceLogPeriodRequest(AppContext& context, Requester requester, uint32_t seconds) {
    if (seconds == 0) return false;
    if (seconds > 0xFFFF) seconds = 0xFFFF;
    PlaceRequest(context, requester, kOpWriteLogPeriod, seconds);
    return true;
}

void WithdrawRequest(AppContext& context, Requester requester) {
    MutexLock guard(context.plumbing.lock);
    if (requester == kNoRequester || context.requesterWindow != requester) return;
    context.request = 0;
    context.requesterWindow = kNoRequester;
}

bool LogTransferMustFinish(AppContext& context) {
    MutexLock guard(context.plumbing.lock);
    return context.plumbing.logTransferMustFinish;
}

void SetPort(AppContext& context, int32_t port) {
    {
        MutexLock guard(context.plumbing.lock);
        context.port = port;
    }
    context.plumbing.wake.notify_all();
}

LiveState ReadLiveState(AppContext& context) {
    LiveState state;
    MutexLock guard(context.plumbing.lock);
    state.connected = context.device != nullptr;
    state.info = context.info;
    state.clock = context.clock;
    std::memcpy(state.inputs, context.inputs, sizeof state.inputs);
    return state;
}

}  // namespace kx305mon
