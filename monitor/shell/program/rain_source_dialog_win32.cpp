// "Odczyt danych z deszczomierza" (126): the source of the rain report and
// its interval.  What OK accepts is rain_review.h's.
#include <windows.h>

#include <memory>
#include <string>

#include "resources/messages.h"
#include "resources/resource.h"
#include "shell/program/dialog_frame_win32.h"
#include "shell/program/dialogs.h"
#include "shell/program/read_source_win32.h"
#include "shell/rain_review.h"
#include "shell/settings_store.h"

namespace kx305mon {

namespace {

constexpr int kSourceControls[] = {IDC_FILE_NAME, IDC_BROWSE, IDC_USE_CURRENT_FILE, IDC_CANCEL, IDC_OK};

void Open(HWND dialog, AppContext& context) {
    ShowStoredPath(dialog, context, context.readPath);
    CheckDlgButton(dialog, IDC_USE_CURRENT_FILE, BST_CHECKED);
    ApplyReadSourceRule(dialog);
    HWND combo = GetDlgItem(dialog, IDC_REPORT_INTERVAL);
    for (const char* name : messages::kRainIntervals) SendMessageA(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(name));
    SendMessageA(combo, CB_SETCURSEL, static_cast<WPARAM>(RainIntervalSelection(context)), 0);
}

void Accept(HWND dialog, AppContext& context) {
    const int interval = static_cast<int>(SendDlgItemMessageA(dialog, IDC_REPORT_INTERVAL, CB_GETCURSEL, 0, 0));
    const bool useFileInUse = IsDlgButtonChecked(dialog, IDC_USE_CURRENT_FILE) == BST_CHECKED;
    const std::string text = FileNameText(dialog);
    if (interval < 0 || interval >= kRainIntervalCount) {
        ShowMessage(dialog, messages::kChooseInterval, MB_ICONEXCLAMATION);
        return;
    }
    for (int id : kSourceControls) EnableWindow(GetDlgItem(dialog, id), FALSE);
    std::unique_ptr<SettingsStore> store = MakeRegistrySettingsStore();
    switch (ConfirmRainSource(context, interval, useFileInUse, text, *store)) {
        case RainSourceAnswer::Accepted:
            EndDialog(dialog, 1);
            return;
        case RainSourceAnswer::Unavailable:
            ShowUnavailableFile(dialog);
            break;
        case RainSourceAnswer::NoInterval:
            break;
    }
    for (int id : kSourceControls) EnableWindow(GetDlgItem(dialog, id), TRUE);
    ApplyReadSourceRule(dialog);
}

INT_PTR CALLBACK SourceProcedure(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    AppContext* context = small_dialogs::StateOf<AppContext>(dialog, message, lParam);
    if (context == nullptr) return FALSE;
    if (IsCancel(message, wParam, IDC_CANCEL)) {
        EndDialog(dialog, 0);
        return TRUE;
    }
    if (IsUseCurrentFileClick(message, wParam)) {
        ApplyReadSourceRule(dialog);
        return TRUE;
    }
    switch (message) {
        case WM_INITDIALOG:
            Open(dialog, *context);
            return TRUE;
        case WM_COMMAND:
            switch (LOWORD(wParam)) {
                case IDC_OK:
                case IDOK: Accept(dialog, *context); return TRUE;
                case IDC_BROWSE: BrowseFromStoredPath(dialog, *context, context->readPath); return TRUE;
                default: return FALSE;
            }
        case WM_HELP:
            return AnswerHelp(lParam, IDD_RAIN_SOURCE);
        default:
            return FALSE;
    }
}

}  // namespace

INT_PTR RunRainSourceDialog(HWND owner, AppContext& context) {
    return RunDialog(context, IDD_RAIN_SOURCE, owner, SourceProcedure, &context);
}

}  // namespace kx305mon
