// How a headless recording judges what the acquisition reports: the counts
// of its downloads and records, what it tells on the way, and its end.
#pragma once

#include <cstdint>
#include <string>

#include "device_session.h"
#include "session.h"

namespace kx305cli {

struct RecordingState {
    int completed = 0;                // downloads whose records are all in the file
    int failed = 0;                   // downloads that broke off or could not be stored
    bool lastFailed = false;          // the latest download failed
    bool storeFailed = false;         // the file refused records at least once
    uint64_t records = 0;             // records written
    uint64_t recordsLost = 0;         // records the converter handed over that never arrived
    bool recordsLostUnknown = false;  // and more whose number is not known
    bool fileGone = false;            // the registration file is no longer the one its path names
    bool neverClearedTold = false;
    int reconnections = 0;
    bool connected = false;
    bool lost = false;
    bool downloading = false;
};

// Keeps the counts of a recording up to date with one event.  True when
// the event ended a download.
bool TrackRecording(RecordingState& state, const Event& event, const std::string& file, const std::string& port);

// Tracks one event of a recording and tells the observer.  True when the
// event ended a download.
bool TrackAndTell(RecordingState& state, const Event& event, const std::string& file, const std::string& port,
                  kx305mon::AppContext& context, RecordingObserver* observer);

std::string RecordingSummary(const RecordingState& state);

// After the first stop signal.  A GetLog download that has begun
// (firmware up to 1.12 let go of its records as it was asked) is finished
// and stored first; a second signal ends the program at once.  Any other
// transaction is broken off as the worker stops.
void FinishRunningDownload(Session& session, RecordingState& state, const std::string& file);

}  // namespace kx305cli
