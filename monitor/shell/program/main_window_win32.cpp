// The main window (dialog 102): start of the acquisition, the menu
// commands, the workers' posted messages and the live display.
#include "program_win32.h"

#include <commctrl.h>

#include <chrono>
#include <cstdio>
#include <iterator>
#include <string>

#include "acquisition/pending_records.h"
#include "acquisition/polling_worker.h"
#include "dde/dde_server.h"
#include "dialogs.h"
#include "requester_win32.h"
#include "instruments/help_path.h"
#include "resources/messages.h"
#include "resources/resource.h"
#include "shell/main_window.h"
#include "shell/registration.h"
#include "shell/settings.h"
#include "test_hooks_win32.h"

namespace kx305mon {

namespace {

// The main window's state; UI thread only.
struct MainWindow {
    Program* program = nullptr;
    std::string shownText[kDisplayTextControls];  // by DisplayControlTexts' order
    int shownIcon[KX305_INPUTS] = {};
    HANDLE instrument = nullptr;    // bitmap 112
    HANDLE noInstrument = nullptr;  // bitmap 113
    // The user closed the window; it ends once nothing holds it (below).
    bool closing = false;
    // Notice boxes up now, nested in this thread's message loops, by kind.
    int noticesUp = 0;
    bool noticeUp[8] = {};
};
MainWindow mainWindow;

AppContext& Context() { return mainWindow.program->context; }
SettingsStore& Settings() { return mainWindow.program->settings; }

std::string HelpFile() {
    char path[MAX_PATH];
    HelpFilePath(path, sizeof path, ".HLP");
    return path;
}

// The two pictures of the input panels, loaded once with the system's 3-D
// colours and shared by the five controls.
HANDLE LoadInputBitmap(int bitmapId) {
    return LoadImageA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(bitmapId), IMAGE_BITMAP, 0, 0, LR_LOADMAP3DCOLORS);
}

void SetInputIcon(HWND window, int input, int bitmapId) {
    HANDLE bitmap = bitmapId == IDB_INSTRUMENT ? mainWindow.instrument : mainWindow.noInstrument;
    HANDLE old = reinterpret_cast<HANDLE>(SendDlgItemMessageA(window, IDC_INPUT_PICTURE_0 + input, STM_SETIMAGE,
                                                              IMAGE_BITMAP, reinterpret_cast<LPARAM>(bitmap)));
    // Only the template's own picture, replaced at creation, is let go here.
    if (old != nullptr && old != mainWindow.instrument && old != mainWindow.noInstrument) DeleteObject(old);
    mainWindow.shownIcon[input] = bitmapId;
}

void ShowSnapshot(HWND window) {
    const auto start = std::chrono::steady_clock::now();
    std::optional<DisplaySnapshot> snapshot = mainWindow.program->events.Mailbox().Take();
    if (!snapshot) return;
    const auto texts = DisplayControlTexts(*snapshot);
    for (size_t k = 0; k < texts.size(); ++k) {
        // An unchanged text is not painted again.
        if (mainWindow.shownText[k] == *texts[k].text) continue;
        mainWindow.shownText[k] = *texts[k].text;
        SetDlgItemTextA(window, texts[k].controlId, texts[k].text->c_str());
    }
    for (int i = 0; i < KX305_INPUTS; ++i) {
        if (mainWindow.shownIcon[i] != snapshot->icons[i]) SetInputIcon(window, i, snapshot->icons[i]);
    }
    mainWindow.program->events.DisplayUpdated(
        std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - start).count());
}

