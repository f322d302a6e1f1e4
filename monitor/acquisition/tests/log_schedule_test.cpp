// When the converter's memory may be cleared after a download, from the
// clock read before the transfer, the clock read after the write, the log
// period and the newest record.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "acquisition/log_schedule.h"
#include "time_builders.h"

namespace kx305mon {
namespace {

using Clear = DownloadReport::Clear;

// Clock readings, short so that the tables below stay readable.
constexpr auto& At = testing::ClockAt;

// The newest record, logged at the clock reading `at` of `year`.
LogRecord Newest(int year, const ClockRecord& at) { return testing::RecordAt(CalendarFromClock(at, year)); }

TEST(ClearVerdict, ClearsOnlyWhenNoLogInstantCanHaveFallenMeanwhile) {
    struct Case {
        const char* what;
        ClockRecord start;
        ClockRecord end;
        uint32_t period;
        LogRecord newest;
        Clear expected;
    };
    const ClockRecord noon = At(6, 1, 12, 0, 0);
    const Case cases[] = {
        {"no logging", At(6, 1, 12, 0, 59), At(6, 1, 12, 1, 30), 0, Newest(2026, noon), Clear::Cleared},
        {"between two minutes", At(6, 1, 12, 0, 10), At(6, 1, 12, 0, 21), 60, Newest(2026, noon), Clear::Cleared},
        {"across a minute", At(6, 1, 12, 0, 50), At(6, 1, 12, 0, 59), 60, Newest(2026, noon),
         Clear::LoggedDuringTransfer},
        {"the margin after the last read", At(6, 1, 12, 0, 40), At(6, 1, 12, 0, 58), 60, Newest(2026, noon),
         Clear::LoggedDuringTransfer},
        {"an instant in the first second", At(6, 1, 12, 1, 0), At(6, 1, 12, 1, 5), 60, Newest(2026, noon),
         Clear::LoggedDuringTransfer},
        {"one second", At(6, 1, 12, 0, 10), At(6, 1, 12, 0, 10), 1, Newest(2026, noon),
         Clear::TransferLongerThanLogPeriod},
        {"eleven seconds of transfer, ten of period", At(6, 1, 12, 0, 1), At(6, 1, 12, 0, 10), 10, Newest(2026, noon),
         Clear::TransferLongerThanLogPeriod},
        // A period that does not divide a day: counted from the newest
        // record (12:00:00, then every 7 s: 12:00:14 falls in).
        {"seven seconds from the newest", At(6, 1, 12, 0, 12), At(6, 1, 12, 0, 12), 7, Newest(2026, noon),
         Clear::LoggedDuringTransfer},
        {"New Year between the reads", At(12, 31, 23, 59, 58), At(1, 1, 0, 0, 1), 3600,
         Newest(2026, At(12, 31, 23, 0, 0)), Clear::LoggedDuringTransfer},
        {"just after New Year", At(1, 1, 0, 0, 5), At(1, 1, 0, 0, 9), 3600, Newest(2027, At(1, 1, 0, 0, 0)),
         Clear::Cleared},
        {"month 0 on the clock", At(0, 1, 12, 0, 10), At(6, 1, 12, 0, 12), 60, Newest(2026, noon), Clear::ClockUnknown},
        {"hour 25 on the clock", At(6, 1, 12, 0, 10), At(6, 1, 25, 0, 12), 60, Newest(2026, noon), Clear::ClockUnknown},
        {"clock set back meanwhile", At(6, 1, 12, 0, 30), At(6, 1, 11, 0, 31), 3600, Newest(2026, noon),
         Clear::ClockUnknown},
    };
    CalendarTime now;
    now.year = 2026;
    now.month = 12;
    now.day = 31;
    for (const Case& c : cases) {
        EXPECT_EQ(ClearVerdict(c.start, c.end, c.period, c.newest, now), c.expected) << c.what;
    }
}

// A converter whose clock runs `offset` ms ahead of the steady clock,
// answering each read somewhere inside its round trip with the whole second.
TEST(ClockPhase, BoundsAlwaysHoldTheOffsetNarrowAndStartAnewWhenTheClockIsSet) {
    std::mt19937 random(5);
    std::uniform_int_distribution<int64_t> jitter(0, 400);
    ClockPhase phase;
    KX305Handle device = reinterpret_cast<KX305Handle>(0x10);
    int64_t offset = 1780000000000 + 437;
    int64_t now = 1000;
    auto read = [&](int64_t trip) {
        const int64_t sent = now;
        const int64_t answered = now + trip;
        const int64_t at = sent + jitter(random) % (trip + 1);
        const int64_t shown = (at + offset) / 1000 * 1000;
        ObservePhase(phase, device, sent, answered, shown);
        now = answered + 250 + jitter(random);
    };
    auto holds = [&] { return PhaseLower(phase, now) <= offset && offset < PhaseUpper(phase, now); };
    for (int cycle = 0; cycle < 30; ++cycle) {
        read(30);
        ASSERT_TRUE(phase.known);
        ASSERT_TRUE(holds()) << cycle;
    }
    EXPECT_LT(PhaseUpper(phase, now) - PhaseLower(phase, now), 300);
    // An hour without reads: the bounds widen by the drift allowed.
    now += 3600000;
    EXPECT_TRUE(holds());
    EXPECT_GE(PhaseUpper(phase, now) - PhaseLower(phase, now), 2 * 3600000 * kClockDriftPpm / 1000000);
    for (int64_t moved : {int64_t{5000}, int64_t{-400}}) {
        // Set by someone else: within a few reads one contradicts the bounds
        // and they follow the new clock.
        offset += moved;
        for (int cycle = 0; cycle < 30; ++cycle) read(30);
        EXPECT_TRUE(holds()) << moved;
        EXPECT_GE(phase.sinceMs, 3600000) << moved;
    }
    // Another connection knows nothing of these bounds.
    const int64_t since = phase.sinceMs;
    device = reinterpret_cast<KX305Handle>(0x20);
    read(30);
    EXPECT_GT(phase.sinceMs, since);
    ForgetPhase(phase);
    EXPECT_FALSE(phase.known);
}

TEST(ClearByPhase, ClearsOnlyWhenTheClearSurelyArrivesBeforeTheNextInstant) {
    // The converter's clock is 5 h 0.3 s ahead of the steady clock, known to
    // +-20 ms; the newest record was logged on an instant (or 370 ms past
    // one: a period counted from the record), and the clear is sent so that
    // its latest arrival falls `beforeNext` ms before the next instant.
    constexpr int64_t kOffset = 18000300;
    // A day whose start is not a multiple of 7 s from 1970.
    constexpr int64_t kDay = 1780012800000;
    struct Case {
        int64_t periodSeconds;
        int64_t newestPast;  // ms after the instant of the newest record
        int64_t beforeNext;
        bool known;
        PhaseVerdict expected;
    };
    const Case cases[] = {
        {1, 0, 30, true, PhaseVerdict::Clear},
        {1, 0, -1, true, PhaseVerdict::Keep},
        {1, 370, 30, true, PhaseVerdict::Clear},
        {1, 370, 0, true, PhaseVerdict::Keep},
        {2, 0, 30, true, PhaseVerdict::Clear},
        {2, 0, -5, true, PhaseVerdict::Keep},
        {5, 990, 1, true, PhaseVerdict::Clear},
        {5, 990, -1, true, PhaseVerdict::Keep},
        {60, 0, 400, true, PhaseVerdict::Clear},
        {60, 0, -400, true, PhaseVerdict::Keep},
        {2, 0, 30, false, PhaseVerdict::Unknown},
        {60, 0, 400, false, PhaseVerdict::Unknown},
        // 7 s does not divide a day: the day's own count of sevens comes first.
        {7, 0, 30, true, PhaseVerdict::Keep},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.periodSeconds << " s, newest +" << c.newestPast << " ms, "
                                          << c.beforeNext << " ms before the next instant");
        const int64_t period = c.periodSeconds * 1000;
        const int64_t instant = kDay + 3600000 / period * period + period;  // on both lattices for 1, 2, 5, 60 s
        const int64_t newest = instant + c.newestPast;
        const int64_t next = std::min(instant + period, newest + period);
        ClockPhase phase;
        phase.known = c.known;
        phase.lowerMs = kOffset - 20;
        phase.upperMs = kOffset + 20;
        // Followed only since the download: the full memory's rule stays out.
        phase.sinceMs = newest + 1;
        // Latest arrival = clear + arrival time + upper bound (+1 ms of drift).
        const int64_t clear = next - c.beforeNext - kClearArrivalMs - (kOffset + 20) - 1;
        phase.lowerAtMs = phase.upperAtMs = clear + kClearArrivalMs - 1000;
        const int64_t snapshot = clear - 100;
        EXPECT_EQ(ClearByPhase(phase, newest, period, snapshot, clear), c.expected);
    }
}

TEST(ClearByPhase, FullMemoryIsClearedOnlyWhenARecordWasSurelyDueAndNotStored) {
    // 2-s period; the transfer ran past the next instant.  The memory was
    // full when the snapshot came after newest + period without a newer
    // record, and the clock was followed since before the newest record.
    constexpr int64_t kOffset = 1780000000000;
    ClockPhase phase;
    phase.known = true;
    phase.lowerMs = kOffset - 20;
    phase.upperMs = kOffset + 20;
    phase.sinceMs = 0;
    const int64_t newest = kOffset + 10000;  // converter ms, on an instant
    const int64_t clear = 13000;             // steady ms: converter about newest + 3 s
    EXPECT_EQ(ClearByPhase(phase, newest, 2000, 12100, clear), PhaseVerdict::ClearFull);
    EXPECT_EQ(ClearByPhase(phase, newest, 2000, 12000, clear), PhaseVerdict::Keep);  // the due one may still come
    phase.sinceMs = 10500;  // the clock was set after the newest record
    EXPECT_EQ(ClearByPhase(phase, newest, 2000, 12100, clear), PhaseVerdict::Keep);
    // A newest record later than the converter's clock: set back since.
    EXPECT_EQ(ClearByPhase(phase, kOffset + 20000, 2000, 12100, clear), PhaseVerdict::Unknown);
}

TEST(DownloadSchedule, StartsJustAfterAnInstantAndDownloadsAsOftenAsTheLineNeeds) {
    constexpr int64_t kOffset = 1780000000000;  // converter = steady + this, +-20 ms
    ClockPhase phase;
    phase.known = true;
    phase.lowerMs = kOffset - 20;
    phase.upperMs = kOffset + 20;
    // Converter at x.100 of a 2-s period: 1.9 s to the next instant.
    StartPlan go = PlanDownloadStart(phase, 100, 2000, INT64_MIN, 500, 250);
    EXPECT_EQ(go.kind, StartPlan::Go);
    // At x.700 a 1.5-s download would run into the instant at 2.000; the
    // wait would be long: a later cycle.
    EXPECT_EQ(PlanDownloadStart(phase, 700, 2000, INT64_MIN, 1500, 250).kind, StartPlan::Postpone);
    // At 1.900: wait until the converter is surely past 2.000.
    StartPlan wait = PlanDownloadStart(phase, 1900, 2000, INT64_MIN, 1500, 250);
    EXPECT_EQ(wait.kind, StartPlan::Wait);
    EXPECT_EQ(wait.atMs, 2000 + kInstantSlackMs + 20 + 1);  // 1 ms of drift
    // Phase unknown or nothing measured: at once.
    EXPECT_EQ(PlanDownloadStart(phase, 1900, 2000, INT64_MIN, -1, 250).kind, StartPlan::Go);
    phase.known = false;
    EXPECT_EQ(PlanDownloadStart(phase, 1900, 2000, INT64_MIN, 1500, 250).kind, StartPlan::Go);

    // 100 ms of fixed cost and 110 ms per record (9600 baud).
    std::vector<TransferSample> samples;
    for (uint32_t n : {0u, 3u, 1u, 12u, 2u}) AddTransferSample(samples, n, 100 + 110 * n);
    EXPECT_EQ(PredictTransferMs(samples, 5), 650);
    // A 2-s period leaves 1.75 s, three quarters of it 1.31 s: 11 records
    // (10 periods and the one logged at the start) in 1.31 s.
    EXPECT_EQ(KeepUpInterval(samples, 2, 20, 100), 20);
    EXPECT_EQ(KeepUpInterval(samples, 1, 20, 100), 3);  // 4 records in 0.54 s of 0.56
    EXPECT_EQ(KeepUpInterval(samples, 1, 20, 400), 1);  // a wide phase leaves room for 2
    EXPECT_EQ(KeepUpInterval(samples, 5, 20, 100), 20);
    EXPECT_EQ(KeepUpInterval(samples, 60, 20, 100), 0);  // longer than the recording interval
    EXPECT_EQ(KeepUpInterval({}, 2, 20, 100), 0);        // nothing measured yet
    // Only an empty download seen: records are taken as long as they can be.
    std::vector<TransferSample> empty;
    AddTransferSample(empty, 0, 100);
    EXPECT_EQ(KeepUpInterval(empty, 2, 20, 100), 6);
    // A record that takes longer than a period: nothing keeps up.
    std::vector<TransferSample> slow;
    for (uint32_t n : {0u, 1u, 2u}) AddTransferSample(slow, n, 300 + 800 * n);
    EXPECT_EQ(KeepUpInterval(slow, 1, 20, 100), -1);
}

// --- records a GetLog lost when its count frame was lost too ---

constexpr int64_t kLossPeriod = 2000;
constexpr int64_t kNone = INT64_MIN;

// A record logged at instant `k` of a 2-s schedule (stamped 30 ms late, as
// a converter stamps after its instant), `shiftMs` off it.
LogRecord AtInstant(int64_t k, int64_t shiftMs = 0) {
    const int64_t ms = 3600000 + k * kLossPeriod + 30 + shiftMs;  // from 2026-06-01 11:00:00
    LogRecord record{};
    record.year = 2026;
    record.month = 6;
    record.day = 1;
    record.hour = static_cast<uint8_t>(11 + ms / 3600000);
    record.minute = static_cast<uint8_t>(ms / 60000 % 60);
    record.second = static_cast<uint8_t>(ms / 1000 % 60);
    record.subSecond = static_cast<uint8_t>(ms % 1000 / 10);
    return record;
}

int64_t InstantMs(int64_t k) { return RecordMs(AtInstant(k)); }

// Arrival bounds `earliest`..`latest` ms after instant `k` (likely at
// `likely`); kNone for k: not known.
ArrivalBounds ArrivalAfter(int64_t k, int64_t earliest, int64_t latest, int64_t likely) {
    ArrivalBounds a;
    if (k == kNone) return a;
    const int64_t instant = InstantMs(k) - 30;
    a.earliestMs = instant + earliest;
    a.latestMs = instant + latest;
    a.likelyMs = instant + likely;
    return a;
}

TEST(InferLostRecords, CountsTheGapsBetweenAtTheEndAndAtTheStart) {
    struct Case {
        const char* what;
        std::vector<int64_t> arrived;  // instants of the records that came
        // The previous download: its newest instant and when its request
        // arrived (ms after that instant), kNone: none.
        int64_t previousNewest, previousArrival;
        // This request's arrival, ms after instant `arrivalAfter`:
        // earliest, latest, likely.
        int64_t arrivalAfter, earliest, latest, likely;
        bool known;
        uint32_t lost;
        bool exact;
    };
    const Case cases[] = {
        {"none lost", {0, 1, 2, 3}, kNone, kNone, 3, 500, 700, 520, true, 0, true},
        {"gaps between", {0, 2, 3, 6}, kNone, kNone, 6, 500, 700, 520, true, 3, true},
        {"at the end", {0, 1}, kNone, kNone, 4, 600, 800, 620, true, 3, true},
        {"at the start, after the previous download's newest", {0, 1}, -3, kNone, 1, 500, 700, 520, true, 2, true},
        {"at the start, after an empty previous download", {0, 1}, kNone, -3, 1, 500, 700, 520, true, 2, true},
        {"at the start, the previous request near an instant", {0, 1}, kNone, -3, 1, 500, 700, 520, true, 1, false},
        {"at the start without a previous download: none assumed",
         {0, 1},
         kNone,
         kNone,
         1,
         500,
         700,
         520,
         true,
         0,
         true},
        {"all three", {1, 3}, -2, -2, 5, 100, 250, 120, true, 2 + 1 + 2, true},
        {"no record arrived", {}, 0, 0, 3, 500, 700, 520, true, 3, true},
        // Instant 2 (stamped at +30) falls in the window: the likely
        // arrival decides.
        {"instant at the arrival, likely before it", {0, 1}, kNone, kNone, 1, 1950, 2100, 2060, true, 1, false},
        {"instant at the arrival, likely after it", {0, 1}, kNone, kNone, 1, 1950, 2100, 2020, true, 0, false},
        {"instant just before the earliest arrival", {0, 1}, kNone, kNone, 1, 2060, 2200, 2080, true, 1, false},
        {"instant clear before the arrival", {0, 1}, kNone, kNone, 1, 2090, 2200, 2110, true, 1, true},
        {"no record and no previous record", {}, kNone, 0, 3, 500, 700, 520, false, 0, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<LogRecord> records;
        for (int64_t k : c.arrived) records.push_back(AtInstant(k));
        LossEvidence e;
        e.periodMs = kLossPeriod;
        e.previousNewestMs = c.previousNewest == kNone ? kNone : InstantMs(c.previousNewest);
        const bool nearInstant = std::string(c.what).find("near an instant") != std::string::npos;
        e.previous = nearInstant ? ArrivalAfter(c.previousArrival, 1950, 2100, 2060)
                                 : ArrivalAfter(c.previousArrival, 100, 250, 120);
        e.arrival = ArrivalAfter(c.arrivalAfter, c.earliest, c.latest, c.likely);
        const LossInference r = InferLostRecords(records.data(), records.size(), e);
        EXPECT_EQ(r.known, c.known);
        if (!c.known) continue;
        EXPECT_EQ(r.lost, c.lost);
        EXPECT_EQ(r.exact, c.exact);
        // The newest record the memory held, on the schedule, before the arrival.
        const int64_t last = records.empty() ? e.previousNewestMs : RecordMs(records.back());
        EXPECT_EQ((r.newestMs - last) % kLossPeriod, 0);
        EXPECT_LT(r.newestMs, e.arrival.latestMs);
    }
}

TEST(InferLostRecords, GivesNoNumberWithoutPeriodPhaseOrOneSchedule) {
    std::vector<LogRecord> records = {AtInstant(0), AtInstant(1)};
    LossEvidence e;
    e.periodMs = kLossPeriod;
    e.arrival = ArrivalAfter(1, 500, 700, 520);
    ASSERT_TRUE(InferLostRecords(records.data(), 2, e).known);

    LossEvidence noPeriod = e;
    noPeriod.periodMs = 0;
    EXPECT_FALSE(InferLostRecords(records.data(), 2, noPeriod).known);
    LossEvidence noPhase = e;
    noPhase.arrival = {};
    EXPECT_FALSE(InferLostRecords(records.data(), 2, noPhase).known);
    // Logged at another period in between, or a clock set.
    std::vector<LogRecord> reconfigured = {AtInstant(0), AtInstant(1, 900)};
    EXPECT_FALSE(InferLostRecords(reconfigured.data(), 2, e).known);
    // A record newer than the converter's time when the request came.
    std::vector<LogRecord> future = {AtInstant(0), AtInstant(5)};
    EXPECT_FALSE(InferLostRecords(future.data(), 2, e).known);
    // A previous download off this schedule says nothing about the start.
    LossEvidence offSchedule = e;
    offSchedule.previousNewestMs = InstantMs(-3) + 900;
    LossInference r = InferLostRecords(records.data(), 2, offSchedule);
    EXPECT_TRUE(r.known);
    EXPECT_EQ(r.lost, 0u);
}

// A whole transfer after a try whose reply never came: the converter had
// handed that try what it logged since the previous request.
TEST(InferLostRecords, WholeTransferCountsOnlyWhatWentBeforeItsFirstRecord) {
    struct Case {
        const char* what;
        std::vector<int64_t> arrived;
        int64_t previousNewest;  // instant, kNone: none
        // The previous request arrived 100..250 ms after this instant, or
        // (near) 1950..2100 ms, around the next instant.
        int64_t previousArrival;
        bool previousNear;
        int64_t arrivalAfter, earliest, latest, likely;
        bool known;
        uint32_t lost;
        bool exact;
    };
    const Case cases[] = {
        {"nothing lost: the first is the next instant", {-2, -1, 0}, -3, -3, false, 0, 500, 700, 520, true, 0, true},
        {"a reply swallowed before the first", {1, 2}, -3, -3, false, 2, 500, 700, 520, true, 3, true},
        {"a reply swallowed, nothing logged since", {}, -3, -3, false, 2, 500, 700, 520, true, 5, true},
        {"empty, nothing logged meanwhile", {}, -3, -3, false, -3, 1000, 1200, 1020, true, 0, true},
        {"the previous request near an instant", {1, 2}, -3, -3, true, 2, 500, 700, 520, true, 2, false},
        {"empty, this request near an instant", {}, -3, -3, false, 1, 1950, 2100, 2060, true, 5, false},
        // The converter stopped storing (full): not the line's doing.
        {"instants after the last are not counted", {-2, -1}, -3, -3, false, 3, 500, 700, 520, true, 0, true},
        {"a gap inside: the schedule broke", {1, 3}, -3, -3, false, 3, 500, 700, 520, false, 0, false},
        {"no previous request: no evidence", {0, 1}, kNone, kNone, false, 1, 500, 700, 520, false, 0, false},
        {"older than the previous newest: the clock went back",
         {-5, -4},
         -3,
         kNone,
         false,
         -4,
         500,
         700,
         520,
         false,
         0,
         false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<LogRecord> records;
        for (int64_t k : c.arrived) records.push_back(AtInstant(k));
        LossEvidence e;
        e.complete = true;
        e.periodMs = kLossPeriod;
        e.previousNewestMs = c.previousNewest == kNone ? kNone : InstantMs(c.previousNewest);
        e.previous = c.previousNear ? ArrivalAfter(c.previousArrival, 1950, 2100, 2060)
                                    : ArrivalAfter(c.previousArrival, 100, 250, 120);
        e.arrival = ArrivalAfter(c.arrivalAfter, c.earliest, c.latest, c.likely);
        const LossInference r = InferLostRecords(records.data(), records.size(), e);
        EXPECT_EQ(r.known, c.known);
        if (!c.known) continue;
        EXPECT_EQ(r.lost, c.lost);
        EXPECT_EQ(r.exact, c.exact);
        // What the next download counts from.
        const int64_t newest =
            records.empty() ? InstantMs(c.previousNewest) + c.lost * kLossPeriod : RecordMs(records.back());
        EXPECT_EQ(r.newestMs, newest);
    }
}

// Bounds from before a reconnection hold for the new connection when its
// reads agree with them: the clock ran on; a set clock disagrees.
TEST(ClockRanOn, NewBoundsMustMeetTheOldOnes) {
    ClockPhase then;
    then.known = true;
    then.lowerMs = 1000;
    then.upperMs = 1100;
    then.lowerAtMs = then.upperAtMs = 0;
    ClockPhase now = then;
    now.lowerMs = 1050;
    now.upperMs = 2040;  // one whole-second read
    now.lowerAtMs = now.upperAtMs = 60000;
    EXPECT_TRUE(ClockRanOn(then, now, 60000));
    ClockPhase set = now;
    set.lowerMs += 1500;
    set.upperMs += 1500;
    EXPECT_FALSE(ClockRanOn(then, set, 60000));
    ClockPhase unknown;
    EXPECT_FALSE(ClockRanOn(unknown, now, 60000));
    EXPECT_FALSE(ClockRanOn(then, unknown, 60000));
}

TEST(GetLogHold, SendsTheRequestSoThatNoInstantFallsWhileItTravels) {
    constexpr int64_t kOffset = 1780000000000;  // converter = steady + this, +-20 ms
    ClockPhase phase;
    phase.known = true;
    phase.lowerMs = kOffset - 20;
    phase.upperMs = kOffset + 20;
    phase.lowerAtMs = phase.upperAtMs = 1000000;  // no drift within the test
    // Converter at x.500 of a 1-s period: the request is there by x.690.
    EXPECT_EQ(GetLogHoldMs(phase, 500, 1000, kNone), 0);
    // At x.900 it may arrive around the instant at 1.000: held until the
    // converter is surely past its stamp.
    EXPECT_EQ(GetLogHoldMs(phase, 900, 1000, kNone), 1000 + kInstantSlackMs + 20 + 1 - 900);
    // Just after an instant it may still be stamping it.
    EXPECT_EQ(GetLogHoldMs(phase, 1030, 1000, kNone), 1000 + kInstantSlackMs + 20 + 1 - 1030);
    // A schedule counted from the last record (at x.300) has its own instants.
    EXPECT_EQ(GetLogHoldMs(phase, 500, 1000, kOffset + 300), 0);
    EXPECT_EQ(GetLogHoldMs(phase, 200, 1000, kOffset + 300), 300 + kInstantSlackMs + 20 + 1 - 200);
    // Bounds as wide as the period, or none: no hold helps.
    phase.upperMs = kOffset + 900;
    EXPECT_EQ(GetLogHoldMs(phase, 900, 1000, kNone), 0);
    phase.known = false;
    EXPECT_EQ(GetLogHoldMs(phase, 900, 1000, kNone), 0);
}

}  // namespace
}  // namespace kx305mon
