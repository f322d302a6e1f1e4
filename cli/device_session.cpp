#include "device_session.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>

#include "acquisition/app_context.h"
#include "acquisition/events.h"
#include "acquisition/pending_records.h"
#include "acquisition/polling_worker.h"
#include "console.h"
#include "file_checks.h"
#include "instruments/calendar_time.h"
#include "instruments/catalogue.h"
#include "recording/file.h"
#include "recording/local_time.h"
#include "recording/registration_file.h"
#include "resources/messages.h"
#include "shell/display_text.h"
#include "simulator.h"

namespace kx305cli {

using namespace kx305mon;
using Clock = std::chrono::steady_clock;

namespace {

// Window tokens of the acquisition's events: the live display and the
// requester of a log-interval operation, as in the program.
constexpr WindowRef kMainWindow = 102;
constexpr WindowRef kIntervalDialog = 105;
// The one port of a session; its path comes from the port namer.
constexpr int32_t kSessionPort = 1;

constexpr auto kWaitSlice = std::chrono::milliseconds(100);

// Stop signals received: 0, 1 or 2.
volatile sig_atomic_t g_stopSignal = 0;
// A download is being finished after the first signal: the main thread
// waits for it and handles a second signal itself.
volatile sig_atomic_t g_finishing = 0;

// The first signal asks for a clean stop (the worker finishes its write, the
// file is flushed, a GetLog download is finished); a second one ends the
// program at once, whatever it is busy with.
extern "C" void OnStopSignal(int signalNumber) {
    if (g_stopSignal != 0 && g_finishing == 0) {
        signal(signalNumber, SIG_DFL);
        raise(signalNumber);
        return;
    }
    if (g_stopSignal < 2) g_stopSignal = g_stopSignal + 1;
}

bool StopRequested() { return g_stopSignal != 0; }

// The registration file as the worker writes it, keeping the system's
// reason for the last write or flush it refused.  The download's report
// tells that the file refused records; only this tells why (the worker
// seeks and cuts the file after a failed write, which changes errno).
// Written and read on the worker's thread; the report is made there too.
class WatchedFile final : public FileStream {
public:
    explicit WatchedFile(std::unique_ptr<FileStream> file) : file_(std::move(file)) {}

    bool Write(const void* data, size_t size) override { return Kept(file_->Write(data, size)); }
    long Read(void* data, size_t size) override { return file_->Read(data, size); }
    bool SeekToStart() override { return file_->SeekToStart(); }
    bool SeekToEnd() override { return file_->SeekToEnd(); }
    bool SeekTo(int64_t offset) override { return file_->SeekTo(offset); }
    int64_t Position() override { return file_->Position(); }
    bool Truncate() override { return file_->Truncate(); }
    bool Flush() override { return Kept(file_->Flush()); }
    int64_t Size() override { return file_->Size(); }
    FileIdentity Identity() override { return file_->Identity(); }

    // errno of the last refused write or flush, 0 before any.  Shared: the
    // worker closes the file when its path no longer names it, and the
    // reason is still read after that.
    using Error = std::shared_ptr<const std::atomic<int>>;
    Error lastError() const { return lastError_; }

private:
    bool Kept(bool ok) {
        if (!ok) lastError_->store(errno);
        return ok;
    }

    std::unique_ptr<FileStream> file_;
    std::shared_ptr<std::atomic<int>> lastError_ = std::make_shared<std::atomic<int>>(0);
};

// What the acquisition reported, in order.
struct Event {
    enum Kind { CycleDone, Display, DownloadStarted, Progress, Answer, PeriodRead, Download, Failure } kind = CycleDone;
    WindowRef window = kNoWindow;
    bool slotEmpty = false;  // CycleDone: no request left in the slot
    uint64_t placement = 0;  // CycleDone: the placement it saw (see Arm)
    bool connected = false;  // Display: with the converter's readings
    std::string text;        // Display: the block
    bool done = false;       // Answer: the clock or the log interval was set
    unsigned value = 0;      // Progress: percent; PeriodRead: seconds
    DownloadReport download;  // Download
    int fileError = 0;        // Download: errno of the file's last refusal
    AcquisitionFailure failure = AcquisitionFailure::PortInUse;  // Failure
};

enum class WaitResult { Event, Timeout, Interrupted };

// Hands the acquisition's events from the worker's thread to the command
// running on the main thread.
class CliEvents final : public AcquisitionEvents {
public:
    explicit CliEvents(AppContext& context) : context_(context) {}

