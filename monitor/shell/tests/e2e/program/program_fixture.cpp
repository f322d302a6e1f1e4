#include "program_fixture.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>

namespace kx305::e2e {

namespace {

std::string Environment(const char* variable) {
    char value[1024] = {};
    const DWORD n = GetEnvironmentVariableA(variable, value, sizeof value);
    return n > 0 && n < sizeof value ? std::string(value, n) : std::string();
}

// Ends copies of the program that an aborted scenario left behind: the
// settings key and the single-instance name are the prefix's, and a copy that
// still runs would change what the next scenario sees.
void KillLeftovers() {
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
            if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) RemoveDirectoryTree(path);
            else DeleteFileA(path.c_str());
        } while (FindNextFileA(find, &entry));
        FindClose(find);
    }
    RemoveDirectoryA(directory.c_str());
}

std::string ScenarioName() {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = std::string(info->test_suite_name()) + "." + info->name();
    for (char& c : name) {
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '.' && c != '_' && c != '-') c = '_';
    }
    return name;
}

}  // namespace

std::string EnvironmentPort(const char* variable) { return Environment(variable); }

int PortNumber(const std::string& port) {
    const size_t at = port.rfind("COM");
    if (at == std::string::npos) return 0;
    return std::atoi(port.c_str() + at + 3);
}

std::string WinePath(const std::string& path) { return !path.empty() && path[0] == '/' ? "Z:" + path : path; }

std::optional<std::string> FileBytes(const std::string& path) {
    const HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return std::nullopt;
    std::string bytes;
    char buffer[4096];
    DWORD got = 0;
    bool ok = true;
    while ((ok = ReadFile(file, buffer, sizeof buffer, &got, nullptr) != FALSE) && got > 0) bytes.append(buffer, got);
    CloseHandle(file);
    if (!ok) return std::nullopt;
    return bytes;
}

bool WaitClipboardText(const std::string& text, Milliseconds timeout) {
    std::optional<std::string> held;
    const bool done = ui::WaitUntil(
        [&] {
            held = ui::ReadClipboard();
            return held == text + '\0';
        },
        timeout);
    if (!done) ADD_FAILURE() << "the clipboard holds " << held.value_or("nothing readable");
    return done;
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

bool WriteSettings(const Settings& s) {
    if (!ui::DeleteRegistryTree(kSettingsKey)) return false;
    struct Dword {
        const char* name;
        DWORD value;
    };
    for (const Dword& d : {Dword{"Flags", s.flags}, Dword{"Port", s.port}, Dword{"RainMeter Serial", s.rainSerial},
                           Dword{"RainMeter Cal", s.rainCal}, Dword{"RainMeter Period", s.rainPeriod},
                           Dword{"KX125AV", s.kx125Average}, Dword{"QUICK_START", s.quickStart},
                           Dword{"SHOW_QMV", s.showQmv}}) {
        if (!ui::WriteRegistryDword(kSettingsKey, d.name, d.value)) return false;
    }
    return ui::WriteRegistryString(kSettingsKey, "Logfile", s.logfile) &&
           ui::WriteRegistryString(kSettingsKey, "RainMeter Name", s.rainName);
}

void ProgramTest::SetUp() {
    KillLeftovers();
    ASSERT_TRUE(ui::DeleteRegistryTree(kSettingsKey)) << ui::LastError();
    char temp[MAX_PATH] = {};
    ASSERT_GT(GetTempPathA(sizeof temp, temp), 0u);
    tempDirectory_ = std::string(temp) + "kx305-e2e-" + std::to_string(GetCurrentProcessId()) + "-" + ScenarioName();
    RemoveDirectoryTree(tempDirectory_);
    ASSERT_TRUE(CreateDirectoryA(tempDirectory_.c_str(), nullptr)) << tempDirectory_;
}

void ProgramTest::SaveScenarioScreenshot() {
    // The screen as the scenario left it, message boxes included: taken
    // before the program closes (by Close or by TearDown), else it shows an
    // empty screen.
    if (screenshotTaken_) return;
    screenshotTaken_ = true;
    const std::string directory = WinePath(Environment("KX305_SCREENSHOT_DIR"));
    if (directory.empty()) return;
    CreateDirectoryA(directory.c_str(), nullptr);
    const std::string file = directory + "\\" + ScenarioName() + ".png";
    EXPECT_TRUE(ui::SaveScreenshot(file)) << file << ": " << ui::LastError();
}

void ProgramTest::TearDown() {
    SaveScenarioScreenshot();
    for (ui::Process& p : programs_) {
        if (!p.Running()) continue;
        // A scenario that failed half-way may leave a dialog open: WM_CLOSE
        // to the main window, and if that does not end it, the hard way.
        if (main_) PostMessageA(main_, WM_CLOSE, 0, 0);
        if (!p.WaitExit(Milliseconds(8000))) {
            ADD_FAILURE() << "kx305mon (process " << p.id() << ") had to be killed";
            p.Kill(1);
        }
    }
    programs_.clear();
    RemoveDirectoryTree(tempDirectory_);
    ui::DeleteRegistryTree(kSettingsKey);
}

Settings ProgramTest::QuickStartSettings(const std::string& port) const {
    Settings s;
    s.port = static_cast<DWORD>(PortNumber(port));
    s.logfile = TempFile("pomiary.kxg");
    s.quickStart = 1;
    s.showQmv = 0;
    return s;
}

bool ProgramTest::Launch(const std::vector<std::string>& arguments) {
    const std::string exe = WinePath(Environment("KX305MON_EXE"));
    if (exe.empty()) {
        ADD_FAILURE() << "KX305MON_EXE is not set (the build has no kx305mon target)";
        return false;
    }
    ui::StartOptions options;
    options.arguments = arguments;
    options.workingDirectory = tempDirectory_;
    auto started = ui::Start(exe, options);
    if (!started) {
        ADD_FAILURE() << exe << ": " << ui::LastError();
        return false;
    }
    programs_.push_back(std::move(*started));
    main_ = nullptr;
    return true;
}

std::optional<HWND> ProgramTest::WaitMainWindow(Milliseconds timeout) {
    if (programs_.empty()) return std::nullopt;
    const DWORD processId = program().id();
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
            return !program().Running();
        },
        timeout);
    if (!ok || !found) {
        // What there was instead: the exit code, or the program's windows.
        std::string seen;
        if (const auto code = program().WaitExit(Milliseconds(0))) {
            seen = "ended with " + std::to_string(*code);
        } else {
            for (HWND w : ui::FindWindows({"", "", processId, false})) {
                seen += " [" + ui::WindowClass(w) + " \"" + ui::WindowText(w) + "\"" +
                        (IsWindowVisible(w) ? " visible]" : "]");
            }
        }
        ADD_FAILURE() << "no main window: " << seen;
        return std::nullopt;
    }
    main_ = found;
    return found;
}

