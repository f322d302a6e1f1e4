// "O programie" (107): the converter's picture, the title, the version and
// the maker's mark.  OK ends with 1, closing with 0.
#include <windows.h>

#include "resources/resource.h"
#include "shell/program/dialogs.h"
#include "shell/program/small_dialog_support_win32.h"

namespace kx305mon {
namespace {

INT_PTR CALLBACK AboutProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
    case WM_INITDIALOG:
        return TRUE;
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDC_OK:
        case IDOK:
            EndDialog(dialog, 1);
            return TRUE;
        case IDCANCEL:
            EndDialog(dialog, 0);
            return TRUE;
        default:
            break;
        }
        break;
    default:
        break;
    }
    return FALSE;
}

}  // namespace

INT_PTR RunAboutDialog(HWND owner) {
    return DialogBoxParamA(small_dialogs::TemplateModule(nullptr), MAKEINTRESOURCEA(IDD_ABOUT), owner, AboutProc,
                           0);
}

}  // namespace kx305mon
