// Processes: start with arguments, environment and working directory; wait; kill.
#include <cstring>
#include <utility>

#include "internal.h"

namespace kx305::ui {
namespace detail {

namespace {
thread_local std::string lastError;
}

std::string Win32Message(DWORD code) {
    char buffer[512] = {};
    const DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0, buffer,
                                   sizeof buffer, nullptr);
    std::string text(buffer, n);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) text.pop_back();
    return "error " + std::to_string(code) + (text.empty() ? "" : " (" + text + ")");
}

bool FailWin32(const std::string& what) { return Fail(what + ": " + Win32Message(GetLastError())); }

std::optional<LRESULT> Send(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutA(window, message, wParam, lParam, SMTO_NORMAL | SMTO_ABORTIFHUNG, kSendTimeoutMs,
                             &result)) {
        FailWin32("message " + std::to_string(message) + " not answered");
        return std::nullopt;
    }
    return static_cast<LRESULT>(result);
}

bool PumpWhileWaiting(Milliseconds duration, HANDLE handle) {
    const ULONGLONG end = GetTickCount64() + static_cast<ULONGLONG>(duration.count());
    for (;;) {
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        const ULONGLONG now = GetTickCount64();
        const DWORD left = now >= end ? 0 : static_cast<DWORD>(end - now);
        const DWORD wait =
            MsgWaitForMultipleObjects(handle ? 1 : 0, handle ? &handle : nullptr, FALSE, left, QS_ALLINPUT);
        if (handle && wait == WAIT_OBJECT_0) return true;
        if (wait == WAIT_TIMEOUT || wait == WAIT_FAILED) {
            return handle && WaitForSingleObject(handle, 0) == WAIT_OBJECT_0;
        }
    }
}

}  // namespace detail

using namespace detail;

const std::string& LastError() { return detail::lastError; }

bool Fail(std::string reason) {
    detail::lastError = std::move(reason);
    return false;
}

Process::Process(Process&& other) noexcept
    : process_(std::exchange(other.process_, nullptr)), id_(std::exchange(other.id_, 0)) {}

Process& Process::operator=(Process&& other) noexcept {
    if (this != &other) {
        if (process_) CloseHandle(process_);
        process_ = std::exchange(other.process_, nullptr);
        id_ = std::exchange(other.id_, 0);
    }
    return *this;
}

Process::~Process() {
    if (process_) CloseHandle(process_);
}

bool Process::Running() const { return process_ && WaitForSingleObject(process_, 0) == WAIT_TIMEOUT; }

std::optional<DWORD> Process::WaitExit(Milliseconds timeout) const {
    if (!process_) {
        Fail("no process");
        return std::nullopt;
    }
    if (!PumpWhileWaiting(timeout, process_)) {
        Fail("the program is still running");
        return std::nullopt;
    }
    DWORD code = 0;
    if (!GetExitCodeProcess(process_, &code)) {
        FailWin32("GetExitCodeProcess");
        return std::nullopt;
    }
    return code;
}

bool Process::Kill(DWORD exitCode) {
    if (!process_) return Fail("no process");
    if (!TerminateProcess(process_, exitCode) && Running()) return FailWin32("TerminateProcess");
    return PumpWhileWaiting(Milliseconds(10000), process_) || Fail("the program did not end after TerminateProcess");
}

std::string QuoteCommandLine(const std::string& program, const std::vector<std::string>& arguments) {
    // The rules of CommandLineToArgvW: backslashes are literal unless they
    // precede a quote; 2n backslashes + quote = n backslashes and a
    // delimiter, 2n+1 + quote = n backslashes and a literal quote.
    auto quote = [](const std::string& arg) {
        if (!arg.empty() && arg.find_first_of(" \t\n\v\"") == std::string::npos) return arg;
        std::string out = "\"";
        size_t backslashes = 0;
        for (const char c : arg) {
            if (c == '\\') {
                ++backslashes;
                continue;
            }
            if (c == '"')
                out.append(backslashes * 2 + 1, '\\');
            else
                out.append(backslashes, '\\');
            backslashes = 0;
            out += c;
        }
        out.append(backslashes * 2, '\\');
        return out + "\"";
    };
    std::string line = quote(program);
    for (const std::string& arg : arguments) line += " " + quote(arg);
    return line;
}

std::string ExecutableDirectory() {
    char path[MAX_PATH * 2] = {};
    const DWORD n = GetModuleFileNameA(nullptr, path, sizeof path);
    std::string dir(path, n);
    const size_t slash = dir.find_last_of("\\/");
    return slash == std::string::npos ? "." : dir.substr(0, slash);
}

namespace {

// This process's environment with the overrides, as a sorted ANSI block.
std::string EnvironmentBlock(const std::map<std::string, std::string>& overrides) {
    auto upper = [](std::string s) {
        for (char& c : s) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
        return s;
    };
    // Windows compares variable names without case.
    std::map<std::string, std::string> variables;  // upper name -> "Name=value"
    if (char* block = GetEnvironmentStringsA()) {
        for (const char* p = block; *p; p += strlen(p) + 1) {
            const std::string entry = p;
            const size_t eq = entry.find('=', 1);  // "=C:=C:\..." entries start with '='
            if (eq == std::string::npos) continue;
            variables[upper(entry.substr(0, eq))] = entry;
        }
        FreeEnvironmentStringsA(block);
    }
    for (const auto& [name, value] : overrides) {
        if (value.empty())
            variables.erase(upper(name));
        else
            variables[upper(name)] = name + "=" + value;
    }
    std::string out;
    for (const auto& [key, entry] : variables) {
        out += entry;
        out += '\0';
    }
    out += '\0';
    return out;
}

}  // namespace

std::optional<Process> Start(const std::string& program, const StartOptions& options) {
    std::string commandLine = QuoteCommandLine(program, options.arguments);
    std::string environment = EnvironmentBlock(options.environment);

    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    HANDLE output = INVALID_HANDLE_VALUE;
    if (!options.standardOutput.empty()) {
        SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
        output = CreateFileA(options.standardOutput.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                             &inherit, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (output == INVALID_HANDLE_VALUE) {
            FailWin32("cannot create " + options.standardOutput);
            return std::nullopt;
        }
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
        startup.hStdOutput = output;
        startup.hStdError = output;
    }
    PROCESS_INFORMATION info{};
    const BOOL started = CreateProcessA(
        program.c_str(), commandLine.data(), nullptr, nullptr, output != INVALID_HANDLE_VALUE, 0, environment.data(),
        options.workingDirectory.empty() ? nullptr : options.workingDirectory.c_str(), &startup, &info);
    const DWORD error = GetLastError();
    if (output != INVALID_HANDLE_VALUE) CloseHandle(output);
    if (!started) {
        SetLastError(error);
        FailWin32("cannot start " + program);
        return std::nullopt;
    }
    if (info.hThread) CloseHandle(info.hThread);
    if (!info.hProcess) {
        // Wine starts a Unix program this way, but hands out no handle.
        Fail("started " + program + " without a process handle (a Unix program under Wine?): it cannot be waited for");
        return std::nullopt;
    }
    Process process;
    process.process_ = info.hProcess;
    process.id_ = info.dwProcessId;
    return process;
}

}  // namespace kx305::ui
