// FrameLink: the machine behind one open handle.
//
// Three threads meet here: the caller's thread (starting requests and
// waiting for them), the dispatcher thread (writing request frames) and the
// reader thread (assembling reply frames and decoding them).  They talk
// through three auto-reset events, "request", "done" and "stop", which share
// the link's mutex with the pending request and its status: a reply handler
// decodes into the caller's record and posts its status under the mutex, so
// the caller sees a consistent state when its wait ends, and a request that
// replaces another never meets a half-handled reply.  The mutex is never held
// across a port read or write.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

#include "frame.h"
#include "kx305.h"
#include "protocol.h"
#include "serial_port.h"

namespace kx305 {

// When set, every handle thread calls it as its very last act, after it has
// released everything it held.  Set once at library load, before any handle
// is opened: the Windows unload hook ends the threads there
// (library_win32.cpp).
extern void (*g_handleThreadEnd)();

// Writes 0x7E raw, then the header and payload escaped; every byte (both
// bytes of an escape pair too) goes out by its own write.  Recomputes the
// checksum first.  Ok, or the first write's failure.
PortResult SendFrame(ByteChannel& channel, Frame& frame);

// Reads one byte at a time until the channel fails and calls
// onFrame(const Frame&) for every frame whose bytes sum to zero.
template <typename OnFrame>
void ReceiveFrames(ByteChannel& channel, OnFrame&& onFrame) {
    FrameReader reader;
    uint8_t byte = 0;
    while (channel.Read(&byte, 1) == PortResult::Ok)
        if (reader.Feed(byte)) onFrame(reader.frame());
}

// How long one try waits for its reply and how many tries a request gets.
// Every request of every handle starts with the timing in force when it is
// started: 2500 ms and 4 tries, unless a test of the library (linked to the
// core, not through the exports) has set another.
struct RequestTiming {
    uint32_t timeoutMs = kRequestTimeoutMs;
    uint32_t tries = kRequestTries;
};
RequestTiming CurrentRequestTiming();
void SetRequestTiming(const RequestTiming& timing);

class FrameLink {
public:
    FrameLink() = default;
    virtual ~FrameLink();
    FrameLink(const FrameLink&) = delete;
    FrameLink& operator=(const FrameLink&) = delete;

    // Caller's thread.  Waits up to one try's time-out for the pending
    // request, re-sends it after a try without reply (unless TryRanOut says
    // otherwise), and returns its state:
    // 0-8, with 0-100 in `percent`.  On a link that never started a request
    // and has nothing posted it returns 4 with 100 at once.  Once the link is
    // being closed (a KX305Close racing the call) it returns 9 at once and
    // leaves `percent` alone.
    KX305Status DoneWait(uint32_t& percent);

    // Any thread.  Ends the pending request with 3; the next DoneWait (or
    // one waiting now) returns it.
    void BreakOff();

    // Any thread.  How many DoneWait calls are blocked in their wait now;
    // tests wait for it before they act on a waiting caller.
    uint32_t CallersWaiting();

protected:
    using Lock = std::unique_lock<std::mutex>;

    static constexpr size_t kMaxRequestPayload = 6;
    static constexpr uint32_t kNoProgress = 0xFFFF;  // no log-transfer percentage posted yet

    // What the dispatcher writes on every try, and what the reader awaits: a
    // reply with the same command code.
    struct Request {
        uint8_t address = 0;
        uint8_t aux = 0;
        uint8_t command = 0;
        uint8_t length = 0;
        uint8_t payload[kMaxRequestPayload] = {};
        uint16_t argument = 0;   // the caller's value, for the log line of a set command
        void* output = nullptr;  // the caller's record that the reply fills
        uint32_t timeoutMs = kRequestTimeoutMs;
        uint32_t tries = kRequestTries;
    };

    // Opens the port and starts the reader, then the dispatcher thread.
    // 0, 6 (port not opened or configured) or 8 (thread not started); a
    // failed open leaves what was made for CloseLink.
    KX305Status OpenLink(const char* portPath, uint32_t baudRate);

    // Stops the dispatcher and waits for it, closes the port (which ends the
    // reader's read) and waits for the reader.  Safe after a partial open and
    // when called twice.
    void CloseLink();

    // For process exit, when the handle's threads no longer run: releases
    // the port without waiting for them.  The link must not be destroyed.
    void AbandonLink();

    Lock Acquire() { return Lock(mutex_); }

    // Replaces the pending request, resets "done" and wakes the dispatcher.
    void StartRequest(const Lock& lock, const Request& request);

    // Reports the request's state: a repeated progress percentage is not
    // posted again, and only the newest state waits for the caller.
    void Post(const Lock& lock, KX305Status status, uint32_t percent);

    const Request& pending(const Lock&) const { return request_; }

    // Reader thread, mutex held: a checked frame whose address is the pending
    // request's, once a request has been started.  FrameLink drops it.
    virtual void FrameReceived(const Lock& lock, const Frame& frame);

    // Dispatcher thread, mutex held: before each try's frame is written.
    virtual void PreparingToSend(const Lock& lock, const Request& request);

    // Caller's thread, mutex held: a whole time-out passed without a post.
    // Resend counts a failed try as usual; Running returns 2 with `percent`
    // and sends nothing; Ended means the request has posted its final state,
    // which DoneWait returns at once.  FrameLink always re-sends.
    enum class TryOutcome { Resend, Running, Ended };
    virtual TryOutcome TryRanOut(const Lock& lock, uint32_t& percent);

private:
    void RunDispatcher();
    void RunReader();
    void Signal(bool& event, const Lock&);

    SerialPort port_;
    bool portOpen_ = false;  // caller's thread only
    std::thread reader_;
    std::thread dispatcher_;

    std::mutex mutex_;
    std::condition_variable signalled_;
    // The three auto-reset events.
    bool requestEvent_ = false;
    bool doneEvent_ = false;
    bool stopEvent_ = false;

    // Set by CloseLink: waits end, nothing is re-sent (guarded by mutex_).
    bool closed_ = false;
    uint32_t waiting_ = 0;  // DoneWait calls inside their wait

    // The pending request and its state (guarded by mutex_).
    Request request_;
    bool requestStarted_ = false;
    uint32_t triesDone_ = 0;
    KX305Status status_ = KX305_STATUS_OK;
    uint32_t progress_ = 0;
    uint32_t lastProgress_ = kNoProgress;
};

}  // namespace kx305
