// When the converter's logging memory may be cleared after a download.
//
// The converter keeps storing records while a transfer runs (a hundred
// records take some eleven seconds at 9600 baud), and a record stored
// after the transfer began is not in it: a clear then would erase it
// before it ever reached the file.  The clear is therefore allowed only
// when no log instant can have fallen between the clock read before the
// transfer and the clear.  Where the converter places its instants is not
// known for sure, so every plausible schedule counts: whole multiples of the
// period on its clock (from 1970 and from the start of the day) and the
// period counted on from the newest record of the download.
#pragma once

#include <cstddef>
#include <cstdint>

#include "acquisition/events.h"
#include "acquisition/internal.h"
#include "instruments/locale.h"
#include "kx305.h"

namespace kx305mon {

// Seconds added after the clock read that follows the write: the clock
// shows whole seconds, and the clear itself still has to reach the
// converter.
constexpr int64_t kClearMarginSeconds = 2;

// `start` and `end` are the converter clock read before the transfer and
// after the records were written, `periodSeconds` its log period (0: it
// does not log), `newest` the last record of the download and `nowUtc` the
// computer's UTC time (for the year the converter's clock lacks).
// Cleared when the clear may go, else why not.
DownloadReport::Clear ClearVerdict(const ClockRecord& start, const ClockRecord& end, uint32_t periodSeconds,
                                   const LogRecord& newest, const CalendarTime& nowUtc);

// --- the converter's clock against the computer's steady clock ---
//
// The converter shows whole seconds only, but a read sent at steady time ts
// and answered at tr that showed second S tells that the converter's time
// c = steady + offset passed through [S, S+1) somewhere in [ts, tr]:
// S - tr <= offset < S + 1 - ts.  The tightest bounds over a run of reads
// narrow to about one round trip; they widen by the clocks' drift as they
// age.

// Drift allowed between the two clocks, in millionths (crystals do some 50).
constexpr int64_t kClockDriftPpm = 200;
// A read this far outside the bounds means the clock was set: start anew.
constexpr int64_t kClockJumpMs = 3000;

// Steady clock in milliseconds.
int64_t SteadyMs();
// The converter's time in ms since 1970 (the year from `nowUtc`, moved
// across New Year), or INT64_MIN for a clock that makes no sense.
int64_t ConverterMs(const ClockRecord& clock, const CalendarTime& nowUtc);
// The instant a record was logged, with its hundredths; INT64_MIN when its
// stamp makes no sense.
int64_t RecordMs(const LogRecord& record);

void ForgetPhase(ClockPhase& phase);
// One clock read: sent at `sentMs`, answered at `answeredMs` (steady),
// showing `shownMs` (ConverterMs).  Bounds that the read contradicts, or
// that belong to another connection, are dropped first.
void ObservePhase(ClockPhase& phase, KX305Handle device, int64_t sentMs, int64_t answeredMs, int64_t shownMs);
// The offset's bounds at steady time `atMs` (drift included):
// lower <= offset < upper.  Only when phase.known.
int64_t PhaseLower(const ClockPhase& phase, int64_t atMs);
int64_t PhaseUpper(const ClockPhase& phase, int64_t atMs);
// Bounds taken before (`then`, possibly on an earlier connection) and the
// bounds now agree at steady time `atMs`: the converter's clock ran on
// without being set in between, as far as the reads can tell.
bool ClockRanOn(const ClockPhase& then, const ClockPhase& now, int64_t atMs);

// --- when the converter logs ---

// The earliest instant after `afterMs` (converter ms) at which the converter
// may log with period `periodMs` under any schedule it may keep: whole
// multiples of the period from 1970, the same from the start of the day,
// or the period counted on from `anchorMs` (INT64_MIN: none).
int64_t EarliestInstantAfter(int64_t afterMs, int64_t periodMs, int64_t anchorMs);

// Time from sending the clear until the converter surely has it (the frame
// at 9600 baud and the driver's dispatch).
constexpr int64_t kClearArrivalMs = 150;
// The converter stamps a record a little after its instant.
constexpr int64_t kInstantSlackMs = 50;

// The clear with the clock's phase known.  `newest` is the newest record of
// the download, logged at the converter's time newestMs: nothing can be
// logged before the earliest next instant after it, so the clear may go when
// it surely arrives before that (the clear is sent at steady `clearMs`).
// Also when the memory was surely full at the snapshot (sent at steady
// `snapshotMs`): a record was due after the newest one before the snapshot
// and was not stored, and a full memory stores nothing until it is cleared,
// so the clear takes only what the download brought.  That needs the clock
// followed without a break since before the newest record.
enum class PhaseVerdict { Clear, ClearFull, Keep, Unknown };
PhaseVerdict ClearByPhase(const ClockPhase& phase, int64_t newestMs, int64_t periodMs, int64_t snapshotMs,
                          int64_t clearMs);

// --- how often and when to download ---

// Records a download's measured time: `millis` from its start to the
// moment its clear could go, for `records` records.  Keeps the recent ones.
void AddTransferSample(std::vector<TransferSample>& samples, uint32_t records, int64_t millis);
// The time a download of `records` records is expected to take, from the
// samples (upper estimate: fixed cost plus time per record; while only
// empty downloads were seen, the longest record's line time); -1 while
// nothing was measured.
int64_t PredictTransferMs(const std::vector<TransferSample>& samples, uint32_t records);

// What the phase bounds narrow to after a few cycles' clock reads.
constexpr int64_t kSettledPhaseWidthMs = 300;

// Log periods up to this are short enough for the downloads to be timed.
constexpr uint32_t kScheduledPeriodMax = 60;

// Seconds between downloads at log period `periodSeconds` so that what
// accumulates meanwhile transfers, with the clear, well within one log
// period (`uncertaintyMs`: the phase bounds' width and margins): a multiple
// of the period, at least one period, at most `recordingInterval`.  0 when
// the period is not short, or not yet measured (the recording interval
// serves); -1 when not even one record's download fits in a log period.
int64_t KeepUpInterval(const std::vector<TransferSample>& samples, uint32_t periodSeconds, uint32_t recordingInterval,
                       int64_t uncertaintyMs);

// When to start a download that is due now (steady `nowMs`), so that it
// begins just after a log instant: Go now (there is time for `expectedMs`
// of download before the next possible instant), Wait until `atMs`, or
// Postpone when that is more than `maxWaitMs` away.
struct StartPlan {
    enum Kind { Go, Wait, Postpone } kind;
    int64_t atMs;
};
StartPlan PlanDownloadStart(const ClockPhase& phase, int64_t nowMs, int64_t periodMs, int64_t anchorMs,
                            int64_t expectedMs, int64_t maxWaitMs);

// --- records a GetLog transfer lost on the line (firmware up to 1.12) ---
//
// Such a converter empties its memory as the request arrives.  When the
// transfer loses its count frame as well as records, how many it held is
// not told; the records that did arrive, the log period and the clock's
// phase tell it instead: the records are stamped at the instants of one
// schedule, one period apart, so a gap between two that arrived counts the
// ones between, and the instants after the last one that fell before the
// request reached the converter count those at the end.
//
// A transfer that ended whole may have lost records too: a try whose
// reply never arrived at all is sent again, and the converter had emptied
// its memory for that try already.  What that try took were the records
// logged between the previous request's arrival and the first record of
// this download (or, with none, this request's arrival).

// Time from starting a GetLog until the converter surely has the request
// (the frame at 9600 baud and the driver's dispatch), and the time it most
// likely takes.
constexpr int64_t kLogRequestArrivalMs = 150;
constexpr int64_t kLogRequestLikelyMs = 20;

// When a GetLog request reached the converter, in converter ms: surely not
// before `earliestMs` nor after `latestMs`, most likely at `likelyMs`.
// INT64_MIN: the clock's phase was not known.
struct ArrivalBounds {
    int64_t earliestMs = INT64_MIN;
    int64_t latestMs = INT64_MIN;
    int64_t likelyMs = INT64_MIN;
    bool known() const { return earliestMs != INT64_MIN; }
};

// The arrival of a request started at steady `sentMs` whose transfer ended
// at steady `endedMs`.
ArrivalBounds RequestArrival(const ClockPhase& phase, int64_t sentMs, int64_t endedMs);

struct LossEvidence {
    int64_t periodMs = 0;   // the converter's log period; 0: not known
    ArrivalBounds arrival;  // of this download's request
    // The previous download, when it emptied the memory on the same
    // connection at the same period (else unknown): its request's arrival
    // (the records logged after it are this download's), and the newest
    // record it accounted for (arrived or counted lost; INT64_MIN: none).
    ArrivalBounds previous;
    int64_t previousNewestMs = INT64_MIN;
    // The count frame arrived and every record it announced: nothing is
    // missing between or after them, only before the first.  A gap between
    // them, or no previous request to count from, is then no evidence.
    bool complete = false;
};
struct LossInference {
    bool known = false;  // false: the records and the evidence give no number
    uint32_t lost = 0;   // records missing before, between and after those that arrived
    // False when a log instant lay so close to the request's arrival that
    // whether its record was handed over is a guess (the likely arrival
    // decided it).
    bool exact = false;
    int64_t newestMs = INT64_MIN;  // the newest record the memory held, by this count
};

// `records` arrived in memory order (`count` of them, possibly none).
LossInference InferLostRecords(const LogRecord* records, size_t count, const LossEvidence& evidence);

// How long to hold back a GetLog that would be started at steady `nowMs`
// so that no log instant falls in the window in which the request may
// reach the converter: the records missing at the end are then counted
// exactly.  0 when the window is clear already, or wider than a period.
int64_t GetLogHoldMs(const ClockPhase& phase, int64_t nowMs, int64_t periodMs, int64_t anchorMs);

}  // namespace kx305mon
