#include "acquisition/log_schedule.h"

#include <algorithm>
#include <chrono>

#include "time/calendar_time.h"

namespace kx305mon {

namespace {

constexpr int64_t kDaySeconds = kSecondsPerDay;

bool ValidTime(unsigned month, unsigned day, unsigned hour, unsigned minute, unsigned second) {
    return month >= 1 && month <= 12 && day >= 1 && day <= 31 && hour < 24 && minute < 60 && second < 60;
}

// The converter's clock has no year: the computer's, moved across New Year
// when the two months say so.
int64_t ClockSeconds(const ClockRecord& clock, const CalendarTime& nowUtc) {
    return SecondsFromCivil(ClockYear(clock, nowUtc), clock.month, clock.day, clock.hour, clock.minute, clock.second);
}

// An instant anchor + k * period lies in [from, to].
bool InstantWithin(int64_t anchor, int64_t period, int64_t from, int64_t to) {
    const int64_t first = anchor - FloorDiv(anchor - from, period) * period;  // first instant >= from
    return first <= to;
}

}  // namespace

DownloadReport::Clear ClearVerdict(const ClockRecord& start, const ClockRecord& end, uint32_t periodSeconds,
                                   const LogRecord& newest, const CalendarTime& nowUtc) {
    using Clear = DownloadReport::Clear;
    if (periodSeconds == 0) return Clear::Cleared;  // nothing is stored meanwhile
    if (!ValidTime(start.month, start.day, start.hour, start.minute, start.second) ||
        !ValidTime(end.month, end.day, end.hour, end.minute, end.second)) {
        return Clear::ClockUnknown;
    }
    const int64_t from = ClockSeconds(start, nowUtc);
    const int64_t to = ClockSeconds(end, nowUtc) + kClearMarginSeconds;
    // A clock that ran backwards or jumped (set by someone else meanwhile)
    // tells nothing about what was stored.
    if (to < from || to - from > kDaySeconds) return Clear::ClockUnknown;
    const int64_t period = periodSeconds;
    if (to - from >= period) return Clear::TransferLongerThanLogPeriod;
    const int64_t dayStart = FloorDiv(from, kDaySeconds) * kDaySeconds;
    if (InstantWithin(0, period, from, to) || InstantWithin(dayStart, period, from, to)) {
        return Clear::LoggedDuringTransfer;
    }
    if (ValidTime(newest.month, newest.day, newest.hour, newest.minute, newest.second) &&
        InstantWithin(SecondsOf(CalendarFromLogRecord(newest)), period, from, to)) {
        return Clear::LoggedDuringTransfer;
    }
    return Clear::Cleared;
}

namespace {

// 256 bytes of frame at 9600 baud, 8N1, and some escapes.
constexpr int64_t kLongestRecordMs = 280;

// Only the recent downloads tell how the line and the file behave now.
constexpr size_t kTransferSamplesKept = 16;

int64_t Drift(int64_t sinceMs, int64_t atMs) {
    return atMs > sinceMs ? (atMs - sinceMs) * kClockDriftPpm / 1000000 + 1 : 0;
}

}  // namespace

int64_t SteadyMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

int64_t ConverterMs(const ClockRecord& clock, const CalendarTime& nowUtc) {
    if (!ValidTime(clock.month, clock.day, clock.hour, clock.minute, clock.second)) return INT64_MIN;
    return ClockSeconds(clock, nowUtc) * 1000;
}

int64_t RecordMs(const LogRecord& record) {
    if (!ValidTime(record.month, record.day, record.hour, record.minute, record.second) || record.subSecond > 99) {
        return INT64_MIN;
    }
    return SecondsOf(CalendarFromLogRecord(record)) * 1000 + record.subSecond * 10;
}

void ForgetPhase(ClockPhase& phase) { phase = ClockPhase{}; }

bool ClockRanOn(const ClockPhase& then, const ClockPhase& now, int64_t atMs) {
    if (!then.known || !now.known) return false;
    return PhaseLower(now, atMs) < PhaseUpper(then, atMs) && PhaseUpper(now, atMs) > PhaseLower(then, atMs);
}

int64_t PhaseLower(const ClockPhase& phase, int64_t atMs) { return phase.lowerMs - Drift(phase.lowerAtMs, atMs); }

int64_t PhaseUpper(const ClockPhase& phase, int64_t atMs) { return phase.upperMs + Drift(phase.upperAtMs, atMs); }

void ObservePhase(ClockPhase& phase, KX305Handle device, int64_t sentMs, int64_t answeredMs, int64_t shownMs) {
    if (shownMs == INT64_MIN || answeredMs < sentMs) return;
    const int64_t lower = shownMs - answeredMs;
    const int64_t upper = shownMs + 1000 - sentMs;
    if (phase.known && phase.device == device && lower < PhaseUpper(phase, sentMs) &&
        upper > PhaseLower(phase, sentMs)) {
        // Both bounds widen at the same rate from when they were taken, so
        // the tighter one now stays the tighter one.
        if (lower > PhaseLower(phase, sentMs)) {
            phase.lowerMs = lower;
            phase.lowerAtMs = sentMs;
        }
        if (upper < PhaseUpper(phase, sentMs)) {
            phase.upperMs = upper;
            phase.upperAtMs = sentMs;
        }
        return;
    }
    // First read, another connection, or a clock that was set: this read
    // alone.
    phase.known = true;
    phase.device = device;
    phase.lowerMs = lower;
    phase.upperMs = upper;
    phase.lowerAtMs = phase.upperAtMs = sentMs;
    phase.sinceMs = sentMs;
}

int64_t EarliestInstantAfter(int64_t afterMs, int64_t periodMs, int64_t anchorMs) {
    auto firstAfter = [&](int64_t base) { return base + (FloorDiv(afterMs - base, periodMs) + 1) * periodMs; };
    const int64_t dayMs = kDaySeconds * 1000;
    const int64_t dayStart = FloorDiv(afterMs, dayMs) * dayMs;
    int64_t earliest = std::min({firstAfter(0), firstAfter(dayStart), dayStart + dayMs});
    if (anchorMs != INT64_MIN) earliest = std::min(earliest, firstAfter(anchorMs));
    return earliest;
}

PhaseVerdict ClearByPhase(const ClockPhase& phase, int64_t newestMs, int64_t periodMs, int64_t snapshotMs,
                          int64_t clearMs) {
    if (!phase.known || periodMs <= 0 || newestMs == INT64_MIN) return PhaseVerdict::Unknown;
    const int64_t arrival = clearMs + kClearArrivalMs;
    const int64_t latestArrival = arrival + PhaseUpper(phase, arrival);
    // A record newer than the converter's own time: its clock was set back
    // since, and its instants say nothing about the newest record.
    if (newestMs >= latestArrival) return PhaseVerdict::Unknown;
    if (latestArrival < EarliestInstantAfter(newestMs, periodMs, newestMs)) return PhaseVerdict::Clear;
    const int64_t followedSince = phase.sinceMs + PhaseUpper(phase, phase.sinceMs);
    const int64_t snapshotAtLeast = snapshotMs + PhaseLower(phase, snapshotMs);
    // Every schedule had its next instant at newest + period at the latest.
    if (followedSince <= newestMs && snapshotAtLeast >= newestMs + periodMs + kInstantSlackMs) {
        return PhaseVerdict::ClearFull;
    }
    return PhaseVerdict::Keep;
}

void AddTransferSample(std::vector<TransferSample>& samples, uint32_t records, int64_t millis) {
    if (samples.size() >= kTransferSamplesKept) samples.erase(samples.begin());
    samples.push_back({records, millis});
}

int64_t PredictTransferMs(const std::vector<TransferSample>& samples, uint32_t records) {
    if (samples.empty()) return -1;
    double n = 0, sumN = 0, sumD = 0;
    for (const auto& s : samples) {
        n += 1;
        sumN += s.records;
        sumD += static_cast<double>(s.millis);
    }
    const double meanN = sumN / n, meanD = sumD / n;
    double varN = 0, cov = 0;
    for (const auto& s : samples) {
        varN += (s.records - meanN) * (s.records - meanN);
        cov += (s.records - meanN) * (static_cast<double>(s.millis) - meanD);
    }
    if (varN >= 0.5) {
        // Fixed cost and time per record, raised by the worst sample above
        // the line so that the estimate covers what was seen.
        const double perRecord = std::max(0.0, cov / varN);
        const double fixed = std::max(0.0, meanD - perRecord * meanN);
        double worst = 0;
        for (const auto& s : samples) {
            worst = std::max(worst, static_cast<double>(s.millis) - (fixed + perRecord * s.records));
        }
        return static_cast<int64_t>(fixed + perRecord * records + worst + 0.5);
    }
    // One size of download seen: its longest time covers that size and
    // less; more records scale it (the fixed cost scaled too, so it is an
    // upper estimate).
    int64_t longest = 0;
    for (const auto& s : samples) longest = std::max(longest, s.millis);
    const uint32_t seen = samples.front().records;
    if (records <= seen) return longest;
    // Only empty downloads so far: each record at most the line time of the
    // longest record frame.
    if (seen == 0) return longest + int64_t(records) * kLongestRecordMs;
    return longest * records / seen;
}

int64_t KeepUpInterval(const std::vector<TransferSample>& samples, uint32_t periodSeconds, uint32_t recordingInterval,
                       int64_t uncertaintyMs) {
    if (periodSeconds == 0 || periodSeconds > kScheduledPeriodMax) return 0;
    const uint32_t most = recordingInterval / periodSeconds;
    if (most < 1) return 0;
    const int64_t window = int64_t(periodSeconds) * 1000 - uncertaintyMs - kClearArrivalMs;
    const int64_t one = PredictTransferMs(samples, 1);
    if (one < 0) return 0;
    if (one >= window) return -1;
    // Leave a quarter of the window for the line's and the computer's
    // hiccups; a download that waits for its instant may find one record
    // more than the interval's.
    const int64_t budget = window * 3 / 4;
    uint32_t k = 1;
    for (uint32_t candidate = most; candidate > 1; --candidate) {
        const int64_t expected = PredictTransferMs(samples, candidate + 1);
        if (expected >= 0 && expected <= budget) {
            k = candidate;
            break;
        }
    }
    return int64_t(k) * periodSeconds;
}

StartPlan PlanDownloadStart(const ClockPhase& phase, int64_t nowMs, int64_t periodMs, int64_t anchorMs,
                            int64_t expectedMs, int64_t maxWaitMs) {
    if (!phase.known || periodMs <= 0 || expectedMs < 0) return {StartPlan::Go, nowMs};
    const int64_t earliest = nowMs + PhaseLower(phase, nowMs);
    const int64_t latest = nowMs + PhaseUpper(phase, nowMs);
    // The next instant that may not have been logged yet.
    const int64_t next = EarliestInstantAfter(earliest - kInstantSlackMs, periodMs, anchorMs);
    if (next > latest + expectedMs + kClearArrivalMs) return {StartPlan::Go, nowMs};
    // Surely after it, on the steady clock.
    const int64_t at = next + kInstantSlackMs - PhaseLower(phase, nowMs);
    if (at - nowMs <= maxWaitMs) return {StartPlan::Wait, at};
    return {StartPlan::Postpone, at};
}

ArrivalBounds RequestArrival(const ClockPhase& phase, int64_t sentMs, int64_t endedMs) {
    ArrivalBounds arrival;
    if (!phase.known) return arrival;
    arrival.earliestMs = sentMs + PhaseLower(phase, sentMs);
    // The transfer's end bounds the arrival too, for a request that ended
    // at once.
    const int64_t by = std::min(sentMs + kLogRequestArrivalMs, std::max(sentMs, endedMs));
    arrival.latestMs = by + PhaseUpper(phase, by);
    arrival.likelyMs = std::min(
        sentMs + kLogRequestLikelyMs + (PhaseLower(phase, sentMs) + PhaseUpper(phase, sentMs)) / 2, arrival.latestMs);
    return arrival;
}

namespace {

// Whole periods from `fromMs` to `toMs` (two stamps of the same schedule,
// rounded to the nearest), or -1 when the distance is no whole number of
// periods: the clock was set or the converter logged at another period
// meanwhile.
int64_t PeriodsBetween(int64_t fromMs, int64_t toMs, int64_t periodMs) {
    const int64_t distance = toMs - fromMs;
    if (distance < 0) return -1;
    const int64_t periods = (distance + periodMs / 2) / periodMs;
    const int64_t off = distance - periods * periodMs;
    if (off > periodMs / 4 || -off > periodMs / 4) return -1;
    return periods;
}

// Instants base + k * period (k >= 1) at or before `untilMs`.
int64_t InstantsUntil(int64_t baseMs, int64_t periodMs, int64_t untilMs) {
    return untilMs < baseMs + periodMs ? 0 : (untilMs - baseMs) / periodMs;
}

// The records logged at base + k * period (k >= 1, `base` a stamp of the
// schedule) before a request arrived: those surely stored before it, those
// that may have been, and the likely number.
struct Stored {
    int64_t sure, possible, likely;
    bool exact() const { return sure == possible; }
};
Stored StoredBefore(int64_t baseMs, int64_t periodMs, const ArrivalBounds& arrival) {
    Stored n;
    n.sure = InstantsUntil(baseMs, periodMs, arrival.earliestMs - kInstantSlackMs);
    n.possible = InstantsUntil(baseMs, periodMs, arrival.latestMs - 1);
    n.likely = std::clamp(InstantsUntil(baseMs, periodMs, arrival.likelyMs - 1), n.sure, n.possible);
    return n;
}

}  // namespace

LossInference InferLostRecords(const LogRecord* records, size_t count, const LossEvidence& evidence) {
    LossInference result;
    const int64_t period = evidence.periodMs;
    if (period <= 0 || !evidence.arrival.known()) return result;
    bool exact = true;
    int64_t lost = 0;
    int64_t last = INT64_MIN;
    if (count == 0) {
        // Nothing arrived: the records logged between the two requests, on
        // the schedule of the previous download's newest record.
        if (evidence.previousNewestMs == INT64_MIN) return result;
        last = evidence.previousNewestMs;
        if (evidence.previous.known()) {
            const Stored before = StoredBefore(last, period, evidence.previous);
            exact = before.exact();
            last += before.likely * period;
        }
    }
    for (size_t i = 0; i < count; ++i) {
        const int64_t stamp = RecordMs(records[i]);
        if (stamp == INT64_MIN) return result;
        if (i > 0) {
            const int64_t periods = PeriodsBetween(last, stamp, period);
            if (periods < 1) return result;
            // A whole transfer with a gap: the converter skipped instants
            // (it was off, or its clock moved), so its schedule tells
            // nothing about what went before either.
            if (evidence.complete && periods != 1) return result;
            lost += periods - 1;
        } else if (evidence.previous.known() && evidence.previous.latestMs <= stamp) {
            // Before the first: the records of its schedule logged after the
            // previous request took the memory, counted from an instant
            // surely before that request.
            const int64_t back = (stamp - evidence.previous.earliestMs + kInstantSlackMs) / period + 1;
            const Stored taken = StoredBefore(stamp - back * period, period, evidence.previous);
            exact = taken.exact();
            lost += back - 1 - taken.likely;
        } else if (evidence.previousNewestMs != INT64_MIN) {
            const int64_t periods = PeriodsBetween(evidence.previousNewestMs, stamp, period);
            if (periods >= 1) {
                lost += periods - 1;
            } else if (evidence.complete) {
                return result;
            }
        } else if (evidence.complete) {
            return result;
        }
        // Without a previous download that emptied the memory, none are
        // taken as missing before the first record that arrived: nothing
        // tells where the memory began.
        last = stamp;
    }
    // A record newer than the converter's time when it took the request:
    // its clock was set back meanwhile, and its instants tell nothing.
    if (last >= evidence.arrival.latestMs) return result;
    // After the last: the instants whose records were stored before the
    // request arrived.  A whole transfer brought all of them; instants
    // after its last record that it lacks were never stored (a full
    // memory).
    Stored after = StoredBefore(last, period, evidence.arrival);
    if (evidence.complete && count > 0) after = {0, 0, 0};
    lost += after.likely;
    if (lost < 0 || lost > int64_t{UINT32_MAX}) return result;
    result.known = true;
    result.lost = static_cast<uint32_t>(lost);
    result.exact = exact && after.exact();
    result.newestMs = last + after.likely * period;
    return result;
}

int64_t GetLogHoldMs(const ClockPhase& phase, int64_t nowMs, int64_t periodMs, int64_t anchorMs) {
    if (!phase.known || periodMs <= 0) return 0;
    int64_t send = nowMs;
    // Each schedule the converter may keep has its instants; stepping past
    // one may land on another's.
    for (int step = 0; step < 4; ++step) {
        const int64_t earliest = send + PhaseLower(phase, send) - kInstantSlackMs;
        const int64_t latest = send + kLogRequestArrivalMs + PhaseUpper(phase, send);
        if (latest - earliest >= periodMs) return 0;
        const int64_t next = EarliestInstantAfter(earliest - 1, periodMs, anchorMs);
        if (next >= latest) return send - nowMs;
        send = next + kInstantSlackMs - PhaseLower(phase, send) + 1;
        if (send - nowMs > periodMs) return 0;
    }
    return 0;
}

}  // namespace kx305mon
