// The one record of a program run that the user interface, the polling
// worker, the recording timer and the DDE service share, and its live-state
// lock.
//
// Threads: every field that more than one thread touches is read and written
// under `lock` (the live-state lock), held only for short copies and stores
// and for a registration-file write burst or read, never across a window
// call, a message box or a wait for the driver.  Fields marked "worker only"
// belong to the polling worker's thread while it runs.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "kx305.h"
#include "recording/file.h"
#include "recording/registration_file.h"

namespace kx305mon {

class AcquisitionEvents;
class RecordingTimerClock;

// A window of the program, as an opaque number (an HWND in the Windows
// program, any token the command line or a test chooses); 0 = none.
using WindowRef = uintptr_t;
constexpr WindowRef kNoWindow = 0;

// No serial port; tells the polling worker to stop.
constexpr int32_t PORT_NONE = 0x7FFFFFFF;

// One-slot mailbox from the requesters to the polling worker: operation in
// the high 16 bits, parameter in the low 16 bits, 0 = none.
using DeviceRequest = uint32_t;

enum DeviceOperation : uint32_t {
    kOpSyncClock = 1,       // converter clock := the computer's UTC time
    kOpReadLogPeriod = 2,   // fills the requester dialog's interval field
    kOpWriteLogPeriod = 3,  // parameter: interval in seconds
    kOpDownloadLog = 4,     // logging memory -> registration file (recording timer)
    kOpResetRain = 5,       // parameter: input number (the converter resets its one counter)
    kOpSetClock = 6,        // converter clock := setTimeClock
};

constexpr DeviceRequest MakeDeviceRequest(uint32_t operation, uint32_t parameter) {
    return (operation << 16) | (parameter & 0xFFFF);
}
constexpr uint32_t RequestOperation(DeviceRequest request) { return request >> 16; }
constexpr uint32_t RequestParameter(DeviceRequest request) { return request & 0xFFFF; }

// Serial port number -> device path for KX305Open.  The Windows program uses
// "\\.\COM%li"; natively a port is a tty path, which the command line and the
// tests map from a number.
using PortNamer = std::function<std::string(int32_t port)>;
// The platform's default naming (Windows: "\\.\COMn"; POSIX: /dev/ttyS(n-1)).
std::string DefaultPortName(int32_t port);

// Manual-reset event: stays signalled until reset; waits return at once while
// it is signalled.
class ManualResetEvent {
public:
    explicit ManualResetEvent(bool signalled = false) : signalled_(signalled) {}
    void Set();
    void Reset();
    bool IsSet() const;
    // True when the event was (or became) signalled within `timeout`.
    bool WaitFor(std::chrono::milliseconds timeout) const;

private:
    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    bool signalled_;
};

// Pause lengths of the acquisition threads.  The program always runs with
// the defaults; tests shorten them so that a suite does not spend minutes
// asleep.  Set before the worker starts.
struct AcquisitionTiming {
    std::chrono::milliseconds cyclePause{250};      // after every polling cycle
    std::chrono::milliseconds reconnectPause{500};  // after a dropped connection
    std::chrono::milliseconds recordingTick{1000};  // one counted second of the recording timer
    std::chrono::milliseconds slotRetry{1000};      // recording timer: request slot busy, try again
    uint32_t minimumRecordingInterval = 20;         // seconds (ticks) between downloads, at least
};

// Where the time of one good polling cycle went, in microseconds (steady
// clock).  The pause after the cycle is not part of it.
struct CycleTiming {
    int64_t transactionMicros = 0;  // the driver: GetTime and GetResults, each to its DoneWait
    int64_t operationMicros = 0;    // the pending device operation, if any (its transactions included)
    int64_t eventsMicros = 0;       // the events calls: InputChanged, LiveData, RainGauge, CycleDone
    int64_t cycleMicros = 0;        // from the first read to the end of the events calls
};

struct AppContext {
    AppContext();
    ~AppContext();
    AppContext(const AppContext&) = delete;
    AppContext& operator=(const AppContext&) = delete;

