// What the acquisition threads report.  The core says what happened; each
// front end decides what that means on its screen: the Windows program posts
// its window messages, updates its controls and shows its message boxes; the
// command line prints; the tests record.  The core knows no message numbers,
// control ids or message texts.
//
// Every call comes from the polling worker's thread (or, for PlaceRequest's
// displacement notice, from the requester's thread), never under the
// live-state lock, so an implementation may take its own locks.  It must not
// wait for the UI thread: the worker would stall, and the shut-down, which
// waits for the worker on the UI thread, would deadlock.
#pragma once

#include <cstddef>
#include <cstdint>

#include "acquisition/app_context.h"
#include "kx305.h"

namespace kx305mon {

// Input number of InputChanged when every input was reset (connection lost).
constexpr int kAllInputsChanged = 5;

// What one download of the logging memory (operation 4) did.
struct DownloadReport {
    enum class Store {
        Stored,       // nothing refused: every record the file lacked is in it and
                      // flushed (with `transferred` false: none came)
        NoFile,       // recording is off (or went off during the transfer)
        WriteFailed,  // a write failed; the file ends with the last whole record
        FlushFailed,  // written, but the flush failed
        // The registration file is no longer the file its path names
        // (deleted, renamed, unmounted): recording stopped (the file was
        // closed) and the converter keeps its memory.
        FileGone,
    };
    enum class Clear {
        NotAsked,              // firmware up to 1.12 (it empties itself), or the download failed
        NothingToClear,        // the converter's memory was empty
        NotAllStored,          // kept: the file does not have every record
        Cleared,               // the converter's memory was cleared
        LoggedDuringTransfer,  // kept: the converter may have stored a record meanwhile
        // Kept: a download takes longer than the log period, so a record is
        // always stored meanwhile and the memory can never be cleared
        // without losing one.  The user should lengthen the log period; the
        // memory fills up otherwise.
        TransferLongerThanLogPeriod,
        ClockUnknown,  // kept: the converter's clock made no sense
        ClearFailed,   // the clear failed on the line
    };
    // The converter's records reached the program (false: the transfer broke
    // off or was never begun, and the converter keeps what it held).
    bool transferred = false;
    size_t received = 0;       // records the converter delivered
    size_t alreadyInFile = 0;  // of those, at the head, found at the end of the file
    size_t written = 0;        // records appended to the file (waiting ones included)
    size_t waiting = 0;        // records held by the program until the file takes writes again
    // A GetLog transfer cut short on the line (firmware up to 1.12, which
    // let go of its records as the request arrived): what arrived is
    // `received` and stored like a whole download; these never arrived and
    // exist nowhere any more.  Such a download is never a success.
    size_t lost = 0;           // records the converter handed over that never arrived
    bool lostUnknown = false;  // records were lost, but how many is not known
    Store store = Store::Stored;
    Clear clear = Clear::NotAsked;
    // Cleared although a log instant fell in the transfer: the memory was
    // full then, so the converter had stored nothing more.
    bool memoryFull = false;
};

// Failures the user is told about.
enum class AcquisitionFailure {
    PortInUse,         // the port test could not open the port
    RecordsNotStored,  // a download found recording off, or the file refused records
};

class AcquisitionEvents {
public:
    virtual ~AcquisitionEvents() = default;

    // --- polling worker; `window` is the main window (never kNoWindow) ---

    // After a good cycle, in this order: InputChanged for every input whose
    // instrument changed, LiveData with the readings, RainGauge with the
    // type on input 0, CycleDone.
    virtual void InputChanged(WindowRef window, int input) = 0;
    // The live display: converter identity, clock and readings of inputs 0
    // to 4 (five records).  All three null after a loss of connection (the
    // display shows question marks).  Fields of `context` that it reads are
    // read under the live-state lock.
    virtual void LiveData(WindowRef window, const ConverterInfo* info, const ClockRecord* clock,
                          const InputReading* results, AppContext& context) = 0;
    // The rain-gauge settings are available while input 0 carries a rain
    // gauge (type 1).
    virtual void RainGauge(WindowRef window, uint32_t typeOfInput0) = 0;
    virtual void CycleDone(WindowRef window) = 0;
    // After a lost connection: LiveData with nulls, then this (every input
    // counts as changed: InputChanged(kAllInputsChanged)).
    virtual void ConnectionLost(WindowRef window) = 0;

    // --- device operations ---

    // A download of the logging memory began (`window` the main window, or
    // kNoWindow while none is set), moved on (percent 1..100) and ended
    // (DownloadProgress 0 comes just before DownloadFinished of a transfer
    // that was begun).  DownloadFinished comes after every download request,
    // whatever its outcome.
    virtual void DownloadStarted(WindowRef window) = 0;
    virtual void DownloadProgress(WindowRef window, unsigned percent) = 0;
    virtual void DownloadFinished(WindowRef window, const DownloadReport& report) = 0;

    // Answers to a requester's operation (`requester` as placed; the core
    // never calls these with kNoRequester).
    virtual void ClockSet(Requester requester, bool done) = 0;              // operations 1 and 6
    virtual void LogPeriodRead(Requester requester, unsigned seconds) = 0;  // operation 2, success only
    virtual void LogPeriodWritten(Requester requester, bool done) = 0;      // operation 3

    // A failure the user must hear of; `owner` may be kNoWindow.
    virtual void Failure(WindowRef owner, AcquisitionFailure failure) = 0;
};

}  // namespace kx305mon
