// kx305mon.exe: the entry.  Start-up in its fixed order, the main window,
// then the shut-down.
#include "program_win32.h"

#include <commctrl.h>
#include <objbase.h>
#include <ole2.h>

#include <memory>

#include "acquisition/polling_worker.h"
#include "dde/dde_server.h"
#include "dialogs.h"
#include "resources/messages.h"
#include "resources/resource.h"
#include "shell/command_line.h"
#include "shell/settings.h"

namespace kx305mon {

namespace {

constexpr int kStartFailed = 1;

// The first start on an account: a question box, then the port and the
// export-option dialogs, all without owner.
class WindowFirstRunQuestions final : public FirstRunQuestions {
public:
    explicit WindowFirstRunQuestions(SettingsStore& settings) : settings_(settings) {}
    bool AskToRegister() override {
        return ShowMessage(nullptr, messages::kRegisterQuestion, MB_ICONQUESTION, MB_YESNO) == IDYES;
    }
    bool ChoosePort(AppContext& context) override { return RunPortDialog(nullptr, context, settings_) != 0; }
    bool ChooseExportOptions(AppContext& context) override {
        return RunExportParametersDialog(nullptr, context, settings_) != 0;
    }

private:
    SettingsStore& settings_;
};

bool OnWin32s() {
    OSVERSIONINFOA version = {};
    version.dwOSVersionInfoSize = sizeof version;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    if (!GetVersionExA(&version)) return false;
#pragma GCC diagnostic pop
    return version.dwPlatformId == VER_PLATFORM_WIN32s;
}

// The optional companion library's one call, when it is there.
void RunCompanionHook() {
    HMODULE library = LoadLibraryA("kx305_adv.dll");
    if (library == nullptr) return;
    using ShowMessageProc = void(WINAPI*)();
    auto show = reinterpret_cast<ShowMessageProc>(reinterpret_cast<void*>(GetProcAddress(library, "ShowMessage")));
    if (show != nullptr) show();
    FreeLibrary(library);
}

int Run(HINSTANCE instance, const char* commandLine) {
    if (OnWin32s()) {
        ShowMessage(nullptr, messages::kWrongPlatform, MB_ICONERROR);
        return kStartFailed;
    }
    // The single-instance marker: a second copy runs too, without uninstall.
    HANDLE section = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 260, "KX305Test");
    if (section == nullptr) {
        ShowMessage(nullptr, messages::kFatalStartError, MB_ICONERROR);
        return kStartFailed;
    }
    const bool firstInstance = GetLastError() != ERROR_ALREADY_EXISTS;

    CoInitialize(nullptr);
    OleInitialize(nullptr);
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_WIN95_CLASSES | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);

    static AppContext context;
    SetSettingsStartValues(context);
    context.firstInstance = firstInstance;
    context.instance = reinterpret_cast<uintptr_t>(instance);
    // From here on the port tests of the first-run port dialog and of the
    // acquisition start report to the program.
    ProgramEvents events;
    context.plumbing.events = &events;

    // The one store of the run: every dialog that saves is handed it.
    std::unique_ptr<SettingsStore> settings = MakeRegistrySettingsStore();
    WindowFirstRunQuestions questions(*settings);
    LoadSettings(context, *settings, questions);  // what was not read keeps its start value

    int result = 0;
    Program program{context, events, *settings};
    if (!ParseCommandLine(context, commandLine != nullptr ? commandLine : "", *settings)) {
        ShowMessage(nullptr, messages::kBadCommandLine, MB_ICONERROR);
        result = kStartFailed;
    } else {
        if (context.showQmv) RunCompanionHook();
        if (!DdeServerStart(context)) {
            ShowMessage(nullptr, messages::kDdeStartFailed, MB_ICONERROR);
            result = kStartFailed;
        } else {
            InstallStaticPainting(instance);
            const INT_PTR ended = DialogBoxParamA(instance, MAKEINTRESOURCEA(IDD_MAIN), nullptr, MainWindowProc,
                                                  reinterpret_cast<LPARAM>(&program));
            if (ended != 1) {
                ShowMessage(nullptr, messages::kFatalStartError, MB_ICONERROR);
                result = kStartFailed;
            }
            // Shut-down.  The worker and its recording timer end first, so
            // that the recording gate closes under neither of them, and
            // nothing writes to the registration file when it closes; no
            // wait is needed for the timer, the stop awaits it.
            StopPollingWorker(context);
            context.recordingEvent.Reset();
            DdeServerStop();
        }
    }
    CloseHandle(section);
    {
        MutexLock guard(context.plumbing.lock);
        context.registrationFile.reset();
        context.readFile.reset();
    }
    context.plumbing.events = nullptr;
    context.plumbing.onCycleTiming = nullptr;
    RemoveStaticPainting();
    OleUninitialize();
    CoUninitialize();
    return result;
}

}  // namespace

}  // namespace kx305mon

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int) {
    return kx305mon::Run(instance, commandLine);
}
