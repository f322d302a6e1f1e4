// Shared by the driver's sources only.
#pragma once

#include <string>

#include "uidriver.h"

namespace kx305::ui::detail {

// Sets LastError() to `what` and the text of GetLastError().
bool FailWin32(const std::string& what);
std::string Win32Message(DWORD code);

// A deadline for the polling loops.
class Deadline {
public:
    explicit Deadline(Milliseconds timeout) : end_(GetTickCount64() + static_cast<ULONGLONG>(timeout.count())) {}
    bool Passed() const { return GetTickCount64() >= end_; }

private:
    ULONGLONG end_;
};

constexpr Milliseconds kPollStep{20};
// Reading a control waits at most this long for its thread.
constexpr UINT kSendTimeoutMs = 5000;

// Dispatches this thread's messages while it waits up to `duration` for
// `handle` (or just waits, with no handle).  A thread that owns windows and
// stops pumping would stall every program that broadcasts to all windows
// (DDE initiates do), the program under test among them.  True when the
// handle was signalled.
bool PumpWhileWaiting(Milliseconds duration, HANDLE handle = nullptr);

// SendMessageTimeout with kSendTimeoutMs; nullopt when the thread did not answer.
std::optional<LRESULT> Send(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

}  // namespace kx305::ui::detail
