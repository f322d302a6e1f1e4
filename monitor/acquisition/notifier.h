// How the acquisition threads reach the windows.  The Windows program
// implements this with PostMessage and window calls; the command line and
// the tests implement it themselves.  Every call comes from the polling
// worker's thread (or, for PlaceRequest's displacement notice, from the
// requester's thread), never under the live-state lock, so an implementation
// may take its own locks or talk to the UI thread.
#pragma once

#include <cstdint>

#include "acquisition/app_context.h"
#include "kx305.h"

namespace kx305mon {

// Window messages of the acquisition (WM_USER + n), all posted.
constexpr uint32_t WMU_PROGRESS = 1025;       // wParam: download progress 0..100, 0 at the end
constexpr uint32_t WMU_PERIOD_SET = 1027;     // wParam: 1 log interval written, 0 failed
constexpr uint32_t WMU_TIME_SET = 1028;       // wParam: 1 clock set, 0 failed
constexpr uint32_t WMU_NEW_DATA = 1030;       // after every good polling cycle
constexpr uint32_t WMU_INPUT_CHANGED = 1031;  // wParam: input 0..4, or 5 = connection lost

// wParam of WMU_INPUT_CHANGED when every input was reset.
constexpr uintptr_t kAllInputsChanged = 5;

// Controls the acquisition touches.
constexpr int kIdRecordingText = 1062;  // main window: "Trwa rejestracja pomiarów..."
constexpr int kIdIntervalEdit = 1030;   // log-interval dialog: the interval in seconds
constexpr int kIdIntervalOk = 1001;     // log-interval dialog: OK

enum class MessageIcon { Information, Exclamation, Error, Question };

// What one download of the logging memory (operation 4) did.
struct DownloadReport {
    enum class Store {
        Stored,       // nothing refused: every record the file lacked is in it and
                      // flushed (with `transferred` false: none came)
        NoFile,       // recording is off (or went off during the transfer)
        WriteFailed,  // a write failed; the file ends with the last whole record
        FlushFailed,  // written, but the flush failed
    };
    enum class Clear {
        NotAsked,        // firmware up to 1.12 (it empties itself), or the download failed
        NothingToClear,  // the converter's memory was empty
        NotAllStored,    // kept: the file does not have every record
        Cleared,         // the converter's memory was cleared
        LoggedDuringTransfer,  // kept: the converter may have stored a record meanwhile
        // Kept: a download takes longer than the log period, so a record is
        // always stored meanwhile and the memory can never be cleared
        // without losing one.  The user should lengthen the log period; the
        // memory fills up otherwise.
        TransferLongerThanLogPeriod,
        ClockUnknown,    // kept: the converter's clock made no sense
        ClearFailed,     // the clear failed on the line
    };
    // The converter's records reached the program (false: the transfer broke
    // off or was never begun, and the converter keeps what it held).
    bool transferred = false;
    size_t received = 0;       // records the converter delivered
    size_t alreadyInFile = 0;  // of those, at the head, found at the end of the file
    size_t written = 0;        // records appended to the file (waiting ones included)
    size_t waiting = 0;        // records held by the program until the file takes writes again
    Store store = Store::Stored;
    Clear clear = Clear::NotAsked;
};

class AcquisitionNotifier {
public:
    virtual ~AcquisitionNotifier() = default;

    // Posts `message` to `target` without waiting for it to be handled.
    virtual void Post(WindowRef target, uint32_t message, uintptr_t wParam, intptr_t lParam) = 0;

    // The live display: converter identity, clock and readings of inputs 0
    // to 4 (five records), each possibly null (shown as question marks).
    // Fields of `context` that it reads are read under the live-state lock.
    virtual void UpdateDisplay(WindowRef window, const ConverterInfo* info, const ClockRecord* clock,
                               const InputReading* results, AppContext& context) = 0;

    // The rain-gauge settings command is available while input 0 carries a
    // rain gauge (type 1).
    virtual void SetRainGaugeMenu(WindowRef window, uint32_t typeOfInput0) = 0;

    virtual void ShowControl(WindowRef window, int controlId, bool visible) = 0;
    virtual void SetControlNumber(WindowRef window, int controlId, unsigned value) = 0;
    virtual void EnableControl(WindowRef window, int controlId, bool enabled) = 0;

    // A message box with the caption "Konwerter KX-305"; `owner` may be none.
    // `text` is one of the program's messages (code page 1250).
    virtual void ShowMessage(WindowRef owner, const char* text, MessageIcon icon) = 0;

    // After every download request, whatever its outcome (a front end may
    // show the counts, or warn when the memory cannot be cleared).
    virtual void DownloadFinished(const DownloadReport& report) { (void)report; }
};

}  // namespace kx305mon