    void InputChanged(WindowRef, int) override {}

    void LiveData(WindowRef window, const ConverterInfo* info, const ClockRecord* clock, const InputReading* results,
                  AppContext& context) override {
        bool average;
        {
            std::lock_guard<std::mutex> guard(context.lock);
            average = context.averageKX125;
        }
        Event event = Make(Event::Display, window);
        event.connected = results != nullptr;
        event.text = LiveBlock(info, clock, results, average);
        Add(std::move(event));
    }

    void RainGauge(WindowRef, uint32_t) override {}

    void CycleDone(WindowRef window) override {
        Event event = Make(Event::CycleDone, window);
        {
            // Read now: the cycle that reports this has finished its operation.
            std::lock_guard<std::mutex> guard(context_.lock);
            event.slotEmpty = context_.request == 0;
            event.placement = placement_;
        }
        Add(std::move(event));
    }

    // The display's question marks (LiveData without readings) tell the loss.
    void ConnectionLost(WindowRef) override {}

    void DownloadStarted(WindowRef window) override { Add(Make(Event::DownloadStarted, window)); }

    void DownloadProgress(WindowRef window, unsigned percent) override {
        Event event = Make(Event::Progress, window);
        event.value = percent;
        Add(std::move(event));
    }

    void DownloadFinished(WindowRef window, const DownloadReport& report) override {
        Event event = Make(Event::Download, window);
        event.download = report;
        if (watched_ != nullptr) event.fileError = watched_->load();
        Add(std::move(event));
    }

    void ClockSet(WindowRef requester, bool done) override { AddAnswer(requester, done); }

    void LogPeriodRead(WindowRef requester, unsigned seconds) override {
        Event event = Make(Event::PeriodRead, requester);
        event.value = seconds;
        Add(std::move(event));
    }

    void LogPeriodWritten(WindowRef requester, bool done) override { AddAnswer(requester, done); }

    void Failure(WindowRef owner, AcquisitionFailure failure) override {
        Event event = Make(Event::Failure, owner);
        event.failure = failure;
        Add(std::move(event));
    }

    // The file whose refusals the download events explain; set before the
    // worker starts.
    void Watch(WatchedFile::Error error) { watched_ = std::move(error); }

    // Called after a request was placed: the end of a cycle reported from
    // now on has seen it in the slot.  Returns the placement's number.
    uint64_t Arm() {
        std::lock_guard<std::mutex> guard(context_.lock);
        return ++placement_;
    }

    // The next event, waiting at most until `deadline`; Interrupted once
    // more than `signalsSeen` stop signals have come.
    WaitResult Next(Event& event, Clock::time_point deadline, int signalsSeen = 0) {
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

private:
    static Event Make(Event::Kind kind, WindowRef window) {
        Event event;
        event.kind = kind;
        event.window = window;
        return event;
    }

    void AddAnswer(WindowRef requester, bool done) {
        Event event = Make(Event::Answer, requester);
        event.done = done;
        Add(std::move(event));
    }

    void Add(Event event) {
        {
            std::lock_guard<std::mutex> guard(mutex_);
            events_.push_back(std::move(event));
        }
        added_.notify_all();
    }

    AppContext& context_;
    WatchedFile::Error watched_;
    uint64_t placement_ = 0;  // guarded by the live-state lock
    std::mutex mutex_;
    std::condition_variable added_;
    std::deque<Event> events_;
};

bool IsNewData(const Event& event) { return event.kind == Event::CycleDone; }
bool IsConnectionLost(const Event& event) { return event.kind == Event::Display && !event.connected; }

// One connection to a converter for the length of a command: the port (or
// the built-in simulator), the shared record and the polling worker.
class Session {
public:
    explicit Session(const DeviceOptions& options) : options_(options), events_(context) {}
    ~Session() {
        // The worker uses the events and the port to its last instruction.
        StopPollingWorker(context);
        simulator_.reset();
    }
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // Resolves and tests the port and starts the worker.  Fields of the
    // context that the worker reads at its start are set before.
    int Start() {
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
        context.port = kSessionPort;
        context.portNamer = [path](int32_t) { return path; };
        if (int result = TestPort(); result != kExitOk) return result;
        context.mainWindow = kMainWindow;
        context.averageKX125 = options_.averageKX125;
        context.events = &events_;
        StartPollingWorker(context);
        return kExitOk;
    }

