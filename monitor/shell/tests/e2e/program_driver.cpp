#include "program_driver.h"

#include <cstdlib>

namespace kx305::e2e {

std::string EnvironmentVariable(const char* variable) {
    char value[1024] = {};
    const DWORD n = GetEnvironmentVariableA(variable, value, sizeof value);
    return n > 0 && n < sizeof value ? std::string(value, n) : std::string();
}

int PortNumber(const std::string& port) {
    const size_t at = port.rfind("COM");
    if (at == std::string::npos) return 0;
    return std::atoi(port.c_str() + at + 3);
}

std::string WinePath(const std::string& path) { return !path.empty() && path[0] == '/' ? "Z:" + path : path; }

bool WriteSettings(const Settings& s) {
    if (!ui::DeleteRegistryTree(kSettingsKey)) return false;
    struct Dword {
        const char* name;
        DWORD value;
    };
    for (const Dword& d :
         {Dword{"Flags", s.flags}, Dword{"Port", s.port}, Dword{"RainMeter Serial", s.rainSerial},
          Dword{"RainMeter Cal", s.rainCal}, Dword{"RainMeter Period", s.rainPeriod}, Dword{"KX125AV", s.kx125Average},
          Dword{"QUICK_START", s.quickStart}, Dword{"SHOW_QMV", s.showQmv}}) {
        if (!ui::WriteRegistryDword(kSettingsKey, d.name, d.value)) return false;
    }
    return ui::WriteRegistryString(kSettingsKey, "Logfile", s.logfile) &&
           ui::WriteRegistryString(kSettingsKey, "RainMeter Name", s.rainName);
}

Settings QuickStartSettings(const std::string& port, const std::string& logfile) {
    Settings s;
    s.port = static_cast<DWORD>(PortNumber(port));
    s.logfile = logfile;
    s.quickStart = 1;
    s.showQmv = 0;
    return s;
}

std::string ReplyField(const std::string& reply, const std::string& key) {
    const std::string marker = key + "=";
    size_t at = 0;
    while ((at = reply.find(marker, at)) != std::string::npos) {
        if (at == 0 || reply[at - 1] == ' ' || reply[at - 1] == ',') {
            const size_t start = at + marker.size();
            const size_t end = reply.find_first_of(" ,", start);
            return reply.substr(start, end == std::string::npos ? std::string::npos : end - start);
        }
        at += marker.size();
    }
    return "";
}

std::string Simulator(const std::string& port, const std::string& command) {
    const auto reply = ui::SimulatorCommand(port, command);
    return reply ? *reply : "";
}

std::string LiveConverterLine(const std::string& port) {
    const std::string state = Simulator(port, "state");
    const std::string firmware = ReplyField(state, "firmware");
    const std::string serial = ReplyField(state, "serial");
    const size_t dot = firmware.find('.');
    if (dot == std::string::npos || serial.empty()) return "";
    // The minor version as a number: firmware 1.01 shows as "1.1".
    return "KX-305 wersja " + std::to_string(std::atoi(firmware.c_str())) + "." +
           std::to_string(std::atoi(firmware.c_str() + dot + 1)) + ", nr " + serial;
}

void EndLeftoverPrograms() {
    for (HWND window : ui::FindWindows({kTitle, "#32770", 0, false})) {
        DWORD processId = 0;
        GetWindowThreadProcessId(window, &processId);
        if (processId == 0 || processId == GetCurrentProcessId()) continue;
        if (HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, processId)) {
            TerminateProcess(process, 1);
            WaitForSingleObject(process, 5000);
            CloseHandle(process);
        }
    }
}

void RemoveDirectoryTree(const std::string& directory) {
    WIN32_FIND_DATAA entry;
    HANDLE find = FindFirstFileA((directory + "\\*").c_str(), &entry);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            const std::string name = entry.cFileName;
            if (name == "." || name == "..") continue;
            const std::string path = directory + "\\" + name;
            if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                RemoveDirectoryTree(path);
            else
                DeleteFileA(path.c_str());
        } while (FindNextFileA(find, &entry));
        FindClose(find);
    }
    RemoveDirectoryA(directory.c_str());
}

std::optional<ui::Process> StartProgram(const std::vector<std::string>& arguments,
                                        const std::string& workingDirectory) {
    const std::string exe = WinePath(EnvironmentVariable("KX305MON_EXE"));
    if (exe.empty()) {
        ui::Fail("KX305MON_EXE is not set (the build has no kx305mon target)");
        return std::nullopt;
    }
    ui::StartOptions options;
    options.arguments = arguments;
    options.workingDirectory = workingDirectory;
    auto started = ui::Start(exe, options);
    if (!started) ui::Fail(exe + ": " + ui::LastError());
    return started;
}

std::optional<HWND> WaitMainWindow(const ui::Process& program, Milliseconds timeout) {
    const DWORD processId = program.id();
    HWND found = nullptr;
    const bool ok = ui::WaitUntil(
        [&] {
            // Hidden too: the modal loop shows the window only once its
            // queue is empty, after the start-up's first message box.
            for (HWND w : ui::FindWindows({kTitle, "#32770", processId, false})) {
                if (ui::FindControl(w, 1025)) {
                    found = w;
                    return true;
                }
            }
            return !program.Running();
        },
        timeout);
    if (ok && found) return found;
    // What there was instead: the exit code, or the program's windows.
    std::string seen;
    if (const auto code = program.WaitExit(Milliseconds(0))) {
        seen = "ended with " + std::to_string(*code);
    } else {
        for (HWND w : ui::FindWindows({"", "", processId, false})) {
            seen +=
                " [" + ui::WindowClass(w) + " \"" + ui::WindowText(w) + "\"" + (IsWindowVisible(w) ? " visible]" : "]");
        }
    }
    ui::Fail("no main window: " + seen);
    return std::nullopt;
}

}  // namespace kx305::e2e