std::string ProgramTest::Panel(int id) const {
    if (!main_) return "";
    const auto control = ui::FindControl(main_, id);
    return control ? ui::WindowText(*control) : "";
}

bool ProgramTest::WaitPanel(int id, const std::function<bool(const std::string&)>& done, Milliseconds timeout) {
    return ui::WaitUntil([&] { return done(Panel(id)); }, timeout);
}

std::optional<HWND> ProgramTest::WaitDialog(const std::string& title, Milliseconds timeout) {
    if (programs_.empty()) return std::nullopt;
    return ui::WaitForWindow({title, "#32770", program().id(), true}, timeout);
}

bool ProgramTest::PressButton(HWND dialog, int id, Milliseconds timeout) {
    const auto button = ui::FindControl(dialog, id);
    if (!button || !ui::Click(*button)) return false;
    return ui::WaitUntil([&] { return !IsWindow(dialog) || !IsWindowVisible(dialog); }, timeout);
}

bool ProgramTest::WaitLive(const std::string& port, Milliseconds timeout) {
    const std::string state = Simulator(port, "state");
    const std::string firmware = ReplyField(state, "firmware");
    const std::string serial = ReplyField(state, "serial");
    const size_t dot = firmware.find('.');
    if (dot == std::string::npos || serial.empty()) return false;
    // The minor version as a number: firmware 1.01 shows as "1.1".
    const std::string line = "KX-305 wersja " + std::to_string(std::atoi(firmware.c_str())) + "." +
                             std::to_string(std::atoi(firmware.c_str() + dot + 1)) + ", nr " + serial;
    return WaitPanel(1025, [&](const std::string& text) { return text.rfind(line, 0) == 0; }, timeout);
}

bool ProgramTest::Command(int id) { return main_ && ui::PostCommand(main_, id); }

std::optional<ui::MessageBoxInfo> ProgramTest::WaitMessageBox(Milliseconds timeout) {
    if (programs_.empty()) return std::nullopt;
    return ui::WaitForMessageBox(program().id(), timeout);
}

std::optional<ui::MessageBoxInfo> ProgramTest::AnswerMessageBox(const std::string& text, int button,
                                                               Milliseconds timeout) {
    const auto box = WaitMessageBox(timeout);
    if (!box) {
        ADD_FAILURE() << "no message box \"" << text << "\": " << ui::LastError();
        return std::nullopt;
    }
    EXPECT_EQ(box->caption, kTitle);
    EXPECT_EQ(box->text, text);
    if (box->text != text || !ui::PressMessageBoxButton(*box, button)) return std::nullopt;
    return box;
}

std::optional<UINT> ProgramTest::Hook(const char* name, WPARAM wParam) const {
    if (!main_) return std::nullopt;
    const UINT message = RegisterWindowMessageA(name);
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutA(main_, message, wParam, 0, SMTO_ABORTIFHUNG, 5000, &result)) return std::nullopt;
    return static_cast<UINT>(result);
}

std::optional<UINT> ProgramTest::MenuState(int id) const { return Hook("KX305MonMenuState", id); }
std::optional<UINT> ProgramTest::LastMessageIcon() const { return Hook("KX305MonLastMessageIcon", 0); }

std::optional<DWORD> ProgramTest::Close(Milliseconds timeout) {
    if (programs_.empty()) return std::nullopt;
    if (program().Running()) SaveScenarioScreenshot();
    if (main_) PostMessageA(main_, WM_CLOSE, 0, 0);
    return program().WaitExit(timeout);
}

}  // namespace kx305::e2e
