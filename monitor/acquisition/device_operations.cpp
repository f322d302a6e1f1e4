#include "acquisition/device_operations.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "acquisition/events.h"
#include "acquisition/internal.h"
#include "acquisition/log_schedule.h"
#include "acquisition/pending_records.h"
#include "acquisition/polling_worker.h"
#include "instruments/calendar_time.h"
#include "recording/local_time.h"
#include "recording/registration_file.h"

namespace kx305mon {

namespace {

// Ends the running request and returns its requester, who is told the
// outcome; none when the request was withdrawn.  A request placed over the
// running one stays in the slot for the next cycle.
WindowRef FinishRequest(AppContext& context) {
    WindowRef target = kNoWindow;
    {
        std::lock_guard<std::mutex> guard(context.lock);
        if (context.request == context.runningRequest &&
            context.requesterWindow == context.runningRequester) {
            target = context.requesterWindow;
            context.request = 0;
        } else if (context.request != 0) {
            target = context.runningRequester;
        }
        context.runningRequest = 0;
        context.runningRequester = kNoWindow;
    }
    return target;
}

// True while nobody has withdrawn or displaced the running request.
bool StillRequested(AppContext& context) {
    std::lock_guard<std::mutex> guard(context.lock);
    return context.request == context.runningRequest &&
           context.requesterWindow == context.runningRequester;
}

int SetConverterClock(AppContext& context, const ClockRecord& clock) {
    context.transaction.clockToSet = clock;
    KX305SetTime(&context.device, &context.transaction.clockToSet);
    int ok = WaitDone(&context.device);
    WindowRef requester = FinishRequest(context);
    if (requester != kNoWindow) detail::EventsOf(context).ClockSet(requester, ok == 1);
    return ok;
}

ClockRecord ComputerClockUtc() {
    return ClockFromCalendar(CurrentUtcTime());
}

int ReadLogPeriod(AppContext& context) {
    context.transaction.period = 0;
    KX305GetLogPeriod(&context.device, &context.transaction.period);
    int ok = WaitDone(&context.device);
    WindowRef dialog = FinishRequest(context);
    if (ok && dialog != kNoWindow) detail::EventsOf(context).LogPeriodRead(dialog, context.transaction.period);
    return ok;
}

int WriteLogPeriod(AppContext& context, uint16_t seconds) {
    context.transaction.period = seconds;
    KX305SetLogPeriod(&context.device, &context.transaction.period);
    int ok = WaitDone(&context.device);
    {
        // The interval is in force, whatever the outcome, before the dialog
        // hears of the write, so nothing that reacts to the notice sees the old one.
        std::lock_guard<std::mutex> guard(context.lock);
        context.recordingInterval = std::max<uint32_t>(seconds, context.timing.minimumRecordingInterval);
    }
    WindowRef requester = FinishRequest(context);
    if (requester != kNoWindow) detail::EventsOf(context).LogPeriodWritten(requester, ok == 1);
    return ok;
}

int ResetRainCounter(AppContext& context) {
    KX305ResetRainCounter(&context.device);
    int ok = WaitDone(&context.device);
    FinishRequest(context);
    return ok;
}

// --- download of the logging memory ---

// The records as the registration file stores them, encoded before the
// lock is taken.
std::vector<std::string> StoredForms(const LogRecord* records, size_t count) {
    std::vector<std::string> stored(count);
    for (size_t i = 0; i < count; ++i) EncodeRegistrationRecord(records[i], stored[i]);
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
    std::lock_guard<std::mutex> guard(context.lock);
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

// Runs the download transaction, reporting progress; false when it failed
// or was cancelled by a withdrawn or displaced request.
bool TransferLog(AppContext& context, bool peek) {
    context.logBuffer = {};
    if (peek) {
        KX305PeekLog(&context.device, &context.logBuffer);
    } else {
        KX305GetLog(&context.device, &context.logBuffer);
    }
    KX305Status status;
    for (;;) {
        uint32_t progress = 0;
        status = KX305DoneWait(&context.device, &progress);
        if (status == KX305_STATUS_PROGRESS) ReportProgress(context, progress);
        if (status != KX305_STATUS_BUSY && status != KX305_STATUS_PROGRESS) break;
        if (!StillRequested(context)) return false;
    }
    return status == KX305_STATUS_OK;
}

bool RecordingOn(AppContext& context) {
    std::lock_guard<std::mutex> guard(context.lock);
    return context.registrationFile != nullptr;
}

bool ReadConverterClock(AppContext& context, ClockRecord& clock) {
    KX305GetTime(&context.device, &clock);
    return WaitDone(&context.device) == 1;
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
    std::vector<LogRecord>& waiting = context.waitingRecords;
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
    return waiting.empty() && !pending.waiting;
}

int DownloadLog(AppContext& context) {
    uint32_t version;
    {
        std::lock_guard<std::mutex> guard(context.lock);
        version = context.info.versionMajor * 100u + context.info.versionMinor;
    }
    AcquisitionEvents& events = detail::EventsOf(context);
    DownloadReport report;
    auto finish = [&](int result) {
        report.waiting = context.waitingRecords.size();
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
    WindowRef window = detail::MainWindow(context);
    events.DownloadStarted(window);
    if (!StoreWaitingRecords(context, report)) return finish(1);

    bool peek = version >= kPeekLogVersion;
    // Where the converter's logging stands before the transfer: what it
    // stores from now on is not in this download.
    AppContext::Transaction& t = context.transaction;
    if (peek) {
        t.logPeriod = 0;
        KX305GetLogPeriod(&context.device, &t.logPeriod);
        if (WaitDone(&context.device) != 1 || !ReadConverterClock(context, t.transferStart)) {
            ReportProgress(context, 0);
            return finish(0);
        }
    }
    bool downloaded = TransferLog(context, peek);
    ReportProgress(context, 0);
    if (!downloaded) {
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
    size_t alreadyInFile = 0;
    StoreOutcome stored = StoreRecords(context, records, count, peek && context.downloadMayRepeatFile, alreadyInFile);
    report.alreadyInFile = alreadyInFile;
    report.written += stored.written;
    report.store = stored.result;
    if (stored.result != DownloadReport::Store::Stored) ReportStoreFailure(context);
    if (!peek) {
        // The converter has let go of them: what the file did not take waits here.
        if (stored.result == DownloadReport::Store::WriteFailed ||
            stored.result == DownloadReport::Store::NoFile) {
            context.waitingRecords.assign(records + stored.handled, records + count);
            KeepWaitingRecordsOnDisk(context);
        }
        return finish(1);
    }

    // The converter's copy goes only when every record is in the file and
    // no record was stored since the transfer began; otherwise the next
    // download brings them again and the file's tail tells which it has.
    if (count == 0) {
        report.clear = DownloadReport::Clear::NothingToClear;
        context.downloadMayRepeatFile = false;
        return finish(1);
    }
    context.downloadMayRepeatFile = true;
    if (stored.result != DownloadReport::Store::Stored) {
        report.clear = DownloadReport::Clear::NotAllStored;
        return finish(1);
    }
    if (!ReadConverterClock(context, t.transferEnd)) return finish(0);
    report.clear = ClearVerdict(t.transferStart, t.transferEnd, t.logPeriod, records[count - 1], CurrentUtcTime());
    if (report.clear != DownloadReport::Clear::Cleared) return finish(1);
    KX305ClearLog(&context.device);
    if (WaitDone(&context.device) != 1) {
        report.clear = DownloadReport::Clear::ClearFailed;
        return finish(0);
    }
    context.downloadMayRepeatFile = false;
    return finish(1);
}

}  // namespace

int RunDeviceRequest(AppContext& context) {
    DeviceRequest request;
    {
        std::lock_guard<std::mutex> guard(context.lock);
        request = context.request;
        if (request == 0) return 1;
        context.runningRequest = request;
        context.runningRequester = context.requesterWindow;
    }
    switch (RequestOperation(request)) {
    case kOpSyncClock:
        return SetConverterClock(context, ComputerClockUtc());
    case kOpSetClock: {
        ClockRecord clock;
        {
            std::lock_guard<std::mutex> guard(context.lock);
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