void InitDialog(HWND window, Program* program) {
    mainWindow.program = program;
    AppContext& context = program->context;
    {
        MutexLock guard(context.plumbing.lock);
        context.mainWindow = WindowRefOf(window);
    }

    HINSTANCE instance = GetModuleHandleA(nullptr);
    HANDLE big = LoadImageA(instance, MAKEINTRESOURCEA(IDI_PROGRAM), IMAGE_ICON, GetSystemMetrics(SM_CXICON),
                            GetSystemMetrics(SM_CYICON), 0);
    HANDLE small = LoadImageA(instance, MAKEINTRESOURCEA(IDI_PROGRAM), IMAGE_ICON, GetSystemMetrics(SM_CXSMICON),
                              GetSystemMetrics(SM_CYSMICON), 0);
    SendMessageA(window, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(big));
    SendMessageA(window, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(small));
    SetWindowTextA(window, messages::kCaption);
    ShowWindow(GetDlgItem(window, IDC_RECORDING_TEXT), SW_HIDE);
    DeleteMenu(GetSystemMenu(window, FALSE), SC_MAXIMIZE, MF_BYCOMMAND);
    if (!context.firstInstance) EnableMenuItem(GetMenu(window), IDM_UNINSTALL, MF_BYCOMMAND | MF_GRAYED);
    mainWindow.instrument = LoadInputBitmap(IDB_INSTRUMENT);
    mainWindow.noInstrument = LoadInputBitmap(IDB_NO_INSTRUMENT);
    for (int i = 0; i < KX305_INPUTS; ++i) SetInputIcon(window, i, IDB_NO_INSTRUMENT);
    // Until the converter answers: the display without a converter.
    program->events.Mailbox().Put(MakeDisplaySnapshot(nullptr, nullptr, nullptr, context.averageKX125));
    ShowSnapshot(window);
    program->events.SetNoticeWindow(window);
    PostMessageA(window, WMU_PROMO, 0, 0);
}

// The port test until a usable port, the registration file, then the worker.
void StartAcquisition(HWND window) {
    AppContext& context = Context();
    const WindowRef self = WindowRefOf(window);
    for (;;) {
        int32_t port;
        {
            MutexLock guard(context.plumbing.lock);
            port = context.port;
        }
        if (PortTest(context, self, port) != 0) break;
        if (RunPortDialog(window, context, Settings()) == 0) {
            PostMessageA(window, WM_CLOSE, 0, 0);
            return;
        }
    }
    bool quickStart;
    {
        MutexLock guard(context.plumbing.lock);
        context.recordingInterval = 20;
        quickStart = context.quickStart;
    }
    bool recording = false;
    if (quickStart) {
        const RecordingOpen opened = OpenRegistrationFile(context, true, [] { return ExistingFileChoice::Append; });
        recording = opened == RecordingOpen::Opened;
        if (opened == RecordingOpen::Unavailable)
            ShowMessage(window, messages::kRegistrationFileUnavailable, MB_ICONEXCLAMATION);
    }
    if (!recording && RunRegistrationDialog(window, context, Settings()) == 0) {
        PostMessageA(window, WM_CLOSE, 0, 0);
        return;
    }
    context.recordingEvent.Set();
    mainWindow.program->events.StartCycleLog(context);
    StartPollingWorker(context);
}

void PlaceMainWindowRequest(HWND window, uint32_t operation, uint32_t parameter) {
    PlaceRequest(Context(), RequesterOf(window), operation, parameter);
}

void RunVizo(HWND window) {
    const UINT result = WinExec("VIZO.EXE", SW_SHOW);
    switch (ClassifyVizoStart(result)) {
    case VizoStart::NotFound:
        ShowMessage(window, messages::kVizoNotFound, MB_ICONINFORMATION);
        break;
    case VizoStart::CannotStart:
        ShowMessage(window, messages::kVizoStartFailed, MB_ICONINFORMATION);
        break;
    case VizoStart::Started:
        break;
    }
}

void Uninstall(HWND window) {
    if (UninstallSettings(Settings())) {
        ShowMessage(window, messages::kUninstallDone, MB_ICONINFORMATION);
    } else {
        ShowMessage(window, messages::kUninstallFailed, MB_ICONERROR);
    }
    PostMessageA(window, WM_CLOSE, 0, 0);
}

void OpenHelpContents(HWND window) { WinHelpA(window, HelpFile().c_str(), HELP_CONTENTS, 0); }

