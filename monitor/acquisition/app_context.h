// The one record of a program run that the user interface, the polling
// worker, the recording timer and the DDE service share, and its live-state
// lock.
//
// Threads: every field that more than one thread touches is GUARDED_BY the
// live-state lock (plumbing.lock), which clang's -Wthread-safety checks.  It
// is held only for short copies and stores and for a registration-file write
// burst or read, never across a window call, a message box or a wait for the
// driver.  Fields marked "UI thread" belong to the user interface; what only
// the polling worker touches lives in PollingWorkerState.
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

#include "acquisition/thread_annotations.h"
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

// Who placed a device request and hears its answer.  The core only stores,
// compares and hands it back; each front end maps it to its own: the
// program to the window that asked (a dialog or the main window), the
// command line to the operation that waits.  kNoRequester: nobody is told.
enum class Requester : uintptr_t {};
constexpr Requester kNoRequester{};

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

// The acquisition's plumbing: the live-state lock, the wake-up of the
// workers' pauses, where their events go, their timing and the flags that
// start and stop them.  The hooks are set before the worker starts and kept
// alive until it has stopped.
struct AcquisitionPlumbing {
    // The live-state lock.
    Mutex lock;
    // Ends the workers' pauses early (stop, change of port, the recording
    // timer's resumption and end); notified after the change, waited on
    // under the lock.
    std::condition_variable wake;
    // Where the workers' events go; null = nowhere.
    AcquisitionEvents* events = nullptr;
    // Called by the polling worker after every good cycle, on its thread
    // (not under the lock); empty = not measured.
    std::function<void(const CycleTiming&)> onCycleTiming;
    PortNamer portNamer = DefaultPortName;
    AcquisitionTiming timing;
    // The recording timer's time; null = real time.
    RecordingTimerClock* timerClock = nullptr;

    bool stopping GUARDED_BY(lock) = false;  // set by StopPollingWorker
    // A KX305GetLog transfer is under way (firmware up to 1.12 empties its
    // memory as the request arrives): from just before the request is
    // started until its records are stored.  A stop lets it finish.
    bool logTransferMustFinish GUARDED_BY(lock) = false;
    bool timerResumed GUARDED_BY(lock) = false;  // the recording timer counts from the first good cycle
    bool timerStop GUARDED_BY(lock) = false;     // set by the worker when it ends
    // The request the worker is executing now, and its requester.
    DeviceRequest runningRequest GUARDED_BY(lock) = 0;
    Requester runningRequester GUARDED_BY(lock) = kNoRequester;
};

// What only the polling worker's thread touches (acquisition/internal.h).
struct PollingWorkerState;

struct AppContext {
    AppContext();
    ~AppContext();
    AppContext(const AppContext&) = delete;
    AppContext& operator=(const AppContext&) = delete;

    AcquisitionPlumbing plumbing;

