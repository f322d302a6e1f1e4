// "Odczyt pamięci" (122): the registration file the memory viewer reads,
// the one in use or another.  What OK accepts is memory_review.h's.
#include <windows.h>

#include <string>

#include "resources/resource.h"
#include "shell/memory_review.h"
#include "shell/program/dialogs.h"
#include "shell/program/file_name_controls_win32.h"

namespace kx305mon {

namespace {

void EnableButtons(HWND dialog, BOOL enabled) {
    for (int id : {IDC_USE_CURRENT_FILE, IDC_OK, IDC_CANCEL}) EnableWindow(GetDlgItem(dialog, id), enabled);
}

class ReadSourceDialog final : public FileNamingDialog {
public:
    explicit ReadSourceDialog(AppContext& context) : FileNamingDialog(context, context.readPath) {}

private:
    void Open(HWND dialog) override { ShowStoredPathBesideFileInUse(dialog); }

    void Accept(HWND dialog) override {
        const bool useFileInUse = IsDlgButtonChecked(dialog, IDC_USE_CURRENT_FILE) == BST_CHECKED;
        const std::string text = FileNameText(dialog);
        EnableWindow(GetDlgItem(dialog, IDC_FILE_NAME), FALSE);
        EnableWindow(GetDlgItem(dialog, IDC_BROWSE), FALSE);
        EnableButtons(dialog, FALSE);
        if (ConfirmReadSource(Context(), useFileInUse, text)) {
            EndDialog(dialog, 1);
            return;
        }
        ShowUnavailableFile(dialog);
        ApplyReadSourceRule(dialog);
        EnableButtons(dialog, TRUE);
    }
};

}  // namespace

INT_PTR RunReadSourceDialog(HWND owner, AppContext& context) {
    return RunDialog<ReadSourceDialog>(owner, IDD_READ_SOURCE, context);
}

}  // namespace kx305mon
