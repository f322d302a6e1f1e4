#include "program_fixture.h"

#include <cctype>

namespace kx305::e2e {

namespace {

std::string ScenarioName() {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = std::string(info->test_suite_name()) + "." + info->name();
    for (char& c : name) {
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '.' && c != '_' && c != '-') c = '_';
    }
    return name;
}

}  // namespace

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

void ProgramTest::SetUp() {
    EndLeftoverPrograms();
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
    const std::string directory = WinePath(EnvironmentVariable("KX305_SCREENSHOT_DIR"));
    if (directory.empty()) return;
    CreateDirectoryA(directory.c_str(), nullptr);
    const std::string file = directory + "\\" + ScenarioName() + ".png";
    EXPECT_TRUE(ui::SaveScreenshot(file)) << file << ": " << ui::LastError();
}

void ProgramTest::GuidePicture(GuideImage picture, HWND window) {
    const std::string directory = WinePath(EnvironmentVariable("KX305_SCREENSHOT_DIR"));
    if (directory.empty()) return;
    // A window that has just become visible may still be painting (and the
    // main window's panels are repainted by every polling cycle): let its
    // thread empty its queue, then give the painting a moment.
    DWORD_PTR ignored = 0;
    SendMessageTimeoutA(window, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 5000, &ignored);
    Sleep(600);
    SendMessageTimeoutA(window, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 5000, &ignored);
    const std::string guide = directory + "\\guide";
    CreateDirectoryA(directory.c_str(), nullptr);
    CreateDirectoryA(guide.c_str(), nullptr);
    const std::string file = guide + "\\" + picture.name + ".png";
    EXPECT_TRUE(ui::SaveWindowScreenshot(window, file)) << file << ": " << ui::LastError();
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

bool ProgramTest::Launch(const std::vector<std::string>& arguments) {
    auto started = StartProgram(arguments, tempDirectory_);
    if (!started) {
        ADD_FAILURE() << ui::LastError();
        return false;
    }
    programs_.push_back(std::move(*started));
    main_ = nullptr;
    return true;
}

std::optional<HWND> ProgramTest::WaitMainWindow(Milliseconds timeout) {
    if (programs_.empty()) return std::nullopt;
    const auto found = e2e::WaitMainWindow(program(), timeout);
    if (!found) {
        ADD_FAILURE() << ui::LastError();
        return std::nullopt;
    }
    main_ = *found;
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
    const std::string line = LiveConverterLine(port);
    if (line.empty()) return false;
    return WaitPanel(
        1025, [&](const std::string& text) { return text.rfind(line, 0) == 0; }, timeout);
}

bool ProgramTest::Command(int id) { return main_ && ui::PostCommand(main_, id); }

std::optional<ui::MessageBoxInfo> ProgramTest::WaitMessageBox(Milliseconds timeout) {
    if (programs_.empty()) return std::nullopt;
    return ui::WaitForMessageBox(program().id(), timeout);
}

std::optional<ui::MessageBoxInfo> ProgramTest::AnswerMessageBox(const std::string& text, int button,
                                                                Milliseconds timeout, GuideImage picture) {
    const auto box = WaitMessageBox(timeout);
    if (!box) {
        ADD_FAILURE() << "no message box \"" << text << "\": " << ui::LastError();
        return std::nullopt;
    }
    EXPECT_EQ(box->caption, kTitle);
    EXPECT_EQ(box->text, text);
    if (picture.name && box->text == text) GuidePicture(picture, box->hwnd);
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
