#include "recording.h"

#include <cstdio>
#include <cstdlib>
#include <mutex>

#include "acquisition/polling_worker.h"
#include "console.h"
#include "resources/messages.h"
#include "stop_signals.h"

namespace kx305cli {

using namespace kx305mon;

namespace {

void ShowRecordingProgress(const RecordingState& state, const std::string& file, int percent) {
    if (state.downloading) {
        Console::Progress("Downloading the logging memory: " + std::to_string(percent) + "%");
    } else {
        Console::Progress("Recording into " + file + " (downloads: " + std::to_string(state.completed) + ")");
    }
}

// Judges a download from the worker's report of it.
void JudgeDownload(RecordingState& state, const Event& event, const std::string& file, const std::string& port) {
    const DownloadReport& report = event.download;
    // Written records count also when the download failed later on (a
    // held-back record written before the transfer, the head of a download
    // before a full disk).
    state.records += report.written;
    if (report.clear == DownloadReport::Clear::TransferLongerThanLogPeriod && !state.neverClearedTold) {
        state.neverClearedTold = true;
        Console::Error(port,
                       "a download takes longer than the log interval, so the logging memory is never cleared "
                       "(a clear would erase a record not yet downloaded) and fills up; lengthen the log interval");
    }
    const bool lostOnLine = report.lost > 0 || report.lostUnknown;
    if (lostOnLine) {
        state.recordsLost += report.lost;
        state.recordsLostUnknown = state.recordsLostUnknown || report.lostUnknown;
        if (report.lostUnknown) {
            Console::Error(port, "records were lost on the line; how many is unknown");
        } else {
            Console::Error(port, std::to_string(report.lost) + (report.lost == 1 ? " record was lost on the line"
                                                                                 : " records were lost on the line"));
        }
    }
    const char* failure = nullptr;
    switch (report.store) {
    case DownloadReport::Store::Stored:
        break;
    case DownloadReport::Store::FileGone:
        state.fileGone = true;
        Console::Error(file,
                       "the registration file was deleted, renamed or unmounted; the converter keeps its records");
        ++state.failed;
        return;
    case DownloadReport::Store::WriteFailed:
        failure = "the records cannot be written";
        break;
    case DownloadReport::Store::FlushFailed:
        failure = "the records cannot be saved to the disk";
        break;
    case DownloadReport::Store::NoFile:
        failure = "the registration file is closed";
        break;
    }
    if (failure != nullptr) {
        state.storeFailed = true;
        std::string text = failure;
        if (report.store != DownloadReport::Store::NoFile) text += " (" + SystemReason(event.fileError) + ")";
        Console::Error(file, text);
    } else if (!report.transferred) {
        // The converter keeps what it had: the transfer never began, or it
        // was a peek (firmware 1.13 and later).
        Console::Error(port, "the download of the logging memory broke off");
    } else if (lostOnLine) {
        // What arrived is in the file; the rest exists nowhere.
        ++state.failed;
        state.lastFailed = false;
        return;
    } else {
        ++state.completed;
        state.lastFailed = false;
        return;
    }
    ++state.failed;
    state.lastFailed = true;
}

}  // namespace

bool TrackRecording(RecordingState& state, const Event& event, const std::string& file, const std::string& port) {
    switch (event.kind) {
    case Event::Progress:
        // The last progress of a transfer is 0.
        if (event.value > 0 && state.downloading) ShowRecordingProgress(state, file, static_cast<int>(event.value));
        return false;
    case Event::DownloadStarted:
        state.downloading = true;
        ShowRecordingProgress(state, file, 0);
        return false;
    case Event::Download:
        // The last event of every download request.
        state.downloading = false;
        JudgeDownload(state, event, file, port);
        ShowRecordingProgress(state, file, 0);
        return true;
    case Event::Failure:
        // A refused record is told with its reason when the download ends.
        if (event.failure == AcquisitionFailure::RecordsNotStored) return false;
        Console::Error(file, messages::kPortInUse);
        return false;
    case Event::Display:
        if (event.connected) {
            if (state.lost) {
                ++state.reconnections;
                Console::Error(port, "connection restored");
            }
            state.connected = true;
            state.lost = false;
        } else if (state.connected && !state.lost) {
            state.lost = true;
            state.downloading = false;
            Console::Error(port, "connection lost, reconnecting");
        }
        return false;
    case Event::CycleDone:
    case Event::Answer:
    case Event::PeriodRead:
        return false;
    }
    return false;
}

bool TrackAndTell(RecordingState& state, const Event& event, const std::string& file, const std::string& port,
                  AppContext& context, RecordingObserver* observer) {
    const bool downloadEnded = TrackRecording(state, event, file, port);
    if (observer != nullptr) {
        if (downloadEnded) {
            observer->DownloadEnded();
        } else if (event.kind == Event::CycleDone && state.connected && !state.lost) {
            observer->Cycle(context);
        }
    }
    return downloadEnded;
}

std::string RecordingSummary(const RecordingState& state) {
    std::string summary = "Records written: " + std::to_string(state.records) + "\n";
    summary += "Records lost: " + std::to_string(state.recordsLost) + "\n";
    summary += "Downloads: " + std::to_string(state.completed) + "\n";
    summary += "Failed downloads: " + std::to_string(state.failed) + "\n";
    summary += "Reconnections: " + std::to_string(state.reconnections) + "\n";
    return summary;
}

void FinishRunningDownload(Session& session, RecordingState& state, const std::string& file) {
    g_finishing = 1;
    SignalStop(session.context);
    if (!LogTransferMustFinish(session.context)) {
        g_finishing = 0;
        return;
    }
    Console::Error(session.port(),
                   "finishing the running download of the logging memory before stopping (Ctrl-C again stops at "
                   "once)");
    Event event;
    while (LogTransferMustFinish(session.context)) {
        switch (session.Next(event, Clock::now() + kWaitSlice, 1)) {
        case WaitResult::Event:
            if (event.kind == Event::Download) TrackRecording(state, event, file, session.port());
            break;
        case WaitResult::Timeout:
            break;
        case WaitResult::Interrupted: {
            // Nothing half-written stays behind: a write burst holds the lock.
            session.context.plumbing.lock.lock();
            Console::Progress("");
            Console::Error(session.port(),
                           "stopped at once: the records of the running download are lost (the converter no "
                           "longer holds them)");
            Console::Out(RecordingSummary(state));
            std::fflush(stdout);
            std::fflush(stderr);
            std::_Exit(kExitInterrupted);
        }
        }
    }
    g_finishing = 0;
}

}  // namespace kx305cli