    // --- the shared record, in its traditional field order ---
    int32_t port = PORT_NONE;           // COM port number; settings value "Port"
    bool firstInstance = false;         // no other copy ran at start-up
    uintptr_t instance = 0;             // the program's module instance
    WindowRef mainWindow = kNoWindow;   // target of the workers' notices; cleared at stop
    WindowRef requesterWindow = kNoWindow;  // receives the pending request's notice
    std::thread pollingThread;          // the PollingWorker, joined by StopPollingWorker
    DeviceRequest request = 0;
    uint32_t exportFlags = 0;           // ExportFlags, settings value "Flags"
    KX305Handle device = nullptr;       // written only by the worker, under the lock
    InputReading inputs[KX305_INPUTS] = {};
    RecordList records;                 // of the open viewer or rain report
    ConverterInfo info = {};
    ClockRecord clock = {};
    LogBuffer logBuffer = {};           // worker only: the last download
    char registrationPath[260] = {};    // settings value "Logfile"
    char readPath[260] = {};            // empty = read the registration file in use
    ManualResetEvent recordingEvent{true};  // the recording timer counts while signalled
    std::unique_ptr<FileStream> registrationFile;  // null = recording off
    std::unique_ptr<FileStream> readFile;          // null = none
    uint32_t recordingInterval = 20;    // seconds between downloads, at least 20
    ClockRecord setTimeClock = {};      // UTC time for operation 6
    bool averageKX125 = false;          // "KX125AV"
    bool quickStart = false;            // "QUICK_START"
    bool showQmv = true;                // "SHOW_QMV"
    int32_t rainReportInterval = 0;     // "RainMeter Period": 0 hours, 1 days, 2 months

    // --- acquisition plumbing ---
    // The live-state lock.
    std::mutex lock;
    // Where the workers' events go; null = nowhere.  Set before the worker
    // starts and kept alive until it has stopped.
    AcquisitionEvents* events = nullptr;
    // Called by the polling worker after every good cycle, on its thread
    // (not under the lock); empty = not measured.  Set before the worker
    // starts.
    std::function<void(const CycleTiming&)> onCycleTiming;
    PortNamer portNamer = DefaultPortName;
    AcquisitionTiming timing;
    // The recording timer's time; null = real time.  Set before the worker
    // starts and kept alive until it has stopped.
    RecordingTimerClock* timerClock = nullptr;

    // Guarded by the lock: ends the workers' pauses early (stop, change of
    // port, the recording timer's resumption and end).
    std::condition_variable wake;
    bool stopping = false;          // set by StopPollingWorker
    // A KX305GetLog transfer is under way (firmware up to 1.12 empties its
    // memory as the request arrives): from just before the request is
    // started until its records are stored.  A stop lets it finish.
    bool logTransferMustFinish = false;
    bool timerResumed = false;      // the recording timer counts from the first good cycle
    bool timerStop = false;         // set by the worker when it ends
    DeviceRequest runningRequest = 0;  // the request the worker is executing now
    WindowRef runningRequester = kNoWindow;

    // Worker only.  Records that firmware up to 1.12 handed over (emptying
    // its memory) and the registration file did not take; written first
    // once it does.  At most one download's worth.
    std::vector<LogRecord> waitingRecords;
    // Worker only.  The converter may deliver again, at the head of its
    // next download, records that the registration file already ends with:
    // so at start (a run before may have written them and ended before its
    // clear was confirmed) and after every download that did not end in a
    // confirmed clear.  Cleared once the converter's memory is known empty,
    // so that a later record that happens to equal the file's last one is
    // still written.
    bool downloadMayRepeatFile = true;

    // Worker only.  The driver's input and output records of the current
    // transaction; they outlive any transaction that a break leaves running.
    struct Transaction {
        ConverterInfo info;
        ClockRecord clock;
        InputReading results[KX305_INPUTS];
        ClockRecord clockToSet;
        uint16_t period;
        // Around a download: the converter's clock before the transfer and
        // after the write, and its log period.
        ClockRecord transferStart;
        ClockRecord transferEnd;
        uint16_t logPeriod;
    } transaction = {};

