#include "acquisition/device_operations.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "acquisition/events.h"
#include "acquisition/internal.h"
#include "acquisition/log_schedule.h"
#include "acquisition/pending_records.h"
#include "acquisition/polling_worker.h"
#include "recording/registration_file.h"
#include "time/calendar_time.h"
#include "time/local_time.h"

namespace kx305mon {

namespace {

// Ends the running request and returns its requester, who is told the
// outcome; none when the request was withdrawn.  A request placed over the
// running one stays in the slot for the next cycle.
Requester FinishRequest(AppContext& context) {
    Requester target = kNoRequester;
    {
        MutexLock guard(context.plumbing.lock);
        if (context.request == context.plumbing.runningRequest &&
            context.requesterWindow == context.plumbing.runningRequester) {
            target = context.requesterWindow;
            context.request = 0;
        } else if (context.request != 0) {
            target = context.plumbing.runningRequester;
        }
        context.plumbing.runningRequest = 0;
        context.plumbing.runningRequester = kNoRequester;
    }
    return target;
}

int SetConverterClock(AppContext& context, const ClockRecord& clock) {
    // The converter's instants move with its clock.
    ForgetPhase(context.worker->clockPhase);
    context.worker->lastHandOver = {};
    context.worker->transaction.clockToSet = clock;
    int ok = detail::Transact(
        context, [&](KX305Handle* device) { KX305SetTime(device, &context.worker->transaction.clockToSet); });
    Requester requester = FinishRequest(context);
    if (requester != kNoRequester) detail::EventsOf(context).ClockSet(requester, ok == 1);
    return ok;
}

ClockRecord ComputerClockUtc() { return ClockFromCalendar(CurrentUtcTime()); }

int ReadLogPeriod(AppContext& context) {
    context.worker->transaction.period = 0;
    int ok = detail::Transact(
        context, [&](KX305Handle* device) { KX305GetLogPeriod(device, &context.worker->transaction.period); });
    Requester requester = FinishRequest(context);
    if (ok && requester != kNoRequester) {
        detail::EventsOf(context).LogPeriodRead(requester, context.worker->transaction.period);
    }
    return ok;
}

int WriteLogPeriod(AppContext& context, uint16_t seconds) {
    // A new period starts a new schedule, even when it is the old value.
    context.worker->lastHandOver = {};
    context.worker->transaction.period = seconds;
    int ok = detail::Transact(
        context, [&](KX305Handle* device) { KX305SetLogPeriod(device, &context.worker->transaction.period); });
    {
        // The interval is in force, whatever the outcome, before the dialog
        // hears of the write, so nothing that reacts to the notice sees the old one.
        MutexLock guard(context.plumbing.lock);
        context.recordingInterval = std::max<uint32_t>(seconds, context.plumbing.timing.minimumRecordingInterval);
    }
    Requester requester = FinishRequest(context);
    if (requester != kNoRequester) detail::EventsOf(context).LogPeriodWritten(requester, ok == 1);
    return ok;
}

int ResetRainCounter(AppContext& context) {
    int ok = detail::Transact(context, [](KX305Handle* device) { KX305ResetRainCounter(device); });
    FinishRequest(context);
    return ok;
}

// --- download of the logging memory ---

// The records as the registration file stores them, encoded before the
// lock is taken.
std::vector<std::string> StoredForms(const LogRecord* records, size_t count) {
    std::vector<std::string> stored(count);
    for (size_t i = 0; i < count; ++i) stored[i] = EncodeRegistrationRecord(records[i]);
    return stored;
}

// Readies the file's end for appending and tells how many records at the
// head of this download it already holds (none unless `skipKnownHead`).  A
// download whose converter was not cleared after the last one (or whose
// clear was never confirmed, also before a restart of the program) starts
// with records the file has; the converter keeps its records in order, and
// when it is full the head may begin inside that run.  The file's tail is
// read with the reader, which passes over a record torn by a power loss or
// a kill during the last write burst; those bytes are cut off so that the
// records appended now follow a whole one.
size_t RecordsAlreadyInFile(FileStream& file, const LogRecord* records, const std::vector<std::string>& stored,
                            bool skipKnownHead) {
    static const std::vector<std::string> kNone;
    RegistrationTail tail;
    if (!ReadRegistrationTail(file, TailLengthFor(skipKnownHead ? stored : kNone), tail)) return 0;
    CutTornTail(file, tail);
    return skipKnownHead ? RecordsAlreadyStored(tail.records, records, stored) : 0;
}

struct StoreOutcome {
    DownloadReport::Store result;
    // Records from the first one that are in the file now (already there or
    // written).
    size_t handled;
    size_t written;
};

// Appends the records that the file does not have yet and flushes it, all
// under the lock: the viewer moves the same file position.  A write that
// fails is cut off again, so the file ends with a whole record.
StoreOutcome StoreRecords(AppContext& context, const LogRecord* records, size_t count, bool skipKnownHead,
                          size_t& alreadyInFile) {
    std::vector<std::string> stored = StoredForms(records, count);
    alreadyInFile = 0;
    MutexLock guard(context.plumbing.lock);
    if (!context.registrationFile) return {DownloadReport::Store::NoFile, 0, 0};
    FileStream& file = *context.registrationFile;
    if (count > 0) alreadyInFile = RecordsAlreadyInFile(file, records, stored, skipKnownHead);
    size_t handled = alreadyInFile;
    size_t written = 0;
    bool failed = false;
    for (; handled < count; ++handled) {
        const std::string& record = stored[handled];
        int64_t end = file.Position();
        if (!file.Write(record.data(), record.size())) {
            // A full disk may have taken part of the record.
            if (end >= 0 && file.SeekTo(end)) file.Truncate();
            file.SeekToEnd();
            failed = true;
            break;
        }
        ++written;
    }
    bool flushed = file.Flush();
    if (failed) return {DownloadReport::Store::WriteFailed, handled, written};
    if (!flushed) return {DownloadReport::Store::FlushFailed, handled, written};
    return {DownloadReport::Store::Stored, handled, written};
}

// Download progress to the main window as it stands now (none once the
// program is shutting down).
void ReportProgress(AppContext& context, unsigned percent) {
    WindowRef window = detail::MainWindow(context);
    if (window != kNoWindow) detail::EventsOf(context).DownloadProgress(window, percent);
}

// How a transfer of the logging memory ended.
struct Transfer {
    enum Result {
        Complete,  // every record arrived
        // A GetLog transfer cut short on the line: the records that arrived
        // are in the log buffer, in order; the converter has let go of all.
        CutShort,
        Failed,  // nothing to store; the converter keeps its records
    } result = Failed;
    uint32_t lost = 0;  // CutShort: records that never arrived, or KX305_LOG_LOST_UNKNOWN
    // Steady ms at which the last try was sent: the driver sends a request
    // again after a try that got no answer, and firmware up to 1.12 empties
    // its memory for each try that reaches it.
    int64_t lastTryMs = 0;
    bool resent = false;  // a try that got no answer was sent again
};

// Runs the download transaction to its end, reporting progress.  Nothing
// abandons it once started: a request placed meanwhile waits for the next
// cycle, and a stop lets a GetLog transfer finish (the converter has let go
// of its records as the request arrived).
Transfer TransferLog(AppContext& context, bool peek) {
    context.logBuffer = {};
    Transfer transfer;
    transfer.lastTryMs = SteadyMs();
    bool started = detail::StartUnlessStopping(context, [&](KX305Handle* device) {
        if (peek) {
            KX305PeekLog(device, &context.logBuffer);
            return;
        }
        context.plumbing.lock.AssertHeld();  // started under the lock
        context.plumbing.logTransferMustFinish = true;
        KX305GetLog(device, &context.logBuffer);
    });
    if (!started) return transfer;
    KX305Status status;
    uint32_t progress;
    for (;;) {
        progress = 0;
        status = KX305DoneWait(&detail::WorkerDevice(context), &progress);
        if (status == KX305_STATUS_PROGRESS) ReportProgress(context, progress);
        // Below 100 %: a try got no answer and the request goes out again now.
        if (status == KX305_STATUS_BUSY && progress < 100) {
            transfer.lastTryMs = SteadyMs();
            transfer.resent = true;
        }
        if (status != KX305_STATUS_BUSY && status != KX305_STATUS_PROGRESS) break;
    }
    if (status == KX305_STATUS_OK) {
        transfer.result = Transfer::Complete;
    } else if (status == KX305_STATUS_NO_RESOURCE && !peek) {
        // A peek that ends so (no memory for the records) loses nothing:
        // the converter keeps them.
        transfer.result = Transfer::CutShort;
        transfer.lost = progress;
    }
    return transfer;
}

// Recording stops when the registration file is no longer the file its
// path names (deleted, renamed, its file system unmounted): the records
// written into it reach nobody, so the converter must keep its own.
bool RegistrationFileGone(AppContext& context) {
    MutexLock guard(context.plumbing.lock);
    if (!context.registrationFile) return false;
    std::string path(context.registrationPath, strnlen(context.registrationPath, sizeof context.registrationPath));
    if (context.registrationFile->NamedBy(path)) return false;
    context.registrationFile.reset();
    return true;
}

bool RecordingOn(AppContext& context) {
    MutexLock guard(context.plumbing.lock);
    return context.registrationFile != nullptr;
}

// Every read also narrows the clock's phase.
bool ReadConverterClock(AppContext& context, ClockRecord& clock) {
    const int64_t sent = SteadyMs();
    if (!detail::Transact(context, [&](KX305Handle* device) { KX305GetTime(device, &clock); })) return false;
    ObservePhase(context.worker->clockPhase, detail::WorkerDevice(context), sent, SteadyMs(),
                 ConverterMs(clock, CurrentUtcTime()));
    return true;
}

// Gives the download's turn back: the request stays in the slot for a
// later cycle, not running.
void PostponeRequest(AppContext& context) {
    MutexLock guard(context.plumbing.lock);
    context.plumbing.runningRequest = 0;
    context.plumbing.runningRequester = kNoRequester;
}

bool PhaseUsable(const AppContext& context) {
    return context.worker->clockPhase.known && context.worker->clockPhase.device == detail::WorkerDevice(context);
}

// At a short log period the download starts just after a log instant, so
// that what it brings is in the file and cleared before the next one.
// False when it is to wait for a later cycle (or the worker stops).
bool AwaitDownloadStart(AppContext& context) {
    const uint32_t period = context.worker->scheduledPeriod;
    if (period == 0 || period > kScheduledPeriodMax || !PhaseUsable(context)) return true;
    const int64_t periodMs = int64_t(period) * 1000;
    const int64_t now = SteadyMs();
    // The memory holds what the last download left and what was logged since.
    uint32_t expected = context.worker->downloadMayRepeatFile ? context.logBuffer.count : 0;
    if (context.worker->lastNewestMs != INT64_MIN) {
        const int64_t latest = now + PhaseUpper(context.worker->clockPhase, now);
        expected += static_cast<uint32_t>(std::max<int64_t>(0, (latest - context.worker->lastNewestMs) / periodMs));
    }
    const int64_t expectedMs = PredictTransferMs(context.worker->transferSamples, expected + 1);
    const int64_t maxWait = context.plumbing.timing.cyclePause.count();
    StartPlan plan =
        PlanDownloadStart(context.worker->clockPhase, now, periodMs, context.worker->lastNewestMs, expectedMs, maxWait);
    if (plan.kind == StartPlan::Go) return true;
    if (plan.kind == StartPlan::Postpone) {
        PostponeRequest(context);
        return false;
    }
    MutexLock guard(context.plumbing.lock);
    auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(plan.atMs - now);
    context.plumbing.wake.wait_until(guard.native(), until, [&] {
        context.plumbing.lock.AssertHeld();  // the wait holds it again
        return context.plumbing.stopping;
    });
    bool stillOurs = !context.plumbing.stopping && context.request == context.plumbing.runningRequest &&
                     context.requesterWindow == context.plumbing.runningRequester;
    if (!stillOurs) {
        context.plumbing.runningRequest = 0;
        context.plumbing.runningRequester = kNoRequester;
    }
    return stillOurs;
}

// What the download's timing teaches the next ones: the newest record and
// the period anchor the next start, and the interval between downloads is
// the longest that still lets one clear before the next instant.  Returns
// the interval (-1: no schedule keeps up).
int64_t LearnSchedule(AppContext& context, uint32_t period, const LogRecord* newest) {
    context.worker->scheduledPeriod = period;
    if (newest != nullptr) {
        int64_t newestMs = RecordMs(*newest);
        if (newestMs != INT64_MIN) context.worker->lastNewestMs = newestMs;
    }
    int64_t interval = 0;
    uint32_t recordingInterval;
    {
        MutexLock guard(context.plumbing.lock);
        recordingInterval = context.recordingInterval;
    }
    if (PhaseUsable(context)) {
        const int64_t now = SteadyMs();
        // The bounds narrow within a few cycles; the interval is chosen for
        // what they will be, while the clear goes by what they are.
        const ClockPhase& phase = context.worker->clockPhase;
        const int64_t width =
            std::min(PhaseUpper(phase, now) - PhaseLower(phase, now), kSettledPhaseWidthMs) + kInstantSlackMs;
        interval = KeepUpInterval(context.worker->transferSamples, period, recordingInterval, width);
    }
    MutexLock guard(context.plumbing.lock);
    context.downloadInterval = interval > 0 ? static_cast<uint32_t>(interval) : 0;
    return interval;
}

void ReportStoreFailure(AppContext& context) {
    detail::EventsOf(context).Failure(kNoWindow, AcquisitionFailure::RecordsNotStored);
}

// Firmware up to 1.12 empties its memory on a download.  Records that did
// not reach the file wait in the waiting file beside it (or, when that
// refuses them too, in the worker) and go first once it takes writes
// again; until then nothing more is downloaded, so the converter keeps the
// rest and what waits never outgrows one download.  True when nothing
// waits any more.
bool StoreWaitingRecords(AppContext& context, DownloadReport& report) {
    PendingOutcome pending = StorePendingRecords(context);
    report.written += pending.written;
    DownloadReport::Store result = pending.result;
    std::vector<LogRecord>& waiting = context.worker->waitingRecords;
    if (result == DownloadReport::Store::Stored && !waiting.empty()) {
        // The head may be in the file already: a waiting file cut back
        // after a failed write may have kept part of them.
        size_t known = 0;
        StoreOutcome outcome = StoreRecords(context, waiting.data(), waiting.size(), true, known);
        waiting.erase(waiting.begin(), waiting.begin() + static_cast<ptrdiff_t>(outcome.handled));
        report.written += outcome.written;
        result = outcome.result;
    }
    // Behind what the waiting file holds, in order.
    KeepWaitingRecordsOnDisk(context);
    if (result != DownloadReport::Store::Stored) {
        report.store = result;
        ReportStoreFailure(context);
    }
    // Records the file refused wait, in memory or moved into the waiting
    // file just now: a download now could put newer records before them.
    return result == DownloadReport::Store::Stored && waiting.empty() && !pending.waiting;
}

// Which converter a hand-over belongs to.
struct ConverterIdentity {
    uint16_t serialNumber;
    uint32_t version;
};

ConverterIdentity IdentityOf(AppContext& context) {
    MutexLock guard(context.plumbing.lock);
    return {context.info.serialNumber, KX305_FIRMWARE_VERSION(context.info.versionMajor, context.info.versionMinor)};
}

// Firmware up to 1.12: what the last GetLog tells about where the
// converter's memory began again, where it still holds.  A reconnection
// (after a GetLog that got no answer, or a cut-short one) keeps it when the
// same converter answers and the new clock reads fall within the bounds
// the old ones left: its schedule ran on, and the records it logged after
// that request are still either in its memory or taken by one the line
// swallowed.  A clock set by the program, or a period written, forgets it.
bool HandOverHolds(AppContext& context, uint32_t periodSeconds) {
    const PollingWorkerState::HandOver& last = context.worker->lastHandOver;
    if (!PhaseUsable(context) || last.periodSeconds != periodSeconds || last.arrivalEarliestMs == INT64_MIN) {
        return false;
    }
    if (last.device == detail::WorkerDevice(context)) return last.phaseSinceMs == context.worker->clockPhase.sinceMs;
    // Across a reconnection only after a GetLog that got no answer: a
    // converter that was switched off or unplugged meanwhile logged nothing,
    // and its silence must not count as records the line lost.
    if (!last.unanswered) return false;
    const ConverterIdentity identity = IdentityOf(context);
    return identity.serialNumber == last.serialNumber && identity.version == last.version &&
           ClockRanOn(last.phase, context.worker->clockPhase, SteadyMs());
}

int64_t PreviousNewest(AppContext& context, uint32_t periodSeconds) {
    return HandOverHolds(context, periodSeconds) ? context.worker->lastHandOver.newestMs : INT64_MIN;
}

ArrivalBounds PreviousArrival(AppContext& context, uint32_t periodSeconds) {
    ArrivalBounds previous;
    if (!HandOverHolds(context, periodSeconds)) return previous;
    const PollingWorkerState::HandOver& last = context.worker->lastHandOver;
    previous.earliestMs = last.arrivalEarliestMs;
    previous.latestMs = last.arrivalLatestMs;
    previous.likelyMs = last.arrivalLikelyMs;
    return previous;
}

// A GetLog that the converter answered emptied its memory as it arrived.
void RememberHandOver(AppContext& context, uint32_t periodSeconds, const ArrivalBounds& arrival, int64_t newestMs) {
    PollingWorkerState::HandOver& last = context.worker->lastHandOver;
    if (!PhaseUsable(context) || periodSeconds == 0 || !arrival.known()) {
        last = {};
        return;
    }
    const ConverterIdentity identity = IdentityOf(context);
    last = {detail::WorkerDevice(context),
            identity.serialNumber,
            identity.version,
            periodSeconds,
            context.worker->clockPhase.sinceMs,
            context.worker->clockPhase,
            arrival.earliestMs,
            arrival.latestMs,
            arrival.likelyMs,
            newestMs};
}

// Firmware up to 1.12: the GetLog is sent so that no log instant falls
// while it travels to the converter, so that the records it took and those
// logged after it are told apart exactly.
void HoldGetLog(AppContext& context, uint32_t periodSeconds) {
    if (periodSeconds == 0 || !PhaseUsable(context)) return;
    const int64_t now = SteadyMs();
    const int64_t hold = GetLogHoldMs(context.worker->clockPhase, now, int64_t(periodSeconds) * 1000,
                                      PreviousNewest(context, periodSeconds));
    if (hold <= 0) return;
    MutexLock guard(context.plumbing.lock);
    context.plumbing.wake.wait_for(guard.native(), std::chrono::milliseconds(hold), [&] {
        context.plumbing.lock.AssertHeld();  // the wait holds it again
        return context.plumbing.stopping;
    });
}

int DownloadLog(AppContext& context) {
    uint16_t firmware;
    {
        MutexLock guard(context.plumbing.lock);
        firmware = KX305_FIRMWARE_VERSION(context.info.versionMajor, context.info.versionMinor);
    }
    AcquisitionEvents& events = detail::EventsOf(context);
    DownloadReport report;
    auto finish = [&](int result) {
        report.waiting = context.worker->waitingRecords.size();
        {
            // The records of a GetLog transfer are stored: a stop need wait no longer.
            MutexLock guard(context.plumbing.lock);
            context.plumbing.logTransferMustFinish = false;
        }
        FinishRequest(context);
        events.DownloadFinished(detail::MainWindow(context), report);
        return result;
    };
    if (!RecordingOn(context)) {
        // Nothing to store into: leave the records in the converter (a
        // download before firmware 1.13 would empty its memory).
        report.store = DownloadReport::Store::NoFile;
        ReportStoreFailure(context);
        return finish(1);
    }
    bool peek = firmware >= KX305_FIRMWARE_KEEPS_LOG;
    if (peek && !AwaitDownloadStart(context)) return 1;
    const int64_t started = SteadyMs();
    WindowRef window = detail::MainWindow(context);
    events.DownloadStarted(window);
    if (!StoreWaitingRecords(context, report)) return finish(1);

    auto fileGone = [&] {
        report.store = DownloadReport::Store::FileGone;
        ReportStoreFailure(context);
        return finish(1);
    };
    // Firmware up to 1.12 hands its memory over on the request: not into a
    // file that is gone.
    if (!peek && RegistrationFileGone(context)) return fileGone();
    // Where the converter's logging stands before the transfer: what it
    // stores from now on is not in this download.
    PollingWorkerState::Transaction& t = context.worker->transaction;
    t.logPeriod = 0;
    bool periodRead = detail::Transact(context, [&](KX305Handle* device) { KX305GetLogPeriod(device, &t.logPeriod); });
    if (!periodRead || (peek && !ReadConverterClock(context, t.transferStart))) {
        ReportProgress(context, 0);
        return finish(0);
    }
    // Up to firmware 1.01 the period is in minutes.
    const uint32_t periodSeconds = firmware <= KX305_FIRMWARE_VERSION(1, 1) ? uint32_t{t.logPeriod} * 60 : t.logPeriod;
    if (!peek) HoldGetLog(context, periodSeconds);
    const int64_t snapshot = SteadyMs();
    Transfer transfer = TransferLog(context, peek);
    const int64_t transferEnded = SteadyMs();
    ReportProgress(context, 0);
    if (transfer.result == Transfer::Failed) {
        // Whether the converter took the request is not known; the last
        // GetLog it answered still tells where its memory began, so the
        // next download counts what this one may have taken.
        if (!peek && transfer.resent) context.worker->lastHandOver.unanswered = true;
        if (!RecordingOn(context)) {
            report.store = DownloadReport::Store::NoFile;
            ReportStoreFailure(context);
        }
        return finish(0);
    }

    const LogRecord* records = context.logBuffer.records;
    size_t count = context.logBuffer.count;
    report.transferred = true;
    report.received = count;
    if (!peek) {
        // The records that arrived, the period and the clock tell how many
        // the line took, also where the count frame was lost.
        LossEvidence evidence;
        evidence.periodMs = int64_t(periodSeconds) * 1000;
        if (PhaseUsable(context)) {
            evidence.arrival =
                RequestArrival(context.worker->clockPhase, std::max(snapshot, transfer.lastTryMs), transferEnded);
        }
        evidence.previous = PreviousArrival(context, periodSeconds);
        evidence.previousNewestMs = PreviousNewest(context, periodSeconds);
        int64_t newest = count > 0 ? RecordMs(records[count - 1]) : evidence.previousNewestMs;
        if (transfer.result == Transfer::CutShort) {
            LossInference inferred = InferLostRecords(records, count, evidence);
            if (transfer.lost != KX305_LOG_LOST_UNKNOWN) {
                report.lost = transfer.lost;
                // Where the lost ones were is known only when the count agrees.
                newest =
                    inferred.known && inferred.exact && inferred.lost == transfer.lost ? inferred.newestMs : INT64_MIN;
            } else if (inferred.known) {
                report.lost = inferred.lost;
                newest = inferred.newestMs;
            } else {
                report.lostUnknown = true;
                newest = INT64_MIN;
            }
        } else {
            // A try that got no answer at all was sent again (in this
            // transfer, or in the one that failed before a reconnection):
            // whatever the converter handed over to it never arrived.  A
            // complete transfer without one has nothing to count: a gap
            // before its first record is time the converter did not log
            // (a full memory stores nothing more).
            evidence.complete = true;
            const bool unanswered =
                transfer.resent || context.worker->lastHandOver.device != detail::WorkerDevice(context);
            LossInference inferred = InferLostRecords(records, count, evidence);
            if (unanswered && inferred.known && inferred.lost > 0) {
                if (inferred.exact) {
                    report.lost = inferred.lost;
                } else {
                    report.lostUnknown = true;
                }
            }
            if (count == 0 && inferred.known) newest = inferred.newestMs;
        }
        RememberHandOver(context, periodSeconds, evidence.arrival, newest);
    }
    size_t alreadyInFile = 0;
    StoreOutcome stored =
        StoreRecords(context, records, count, peek && context.worker->downloadMayRepeatFile, alreadyInFile);
    report.alreadyInFile = alreadyInFile;
    report.written += stored.written;
    report.store = stored.result;
    if (stored.result != DownloadReport::Store::Stored) ReportStoreFailure(context);
    if (!peek) {
        // The converter has let go of them: what the file did not take waits here.
        if (stored.result == DownloadReport::Store::WriteFailed || stored.result == DownloadReport::Store::NoFile) {
            context.worker->waitingRecords.assign(records + stored.handled, records + count);
            KeepWaitingRecordsOnDisk(context);
        }
        // A transfer cut short failed on the line: the connection is reopened.
        return finish(transfer.result == Transfer::Complete ? 1 : 0);
    }

    // The converter's copy goes only when every record is in the file and
    // no record was stored since the transfer began; otherwise the next
    // download brings them again and the file's tail tells which it has.
    if (count == 0) {
        report.clear = DownloadReport::Clear::NothingToClear;
        context.worker->downloadMayRepeatFile = false;
        AddTransferSample(context.worker->transferSamples, 0, SteadyMs() - started);
        LearnSchedule(context, t.logPeriod, nullptr);
        return finish(1);
    }
    context.worker->downloadMayRepeatFile = true;
    if (stored.result != DownloadReport::Store::Stored) {
        report.clear = DownloadReport::Clear::NotAllStored;
        return finish(1);
    }
    AddTransferSample(context.worker->transferSamples, static_cast<uint32_t>(count), SteadyMs() - started);
    const int64_t keepUp = LearnSchedule(context, t.logPeriod, &records[count - 1]);
    PhaseVerdict byPhase = PhaseUsable(context) ? ClearByPhase(context.worker->clockPhase, RecordMs(records[count - 1]),
                                                               int64_t(t.logPeriod) * 1000, snapshot, SteadyMs())
                                                : PhaseVerdict::Unknown;
    if (byPhase == PhaseVerdict::Clear || byPhase == PhaseVerdict::ClearFull) {
        report.clear = DownloadReport::Clear::Cleared;
        report.memoryFull = byPhase == PhaseVerdict::ClearFull;
    } else if (byPhase == PhaseVerdict::Keep) {
        report.clear = keepUp < 0 ? DownloadReport::Clear::TransferLongerThanLogPeriod
                                  : DownloadReport::Clear::LoggedDuringTransfer;
    } else {
        // Without the clock's phase: whole seconds read around the transfer.
        if (!ReadConverterClock(context, t.transferEnd)) return finish(0);
        report.clear = ClearVerdict(t.transferStart, t.transferEnd, t.logPeriod, records[count - 1], CurrentUtcTime());
    }
    if (report.clear != DownloadReport::Clear::Cleared) return finish(1);
    if (RegistrationFileGone(context)) {
        report.clear = DownloadReport::Clear::NotAsked;
        return fileGone();
    }
    if (!detail::Transact(context, [](KX305Handle* device) { KX305ClearLog(device); })) {
        report.clear = DownloadReport::Clear::ClearFailed;
        return finish(0);
    }
    context.worker->downloadMayRepeatFile = false;
    return finish(1);
}

}  // namespace

int RunDeviceRequest(AppContext& context) {
    DeviceRequest request;
    {
        MutexLock guard(context.plumbing.lock);
        request = context.request;
        if (request == 0) return 1;
        context.plumbing.runningRequest = request;
        context.plumbing.runningRequester = context.requesterWindow;
    }
    switch (RequestOperation(request)) {
    case kOpSyncClock:
        return SetConverterClock(context, ComputerClockUtc());
    case kOpSetClock: {
        ClockRecord clock;
        {
            MutexLock guard(context.plumbing.lock);
            clock = context.setTimeClock;
        }
        return SetConverterClock(context, clock);
    }
    case kOpReadLogPeriod:
        return ReadLogPeriod(context);
    case kOpWriteLogPeriod:
        return WriteLogPeriod(context, static_cast<uint16_t>(RequestParameter(request)));
    case kOpDownloadLog:
        return DownloadLog(context);
    case kOpResetRain:
        return ResetRainCounter(context);
    default:
        FinishRequest(context);
        return 1;
    }
}

}  // namespace kx305mon