    // --- the shared record, in its traditional field order ---
    int32_t port GUARDED_BY(plumbing.lock) = PORT_NONE;  // COM port number; settings value "Port"
    bool firstInstance = false;                          // no other copy ran at start-up
    uintptr_t instance = 0;                              // the program's module instance
    // Target of the workers' notices; cleared at stop.
    WindowRef mainWindow GUARDED_BY(plumbing.lock) = kNoWindow;
    // Receives the pending request's notice.
    Requester requesterWindow GUARDED_BY(plumbing.lock) = kNoRequester;
    std::thread pollingThread;  // the PollingWorker, joined by StopPollingWorker
    DeviceRequest request GUARDED_BY(plumbing.lock) = 0;
    uint32_t exportFlags = 0;  // ExportFlags, settings value "Flags"
    // Written only by the worker, under the lock; the worker reads its own
    // handle without it (detail::WorkerDevice).
    KX305Handle device GUARDED_BY(plumbing.lock) = nullptr;
    InputReading inputs[KX305_INPUTS] GUARDED_BY(plumbing.lock) = {};
    RecordList records;  // the UI thread's: of the open viewer or rain report
    ConverterInfo info GUARDED_BY(plumbing.lock) = {};
    ClockRecord clock GUARDED_BY(plumbing.lock) = {};
    LogBuffer logBuffer = {};                                   // worker only: the last download
    char registrationPath[260] GUARDED_BY(plumbing.lock) = {};  // settings value "Logfile"
    char readPath[260] = {};                                    // UI thread: empty = read the registration file in use
    ManualResetEvent recordingEvent{true};                      // the recording timer counts while signalled
    // Null = recording off.
    std::unique_ptr<FileStream> registrationFile GUARDED_BY(plumbing.lock);
    std::unique_ptr<FileStream> readFile;  // UI thread: null = none
    // Seconds between downloads, at least 20.
    uint32_t recordingInterval GUARDED_BY(plumbing.lock) = 20;
    ClockRecord setTimeClock GUARDED_BY(plumbing.lock) = {};  // UTC time for operation 6
    bool averageKX125 GUARDED_BY(plumbing.lock) = false;      // "KX125AV"
    bool quickStart = false;                                  // "QUICK_START"
    bool showQmv = true;                                      // "SHOW_QMV"
    int32_t rainReportInterval = 0;                           // "RainMeter Period": 0 hours, 1 days, 2 months

    // --- shared beyond the record ---
    // Seconds between downloads that keep the converter's memory emptied at
    // a short log period (the recording timer takes it when shorter than
    // recordingInterval); 0 = none.
    uint32_t downloadInterval GUARDED_BY(plumbing.lock) = 0;
    // Where records wait that the registration file refused (pending_records.h);
    // empty = registrationPath with ".pending" appended.  The command line,
    // whose paths have no length limit, sets it.
    std::string pendingRecordsPath GUARDED_BY(plumbing.lock);
    // The number of records only the worker holds, for other threads.
    size_t recordsOnlyInMemory GUARDED_BY(plumbing.lock) = 0;

    // The polling worker's own state; it outlives the worker's runs.
    std::unique_ptr<PollingWorkerState> worker;
};

// --- requesters (any thread but the worker's) ---

// Places operation `operation` with `parameter` for `requester`, who gets the
// operation's notice.  A user operation still waiting in the slot is
// displaced and its requester gets its failure notice at once; one that is
// running answers its own requester when it ends.  A running download is
// never abandoned (firmware up to 1.12 has already let go of its records):
// the new request waits in the slot and runs in the worker's next cycle.
void PlaceRequest(AppContext& context, Requester requester, uint32_t operation, uint32_t parameter)
    EXCLUDES(context.plumbing.lock);

// Operation 3 with the interval the user typed: values above 65535 are cut to
// 65535.  False (nothing placed) for 0, which the dialog refuses.
bool PlaceLogPeriodRequest(AppContext& context, Requester requester, uint32_t seconds) EXCLUDES(context.plumbing.lock);

// Withdraws the request that `requester` placed, if it is still pending or
// running; a later answer finds no requester.  Someone else's request (a
// download of the recording timer) stays.
void WithdrawRequest(AppContext& context, Requester requester) EXCLUDES(context.plumbing.lock);

// True while a KX305GetLog download runs that a stop lets finish (its
// records exist nowhere else): from just before its request is started
// until its records are stored.  A front end that closes polls it to say
// that the recording is being finished, and closes once it is false.
bool LogTransferMustFinish(AppContext& context) EXCLUDES(context.plumbing.lock);

// Writes a new port number under the lock; the worker picks it up after its
// current cycle.
void SetPort(AppContext& context, int32_t port) EXCLUDES(context.plumbing.lock);

// A consistent copy of what the worker last published.
struct LiveState {
    bool connected;  // a connection to the converter is open
    ConverterInfo info;
    ClockRecord clock;
    InputReading inputs[KX305_INPUTS];
};
LiveState ReadLiveState(AppContext& context) EXCLUDES(context.plumbing.lock);

}  // namespace kx305mon