    // The converter's first good cycle; the events before it are dropped.
    int WaitFirstCycle() {
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

    WaitResult Next(Event& event, Clock::time_point deadline, int signalsSeen = 0) {
        return events_.Next(event, deadline, signalsSeen);
    }
    uint64_t Arm() { return events_.Arm(); }
    void Watch(WatchedFile::Error error) { events_.Watch(std::move(error)); }

    // The end of the time allowed for an answer from now.
    Clock::time_point Deadline() const {
        if (options_.timeoutSeconds <= 0) return Clock::time_point::max();
        return Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                  std::chrono::duration<double>(options_.timeoutSeconds));
    }

    int NoAnswer() const {
        Console::Error(port_, "no answer from the converter");
        return kExitFailure;
    }

    const std::string& port() const { return port_; }

    AppContext context;

private:
    int TestPort() {
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

    DeviceOptions options_;
    CliEvents events_;
    std::unique_ptr<EmbeddedSimulator> simulator_;
    std::string port_;
};

// Starts a session and waits for the converter's first answer.
int Connect(Session& session) {
    if (int result = session.Start(); result != kExitOk) return result;
    return session.WaitFirstCycle();
}

std::string Format(const char* format, int a, int b, int c) {
    char text[64];
    std::snprintf(text, sizeof text, format, a, b, c);
    return text;
}

// --- device operations ---

enum class Outcome { Done, Failed, Interrupted };

struct OperationResult {
    Outcome outcome = Outcome::Failed;
    unsigned value = 0;  // operation 2: the interval read
};

// Places `operation` and waits for its end: its notice (1, 3, 6), the
// interval it reads (2), or the end of the cycle that ran it (5).  Each
// comes before the end of its cycle; a lost connection or the time-out is a
// failure.
OperationResult RunOperation(Session& session, uint32_t operation, uint32_t parameter) {
    const WindowRef requester = operation == kOpReadLogPeriod || operation == kOpWriteLogPeriod
                                    ? kIntervalDialog
                                    : kMainWindow;
    if (operation == kOpWriteLogPeriod) {
        PlaceLogPeriodRequest(session.context, requester, parameter);
    } else {
        PlaceRequest(session.context, requester, operation, parameter);
    }
    const uint64_t placement = session.Arm();
    const Clock::time_point deadline = session.Deadline();
    OperationResult result;
    Event event;
    for (;;) {
        switch (session.Next(event, deadline)) {
        case WaitResult::Timeout:
            return result;
        case WaitResult::Interrupted:
            result.outcome = Outcome::Interrupted;
            return result;
        case WaitResult::Event:
            break;
        }
        if (event.kind == Event::Answer && event.window == requester) {
            result.outcome = event.done ? Outcome::Done : Outcome::Failed;
            return result;
        }
        if (operation == kOpReadLogPeriod && event.kind == Event::PeriodRead && event.window == requester) {
            result.outcome = Outcome::Done;
            result.value = event.value;
            return result;
        }
        if (IsNewData(event) && event.slotEmpty && event.placement == placement) {
            result.outcome = Outcome::Done;
            return result;
        }
        if (IsConnectionLost(event)) return result;
    }
}

int OperationExit(const Session& session, Outcome outcome, const char* failure) {
    switch (outcome) {
    case Outcome::Done:
        return kExitOk;
    case Outcome::Interrupted:
        return kExitInterrupted;
    case Outcome::Failed:
        break;
    }
    Console::Error(session.port(), failure);
    return kExitFailure;
}

int SetClock(const DeviceOptions& options, uint32_t operation, const ClockRecord* clock) {
    Session session(options);
    if (int result = Connect(session); result != kExitOk) return result;
    if (clock != nullptr) {
        std::lock_guard<std::mutex> guard(session.context.lock);
        session.context.setTimeClock = *clock;
    }
    const OperationResult result = RunOperation(session, operation, 0);
    const int exitCode = OperationExit(session, result.outcome, "the converter clock could not be set");
    if (exitCode == kExitOk) Console::Out("Converter clock set.\n");
    return exitCode;
}

// --- recording ---

struct RecordingState {
    int completed = 0;         // downloads whose records are all in the file
    int failed = 0;            // downloads that broke off or could not be stored
    bool lastFailed = false;   // the latest download failed
    bool storeFailed = false;  // the file refused records at least once
    uint64_t records = 0;      // records written
    uint64_t recordsLost = 0;  // records the converter handed over that never arrived
    bool recordsLostUnknown = false;  // and more whose number is not known
    bool fileGone = false;     // the registration file is no longer the one its path names
    bool neverClearedTold = false;
    int reconnections = 0;
    bool connected = false;
    bool lost = false;
    bool downloading = false;
};

void ShowRecordingProgress(const RecordingState& state, const std::string& file, int percent) {
    if (state.downloading) {
        Console::Progress("Downloading the logging memory: " + std::to_string(percent) + "%");
    } else {
        Console::Progress("Recording into " + file + " (downloads: " + std::to_string(state.completed) + ")");
    }
}

// Judges a download from the worker's report of it.
void JudgeDownload(RecordingState& state, const Event& event, const std::string& file, const std::string& port) {
    const DownloadReport& report = event.download;
    // Written records count also when the download failed later on (a
    // held-back record written before the transfer, the head of a download
    // before a full disk).
    state.records += report.written;
    if (report.clear == DownloadReport::Clear::TransferLongerThanLogPeriod && !state.neverClearedTold) {
        state.neverClearedTold = true;
        Console::Error(port,
                       "a download takes longer than the log interval, so the logging memory is never cleared "
                       "(a clear would erase a record not yet downloaded) and fills up; lengthen the log interval");
    }
    const bool lostOnLine = report.lost > 0 || report.lostUnknown;
    if (lostOnLine) {
        state.recordsLost += report.lost;
        state.recordsLostUnknown = state.recordsLostUnknown || report.lostUnknown;
        if (report.lostUnknown) {
            Console::Error(port, "records were lost on the line; how many is unknown");
        } else {
            Console::Error(port, std::to_string(report.lost) +
                                     (report.lost == 1 ? " record was lost on the line" : " records were lost on the line"));
        }
    }
    const char* failure = nullptr;
    switch (report.store) {
    case DownloadReport::Store::Stored:
        break;
    case DownloadReport::Store::FileGone:
        state.fileGone = true;
        Console::Error(file, "the registration file was deleted, renamed or unmounted; the converter keeps its records");
        ++state.failed;
        return;
    case DownloadReport::Store::WriteFailed:
        failure = "the records cannot be written";
        break;
    case DownloadReport::Store::FlushFailed:
        failure = "the records cannot be saved to the disk";
        break;
    case DownloadReport::Store::NoFile:
        failure = "the registration file is closed";
        break;
    }
    if (failure != nullptr) {
        state.storeFailed = true;
        std::string text = failure;
        if (report.store != DownloadReport::Store::NoFile) text += " (" + SystemReason(event.fileError) + ")";
        Console::Error(file, text);
    } else if (!report.transferred) {
        // The converter keeps what it had: the transfer never began, or it
        // was a peek (firmware 1.13 and later).
        Console::Error(port, "the download of the logging memory broke off");
    } else if (lostOnLine) {
        // What arrived is in the file; the rest exists nowhere.
        ++state.failed;
        state.lastFailed = false;
        return;
    } else {
        ++state.completed;
        state.lastFailed = false;
        return;
    }
    ++state.failed;
    state.lastFailed = true;
}

// Keeps the counts of a recording up to date with one event.  True when
// the event ended a download.
bool TrackRecording(RecordingState& state, const Event& event, const std::string& file, const std::string& port) {
    switch (event.kind) {
    case Event::Progress:
        // The last progress of a transfer is 0.
        if (event.value > 0 && state.downloading) ShowRecordingProgress(state, file, static_cast<int>(event.value));
        return false;
    case Event::DownloadStarted:
        state.downloading = true;
        ShowRecordingProgress(state, file, 0);
        return false;
    case Event::Download:
        // The last event of every download request.
        state.downloading = false;
        JudgeDownload(state, event, file, port);
        ShowRecordingProgress(state, file, 0);
        return true;
    case Event::Failure:
        // A refused record is told with its reason when the download ends.
        if (event.failure == AcquisitionFailure::RecordsNotStored) return false;
        Console::Error(file, messages::kPortInUse);
        return false;
    case Event::Display:
        if (event.connected) {
            if (state.lost) {
                ++state.reconnections;
                Console::Error(port, "connection restored");
            }
            state.connected = true;
            state.lost = false;
        } else if (state.connected && !state.lost) {
            state.lost = true;
            state.downloading = false;
            Console::Error(port, "connection lost, reconnecting");
        }
        return false;
    case Event::CycleDone:
    case Event::Answer:
    case Event::PeriodRead:
        return false;
    }
    return false;
}

// Tracks one event of a recording and tells the observer.  True when the
// event ended a download.
bool TrackAndTell(RecordingState& state, const Event& event, const std::string& file, const std::string& port,
                  AppContext& context, RecordingObserver* observer) {
    const bool downloadEnded = TrackRecording(state, event, file, port);
    if (observer != nullptr) {
        if (downloadEnded) {
            observer->DownloadEnded();
        } else if (event.kind == Event::CycleDone && state.connected && !state.lost) {
            observer->Cycle(context);
        }
    }
    return downloadEnded;
}

std::string RecordingSummary(const RecordingState& state) {
    std::string summary = "Records written: " + std::to_string(state.records) + "\n";
    summary += "Records lost: " + std::to_string(state.recordsLost) + "\n";
    summary += "Downloads: " + std::to_string(state.completed) + "\n";
    summary += "Failed downloads: " + std::to_string(state.failed) + "\n";
    summary += "Reconnections: " + std::to_string(state.reconnections) + "\n";
    return summary;
}

// After the first stop signal.  A GetLog download that has begun
// (firmware up to 1.12 let go of its records as it was asked) is finished
// and stored first; a second signal ends the program at once.  Any other
// transaction is broken off as the worker stops.
void FinishRunningDownload(Session& session, RecordingState& state, const std::string& file) {
    g_finishing = 1;
    SignalStop(session.context);
    if (!LogTransferMustFinish(session.context)) {
        g_finishing = 0;
        return;
    }
    Console::Error(session.port(),
                   "finishing the running download of the logging memory before stopping (Ctrl-C again stops at "
                   "once)");
    Event event;
    while (LogTransferMustFinish(session.context)) {
        switch (session.Next(event, Clock::now() + kWaitSlice, 1)) {
        case WaitResult::Event:
            if (event.kind == Event::Download) TrackRecording(state, event, file, session.port());
            break;
        case WaitResult::Timeout:
            break;
        case WaitResult::Interrupted: {
            // Nothing half-written stays behind: a write burst holds the lock.
            session.context.lock.lock();
            Console::Progress("");
            Console::Error(session.port(),
                           "stopped at once: the records of the running download are lost (the converter no "
                           "longer holds them)");
            Console::Out(RecordingSummary(state));
            std::fflush(stdout);
            std::fflush(stderr);
            std::_Exit(kExitInterrupted);
        }
        }
    }
    g_finishing = 0;
}

std::string OpenFailureReason(int error) {
    if (error == EWOULDBLOCK) return "in use by another program";
    return SystemReason(error);
}

// Days of `month` in `year` (Gregorian).
int DaysInMonth(int year, int month) {
    static const int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return month == 2 && leap ? 29 : kDays[month - 1];
}

}  // namespace

void InstallStopSignals() {
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGHUP, &action, nullptr);
    signal(SIGPIPE, SIG_IGN);
    // A file size limit makes the write fail with EFBIG, which is reported,
    // instead of ending the program in the middle of a download.
    signal(SIGXFSZ, SIG_IGN);
}

int RunInfo(const DeviceOptions& options) {
    Session session(options);
    if (int result = Connect(session); result != kExitOk) return result;
    const ConverterInfo info = ReadLiveState(session.context).info;
    std::string text = Format("Firmware version: %d.%02d\n", info.versionMajor, info.versionMinor, 0);
    text += Format("Firmware date: %04d-%02d-%02d\n", info.year, info.month, info.day);
    text += "Serial number: " + std::to_string(info.serialNumber) + "\n";
    return Console::Out(text) ? kExitOk : kExitFailure;
}

int RunTime(const DeviceOptions& options) {
    Session session(options);
    if (int result = Connect(session); result != kExitOk) return result;
    const ClockRecord clock = ReadLiveState(session.context).clock;
    const CalendarTime utcNow = CurrentUtcTime();
    const CalendarTime utc = ClockUtc(clock, utcNow);
    char text[64];
    std::snprintf(text, sizeof text, "UTC:   %04d-%02d-%02d %02d:%02d:%02d\n", utc.year, utc.month, utc.day, utc.hour,
                  utc.minute, utc.second);
    const std::string local = ClockText(&clock, utcNow, CurrentLocalTime(), CurrentLocale());
    return Console::Out(text + std::string("Local: ") + local + "\n") ? kExitOk : kExitFailure;
}

int RunRead(const DeviceOptions& options, int count) {
    Session session(options);
    if (int result = session.Start(); result != kExitOk) return result;
    Clock::time_point deadline = session.Deadline();
    bool connected = false;
    bool lost = false;
    int printed = 0;
    Event event;
    while (count == 0 || printed < count) {
        switch (session.Next(event, connected ? Clock::time_point::max() : deadline)) {
        case WaitResult::Timeout:
            return session.NoAnswer();
        case WaitResult::Interrupted:
            return connected ? kExitOk : kExitInterrupted;
        case WaitResult::Event:
            break;
        }
        if (event.kind != Event::Display) continue;
        if (event.connected) {
            if (lost) Console::Error(session.port(), "connection restored");
            connected = true;
            lost = false;
        } else if (!connected || lost) {
            // Before the first answer, and again while reconnecting.
            continue;
        } else {
            lost = true;
            Console::Error(session.port(), "connection lost, reconnecting");
        }
        if (!Console::Out(event.text)) return kExitOk;  // the reader went away
        if (event.connected) ++printed;
    }
    return kExitOk;
}

int RunRecord(const DeviceOptions& options, const RecordOptions& record, RecordingObserver* observer) {
    // A device or FIFO would be read (and appended to) for ever.
    std::string reason;
    if (!CheckRegularFile(record.file, true, reason)) {
        Console::Error(record.file, "the registration file cannot be opened (" + reason + ")");
        return kExitFailure;
    }
    errno = 0;
    bool existed = false;
    std::unique_ptr<FileStream> opened = OpenFile(record.file, FileMode::Recording, &existed);
    if (opened == nullptr || !opened->SeekToEnd()) {
        Console::Error(record.file, "the registration file cannot be opened (" + OpenFailureReason(errno) + ")");
        return kExitFailure;
    }
    auto watched = std::make_unique<WatchedFile>(std::move(opened));

    Session session(options);
    // The path tells before every clear of the converter's memory that the
    // file is still there to take its records.
    if (record.file.size() >= sizeof session.context.registrationPath) {
        Console::Error(record.file, "the registration file's path is longer than " +
                                        std::to_string(sizeof session.context.registrationPath - 1) + " bytes");
        return kExitFailure;
    }
    std::memcpy(session.context.registrationPath, record.file.c_str(), record.file.size() + 1);
    session.Watch(watched->lastError());
    session.context.registrationFile = std::move(watched);
    const std::string pendingPath = PendingRecordsPath(record.file);
    session.context.pendingRecordsPath = pendingPath;
    session.context.recordingInterval = std::max<uint32_t>(record.interval, 20);
    // A file made for a recording that never began does not stay behind.
    auto abandon = [&](int result) {
        session.context.registrationFile.reset();
        if (!existed) unlink(record.file.c_str());
        return result;
    };
    if (StopRequested()) return abandon(kExitInterrupted);
    if (int result = session.Start(); result != kExitOk) return abandon(result);

    RecordingState state;
    const Clock::time_point connectDeadline = session.Deadline();
    // The duration is finite and at most ten years (checked when parsed).
    const Clock::time_point end =
        record.durationSeconds > 0
            ? Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                 std::chrono::duration<double>(record.durationSeconds))
            : Clock::time_point::max();
    bool interrupted = false;
    Event event;
    for (;;) {
        const WaitResult result = session.Next(event, state.connected ? end : std::min(end, connectDeadline));
        if (result == WaitResult::Interrupted) {
            if (!state.connected) {
                StopPollingWorker(session.context);
                return abandon(kExitInterrupted);
            }
            interrupted = true;
            break;
        }
        if (result == WaitResult::Timeout) {
            if (!state.connected) {
                StopPollingWorker(session.context);
                return abandon(session.NoAnswer());
            }
            break;
        }
        TrackAndTell(state, event, record.file, session.port(), session.context, observer);
        if (state.fileGone) break;
    }

