// The shared fixture of the end-to-end scenarios of kx305mon.exe under Wine.
// Each scenario starts from a clean settings key, may prepare a quick start
// on one of the simulated converters (ports from KX305_PORT_*), starts the
// program, operates it as a user would, and always leaves a screenshot of
// the whole screen in the build tree (KX305_SCREENSHOT_DIR/<Suite>.<Test>.png).
// A program still running at the end is closed, and killed when it does not
// end.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "program_driver.h"
#include "uidriver.h"

namespace kx305::e2e {

// The settings, the start, the main window and the simulators are
// program_driver.h's, shared with the benchmarks.

// The whole content of a file; nullopt when it cannot be opened (also while
// another program holds it without sharing).
std::optional<std::string> FileBytes(const std::string& path);

// Until the clipboard holds exactly `text` and its terminating zero (CF_TEXT
// as a program puts it); else a failure showing what it holds.
bool WaitClipboardText(const std::string& text, Milliseconds timeout = Milliseconds(5000));

// The name of a picture of the user guide (docs/images/<name>.png).  The
// guide's check finds the names in the scenarios' sources as GuideImage{"..."},
// so a name is always a string literal right there.
struct GuideImage {
    const char* name = nullptr;
};

// A scenario: prepares the key, starts and operates the program, cleans up.
class ProgramTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // A directory of this scenario's own (removed afterwards) and a file
    // name in it.
    const std::string& TempDirectory() const { return tempDirectory_; }
    std::string TempFile(const std::string& name) const { return tempDirectory_ + "\\" + name; }

    // Settings for a start straight into live readings on `port` ("\\.\COMn"),
    // recording into a fresh file of the temporary directory, no promotion.
    Settings QuickStartSettings(const std::string& port) const {
        return e2e::QuickStartSettings(port, TempFile("pomiary.kxg"));
    }
    bool WriteQuickStart(const std::string& port) { return WriteSettings(QuickStartSettings(port)); }

    // Starts kx305mon.exe (KX305MON_EXE) with these arguments.  A second
    // call starts another copy; program() is always the latest.
    bool Launch(const std::vector<std::string>& arguments = {});
    ui::Process& program() { return programs_.back(); }
    // The main window of the latest copy (the "Konwerter KX-305" dialog
    // with the converter status 1025; message boxes share the title), also
    // while it is not shown yet.
    std::optional<HWND> WaitMainWindow(Milliseconds timeout = kStartWait);
    HWND main() const { return main_; }

    // Panel texts: 1010..1014 input names, 1015..1019 descriptions,
    // 1020..1024 statuses, 1025 the converter line.  "" when the control is
    // missing.
    std::string Panel(int id) const;
    // Until `done` holds for the panel's text.
    bool WaitPanel(int id, const std::function<bool(const std::string&)>& done, Milliseconds timeout);

    // A dialog of the latest copy by its title, once it is visible.
    std::optional<HWND> WaitDialog(const std::string& title, Milliseconds timeout = kStartWait);
    // Clicks the button `id` of `dialog` and waits until the dialog is gone.
    bool PressButton(HWND dialog, int id, Milliseconds timeout = Milliseconds(10000));
    // Until the converter line 1025 names this converter's firmware
    // ("KX-305 wersja 1.13, nr 3051" for firmware=1.13 serial=3051 in the
    // simulator's state), i.e. the polling worker shows live data.
    bool WaitLive(const std::string& port, Milliseconds timeout = kStartWait);

    bool Command(int id);  // a menu command, posted
    std::optional<ui::MessageBoxInfo> WaitMessageBox(Milliseconds timeout = kStartWait);
    // Waits for a box with this text, presses `button`; the box itself for checks.
    // With `picture`, the box goes into the user guide under that name
    // before it is answered (see GuidePicture).
    std::optional<ui::MessageBoxInfo> AnswerMessageBox(const std::string& text, int button,
                                                       Milliseconds timeout = kStartWait, GuideImage picture = {});
    // The program's test hooks: GetMenuState flags of a menu item, and the
    // MB_ICON* of the last message box the program showed.
    std::optional<UINT> MenuState(int id) const;
    std::optional<UINT> LastMessageIcon() const;

    // WM_CLOSE to the main window, then the exit code.
    std::optional<DWORD> Close(Milliseconds timeout = kExitWait);

    // Once per scenario, while the program still shows its windows (Close
    // and TearDown take it when the scenario has not).
    void SaveScenarioScreenshot();

    // A picture of the user guide: `window` (a top-level window of the
    // program) as it is shown now, once it has painted, cropped to its frame,
    // saved as <KX305_SCREENSHOT_DIR>/guide/<name>.png;
    // scripts/guide-screenshots.sh takes them into docs/images.
    void GuidePicture(GuideImage picture, HWND window);

private:
    std::optional<UINT> Hook(const char* name, WPARAM wParam) const;

    std::string tempDirectory_;
    bool screenshotTaken_ = false;
    std::vector<ui::Process> programs_;
    HWND main_ = nullptr;
};

}  // namespace kx305::e2e
