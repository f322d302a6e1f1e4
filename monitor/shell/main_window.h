// Decisions of the main window that need no window: what the start of the
// charting program's result code means, the line the cycle log writes, and
// which message boxes the acquisition's reports give.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "acquisition/app_context.h"
#include "acquisition/events.h"

namespace kx305mon {

// What starting "VIZO.EXE" came to, from the platform's start result code
// (WinExec / ShellExecute: above 31 success, else an error class).
enum class VizoStart {
    Started,      // or a failure the user is not told about
    NotFound,     // 2 file not found, 3 path not found
    CannotStart,  // 0 out of resources, 11 bad executable format
};
VizoStart ClassifyVizoStart(uintptr_t resultCode);

// One line of the cycle log (KX305MON_CYCLE_LOG), microseconds: the
// driver's share, the device operation, the events calls of the worker and
// the part of them that built the display texts (LiveData), and the UI
// thread's last display update.  Ends with a line feed.
std::string CycleLogLine(const CycleTiming& timing, int64_t liveDataMicros, int64_t displayMicros);

// A message box the acquisition threads ask for.  They never show one
// themselves: the number travels in a posted message to the main window,
// whose thread shows the box, so polling and DDE go on while it is up.
enum class Notice : uint32_t {
    PortInUse = 1,
    RecordsNotStored,
    RecordsLost,  // with the number lost
    RecordsLostUnknown,
    LogIntervalTooShort,  // the memory cannot be emptied as fast as it fills
};
enum class NoticeIcon { Information, Exclamation, Warning };
struct NoticeBox {
    std::string text;
    NoticeIcon icon;
};
// The box of a notice; `count` is the number of RecordsLost.  A number that
// is no notice gives an empty text.
NoticeBox NoticeMessage(uint32_t notice, size_t count);
Notice FailureNotice(AcquisitionFailure failure);

struct PendingNotice {
    Notice notice;
    size_t count;
    bool operator==(const PendingNotice& other) const { return notice == other.notice && count == other.count; }
};

// What a finished download tells the user: the records the line lost (the
// unknown count wins, as a number would only be the part that is known),
// and, once per run, that the log interval is too short for the memory to
// be emptied in time; repeating that after every download would bury the
// window in boxes while nothing can change until the user acts.
class DownloadNotices {
public:
    std::vector<PendingNotice> After(const DownloadReport& report);

private:
    bool intervalTold_ = false;
};

}  // namespace kx305mon
