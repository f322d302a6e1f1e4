#include "session.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "acquisition/polling_worker.h"
#include "console.h"
#include "shell/display_text.h"
#include "stop_signals.h"

namespace kx305cli {

using namespace kx305mon;

void CliEvents::LiveData(WindowRef, const ConverterInfo* info, const ClockRecord* clock, const InputReading* results,
                         AppContext& context) {
    bool average;
    {
        MutexLock guard(context.plumbing.lock);
        average = context.averageKX125;
    }
    Event event = Make(Event::Display);
    event.connected = results != nullptr;
    event.text = LiveBlock(info, clock, results, average);
    Add(std::move(event));
}

void CliEvents::CycleDone(WindowRef) {
    Event event = Make(Event::CycleDone);
    {
        // Read now: the cycle that reports this has finished its operation.
        MutexLock guard(context_.plumbing.lock);
        event.slotEmpty = context_.request == 0;
        event.placement = placement_;
    }
    Add(std::move(event));
}

void CliEvents::DownloadStarted(WindowRef) { Add(Make(Event::DownloadStarted)); }

void CliEvents::DownloadProgress(WindowRef, unsigned percent) {
    Event event = Make(Event::Progress);
    event.value = percent;
    Add(std::move(event));
}

void CliEvents::DownloadFinished(WindowRef, const DownloadReport& report) {
    Event event = Make(Event::Download);
    event.download = report;
    if (watched_ != nullptr) event.fileError = watched_->load();
    Add(std::move(event));
}

void CliEvents::LogPeriodRead(Requester requester, unsigned seconds) {
    Event event = Make(Event::PeriodRead, requester);
    event.value = seconds;
    Add(std::move(event));
}

void CliEvents::Failure(WindowRef, AcquisitionFailure failure) {
    Event event = Make(Event::Failure);
    event.failure = failure;
    Add(std::move(event));
}

uint64_t CliEvents::Arm() {
    MutexLock guard(context_.plumbing.lock);
    return ++placement_;
}

WaitResult CliEvents::Next(Event& event, Clock::time_point deadline, int signalsSeen) {
    std::unique_lock<std::mutex> guard(mutex_);
    for (;;) {
        if (!events_.empty()) {
            event = std::move(events_.front());
            events_.pop_front();
            return WaitResult::Event;
        }
        if (g_stopSignal > signalsSeen) return WaitResult::Interrupted;
        const Clock::time_point now = Clock::now();
        if (now >= deadline) return WaitResult::Timeout;
        added_.wait_for(guard, std::min<Clock::duration>(kWaitSlice, deadline - now));
    }
}

Event CliEvents::Make(Event::Kind kind, Requester requester) {
    Event event;
    event.kind = kind;
    event.requester = requester;
    return event;
}

void CliEvents::AddAnswer(Requester requester, bool done) {
    Event event = Make(Event::Answer, requester);
    event.done = done;
    Add(std::move(event));
}

void CliEvents::Add(Event event) {
    {
        std::lock_guard<std::mutex> guard(mutex_);
        events_.push_back(std::move(event));
    }
    added_.notify_all();
}

Session::Session(const DeviceOptions& options) : options_(options), events_(context) {}

Session::~Session() {
    // The worker uses the events and the port to its last instruction.
    StopPollingWorker(context);
    simulator_.reset();
}

int Session::Start() {
    port_ = options_.port;
    if (port_.empty()) {
        std::string error;
        bool refused = false;
        simulator_ = EmbeddedSimulator::Start(options_.simArgs, error, refused);
        if (simulator_ == nullptr) {
            Console::Error(error);
            return refused ? kExitUsage : kExitFailure;
        }
        port_ = simulator_->port();
    }
    const std::string path = port_;
    {
        MutexLock guard(context.plumbing.lock);
        context.port = kSessionPort;
    }
    context.plumbing.portNamer = [path](int32_t) { return path; };
    if (int result = TestPort(); result != kExitOk) return result;
    {
        MutexLock guard(context.plumbing.lock);
        // The live display's notices go to the events queue.
        context.mainWindow = reinterpret_cast<WindowRef>(&events_);
        context.averageKX125 = options_.averageKX125;
    }
    context.plumbing.events = &events_;
    StartPollingWorker(context);
    return kExitOk;
}

int Session::WaitFirstCycle() {
    const Clock::time_point deadline = Deadline();
    Event event;
    for (;;) {
        switch (events_.Next(event, deadline)) {
        case WaitResult::Event:
            if (IsNewData(event)) return kExitOk;
            break;
        case WaitResult::Timeout:
            return NoAnswer();
        case WaitResult::Interrupted:
            return kExitInterrupted;
        }
    }
}

Clock::time_point Session::Deadline() const {
    if (options_.timeoutSeconds <= 0) return Clock::time_point::max();
    return Clock::now() +
           std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(options_.timeoutSeconds));
}

int Session::NoAnswer() const {
    Console::Error(port_, "no answer from the converter");
    return kExitFailure;
}

int Session::TestPort() {
    const int fd = open(port_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        Console::Error(port_, SystemReason(errno));
        return kExitFailure;
    }
    const bool terminal = isatty(fd) == 1;
    close(fd);
    if (!terminal) {
        Console::Error(port_, "not a serial port");
        return kExitFailure;
    }
    if (PortTest(context, kNoWindow, kSessionPort) != 1) {
        Console::Error(port_, "in use by another program");
        return kExitFailure;
    }
    return kExitOk;
}

int Connect(Session& session) {
    if (int result = session.Start(); result != kExitOk) return result;
    return session.WaitFirstCycle();
}

}  // namespace kx305cli
