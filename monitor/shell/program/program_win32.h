// The pieces of kx305mon.exe that meet in its entry: the program's
// acquisition events, the main window procedure, the static-text painting
// and the one message box.  Windows build only.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <mutex>

#include "acquisition/app_context.h"
#include "acquisition/events.h"
#include "requester_win32.h"
#include "shell/display_text.h"
#include "shell/main_window.h"
#include "shell/settings_store.h"

namespace kx305mon {

// A message box with the caption "Konwerter KX-305"; `icon` is one of the
// MB_ICON* flags.  Remembers the icon for the test hook.
int ShowMessage(HWND owner, const char* text, UINT icon, UINT buttons = MB_OK);
// The box of a Notice (shell/main_window.h) with its text and icon; nothing
// for a number that is no notice.
int ShowNotice(HWND owner, uint32_t notice, size_t count);

// The replacement painting of static text controls (flicker-free, the
// text kept as the control's own).  Installed before the main window is
// created, removed at exit.
bool InstallStaticPainting(HINSTANCE instance);
void RemoveStaticPainting();

// What the acquisition threads report, turned into the main window's
// posted messages.  The worker never waits for the UI thread here: the
// display texts are built on the worker's thread and handed over through
// the mailbox, and a message box it asks for is a WMU_NOTICE that the UI
// thread shows (only a report made on the UI thread itself, the port test
// of the start and the port dialog, shows its box at once).
class ProgramEvents final : public AcquisitionEvents {
public:
    // On the UI thread.
    ProgramEvents();
    ~ProgramEvents() override;

    void InputChanged(WindowRef window, int input) override;
    void LiveData(WindowRef window, const ConverterInfo* info, const ClockRecord* clock, const InputReading* results,
                  AppContext& context) override;
    void RainGauge(WindowRef window, uint32_t typeOfInput0) override;
    void CycleDone(WindowRef window) override;
    void ConnectionLost(WindowRef window) override;
    void DownloadStarted(WindowRef window) override;
    void DownloadProgress(WindowRef window, unsigned percent) override;
    void DownloadFinished(WindowRef window, const DownloadReport& report) override;
    void ClockSet(Requester requester, bool done) override;
    void LogPeriodRead(Requester requester, unsigned seconds) override;
    void LogPeriodWritten(Requester requester, bool done) override;
    void Failure(WindowRef owner, AcquisitionFailure failure) override;

    DisplayMailbox& Mailbox() { return mailbox_; }
    // The window that shows the boxes the workers ask for; null while
    // there is none (a box asked for then is not shown).
    void SetNoticeWindow(HWND window) { noticeWindow_.store(window, std::memory_order_release); }

    // The cycle log: opens the file named by KX305MON_CYCLE_LOG, if any,
    // and hooks the worker's per-cycle timing.  Before the worker starts.
    void StartCycleLog(AppContext& context);
    // The UI thread's time for one display update.
    void DisplayUpdated(int64_t micros) { displayMicros_.store(micros, std::memory_order_relaxed); }

private:
    void PostNotice(Notice notice, size_t count);

    const DWORD uiThread_;
    std::atomic<HWND> noticeWindow_{nullptr};
    DisplayMailbox mailbox_;
    RainGaugeMenuSwitch rainGaugeMenu_;  // worker thread only
    DownloadNotices downloadNotices_;    // worker thread only
    std::atomic<int64_t> liveDataMicros_{0};
    std::atomic<int64_t> displayMicros_{0};
    std::FILE* cycleLog_ = nullptr;
};

// What the main window gets as its creation parameter.
struct Program {
    AppContext& context;
    ProgramEvents& events;
    // The program's one settings store: the dialogs save into it and the
    // uninstall removes it.
    SettingsStore& settings;
};

// The main window's procedure (dialog 102, lParam of WM_INITDIALOG a Program*).
INT_PTR CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

}  // namespace kx305mon
