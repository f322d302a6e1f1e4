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

// A read that completed with 0 bytes (ERROR_COUNTER_TIMEOUT).
constexpr DWORD kReadEndedEmpty = ERROR_COUNTER_TIMEOUT;
constexpr DWORD kErrorHandlesClosed = 676;  // ERROR_HANDLES_CLOSED, missing from mingw-w64's headers

// What a Win32 error code comes to.
PortResult FromWin32(DWORD error) {
    switch (error) {
    case ERROR_SUCCESS:
        return PortResult::Ok;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
    case ERROR_BAD_UNIT:
        return PortResult::NoSuchPort;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
        return PortResult::InUse;
    case ERROR_INVALID_FUNCTION:
    case ERROR_INVALID_PARAMETER:
    case ERROR_NOT_SUPPORTED:
        return PortResult::NotSerial;
    case ERROR_OPERATION_ABORTED:
    case ERROR_INVALID_HANDLE:
    case kErrorHandlesClosed:
        return PortResult::Closed;
    case kReadEndedEmpty:
    case ERROR_BROKEN_PIPE:
    case ERROR_DEVICE_NOT_CONNECTED:
        return PortResult::LineEnded;
    default:
        return PortResult::Failed;
    }
}

PortResult LastFailure() { return FromWin32(GetLastError()); }

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
PortResult Complete(HANDLE port, OVERLAPPED& overlapped, BOOL started, DWORD& transferred) {
    if (!started) {
        const DWORD error = GetLastError();
        if (error != ERROR_IO_PENDING) return FromWin32(error);
    }
    if (!GetOverlappedResult(port, &overlapped, &transferred, TRUE)) return LastFailure();
    return PortResult::Ok;
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

PortResult SerialPort::Open(const char* path, uint32_t baudRate) {
    Impl& s = *impl_;
    s.closing.store(false);
    s.readEvent = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    if (s.readEvent == nullptr) return LastFailure();
    s.writeEvent = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    if (s.writeEvent == nullptr) return LastFailure();
    s.port = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    if (s.port == INVALID_HANDLE_VALUE) return LastFailure();
    s.portGuard = CreateMutexA(nullptr, FALSE, PortGuardName(path).c_str());
    if (s.portGuard == nullptr) return LastFailure();
    if (GetLastError() == ERROR_ALREADY_EXISTS) return PortResult::InUse;

    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!GetCommState(s.port, &dcb)) return LastFailure();
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
    if (!SetCommState(s.port, &dcb)) return LastFailure();

    COMMTIMEOUTS timeouts{};  // all 0: no time-outs in either direction
    if (!SetCommTimeouts(s.port, &timeouts)) return LastFailure();
    return PortResult::Ok;
}

void SerialPort::Close() {
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
}

bool SerialPort::IsOpen() const { return impl_->port != INVALID_HANDLE_VALUE; }

int SerialPort::CallsInside() const { return impl_->callsInside.load(); }

PortResult SerialPort::Write(const uint8_t* data, size_t count) {
    Impl& s = *impl_;
    PortCall call(s);
    if (!call.allowed()) return PortResult::Closed;
    s.writeOverlapped = OVERLAPPED{};
    s.writeOverlapped.hEvent = s.writeEvent;
    const BOOL started = WriteFile(s.port, data, static_cast<DWORD>(count), nullptr, &s.writeOverlapped);
    DWORD written = 0;
    return Complete(s.port, s.writeOverlapped, started, written);
}

PortResult SerialPort::Read(uint8_t* data, size_t count) {
    Impl& s = *impl_;
    PortCall call(s);
    if (!call.allowed()) return PortResult::Closed;
    s.readOverlapped = OVERLAPPED{};
    s.readOverlapped.hEvent = s.readEvent;
    const BOOL started = ReadFile(s.port, data, static_cast<DWORD>(count), nullptr, &s.readOverlapped);
    DWORD received = 0;
    const PortResult result = Complete(s.port, s.readOverlapped, started, received);
    if (result != PortResult::Ok) return result;
    if (received == 0) return FromWin32(kReadEndedEmpty);
    return PortResult::Ok;
}

}  // namespace kx305
