#include "device_session.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>

#include "acquisition/app_context.h"
#include "acquisition/pending_records.h"
#include "acquisition/polling_worker.h"
#include "console.h"
#include "file_checks.h"
#include "instruments/catalogue.h"
#include "operations.h"
#include "recording.h"
#include "recording/file.h"
#include "recording/registration_file.h"
#include "session.h"
#include "shell/display_text.h"
#include "stop_signals.h"
#include "time/calendar_time.h"
#include "time/local_time.h"
#include "watched_file.h"

namespace kx305cli {

using namespace kx305mon;

namespace {

std::string Format(const char* format, int a, int b, int c) {
    char text[64];
    std::snprintf(text, sizeof text, format, a, b, c);
    return text;
}

int SetClock(const DeviceOptions& options, uint32_t operation, const ClockRecord* clock) {
    Session session(options);
    if (int result = Connect(session); result != kExitOk) return result;
    if (clock != nullptr) {
        MutexLock guard(session.context.plumbing.lock);
        session.context.setTimeClock = *clock;
    }
    const OperationResult result = RunOperation(session, operation, 0);
    const int exitCode = OperationExit(session, result.outcome, "the converter clock could not be set");
    if (exitCode == kExitOk) Console::Out("Converter clock set.\n");
    return exitCode;
}

std::string OpenFailureReason(int error) {
    if (error == EWOULDBLOCK) return "in use by another program";
    return SystemReason(error);
}

}  // namespace

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
    {
        MutexLock guard(session.context.plumbing.lock);
        std::memcpy(session.context.registrationPath, record.file.c_str(), record.file.size() + 1);
    }
    session.Watch(watched->lastError());
    const std::string pendingPath = PendingRecordsPath(record.file);
    {
        MutexLock guard(session.context.plumbing.lock);
        session.context.registrationFile = std::move(watched);
        session.context.pendingRecordsPath = pendingPath;
        session.context.recordingInterval = std::max<uint32_t>(record.interval, 20);
    }
    auto closeFile = [&session] {
        MutexLock guard(session.context.plumbing.lock);
        session.context.registrationFile.reset();
    };
    // A file made for a recording that never began does not stay behind.
    auto abandon = [&](int result) {
        closeFile();
        if (!existed) unlink(record.file.c_str());
        return result;
    };
    if (StopRequested()) return abandon(kExitInterrupted);
    if (int result = session.Start(); result != kExitOk) return abandon(result);

    RecordingState state;
    const Clock::time_point connectDeadline = session.Deadline();
    // The duration is finite and at most ten years (checked when parsed).
    const Clock::time_point end = record.durationSeconds > 0
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
        PlaceRequest(session.context, kNoRequester, kOpDownloadLog, 0);
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
    closeFile();
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
                       pendingPath + " and " + (pending == 1 ? "is" : "are") + " written first when recording resumes");
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