void Command(HWND window, int id) {
    AppContext& context = Context();
    // While closing waits, no dialog opens and no operation is placed.
    if (mainWindow.closing) return;
    if (id >= IDC_INPUT_PICTURE_0 && id < IDC_INPUT_PICTURE_0 + IDC_INPUT_COUNT) {
        PlaceMainWindowRequest(window, kOpResetRain, static_cast<uint32_t>(id - IDC_INPUT_PICTURE_0));
        return;
    }
    switch (id) {
    case IDM_SYNC_CLOCK:
        PlaceMainWindowRequest(window, kOpSyncClock, 0);
        break;
    case IDM_SET_TIME:
        RunSetTimeDialog(window, context);
        break;
    case IDM_PORT:
        RunPortDialog(window, context, Settings());
        break;
    case IDM_RAIN_GAUGE:
        RunRainGaugeDialog(window, context, Settings());
        break;
    case IDM_RUN_VIZO:
        RunVizo(window);
        break;
    case IDM_UNINSTALL:
        Uninstall(window);
        break;
    case IDM_EXIT:
        PostMessageA(window, WM_CLOSE, 0, 0);
        break;
    case IDM_READ_MEMORY:
        if (RunReadSourceDialog(window, context) != 0) RunMemoryViewer(window, context, Settings());
        break;
    case IDM_LOG_INTERVAL:
        RunLogIntervalDialog(window, context);
        break;
    case IDM_EXPORT_PARAMETERS:
        RunExportParametersDialog(window, context, Settings());
        break;
    case IDM_RAIN_REPORT:
        if (RunRainSourceDialog(window, context, Settings()) != 0) RunRainReport(window, context, Settings());
        break;
    case IDM_REGISTRATION:
        RunRegistrationDialog(window, context, Settings());
        break;
    case IDM_EXTRA_SETTINGS:
        RunExtraSettingsDialog(window, context, Settings());
        break;
    case IDM_HELP_CONTENTS:
        OpenHelpContents(window);
        break;
    case IDM_ABOUT:
        RunAboutDialog(window);
        break;
    default:
        break;
    }
}

// DDE names of input `input` renewed, or (kAllInputsChanged) the whole server.
void InputChanged(WPARAM input) {
    if (input < static_cast<WPARAM>(KX305_INPUTS)) {
        DdeInputUnregister(static_cast<int>(input));
        DdeInputRegister(static_cast<int>(input));
        return;
    }
    for (int i = 0; i < KX305_INPUTS; ++i) DdeInputUnregister(i);
    DdeServerStop();
    DdeServerStart(Context());
}

void Close(HWND window) {
    mainWindow.program->events.SetNoticeWindow(nullptr);
    for (int i = 0; i < KX305_INPUTS; ++i) DdeInputUnregister(i);
    WinHelpA(window, HelpFile().c_str(), HELP_QUIT, 0);
    EndDialog(window, 1);
}

void ReleaseInputIcons(HWND window) {
    for (int i = 0; i < KX305_INPUTS; ++i)
        SendDlgItemMessageA(window, IDC_INPUT_PICTURE_0 + i, STM_SETIMAGE, IMAGE_BITMAP, 0);
    for (HANDLE* bitmap : {&mainWindow.instrument, &mainWindow.noInstrument}) {
        if (*bitmap != nullptr) DeleteObject(*bitmap);
        *bitmap = nullptr;
    }
}

// A box the workers asked for, owned by the main window.  One of a kind at
// a time: a failure that repeats with every download would otherwise nest
// box upon box while the first is still unanswered.
void ShowNoticeBox(HWND window, WPARAM notice, LPARAM count) {
    const size_t kind = notice < std::size(mainWindow.noticeUp) ? notice : 0;
    if (mainWindow.noticeUp[kind]) return;
    mainWindow.noticeUp[kind] = true;
    ++mainWindow.noticesUp;
    ShowNotice(window, static_cast<uint32_t>(notice), static_cast<size_t>(count));
    --mainWindow.noticesUp;
    mainWindow.noticeUp[kind] = false;
}

constexpr UINT_PTR kClosingTimer = 1;
constexpr UINT kClosingCheckMillis = 200;

// Closing waits, with the window alive and served, for a download that
// must not be broken off (firmware up to 1.12 emptied its memory when it
// began: its records exist only in this transfer) and for boxes still up
// (their answer must not outlive the window).
bool ClosingMustWait() { return mainWindow.noticesUp > 0 || LogTransferMustFinish(Context()); }

