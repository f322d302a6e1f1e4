#include "acquisition/device_operations.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "acquisition/internal.h"
#include "acquisition/notifier.h"
#include "acquisition/polling_worker.h"
#include "recording/local_time.h"
#include "recording/registration_file.h"
#include "resources/messages.h"

namespace kx305mon {

namespace {

// Ends the running request.  Its requester gets `message` (unless it is 0)
// and is returned, so that operation 2 can fill in its dialog; none when the
// request was withdrawn.  A request placed over the running one stays in the
// slot for the next cycle.
WindowRef FinishRequest(AppContext& context, uint32_t message, uintptr_t wParam) {
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
    if (target != kNoWindow && message != 0) {
        detail::NotifierOf(context).Post(target, message, wParam, 0);
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
    FinishRequest(context, WMU_TIME_SET, static_cast<uintptr_t>(ok));
    return ok;
}

ClockRecord ComputerClockUtc() {
    CalendarTime now = CurrentUtcTime();
    ClockRecord clock;
    clock.month = static_cast<uint8_t>(now.month);
    clock.day = static_cast<uint8_t>(now.day);
    clock.hour = static_cast<uint8_t>(now.hour);
    clock.minute = static_cast<uint8_t>(now.minute);
    clock.second = static_cast<uint8_t>(now.second);
    return clock;
}

int ReadLogPeriod(AppContext& context) {
    context.transaction.period = 0;
    KX305GetLogPeriod(&context.device, &context.transaction.period);
    int ok = WaitDone(&context.device);
    WindowRef dialog = FinishRequest(context, 0, 0);
    if (ok && dialog != kNoWindow) {
        AcquisitionNotifier& notifier = detail::NotifierOf(context);
        notifier.SetControlNumber(dialog, kIdIntervalEdit, context.transaction.period);
        notifier.EnableControl(dialog, kIdIntervalEdit, true);
        notifier.EnableControl(dialog, kIdIntervalOk, true);
    }
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
    FinishRequest(context, WMU_PERIOD_SET, static_cast<uintptr_t>(ok));
    return ok;
}

int ResetRainCounter(AppContext& context) {
    KX305ResetRainCounter(&context.device);
    int ok = WaitDone(&context.device);
    FinishRequest(context, 0, 0);
    return ok;
}

// --- download of the logging memory ---

// The same record of the converter's memory: time stamp and every reading.
// (Whole records are compared; a new clock setting can repeat a time stamp
// with other readings, and such a record is new.)
bool SameRecord(const LogRecord& a, const LogRecord& b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

// How many records at the head of this download the registration file
// already has: the longest tail of `written` that the download starts with.
// (The converter keeps its records in order; when it is full it drops the
// oldest, so the head may begin inside the remembered run.)
size_t AlreadyWrittenHead(const std::vector<LogRecord>& written, const LogRecord* records,
                          size_t count) {
    size_t longest = std::min(written.size(), count);
    for (size_t overlap = longest; overlap > 0; --overlap) {
        size_t start = written.size() - overlap;
        bool same = true;
        for (size_t i = 0; i < overlap && same; ++i) same = SameRecord(written[start + i], records[i]);
        if (same) return overlap;
    }
    return 0;
}

// Collects one record's bytes so that it reaches the registration file in
// one write: a failing file then holds whole records only, and a reader
// never meets a torn record that would hide the next good one.
class RecordBuffer final : public FileStream {
public:
    bool Write(const void* data, size_t size) override {
        bytes_.append(static_cast<const char*>(data), size);
        return true;
    }
    long Read(void*, size_t) override { return -1; }
    bool SeekToStart() override { return false; }
    bool SeekToEnd() override { return true; }
    bool Truncate() override { return false; }
    bool Flush() override { return true; }
    int64_t Size() override { return static_cast<int64_t>(bytes_.size()); }

    void Clear() { bytes_.clear(); }
    const std::string& bytes() const { return bytes_; }

private:
    std::string bytes_;
};

enum class StoreResult { Stored, NoFile, WriteFailed, FlushFailed };

struct StoreOutcome {
    StoreResult result;
    // Records from the head of the download that are in the file now
    // (already there, written, or passed over).
    size_t handled;
};

// Appends the downloaded records that the file does not have yet and flushes
// it, all under the lock: the viewer moves the same file position.
StoreOutcome StoreRecords(AppContext& context, size_t skip) {
    const LogRecord* records = context.logBuffer.records;
    size_t count = context.logBuffer.count;
    std::lock_guard<std::mutex> guard(context.lock);
    // Closed during the transfer: the file has no more of them than before.
    if (!context.registrationFile) return {StoreResult::NoFile, skip};
    FileStream& file = *context.registrationFile;
    RecordBuffer record;
    size_t handled = skip;
    bool written = true;
    for (; handled < count; ++handled) {
        record.Clear();
        // A record whose UTC time has no local time stamp cannot be stored;
        // it is passed over rather than blocking every later download (the
        // converter would deliver it again each time).
        if (!WriteRegistrationRecord(record, records[handled])) continue;
        if (!file.Write(record.bytes().data(), record.bytes().size())) {
            written = false;
            break;
        }
    }
    bool flushed = file.Flush();
    if (!written) return {StoreResult::WriteFailed, handled};
    if (!flushed) return {StoreResult::FlushFailed, handled};
    return {StoreResult::Stored, handled};
}

// Runs the download transaction, reporting progress; false when it failed
// or was cancelled by a withdrawn or displaced request.
bool TransferLog(AppContext& context, bool peek) {
    WindowRef window = detail::MainWindow(context);
    if (window != kNoWindow) detail::NotifierOf(context).ShowControl(window, kIdRecordingText, true);
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
        if (status == KX305_STATUS_PROGRESS) detail::PostToMain(context, WMU_PROGRESS, progress);
        if (status != KX305_STATUS_BUSY && status != KX305_STATUS_PROGRESS) break;
        if (!StillRequested(context)) return false;
    }
    return status == KX305_STATUS_OK;
}

bool RecordingOn(AppContext& context) {
    std::lock_guard<std::mutex> guard(context.lock);
    return context.registrationFile != nullptr;
}

int DownloadLog(AppContext& context) {
    uint32_t version;
    uint16_t serial;
    {
        std::lock_guard<std::mutex> guard(context.lock);
        version = context.info.versionMajor * 100u + context.info.versionMinor;
        serial = context.info.serialNumber;
    }
    AcquisitionNotifier& notifier = detail::NotifierOf(context);
    if (!RecordingOn(context)) {
        // Nothing to store into: leave the records in the converter (a
        // download before firmware 1.13 would empty its memory).
        notifier.ShowMessage(kNoWindow, messages::kExportFailed, MessageIcon::Exclamation);
        FinishRequest(context, 0, 0);
        return 1;
    }

    bool peek = version >= kPeekLogVersion;
    bool downloaded = TransferLog(context, peek);
    detail::PostToMain(context, WMU_PROGRESS, 0);

    int result = downloaded ? 1 : 0;
    if (downloaded) {
        const LogRecord* records = context.logBuffer.records;
        size_t count = context.logBuffer.count;
        std::vector<LogRecord>& uncleared = context.unclearedRecords;
        if (!peek || context.unclearedSerial != serial) uncleared.clear();
        size_t skip = peek ? AlreadyWrittenHead(uncleared, records, count) : 0;

        StoreOutcome stored = StoreRecords(context, skip);
        if (stored.result != StoreResult::Stored) {
            notifier.ShowMessage(kNoWindow, messages::kExportFailed, MessageIcon::Exclamation);
        }
        if (peek) {
            // Until the clear has been confirmed the converter delivers the
            // handled records again at the head of the next download.
            uncleared.assign(records, records + stored.handled);
            context.unclearedSerial = serial;
            // The converter's copy goes only when every record is safely in
            // the file; after anything less the next download brings them.
            if (stored.result == StoreResult::Stored && count > 0) {
                KX305ClearLog(&context.device);
                if (WaitDone(&context.device) == 1) {
                    uncleared.clear();
                } else {
                    result = 0;
                }
            } else if (stored.result == StoreResult::Stored) {
                uncleared.clear();
            }
        }
    } else if (!RecordingOn(context)) {
        notifier.ShowMessage(kNoWindow, messages::kExportFailed, MessageIcon::Exclamation);
    }

    FinishRequest(context, 0, 0);
    WindowRef window = detail::MainWindow(context);
    if (window != kNoWindow) notifier.ShowControl(window, kIdRecordingText, false);
    return result;
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
        FinishRequest(context, 0, 0);
        return 1;
    }
}

}  // namespace kx305mon
