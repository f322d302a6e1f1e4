#include "frame_link.h"

#include <atomic>
#include <chrono>
#include <system_error>

namespace kx305 {
namespace {

// Time-out in the high half, tries in the low half: one load reads both.
std::atomic<uint64_t> g_requestTiming{uint64_t{kRequestTimeoutMs} << 32 | kRequestTries};

}  // namespace

void (*g_handleThreadEnd)() = nullptr;

RequestTiming CurrentRequestTiming() {
    const uint64_t packed = g_requestTiming.load(std::memory_order_relaxed);
    return {static_cast<uint32_t>(packed >> 32), static_cast<uint32_t>(packed)};
}

void SetRequestTiming(const RequestTiming& timing) {
    g_requestTiming.store(uint64_t{timing.timeoutMs} << 32 | (timing.tries != 0 ? timing.tries : 1),
                          std::memory_order_relaxed);
}

PortResult SendFrame(ByteChannel& channel, Frame& frame) {
    uint8_t wire[kMaxWireFrame];
    const size_t size = EncodeFrame(frame, wire);
    for (size_t i = 0; i < size; ++i)
        if (const PortResult result = channel.Write(&wire[i], 1); result != PortResult::Ok) return result;
    return PortResult::Ok;
}

FrameLink::~FrameLink() { CloseLink(); }

KX305Status FrameLink::OpenLink(const char* portPath, uint32_t baudRate) {
    {
        Lock lock(mutex_);
        closed_ = false;
    }
    if (port_.Open(portPath, baudRate) != PortResult::Ok) return KX305_STATUS_PORT_ERROR;
    portOpen_ = true;
    try {
        reader_ = std::thread([this] {
            RunReader();
            if (g_handleThreadEnd != nullptr) g_handleThreadEnd();
        });
        dispatcher_ = std::thread([this] {
            RunDispatcher();
            if (g_handleThreadEnd != nullptr) g_handleThreadEnd();
        });
    } catch (const std::system_error&) {
        return KX305_STATUS_NO_RESOURCE;
    }
    return KX305_STATUS_OK;
}

void FrameLink::CloseLink() {
    {
        Lock lock(mutex_);
        closed_ = true;
        signalled_.notify_all();  // a DoneWait of a racing call ends
    }
    if (dispatcher_.joinable()) {
        {
            Lock lock(mutex_);
            Signal(stopEvent_, lock);
        }
        dispatcher_.join();
    }
    if (portOpen_) {
        port_.Close();
        portOpen_ = false;
    }
    if (reader_.joinable()) reader_.join();
    Lock lock(mutex_);
    requestEvent_ = doneEvent_ = stopEvent_ = false;
}

void FrameLink::AbandonLink() {
    if (dispatcher_.joinable()) dispatcher_.detach();
    if (reader_.joinable()) reader_.detach();
    if (portOpen_) port_.Close();
    portOpen_ = false;
}

void FrameLink::Signal(bool& event, const Lock&) {
    event = true;
    signalled_.notify_all();
}

void FrameLink::StartRequest(const Lock& lock, const Request& request) {
    request_ = request;
    requestStarted_ = true;
    triesDone_ = 0;
    doneEvent_ = false;
    Signal(requestEvent_, lock);
}

void FrameLink::Post(const Lock& lock, KX305Status status, uint32_t percent) {
    if (status == KX305_STATUS_PROGRESS && percent == lastProgress_) return;
    lastProgress_ = status == KX305_STATUS_PROGRESS ? percent : kNoProgress;
    // Setting "done" again replaces a state the caller has not fetched yet.
    status_ = status;
    progress_ = percent;
    Signal(doneEvent_, lock);
}

KX305Status FrameLink::DoneWait(uint32_t& percent) {
    Lock lock(mutex_);
    if (closed_) return KX305_STATUS_BAD_HANDLE;
    if (!requestStarted_ && !doneEvent_) {
        percent = 100;
        return KX305_STATUS_TIMEOUT;
    }
    ++waiting_;
    const bool woken = signalled_.wait_for(lock, std::chrono::milliseconds(request_.timeoutMs),
                                           [this] { return doneEvent_ || closed_; });
    --waiting_;
    if (!woken) {
        switch (TryRanOut(lock, percent)) {
        case TryOutcome::Running:
            return KX305_STATUS_PROGRESS;
        case TryOutcome::Ended:
            doneEvent_ = false;
            percent = progress_;
            return status_;
        case TryOutcome::Resend:
            break;
        }
        percent = 100;
        status_ = KX305_STATUS_TIMEOUT;
    } else if (closed_) {
        return KX305_STATUS_BAD_HANDLE;
    } else {
        doneEvent_ = false;
        percent = progress_;
    }
    if (status_ != KX305_STATUS_TIMEOUT) return status_;

    // A try without a valid reply.
    ++triesDone_;
    if (triesDone_ < request_.tries) {
        percent = (triesDone_ * 1000 / request_.tries + 5) / 10;
        status_ = KX305_STATUS_BUSY;
        Signal(requestEvent_, lock);
        return KX305_STATUS_BUSY;
    }
    if (triesDone_ == request_.tries) {
        // The last try failed: the next call finds the time-out posted.
        percent = 100;
        Post(lock, KX305_STATUS_TIMEOUT, 100);
        return KX305_STATUS_BUSY;
    }
    return KX305_STATUS_TIMEOUT;
}

void FrameLink::BreakOff() {
    Lock lock(mutex_);
    Post(lock, KX305_STATUS_BROKEN_OFF, 100);
}

uint32_t FrameLink::CallersWaiting() {
    Lock lock(mutex_);
    return waiting_;
}

void FrameLink::FrameReceived(const Lock&, const Frame&) {}

void FrameLink::PreparingToSend(const Lock&, const Request&) {}

FrameLink::TryOutcome FrameLink::TryRanOut(const Lock&, uint32_t&) { return TryOutcome::Resend; }

void FrameLink::RunDispatcher() {
    Lock lock(mutex_);
    for (;;) {
        signalled_.wait(lock, [this] { return requestEvent_ || stopEvent_; });
        if (stopEvent_) {
            stopEvent_ = false;
            return;
        }
        requestEvent_ = false;
        lastProgress_ = kNoProgress;
        PreparingToSend(lock, request_);
        Frame frame;
        BuildFrame(frame, request_.address, request_.aux, request_.command, request_.payload, request_.length);

        lock.unlock();
        const PortResult sent = SendFrame(port_, frame);
        lock.lock();
        if (sent != PortResult::Ok) Post(lock, KX305_STATUS_PORT_ERROR, 100);
    }
}

void FrameLink::RunReader() {
    ReceiveFrames(port_, [this](const Frame& frame) {
        Lock lock(mutex_);
        if (requestStarted_ && frame.address() == request_.address) FrameReceived(lock, frame);
    });
}

}  // namespace kx305
