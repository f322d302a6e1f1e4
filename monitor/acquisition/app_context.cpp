#include "acquisition/app_context.h"

#include <cstring>

#include "acquisition/internal.h"
#include "acquisition/notifier.h"
#include "acquisition/polling_worker.h"

namespace kx305mon {

namespace {

class NullNotifier final : public AcquisitionNotifier {
public:
    void Post(WindowRef, uint32_t, uintptr_t, intptr_t) override {}
    void UpdateDisplay(WindowRef, const ConverterInfo*, const ClockRecord*, const InputReading*,
                       AppContext&) override {}
    void SetRainGaugeMenu(WindowRef, uint32_t) override {}
    void ShowControl(WindowRef, int, bool) override {}
    void SetControlNumber(WindowRef, int, unsigned) override {}
    void EnableControl(WindowRef, int, bool) override {}
    void ShowMessage(WindowRef, const char*, MessageIcon) override {}
};

bool IsUserOperation(DeviceRequest request) {
    return request != 0 && RequestOperation(request) != kOpDownloadLog;
}

}  // namespace

namespace detail {

AcquisitionNotifier& NotifierOf(AppContext& context) {
    static NullNotifier nowhere;
    return context.notifier != nullptr ? *context.notifier : nowhere;
}

WindowRef MainWindow(AppContext& context) {
    std::lock_guard<std::mutex> guard(context.lock);
    return context.mainWindow;
}

void PostToMain(AppContext& context, uint32_t message, uintptr_t wParam) {
    WindowRef window = MainWindow(context);
    if (window != kNoWindow) NotifierOf(context).Post(window, message, wParam, 0);
}

uint32_t FailureNotice(DeviceRequest request) {
    switch (RequestOperation(request)) {
    case kOpSyncClock:
    case kOpSetClock:
        return WMU_TIME_SET;
    case kOpWriteLogPeriod:
        return WMU_PERIOD_SET;
    default:
        return 0;
    }
}

void NotifyFailure(AppContext& context, DeviceRequest request, WindowRef requester) {
    uint32_t message = FailureNotice(request);
    if (message != 0 && requester != kNoWindow) NotifierOf(context).Post(requester, message, 0, 0);
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

AppContext::AppContext() = default;

AppContext::~AppContext() {
    // The worker uses this record to its last instruction.
    if (pollingThread.joinable()) StopPollingWorker(*this);
}

void PlaceRequest(AppContext& context, WindowRef requester, uint32_t operation, uint32_t parameter) {
    DeviceRequest displaced = 0;
    WindowRef displacedRequester = kNoWindow;
    {
        std::lock_guard<std::mutex> guard(context.lock);
        // A user operation that the worker has not taken yet would vanish
        // without a word; one that is running answers when it finishes.
        bool running = context.request == context.runningRequest &&
                       context.requesterWindow == context.runningRequester;
        if (IsUserOperation(context.request) && !running) {
            displaced = context.request;
            displacedRequester = context.requesterWindow;
        }
        context.request = MakeDeviceRequest(operation, parameter);
        context.requesterWindow = requester;
    }
    detail::NotifyFailure(context, displaced, displacedRequester);
}

bool PlaceLogPeriodRequest(AppContext& context, WindowRef requester, uint32_t seconds) {
    if (seconds == 0) return false;
    if (seconds > 0xFFFF) seconds = 0xFFFF;
    PlaceRequest(context, requester, kOpWriteLogPeriod, seconds);
    return true;
}

void WithdrawRequest(AppContext& context, WindowRef requester) {
    std::lock_guard<std::mutex> guard(context.lock);
    if (requester == kNoWindow || context.requesterWindow != requester) return;
    context.request = 0;
    context.requesterWindow = kNoWindow;
}

void SetPort(AppContext& context, int32_t port) {
    {
        std::lock_guard<std::mutex> guard(context.lock);
        context.port = port;
    }
    context.wake.notify_all();
}

LiveState ReadLiveState(AppContext& context) {
    LiveState state;
    std::lock_guard<std::mutex> guard(context.lock);
    state.connected = context.device != nullptr;
    state.info = context.info;
    state.clock = context.clock;
    std::memcpy(state.inputs, context.inputs, sizeof state.inputs);
    return state;
}

}  // namespace kx305mon
