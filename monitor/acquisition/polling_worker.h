// The polling worker: the one thread that talks to the converter.  It opens
// the port, reads the converter's identity, then cycles through clock read,
// results read and at most one device operation, publishes what it read in
// AppContext and tells the windows; any failure drops the connection, which
// is reopened after a pause for as long as the program runs.  It also runs
// the recording timer, which asks it for a logging-memory download every
// recordingInterval seconds while a registration file is open.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>

#include "acquisition/app_context.h"
#include "acquisition/thread_annotations.h"
#include "kx305.h"

namespace kx305mon {

// Thread body of the worker; returns 0 when it ends (after a stop, or at once
// when it starts without a port).
unsigned PollingWorker(AppContext& context);

// Thread body of the recording timer; started by the worker, counts from the
// worker's first good cycle and ends when the worker ends.
void RecordingTimer(AppContext& context);

// How the recording timer spends its time: its ticks, its retries while a
// user's operation holds the request slot, and its waits for
// recordingEvent.  The program uses real time (AcquisitionTiming); tests
// step it.  Called on the timer's thread with `guard` holding the
// live-state lock (released while waiting, held again on return); each
// returns true when the timer is to end (`ended`, read under the lock, came
// true).
class RecordingTimerClock {
public:
    virtual ~RecordingTimerClock() = default;
    virtual bool Pause(MutexLock& guard, AppContext& context, std::chrono::milliseconds length,
                       const std::function<bool()>& ended) REQUIRES(context.plumbing.lock) = 0;
    virtual bool AwaitRecording(MutexLock& guard, AppContext& context, const std::function<bool()>& ended)
        REQUIRES(context.plumbing.lock) = 0;
};

// Starts PollingWorker on context.pollingThread.  False when it already runs.
// The events, port namer, timing and cycle-timing hook must be set before.
bool StartPollingWorker(AppContext& context) EXCLUDES(context.plumbing.lock);

// The stop operation: main window none, port PORT_NONE, a running driver
// request broken off, then waits for the worker (and its timer) to end.
// A running KX305GetLog transfer (firmware up to 1.12, whose memory it
// empties) is not broken: the worker lets it finish, stores its records,
// and ends without starting anything more (LogTransferMustFinish tells
// while it runs).  Safe when the worker never ran or has ended.
void StopPollingWorker(AppContext& context) EXCLUDES(context.plumbing.lock);

// The first half of StopPollingWorker, without the wait: the worker starts
// no new operation from now on and ends by itself.  For a front end that
// must keep answering while a GetLog transfer finishes; it calls
// StopPollingWorker afterwards to collect the thread.
void SignalStop(AppContext& context) EXCLUDES(context.plumbing.lock);

// Port test: 1 when the port can be opened and closed again, else 0.  On
// failure reports Failure(owner, PortInUse) to the events, if set.
int PortTest(AppContext& context, WindowRef owner, int32_t port);

// Polls KX305DoneWait until the transaction has a final status; 1 when it
// is 0 (success), else 0.
int WaitDone(KX305Handle* device);

}  // namespace kx305mon