void ShowFinishingText(HWND window) {
    SetDlgItemTextA(window, IDC_RECORDING_TEXT, messages::kFinishingRecording);
    ShowWindow(GetDlgItem(window, IDC_RECORDING_TEXT), SW_SHOW);
}

void BeginClose(HWND window) {
    if (mainWindow.closing) return;
    if (!ClosingMustWait()) {
        Close(window);
        return;
    }
    mainWindow.closing = true;
    // No further download begins: the recording timer stands still.
    Context().recordingEvent.Reset();
    if (LogTransferMustFinish(Context())) ShowFinishingText(window);
    SetTimer(window, kClosingTimer, kClosingCheckMillis, nullptr);
}

void ClosingTick(HWND window) {
    if (ClosingMustWait()) return;
    KillTimer(window, kClosingTimer);
    Close(window);
}

// Records the converter no longer holds and no file took end with the
// program: closing goes on only when the user says so.
bool MayCloseWithUnstoredRecords(HWND window) {
    const size_t unstored = RecordsOnlyInMemory(Context());
    if (unstored == 0) return true;
    char text[512];
    std::snprintf(text, sizeof text, messages::kUnstoredRecordsOnClose, static_cast<unsigned>(unstored));
    return ShowMessage(window, text, MB_ICONQUESTION, MB_YESNO) == IDYES;
}

}  // namespace

INT_PTR CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_INITDIALOG:
        InitDialog(window, reinterpret_cast<Program*>(lParam));
        return TRUE;
    case WMU_PROMO:
        // The window shows before anything of the start asks the user (the
        // modal loop would show it only once its queue ran empty).
        ShowWindow(window, SW_SHOW);
        UpdateWindow(window);
        if (Context().showQmv) RunPromotionDialog(window, Context());
        PostMessageA(window, WMU_START, 0, 0);
        return TRUE;
    case WMU_START:
        StartAcquisition(window);
        return TRUE;
    case WM_COMMAND:
        // Menu commands and clicks; other notifications of the controls go.
        if (HIWORD(wParam) == 0) Command(window, LOWORD(wParam));
        return TRUE;
    case WMU_DISPLAY:
        ShowSnapshot(window);
        return TRUE;
    case WMU_PROGRESS:
        SendDlgItemMessageA(window, IDC_DOWNLOAD_PROGRESS, PBM_SETPOS, wParam, 0);
        return TRUE;
    case WMU_RECORDING_TEXT:
        // While closing waits, its own text stays until the window ends.
        if (!mainWindow.closing) ShowWindow(GetDlgItem(window, IDC_RECORDING_TEXT), wParam != 0 ? SW_SHOW : SW_HIDE);
        return TRUE;
    case WMU_NOTICE:
        ShowNoticeBox(window, wParam, lParam);
        return TRUE;
    case WM_TIMER:
        if (wParam == kClosingTimer) ClosingTick(window);
        return TRUE;
    case WMU_RAIN_GAUGE_MENU:
        EnableMenuItem(GetMenu(window), IDM_RAIN_GAUGE, MF_BYCOMMAND | (wParam != 0 ? MF_ENABLED : MF_GRAYED));
        DrawMenuBar(window);
        return TRUE;
    case WMU_TIME_SET:
        if (wParam != 0) {
            ShowMessage(window, messages::kClockSet, MB_ICONINFORMATION);
        } else {
            ShowMessage(window, messages::kClockSetFailed, MB_ICONERROR);
        }
        return TRUE;
    case WMU_NEW_DATA:
        for (int i = 0; i < KX305_INPUTS; ++i) DdeInputAdvise(i);
        return TRUE;
    case WMU_INPUT_CHANGED:
        InputChanged(wParam);
        return TRUE;
    case WM_HELP:
        OpenHelpContents(window);
        return TRUE;
    case WM_CLOSE:
        if (!MayCloseWithUnstoredRecords(window)) return TRUE;
        BeginClose(window);
        return TRUE;
    case WM_DESTROY:
        ReleaseInputIcons(window);
        return FALSE;
    default:
        break;
    }
    return AnswerTestHook(window, message, wParam) ? TRUE : FALSE;
}

}  // namespace kx305mon
