// Decisions of the main window that need no window: what the start of the
// charting program's result code means, and the line the cycle log writes.
#pragma once

#include <cstdint>
#include <string>

#include "acquisition/app_context.h"

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

}  // namespace kx305mon
