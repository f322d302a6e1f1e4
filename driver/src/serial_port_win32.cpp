// SerialPort on Win32: the port opened exclusively for overlapped I/O, one
// event and one OVERLAPPED record per direction, so that the reader thread
// and the dispatcher thread never share state.  With all time-outs 0 a read
// completes only when every requested byte has arrived.
//
// Close from a third thread: closing a handle under a pending overlapped read
// is not a defined way to end it (Windows aborts the read, Wine completes it
// with ERROR_HANDLES_CLOSED, and the freed handle value may be reused at
// once).  So Close first marks the port as closing, cancels the I/O with
// CancelIoEx until no read or write is inside the port any more (the read
// then fails with ERROR_OPERATION_ABORTED, which ends the reader loop), and
// only then closes the handles.  A Read that starts after that point fails
// without touching them.
//
// Exclusive use: Windows refuses a second open of a serial port (share mode
// 0), but Wine applies share modes to files only and lets any number of
// handles open the same device.  A named mutex per port name, held while the
// port is, gives the same refusal (ERROR_ACCESS_DENIED, as Windows reports
// it) to a second open through this library under Wine too.
#include "serial_port.h"

#include <windows.h>

#include <atomic>
#include <string>
#include <string_view>

#include "process_exit_win32.h"

namespace kx305 {

struct SerialPort::Impl {
    HANDLE port = INVALID_HANDLE_VALUE;
    HANDLE readEvent = nullptr;
    HANDLE writeEvent = nullptr;
    HANDLE portGuard = nullptr;
    OVERLAPPED readOverlapped{};
    OVERLAPPED writeOverlapped{};
    // Set by Close before it cancels; checked by Read and Write after they
    // have announced themselves in `callsInside`, so that Close either sees
    // the call or the call sees `closing` (both are sequentially consistent).
    std::atomic<bool> closing{false};
    std::atomic<int> callsInside{0};
};

namespace {

std::atomic<bool> g_processExit{false};

// Counts a read or write as inside the port for the duration of its scope.
class PortCall {
public:
    explicit PortCall(SerialPort::Impl& s) : s_(s) { s_.callsInside.fetch_add(1); }
    ~PortCall() { s_.callsInside.fetch_sub(1); }
    PortCall(const PortCall&) = delete;
    PortCall& operator=(const PortCall&) = delete;
    bool allowed() const { return !s_.closing.load() && s_.port != INVALID_HANDLE_VALUE; }

private:
    SerialPort::Impl& s_;
};

// Waits for an overlapped transfer that ReadFile or WriteFile started
// (`started` is their result) and collects its byte count, also for one
// that completed at once.
uint32_t Complete(HANDLE port, OVERLAPPED& overlapped, BOOL started, DWORD& transferred) {
    if (!started) {
        const DWORD error = GetLastError();
        if (error != ERROR_IO_PENDING) return error;
    }
    if (!GetOverlappedResult(port, &overlapped, &transferred, TRUE)) return GetLastError();
    return 0;
}

// "\\.\COM5", "\\?\com5" and "COM5" name the same port.  Object names
// take no backslash after the namespace prefix.
std::string PortGuardName(const char* path) {
    std::string name = "Global\\kx305-port-";
    std::string_view p(path);
    if (p.size() >= 4 && p[0] == '\\' && p[1] == '\\' && (p[2] == '.' || p[2] == '?') && p[3] == '\\') {
        p.remove_prefix(4);
    }
    for (char c : p) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
        name += c == '\\' ? '/' : c;
    }
    if (name.size() >= MAX_PATH) name.resize(MAX_PATH - 1);
    return name;
}

void Release(HANDLE& handle, HANDLE invalid) {
    if (handle != invalid) {
        CloseHandle(handle);
        handle = invalid;
    }
}

}  // namespace

void MarkProcessExit() { g_processExit.store(true); }

SerialPort::SerialPort() : impl_(std::make_unique<Impl>()) {}

SerialPort::~SerialPort() { Close(); }

uint32_t SerialPort::Open(const char* path, uint32_t baudRate) {
    Impl& s = *impl_;
    s.closing.store(false);
    s.readEvent = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    if (s.readEvent == nullptr) return GetLastError();
    s.writeEvent = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    if (s.writeEvent == nullptr) return GetLastError();
    s.port = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                         FILE_FLAG_OVERLAPPED, nullptr);
    if (s.port == INVALID_HANDLE_VALUE) return GetLastError();
    s.portGuard = CreateMutexA(nullptr, FALSE, PortGuardName(path).c_str());
    if (s.portGuard == nullptr) return GetLastError();
    if (GetLastError() == ERROR_ALREADY_EXISTS) return ERROR_ACCESS_DENIED;

    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!GetCommState(s.port, &dcb)) return GetLastError();
    dcb.BaudRate = baudRate;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    dcb.fBinary = TRUE;
    dcb.fParity = FALSE;
    dcb.fOutxCtsFlow = FALSE;
    dcb.fOutxDsrFlow = FALSE;
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    dcb.fDsrSensitivity = FALSE;
    dcb.fOutX = FALSE;
    dcb.fInX = FALSE;
    dcb.fErrorChar = FALSE;
    dcb.fNull = FALSE;
    dcb.fRtsControl = RTS_CONTROL_ENABLE;
    dcb.fAbortOnError = FALSE;
    if (!SetCommState(s.port, &dcb)) return GetLastError();

    COMMTIMEOUTS timeouts{};  // all 0: no time-outs in either direction
    if (!SetCommTimeouts(s.port, &timeouts)) return GetLastError();
    return 0;
}

uint32_t SerialPort::Close() {
    Impl& s = *impl_;
    s.closing.store(true);
    if (s.port != INVALID_HANDLE_VALUE) {
        // At process exit the other threads are already gone; a call they
        // left inside the port can never leave it, and nobody can be woken.
        while (s.callsInside.load() != 0 && !g_processExit.load()) {
            CancelIoEx(s.port, nullptr);
            Sleep(1);
        }
    }
    Release(s.port, INVALID_HANDLE_VALUE);
    Release(s.portGuard, nullptr);
    Release(s.readEvent, nullptr);
    Release(s.writeEvent, nullptr);
    return 0;
}

bool SerialPort::IsOpen() const { return impl_->port != INVALID_HANDLE_VALUE; }

uint32_t SerialPort::Write(const uint8_t* data, size_t count) {
    Impl& s = *impl_;
    PortCall call(s);
    if (!call.allowed()) return ERROR_OPERATION_ABORTED;
    s.writeOverlapped = OVERLAPPED{};
    s.writeOverlapped.hEvent = s.writeEvent;
    const BOOL started = WriteFile(s.port, data, static_cast<DWORD>(count), nullptr, &s.writeOverlapped);
    DWORD written = 0;
    return Complete(s.port, s.writeOverlapped, started, written);
}

uint32_t SerialPort::Read(uint8_t* data, size_t count) {
    Impl& s = *impl_;
    PortCall call(s);
    if (!call.allowed()) return ERROR_OPERATION_ABORTED;
    s.readOverlapped = OVERLAPPED{};
    s.readOverlapped.hEvent = s.readEvent;
    const BOOL started = ReadFile(s.port, data, static_cast<DWORD>(count), nullptr, &s.readOverlapped);
    DWORD received = 0;
    const uint32_t error = Complete(s.port, s.readOverlapped, started, received);
    if (error != 0) return error;
    if (received == 0) return kErrorCounterTimeout;
    return 0;
}

}  // namespace kx305
