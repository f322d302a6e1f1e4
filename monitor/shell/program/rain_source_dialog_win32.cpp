// "Odczyt danych z deszczomierza" (126): the source of the rain report and
// its interval.  What OK accepts is rain_review.h's.
#include <windows.h>

#include <string>

#include "program_win32.h"
#include "resources/messages.h"
#include "resources/resource.h"
#include "shell/program/dialogs.h"
#include "shell/program/file_name_controls_win32.h"
#include "shell/rain_review.h"
#include "shell/settings_store.h"

namespace kx305mon {

namespace {

constexpr int kSourceControls[] = {IDC_FILE_NAME, IDC_BROWSE, IDC_USE_CURRENT_FILE, IDC_CANCEL, IDC_OK};

class RainSourceDialog final : public FileNamingDialog {
public:
    RainSourceDialog(AppContext& context, SettingsStore& settings)
        : FileNamingDialog(context, context.readPath), settings_(settings) {}

private:
    void Open(HWND dialog) override {
        ShowStoredPathBesideFileInUse(dialog);
        HWND combo = GetDlgItem(dialog, IDC_REPORT_INTERVAL);
        for (const char* name : messages::kRainIntervals) {
            SendMessageA(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(name));
        }
        SendMessageA(combo, CB_SETCURSEL, static_cast<WPARAM>(RainIntervalSelection(Context())), 0);
    }

    void Accept(HWND dialog) override {
        const int interval = static_cast<int>(SendDlgItemMessageA(dialog, IDC_REPORT_INTERVAL, CB_GETCURSEL, 0, 0));
        const bool useFileInUse = IsDlgButtonChecked(dialog, IDC_USE_CURRENT_FILE) == BST_CHECKED;
        const std::string text = FileNameText(dialog);
        if (interval < 0 || interval >= kRainIntervalCount) {
            ShowMessage(dialog, messages::kChooseInterval, MB_ICONEXCLAMATION);
            return;
        }
        for (int id : kSourceControls) EnableWindow(GetDlgItem(dialog, id), FALSE);
        switch (ConfirmRainSource(Context(), interval, useFileInUse, text, settings_)) {
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

    SettingsStore& settings_;
};

}  // namespace

INT_PTR RunRainSourceDialog(HWND owner, AppContext& context, SettingsStore& settings) {
    return RunDialog<RainSourceDialog>(owner, IDD_RAIN_SOURCE, context, settings);
}

}  // namespace kx305mon
