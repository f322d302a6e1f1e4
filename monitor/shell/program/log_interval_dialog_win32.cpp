// "Interwał rejestracji" (105): the converter's logging interval, read when
// the dialog opens (operation 2) and written on OK (operation 3).  The
// worker's answers arrive as WMU_PERIOD_READ and WMU_PERIOD_SET; the dialog
// never waits for the converter.
#include <windows.h>

#include <string>

#include "program_win32.h"
#include "resources/messages.h"
#include "resources/resource.h"
#include "shell/program/dialog_frame_win32.h"
#include "shell/program/dialogs.h"
#include "shell/small_dialogs.h"

namespace kx305mon {
namespace {

void EnableEntry(HWND dialog, BOOL enabled) {
    EnableWindow(GetDlgItem(dialog, IDC_INTERVAL), enabled);
    EnableWindow(GetDlgItem(dialog, IDC_OK), enabled);
}

class LogIntervalDialog final : public DialogFrame {
public:
    using DialogFrame::DialogFrame;

private:
    void Open(HWND dialog) override { PlaceRequest(Context(), RequesterOf(dialog), kOpReadLogPeriod, 0); }

    // Enter does nothing while the entry is disabled.
    void Accept(HWND dialog) override {
        if (!IsWindowEnabled(GetDlgItem(dialog, IDC_OK))) return;
        uint32_t seconds = 0;
        const std::string text = ItemText(dialog, IDC_INTERVAL);
        if (const char* message = LogIntervalToWrite(text.c_str(), seconds)) {
            ShowMessage(dialog, message, MB_ICONWARNING);
            return;
        }
        EnableEntry(dialog, FALSE);
        PlaceLogPeriodRequest(Context(), RequesterOf(dialog), seconds);
    }

    void Cancel(HWND dialog) override {
        // Only this dialog's request goes; a download placed meanwhile stays.
        WithdrawRequest(Context(), RequesterOf(dialog));
        EndDialog(dialog, 0);
    }

    bool Message(HWND dialog, UINT message, WPARAM wParam, LPARAM) override {
        switch (message) {
        case WMU_PERIOD_READ:
            SetDlgItemInt(dialog, IDC_INTERVAL, static_cast<UINT>(wParam), FALSE);
            EnableEntry(dialog, TRUE);
            return true;
        case WMU_PERIOD_SET:
            // A failed write leaves the entry disabled: only Cancel remains.
            if (wParam == 0) {
                ShowMessage(dialog, messages::kIntervalWriteFailed, MB_ICONERROR);
            } else {
                EndDialog(dialog, 1);
            }
            return true;
        default:
            return false;
        }
    }
};

}  // namespace

INT_PTR RunLogIntervalDialog(HWND owner, AppContext& context) {
    return RunDialog<LogIntervalDialog>(owner, IDD_LOG_INTERVAL, context);
}

}  // namespace kx305mon
