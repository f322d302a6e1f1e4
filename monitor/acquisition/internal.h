// Helpers shared by the acquisition's sources; not part of its interface.
#pragma once

#include <cstdint>
#include <vector>

#include "acquisition/app_context.h"
#include "acquisition/events.h"
#include "acquisition/polling_worker.h"
#include "acquisition/thread_annotations.h"

namespace kx305mon {

// --- what only the polling worker's thread touches ---

// Bounds on the offset between the converter's clock and the steady clock
// (converter ms since 1970 minus steady ms), from the clock reads of the
// cycles and downloads; forgotten when the clock is set or a read
// contradicts them.
struct ClockPhase {
    bool known = false;
    int64_t lowerMs = 0;    // offset >= lowerMs - drift since lowerAtMs
    int64_t lowerAtMs = 0;  // steady ms
    int64_t upperMs = 0;    // offset < upperMs + drift since upperAtMs
    int64_t upperAtMs = 0;
    int64_t sinceMs = 0;           // steady ms of the first read of this run of bounds
    KX305Handle device = nullptr;  // the connection they belong to
};

// How long one download took, from its start to the moment the clear could
// go, against the records it brought.
struct TransferSample {
    uint32_t records;
    int64_t millis;
};

struct PollingWorkerState {
    // Records that firmware up to 1.12 handed over (emptying its memory)
    // and the registration file did not take; written first once it does.
    // At most one download's worth.
    std::vector<LogRecord> waitingRecords;
    // The converter may deliver again, at the head of its next download,
    // records that the registration file already ends with: so at start (a
    // run before may have written them and ended before its clear was
    // confirmed) and after every download that did not end in a confirmed
    // clear.  Cleared once the converter's memory is known empty, so that a
    // later record that happens to equal the file's last one is still
    // written.
    bool downloadMayRepeatFile = true;

    // The driver's input and output records of the current transaction;
    // they outlive any transaction that a break leaves running.
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
    ClockPhase clockPhase;
    std::vector<TransferSample> transferSamples;  // of recent downloads
    uint32_t scheduledPeriod = 0;                 // log period of the last download, seconds
    int64_t lastNewestMs = INT64_MIN;             // converter ms of the newest record seen
    // Firmware up to 1.12: when the last GetLog reached the converter
    // (converter ms, bounds and likely moment), which emptied its memory,
    // and the newest record it accounted for (arrived, or counted lost;
    // INT64_MIN: none): the records logged since are the next download's.
    // It holds for its log period and its run of clock bounds: on a later
    // connection only to the same converter whose clock the new bounds show
    // running on (a clock set ends it).
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
};

namespace detail {

// The context's events, or a sink that drops everything.
AcquisitionEvents& EventsOf(AppContext& context);

// The main window as it stands now (read under the lock; none after stop).
WindowRef MainWindow(AppContext& context) EXCLUDES(context.plumbing.lock);

// The worker's handle, read on the worker's thread.  The worker is the only
// thread that writes `device` (under the lock, for the stop's break), so its
// own reads need no lock; the analysis cannot know whose thread this is.
inline KX305Handle& WorkerDevice(AppContext& context) NO_THREAD_SAFETY_ANALYSIS { return context.device; }
inline KX305Handle WorkerDevice(const AppContext& context) NO_THREAD_SAFETY_ANALYSIS { return context.device; }

// Tells `requester` that `request` failed, for the operations that answer
// (1 and 6: ClockSet, 3: LogPeriodWritten); the others (2, 4, 5) and
// kNoRequester are not told.
void NotifyFailure(AppContext& context, DeviceRequest request, Requester requester);

// Starts a driver request, `start(&context.device)`, under the live-state
// lock unless the worker is stopping; false when it was not started.  The
// stop sets `stopping` and breaks the running request under the same lock,
// so its break either finds this request started or the request is never
// started: a break that fell between two requests would be lost (the next
// request's start clears it) and leave the stop waiting for every try of a
// converter that no longer answers.
template <typename Start>
bool StartUnlessStopping(AppContext& context, Start start) EXCLUDES(context.plumbing.lock) {
    MutexLock guard(context.plumbing.lock);
    if (context.plumbing.stopping) return false;
    start(&context.device);
    return true;
}

// One whole transaction: started unless stopping, then awaited.  True on
// success.
template <typename Start>
bool Transact(AppContext& context, Start start) EXCLUDES(context.plumbing.lock) {
    return StartUnlessStopping(context, start) && WaitDone(&WorkerDevice(context)) == 1;
}

// Platform backend: the recording timer runs at the highest thread priority
// where the platform has one for ordinary programs (a no-op elsewhere).
void RaiseCurrentThreadPriority();

}  // namespace detail
}  // namespace kx305mon
