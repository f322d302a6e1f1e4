// Records waiting to be stored: firmware up to 1.12 hands its records over
// on a download (emptying its memory), so what the registration file
// refuses then (a full disk, a file size limit) exists nowhere else.  Such
// records go at once to a file beside the registration file, in its own
// format (the registration path with ".pending" appended, e.g.
// pomiary.kxg.pending), and are appended to the registration file before
// anything downloaded later.  Only when that file refuses them too do they
// stay in the worker's memory, and then they are lost with the program.
#pragma once

#include <cstddef>
#include <string>

#include "acquisition/app_context.h"
#include "acquisition/events.h"

namespace kx305mon {

// The waiting file of the registration file at `registrationPath`.
std::string PendingRecordsPath(const std::string& registrationPath);

// The waiting file of the registration file in use; empty when no path is
// known (then nothing is kept on disk).  Takes the live-state lock.
std::string PendingRecordsPath(AppContext& context);

// Downloaded records that neither the registration file nor its waiting
// file took: they end with the program.  Any thread; takes the live-state
// lock.
size_t RecordsOnlyInMemory(AppContext& context);

// The valid records in the waiting file at `path` (0 when there is none).
size_t PendingRecordCount(const std::string& path);

// --- polling worker only ---

struct PendingOutcome {
    DownloadReport::Store result = DownloadReport::Store::Stored;
    size_t written = 0;    // records appended to the registration file
    bool waiting = false;  // records still wait in the waiting file
};

// Appends the records of the waiting file, in order, to the registration
// file, leaving out those it already ends with (the program may have
// stopped between the append and the removal), then removes the waiting
// file.  A torn end of the waiting file is ignored.
PendingOutcome StorePendingRecords(AppContext& context);

// Moves PollingWorkerState::waitingRecords to the end of the waiting file, flushed;
// on any failure they stay in memory and the file is cut back.  Publishes
// the count of records left only in memory.  True when none is left.
bool KeepWaitingRecordsOnDisk(AppContext& context);

}  // namespace kx305mon
