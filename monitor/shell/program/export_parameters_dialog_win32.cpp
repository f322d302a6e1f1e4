// "Parametry eksportu": the export options (106, from the menu, the viewer
// and the first run) and the rain report's reduced twin (128, separator and
// layout).  The procedures show the choice and collect it; the rules and
// what is stored are export_parameters.h's.
#include <windows.h>

#include <memory>
#include <mutex>

#include "program_win32.h"
#include "resources/resource.h"
#include "shell/export_parameters.h"
#include "shell/help.h"
#include "shell/program/dialogs.h"
#include "shell/settings_store.h"

namespace kx305mon {

namespace {

struct ExportDialog {
    AppContext& context;
    int dialogId;  // IDD_EXPORT_PARAMETERS or IDD_RAIN_EXPORT_PARAMETERS

    bool Full() const { return dialogId == IDD_EXPORT_PARAMETERS; }
};

bool Checked(HWND dialog, int control) { return IsDlgButtonChecked(dialog, control) == BST_CHECKED; }

// The field boxes follow the layout: enabled exactly while "&Opisowy" is chosen.
void ApplyEnablingRule(HWND dialog) {
    ExportChoice choice;
    choice.descriptive = Checked(dialog, IDC_LAYOUT_DESCRIPTIVE);
    const BOOL enabled = ExportFieldsEnabled(choice) ? TRUE : FALSE;
    for (const ExportFieldBox& box : kExportFieldBoxes) EnableWindow(GetDlgItem(dialog, box.controlId), enabled);
}

void ShowChoice(HWND dialog, const ExportDialog& state, const ExportChoice& choice) {
    const ExportRadioIds radios = CheckedRadios(choice);
    CheckRadioButton(dialog, IDC_SEPARATOR_TAB, IDC_SEPARATOR_LIST, radios.separator);
    CheckRadioButton(dialog, IDC_LAYOUT_CSV, IDC_LAYOUT_DESCRIPTIVE, radios.layout);
    if (!state.Full()) return;
    CheckRadioButton(dialog, IDC_CURRENT_RECORD, IDC_ALL_RECORDS, radios.records);
    for (const ExportFieldBox& box : kExportFieldBoxes) {
        CheckDlgButton(dialog, box.controlId, (choice.fields & box.bit) != 0 ? BST_CHECKED : BST_UNCHECKED);
    }
    ApplyEnablingRule(dialog);
}

ExportChoice CollectChoice(HWND dialog, const ExportDialog& state) {
    ExportChoice choice;
    choice.descriptive = Checked(dialog, IDC_LAYOUT_DESCRIPTIVE);
    choice.listSeparator = Checked(dialog, IDC_SEPARATOR_LIST);
    if (!state.Full()) return choice;
    choice.allRecords = Checked(dialog, IDC_ALL_RECORDS);
    // Every box counts, enabled or not.
    for (const ExportFieldBox& box : kExportFieldBoxes) {
        if (Checked(dialog, box.controlId)) choice.fields |= box.bit;
    }
    return choice;
}

void Accept(HWND dialog, ExportDialog& state) {
    const ExportChoice choice = CollectChoice(dialog, state);
    std::unique_ptr<SettingsStore> store = MakeRegistrySettingsStore();
    if (state.Full()) {
        if (const char* message = AcceptExportParameters(state.context, *store, choice)) {
            ShowMessage(dialog, message, MB_ICONSTOP);
            return;
        }
    } else {
        AcceptRainExportParameters(state.context, *store, choice);
    }
    EndDialog(dialog, 1);
}

INT_PTR CALLBACK ExportParametersProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    ExportDialog* state = reinterpret_cast<ExportDialog*>(GetWindowLongPtrA(dialog, GWLP_USERDATA));
    switch (message) {
    case WM_INITDIALOG: {
        state = reinterpret_cast<ExportDialog*>(lParam);
        SetWindowLongPtrA(dialog, GWLP_USERDATA, lParam);
        uint32_t flags;
        {
            MutexLock guard(state->context.plumbing.lock);
            flags = state->context.exportFlags;
        }
        ShowChoice(dialog, *state, ExportChoiceFromFlags(flags));
        return TRUE;
    }
    case WM_COMMAND:
        if (state == nullptr) break;
        switch (LOWORD(wParam)) {
        case IDC_LAYOUT_CSV:
        case IDC_LAYOUT_DESCRIPTIVE:
            if (state->Full() && HIWORD(wParam) == BN_CLICKED) ApplyEnablingRule(dialog);
            return TRUE;
        case IDC_OK:
        case IDOK:
            Accept(dialog, *state);
            return TRUE;
        case IDC_CANCEL:
        case IDCANCEL:
            EndDialog(dialog, 0);
            return TRUE;
        default:
            break;
        }
        break;
    case WM_HELP:
        if (state == nullptr) break;
        ShowContextHelp(reinterpret_cast<const void*>(lParam), HelpIdTable(state->dialogId), state->dialogId);
        return TRUE;
    default:
        break;
    }
    return FALSE;
}

INT_PTR RunExportDialog(HWND owner, AppContext& context, int dialogId) {
    ExportDialog state{context, dialogId};
    HINSTANCE instance = context.instance != 0 ? reinterpret_cast<HINSTANCE>(context.instance)
                                               : GetModuleHandleA(nullptr);
    return DialogBoxParamA(instance, MAKEINTRESOURCEA(dialogId), owner, ExportParametersProc,
                           reinterpret_cast<LPARAM>(&state));
}

}  // namespace

INT_PTR RunExportParametersDialog(HWND owner, AppContext& context) {
    return RunExportDialog(owner, context, IDD_EXPORT_PARAMETERS);
}

INT_PTR RunRainExportParametersDialog(HWND owner, AppContext& context) {
    return RunExportDialog(owner, context, IDD_RAIN_EXPORT_PARAMETERS);
}

}  // namespace kx305mon
