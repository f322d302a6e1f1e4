// "Ustawienia dodatkowe" (125): the KX-125 average, the quick start and the
// promotion at start (its box is ticked to hide it); saved as groups 16 and
// 32.
#include <windows.h>

#include <memory>

#include "resources/resource.h"
#include "shell/help.h"
#include "shell/program/dialogs.h"
#include "shell/program/small_dialog_support_win32.h"
#include "shell/settings_store.h"
#include "shell/small_dialogs.h"

namespace kx305mon {
namespace {

using namespace small_dialogs;

void Check(HWND dialog, int id, bool ticked) { CheckDlgButton(dialog, id, ticked ? BST_CHECKED : BST_UNCHECKED); }
bool Ticked(HWND dialog, int id) { return IsDlgButtonChecked(dialog, id) == BST_CHECKED; }

INT_PTR CALLBACK ExtraSettingsProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    AppContext* context = StateOf<AppContext>(dialog, message, lParam);
    switch (message) {
    case WM_INITDIALOG: {
        const ExtraSettingsBoxes boxes = ReadExtraSettings(*context);
        Check(dialog, IDC_SHOW_KX125_AVERAGE, boxes.kx125Average);
        Check(dialog, IDC_QUICK_START, boxes.quickStart);
        Check(dialog, IDC_HIDE_PROMOTION, boxes.hidePromotion);
        return TRUE;
    }
    case WM_COMMAND:
        if (context == nullptr) break;
        switch (LOWORD(wParam)) {
        case IDC_OK:
        case IDOK: {
            ExtraSettingsBoxes boxes;
            boxes.kx125Average = Ticked(dialog, IDC_SHOW_KX125_AVERAGE);
            boxes.quickStart = Ticked(dialog, IDC_QUICK_START);
            boxes.hidePromotion = Ticked(dialog, IDC_HIDE_PROMOTION);
            std::unique_ptr<SettingsStore> store = MakeRegistrySettingsStore();
            StoreExtraSettings(*context, *store, boxes);
            EndDialog(dialog, 1);
            return TRUE;
        }
        case IDC_CANCEL:
        case IDCANCEL:
            EndDialog(dialog, 0);
            return TRUE;
        default:
            break;
        }
        break;
    case WM_HELP:
        ShowContextHelp(reinterpret_cast<const void*>(lParam), HelpIdTable(IDD_EXTRA_SETTINGS), IDD_EXTRA_SETTINGS);
        return TRUE;
    default:
        break;
    }
    return FALSE;
}

}  // namespace

INT_PTR RunExtraSettingsDialog(HWND owner, AppContext& context) {
    return DialogBoxParamA(TemplateModule(&context), MAKEINTRESOURCEA(IDD_EXTRA_SETTINGS), owner,
                           ExtraSettingsProc, reinterpret_cast<LPARAM>(&context));
}

}  // namespace kx305mon