    // --- when the downloads run (log_schedule.h) ---
    // Worker only.  Bounds on the offset between the converter's clock and
    // the steady clock (converter ms since 1970 minus steady ms), from the
    // clock reads of the cycles and downloads; forgotten when the clock is
    // set or a read contradicts them.
    struct ClockPhase {
        bool known = false;
        int64_t lowerMs = 0;     // offset >= lowerMs - drift since lowerAtMs
        int64_t lowerAtMs = 0;   // steady ms
        int64_t upperMs = 0;     // offset < upperMs + drift since upperAtMs
        int64_t upperAtMs = 0;
        int64_t sinceMs = 0;     // steady ms of the first read of this run of bounds
        KX305Handle device = nullptr;  // the connection they belong to
    } clockPhase;
    // Worker only.  How long recent downloads took, from their start to the
    // moment the clear could go, against the records they brought.
    struct TransferSample {
        uint32_t records;
        int64_t millis;
    };
    std::vector<TransferSample> transferSamples;
    uint32_t scheduledPeriod = 0;    // worker only: log period of the last download, seconds
    int64_t lastNewestMs = INT64_MIN;  // worker only: converter ms of the newest record seen
    // Worker only.  Firmware up to 1.12: when the last GetLog reached the
    // converter (converter ms, bounds and likely moment), which emptied its
    // memory, and the newest record it accounted for (arrived, or counted
    // lost; INT64_MIN: none): the records logged since are the next
    // download's.  It holds for its log period and its run of clock bounds:
    // on a later connection only to the same converter whose clock the new
    // bounds show running on (a clock set ends it).
    struct HandOver {
        KX305Handle device = nullptr;
        uint16_t serialNumber = 0;
        uint32_t version = 0;
        uint32_t periodSeconds = 0;
        int64_t phaseSinceMs = 0;
        ClockPhase phase;  // the bounds when the request was sent
        int64_t arrivalEarliestMs = INT64_MIN;
        int64_t arrivalLatestMs = INT64_MIN;
        int64_t arrivalLikelyMs = INT64_MIN;
        int64_t newestMs = INT64_MIN;
        bool unanswered = false;  // a later GetLog got no answer on any try
    } lastHandOver;
    // Guarded by the lock: seconds between downloads that keep the
    // converter's memory emptied at a short log period (the recording
    // timer takes it when shorter than recordingInterval); 0 = none.
    uint32_t downloadInterval = 0;

    // --- records waiting to be stored (acquisition/pending_records.h) ---
    // Guarded by the lock.  Where records wait that the registration file
    // refused; empty = registrationPath with ".pending" appended.  The
    // command line, whose paths have no length limit, sets it.
    std::string pendingRecordsPath;
    // Guarded by the lock: the size of waitingRecords, for other threads.
    size_t recordsOnlyInMemory = 0;
};

// --- requesters (any thread but the worker's) ---

// Places operation `operation` with `parameter` for `requester`, who gets the
// operation's notice.  A user operation still waiting in the slot is
// displaced and its requester gets its failure notice at once; one that is
// running answers its own requester when it ends.  A running download is
// never abandoned (firmware up to 1.12 has already let go of its records):
// the new request waits in the slot and runs in the worker's next cycle.
void PlaceRequest(AppContext& context, WindowRef requester, uint32_t operation, uint32_t parameter);

// Operation 3 with the interval the user typed: values above 65535 are cut to
// 65535.  False (nothing placed) for 0, which the dialog refuses.
bool PlaceLogPeriodRequest(AppContext& context, WindowRef requester, uint32_t seconds);

// Withdraws the request that `requester` placed, if it is still pending or
// running; a later answer finds no requester.  Someone else's request (a
// download of the recording timer) stays.
void WithdrawRequest(AppContext& context, WindowRef requester);

// True while a KX305GetLog download runs that a stop lets finish (its
// records exist nowhere else): from just before its request is started
// until its records are stored.  A front end that closes polls it to say
// that the recording is being finished, and closes once it is false.
bool LogTransferMustFinish(AppContext& context);

// Writes a new port number under the lock; the worker picks it up after its
// current cycle.
void SetPort(AppContext& context, int32_t port);

// A consistent copy of what the worker last published.
struct LiveState {
    bool connected;  // a connection to the converter is open
    ConverterInfo info;
    ClockRecord clock;
    InputReading inputs[KX305_INPUTS];
};
LiveState ReadLiveState(AppContext& context);

}  // namespace kx305mon
