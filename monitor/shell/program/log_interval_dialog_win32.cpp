// "Interwał rejestracji" (105): the converter's logging interval, read when
// the dialog opens (operation 2) and written on OK (operation 3).  The
// worker's answers arrive as WMU_PERIOD_READ and WMU_PERIOD_SET; the dialog
// never waits for the converter.
#include <windows.h>

#include <string>

#include "resources/resource.h"
#include "shell/help.h"
#include "shell/program/dialogs.h"
#include "shell/program/small_dialog_support_win32.h"
#include "shell/small_dialogs.h"

namespace kx305mon {
namespace {

using namespace small_dialogs;

void EnableEntry(HWND dialog, BOOL enabled) {
    EnableWindow(GetDlgItem(dialog, IDC_INTERVAL), enabled);
    EnableWindow(GetDlgItem(dialog, IDC_OK), enabled);
}

void Accept(HWND dialog, AppContext& context) {
    uint32_t seconds = 0;
    const std::string text = ItemText(dialog, IDC_INTERVAL);
    if (const char* message = LogIntervalToWrite(text.c_str(), seconds)) {
        Tell(dialog, message, MB_ICONWARNING);
        return;
    }
    EnableEntry(dialog, FALSE);
    PlaceLogPeriodRequest(context, RefOf(dialog), seconds);
}

INT_PTR CALLBACK LogIntervalProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    AppContext* context = StateOf<AppContext>(dialog, message, lParam);
    switch (message) {
    case WM_INITDIALOG:
        PlaceRequest(*context, RefOf(dialog), kOpReadLogPeriod, 0);
        return TRUE;
    case WMU_PERIOD_READ:
        SetDlgItemInt(dialog, IDC_INTERVAL, static_cast<UINT>(wParam), FALSE);
        EnableEntry(dialog, TRUE);
        return TRUE;
    case WMU_PERIOD_SET:
        // A failed write leaves the entry disabled: only Cancel remains.
        if (wParam == 0) Tell(dialog, messages::kIntervalWriteFailed, MB_ICONERROR);
        else EndDialog(dialog, 1);
        return TRUE;
    case WM_COMMAND:
        if (context == nullptr) break;
        switch (LOWORD(wParam)) {
        case IDC_OK:
        case IDOK:
            if (IsWindowEnabled(GetDlgItem(dialog, IDC_OK))) Accept(dialog, *context);
            return TRUE;
        case IDC_CANCEL:
        case IDCANCEL:
            // Only this dialog's request goes; a download placed meanwhile stays.
            WithdrawRequest(*context, RefOf(dialog));
            EndDialog(dialog, 0);
            return TRUE;
        default:
            break;
        }
        break;
    case WM_HELP:
        ShowContextHelp(reinterpret_cast<const void*>(lParam), HelpIdTable(IDD_LOG_INTERVAL), IDD_LOG_INTERVAL);
        return TRUE;
    default:
        break;
    }
    return FALSE;
}

}  // namespace

INT_PTR RunLogIntervalDialog(HWND owner, AppContext& context) {
    return DialogBoxParamA(TemplateModule(&context), MAKEINTRESOURCEA(IDD_LOG_INTERVAL), owner, LogIntervalProc,
                           reinterpret_cast<LPARAM>(&context));
}

}  // namespace kx305mon
