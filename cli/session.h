// One connection to a converter for the length of a device command, and the
// queue that carries the acquisition's events from the worker's thread to
// the command on the main thread.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>

#include "acquisition/app_context.h"
#include "acquisition/events.h"
#include "device_session.h"
#include "simulator.h"
#include "watched_file.h"

namespace kx305cli {

using Clock = std::chrono::steady_clock;

// The one port of a session; its path comes from the port namer.
constexpr int32_t kSessionPort = 1;

constexpr auto kWaitSlice = std::chrono::milliseconds(100);

// What the acquisition reported, in order.
struct Event {
    enum Kind { CycleDone, Display, DownloadStarted, Progress, Answer, PeriodRead, Download, Failure } kind = CycleDone;
    kx305mon::Requester requester = kx305mon::kNoRequester;  // Answer, PeriodRead: whose operation
    bool slotEmpty = false;                                  // CycleDone: no request left in the slot
    uint64_t placement = 0;                                  // CycleDone: the placement it saw (see Arm)
    bool connected = false;                                  // Display: with the converter's readings
    std::string text;                                        // Display: the block
    bool done = false;                                       // Answer: the clock or the log interval was set
    unsigned value = 0;                                      // Progress: percent; PeriodRead: seconds
    kx305mon::DownloadReport download;                       // Download
    int fileError = 0;                                       // Download: errno of the file's last refusal
    kx305mon::AcquisitionFailure failure = kx305mon::AcquisitionFailure::PortInUse;  // Failure
};

enum class WaitResult { Event, Timeout, Interrupted };

// Hands the acquisition's events from the worker's thread to the command
// running on the main thread.
class CliEvents final : public kx305mon::AcquisitionEvents {
public:
    explicit CliEvents(kx305mon::AppContext& context) : context_(context) {}

    void InputChanged(kx305mon::WindowRef, int) override {}
    void LiveData(kx305mon::WindowRef window, const ConverterInfo* info, const ClockRecord* clock,
                  const InputReading* results, kx305mon::AppContext& context) override;
    void RainGauge(kx305mon::WindowRef, uint32_t) override {}
    void CycleDone(kx305mon::WindowRef window) override;
    // The display's question marks (LiveData without readings) tell the loss.
    void ConnectionLost(kx305mon::WindowRef) override {}
    void DownloadStarted(kx305mon::WindowRef window) override;
    void DownloadProgress(kx305mon::WindowRef window, unsigned percent) override;
    void DownloadFinished(kx305mon::WindowRef window, const kx305mon::DownloadReport& report) override;
    void ClockSet(kx305mon::Requester requester, bool done) override { AddAnswer(requester, done); }
    void LogPeriodRead(kx305mon::Requester requester, unsigned seconds) override;
    void LogPeriodWritten(kx305mon::Requester requester, bool done) override { AddAnswer(requester, done); }
    void Failure(kx305mon::WindowRef owner, kx305mon::AcquisitionFailure failure) override;

    // The file whose refusals the download events explain; set before the
    // worker starts.
    void Watch(WatchedFile::Error error) { watched_ = std::move(error); }

    // Called after a request was placed: the end of a cycle reported from
    // now on has seen it in the slot.  Returns the placement's number.
    uint64_t Arm();

    // The next event, waiting at most until `deadline`; Interrupted once
    // more than `signalsSeen` stop signals have come.
    WaitResult Next(Event& event, Clock::time_point deadline, int signalsSeen = 0);

private:
    static Event Make(Event::Kind kind, kx305mon::Requester requester = kx305mon::kNoRequester);
    void AddAnswer(kx305mon::Requester requester, bool done);
    void Add(Event event);

    kx305mon::AppContext& context_;
    WatchedFile::Error watched_;
    uint64_t placement_ GUARDED_BY(context_.plumbing.lock) = 0;
    std::mutex mutex_;
    std::condition_variable added_;
    std::deque<Event> events_;
};

inline bool IsNewData(const Event& event) { return event.kind == Event::CycleDone; }
inline bool IsConnectionLost(const Event& event) { return event.kind == Event::Display && !event.connected; }

// One connection to a converter for the length of a command: the port (or
// the built-in simulator), the shared record and the polling worker.
class Session {
public:
    explicit Session(const DeviceOptions& options);
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // Resolves and tests the port and starts the worker.  Fields of the
    // context that the worker reads at its start are set before.
    int Start();

    // The converter's first good cycle; the events before it are dropped.
    int WaitFirstCycle();

    WaitResult Next(Event& event, Clock::time_point deadline, int signalsSeen = 0) {
        return events_.Next(event, deadline, signalsSeen);
    }
    uint64_t Arm() { return events_.Arm(); }
    // A new identity for an operation that waits for its answer.
    kx305mon::Requester NewRequester() { return static_cast<kx305mon::Requester>(++requesters_); }
    void Watch(WatchedFile::Error error) { events_.Watch(std::move(error)); }

    // The end of the time allowed for an answer from now.
    Clock::time_point Deadline() const;

    int NoAnswer() const;

    const std::string& port() const { return port_; }

    kx305mon::AppContext context;

private:
    int TestPort();

    DeviceOptions options_;
    CliEvents events_;
    std::unique_ptr<EmbeddedSimulator> simulator_;
    std::string port_;
    uintptr_t requesters_ = 0;  // identities handed out
};

// Starts a session and waits for the converter's first answer.
int Connect(Session& session);

}  // namespace kx305cli
