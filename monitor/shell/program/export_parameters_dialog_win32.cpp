// "Parametry eksportu": the export options (106, from the menu, the viewer
// and the first run) and the rain report's reduced twin (128, separator and
// layout).  The dialog shows the choice and collects it; the rules and
// what is stored are export_parameters.h's.
#include <windows.h>

#include <mutex>

#include "program_win32.h"
#include "resources/resource.h"
#include "shell/export_parameters.h"
#include "shell/program/dialog_frame_win32.h"
#include "shell/program/dialogs.h"
#include "shell/settings_store.h"

namespace kx305mon {

namespace {

bool Checked(HWND dialog, int control) { return IsDlgButtonChecked(dialog, control) == BST_CHECKED; }

// The field boxes follow the layout: enabled exactly while "&Opisowy" is chosen.
void ApplyEnablingRule(HWND dialog) {
    ExportChoice choice;
    choice.descriptive = Checked(dialog, IDC_LAYOUT_DESCRIPTIVE);
    const BOOL enabled = ExportFieldsEnabled(choice) ? TRUE : FALSE;
    for (const ExportFieldBox& box : kExportFieldBoxes) EnableWindow(GetDlgItem(dialog, box.controlId), enabled);
}

void ShowChoice(HWND dialog, bool full, const ExportChoice& choice) {
    const ExportRadioIds radios = CheckedRadios(choice);
    CheckRadioButton(dialog, IDC_SEPARATOR_TAB, IDC_SEPARATOR_LIST, radios.separator);
    CheckRadioButton(dialog, IDC_LAYOUT_CSV, IDC_LAYOUT_DESCRIPTIVE, radios.layout);
    if (!full) return;
    CheckRadioButton(dialog, IDC_CURRENT_RECORD, IDC_ALL_RECORDS, radios.records);
    for (const ExportFieldBox& box : kExportFieldBoxes) {
        CheckDlgButton(dialog, box.controlId, (choice.fields & box.bit) != 0 ? BST_CHECKED : BST_UNCHECKED);
    }
    ApplyEnablingRule(dialog);
}

ExportChoice CollectChoice(HWND dialog, bool full) {
    ExportChoice choice;
    choice.descriptive = Checked(dialog, IDC_LAYOUT_DESCRIPTIVE);
    choice.listSeparator = Checked(dialog, IDC_SEPARATOR_LIST);
    if (!full) return choice;
    choice.allRecords = Checked(dialog, IDC_ALL_RECORDS);
    // Every box counts, enabled or not.
    for (const ExportFieldBox& box : kExportFieldBoxes) {
        if (Checked(dialog, box.controlId)) choice.fields |= box.bit;
    }
    return choice;
}

// 106 or its reduced twin 128, told apart by the dialog's id.
class ExportDialog final : public DialogFrame {
public:
    ExportDialog(AppContext& context, SettingsStore& settings) : DialogFrame(context), settings_(settings) {}

private:
    bool Full() const { return DialogId() == IDD_EXPORT_PARAMETERS; }

    void Open(HWND dialog) override {
        uint32_t flags;
        {
            MutexLock guard(Context().plumbing.lock);
            flags = Context().exportFlags;
        }
        ShowChoice(dialog, Full(), ExportChoiceFromFlags(flags));
    }

    void Accept(HWND dialog) override {
        const ExportChoice choice = CollectChoice(dialog, Full());
        if (Full()) {
            if (const char* message = AcceptExportParameters(Context(), settings_, choice)) {
                ShowMessage(dialog, message, MB_ICONSTOP);
                return;
            }
        } else {
            AcceptRainExportParameters(Context(), settings_, choice);
        }
        EndDialog(dialog, 1);
    }

    bool Command(HWND dialog, int id, int code) override {
        if (id != IDC_LAYOUT_CSV && id != IDC_LAYOUT_DESCRIPTIVE) return false;
        if (Full() && code == BN_CLICKED) ApplyEnablingRule(dialog);
        return true;
    }

    SettingsStore& settings_;
};

}  // namespace

INT_PTR RunExportParametersDialog(HWND owner, AppContext& context, SettingsStore& settings) {
    return RunDialog<ExportDialog>(owner, IDD_EXPORT_PARAMETERS, context, settings);
}

INT_PTR RunRainExportParametersDialog(HWND owner, AppContext& context, SettingsStore& settings) {
    return RunDialog<ExportDialog>(owner, IDD_RAIN_EXPORT_PARAMETERS, context, settings);
}

}  // namespace kx305mon