    if (interrupted) FinishRunningDownload(session, state, record.file);

    // At the end of the time asked for, what the converter logged until now
    // goes into the file too (a download already under way serves).
    if (!interrupted && !state.fileGone && state.connected && !state.lost) {
        PlaceRequest(session.context, kNoWindow, kOpDownloadLog, 0);
        for (;;) {
            const WaitResult result = session.Next(event, Clock::time_point::max());
            if (result != WaitResult::Event) break;
            if (TrackAndTell(state, event, record.file, session.port(), session.context, observer) || state.lost) {
                break;
            }
        }
    }

    StopPollingWorker(session.context);
    // A download that ended as the worker stopped.
    while (session.Next(event, Clock::now(), 2) == WaitResult::Event) {
        if (event.kind == Event::Download) TrackRecording(state, event, record.file, session.port());
    }
    Console::Progress("");
    session.context.registrationFile.reset();
    if (observer != nullptr) observer->Finish();

    // The converter let go of them (firmware up to 1.12), and neither the
    // file nor its waiting file took them: they end with this program.
    const size_t lost = RecordsOnlyInMemory(session.context);
    state.recordsLost += lost;
    Console::Out(RecordingSummary(state));
    bool failed = state.storeFailed || state.fileGone || state.recordsLost > 0 || state.recordsLostUnknown;
    if (state.lastFailed) {
        // Whatever the converter still holds did not reach the file.
        Console::Error(session.port(), state.completed == 0 ? "no download completed; nothing was recorded"
                                                            : "the last download failed");
        failed = true;
    }
    if (lost > 0) {
        const char* what = lost == 1 ? " downloaded record could not be written and is lost"
                                     : " downloaded records could not be written and are lost";
        Console::Error(record.file, std::to_string(lost) + what + " (the converter no longer holds them)");
        failed = true;
    }
    if (const size_t pending = PendingRecordCount(pendingPath); pending > 0) {
        Console::Error(std::to_string(pending) + (pending == 1 ? " record waits in " : " records wait in ") +
                       pendingPath + " and " + (pending == 1 ? "is" : "are") +
                       " written first when recording resumes");
    }
    return failed ? kExitFailure : kExitOk;
}

int RunSyncClock(const DeviceOptions& options) { return SetClock(options, kOpSyncClock, nullptr); }

int RunSetTime(const DeviceOptions& options, int month, int day, int hour, int minute, int second) {
    // The date is one of this year, so 02-29 depends on it.
    CalendarTime local = CurrentLocalTime();
    if (day > DaysInMonth(local.year, month)) {
        char text[64];
        std::snprintf(text, sizeof text, "set-time: no such day: %02d-%02d in %d", month, day, local.year);
        Console::Error(text);
        return kExitUsage;
    }
    local = MakeCalendarTime(local.year, month, day, hour, minute, second);
    CalendarTime utc;
    if (!LocalToUtc(local, utc)) {
        Console::Error("the local time cannot be converted to UTC");
        return kExitFailure;
    }
    ClockRecord clock = ClockFromCalendar(utc);
    return SetClock(options, kOpSetClock, &clock);
}

int RunGetPeriod(const DeviceOptions& options) {
    Session session(options);
    if (int result = Connect(session); result != kExitOk) return result;
    const OperationResult result = RunOperation(session, kOpReadLogPeriod, 0);
    const int exitCode = OperationExit(session, result.outcome, "the log interval could not be read");
    if (exitCode == kExitOk) Console::Out(std::to_string(result.value) + "\n");
    return exitCode;
}

int RunSetPeriod(const DeviceOptions& options, uint32_t seconds) {
    const uint32_t interval = std::min<uint32_t>(seconds, 0xFFFF);
    Session session(options);
    if (int result = Connect(session); result != kExitOk) return result;
    const OperationResult result = RunOperation(session, kOpWriteLogPeriod, interval);
    const int exitCode = OperationExit(session, result.outcome, "the log interval could not be written");
    if (exitCode == kExitOk) Console::Out(std::to_string(interval) + "\n");
    return exitCode;
}

int RunResetRain(const DeviceOptions& options) {
    Session session(options);
    if (int result = Connect(session); result != kExitOk) return result;
    const OperationResult result = RunOperation(session, kOpResetRain, 0);
    return OperationExit(session, result.outcome, "the rain counter could not be reset");
}

}  // namespace kx305cli
