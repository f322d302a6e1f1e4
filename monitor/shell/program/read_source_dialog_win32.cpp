// "Odczyt pamięci" (122): the registration file the memory viewer reads,
// the one in use or another.  What OK accepts is memory_review.h's.
#include <windows.h>

#include <string>

#include "resources/resource.h"
#include "shell/memory_review.h"
#include "shell/program/dialog_frame_win32.h"
#include "shell/program/dialogs.h"
#include "shell/program/file_name_controls_win32.h"

namespace kx305mon {

namespace {

void EnableButtons(HWND dialog, BOOL enabled) {
    for (int id : {IDC_USE_CURRENT_FILE, IDC_OK, IDC_CANCEL}) EnableWindow(GetDlgItem(dialog, id), enabled);
}

class ReadSourceDialog final : public DialogFrame {
public:
    explicit ReadSourceDialog(AppContext& context) : context_(context) {}

private:
    void Open(HWND dialog) override { ShowReadSource(dialog, context_); }

    void Accept(HWND dialog) override {
        const bool useFileInUse = IsDlgButtonChecked(dialog, IDC_USE_CURRENT_FILE) == BST_CHECKED;
        const std::string text = FileNameText(dialog);
        EnableWindow(GetDlgItem(dialog, IDC_FILE_NAME), FALSE);
        EnableWindow(GetDlgItem(dialog, IDC_BROWSE), FALSE);
        EnableButtons(dialog, FALSE);
        if (ConfirmReadSource(context_, useFileInUse, text)) {
            EndDialog(dialog, 1);
            return;
        }
        ShowUnavailableFile(dialog);
        ApplyReadSourceRule(dialog);
        EnableButtons(dialog, TRUE);
    }

    bool Command(HWND dialog, int id, int code) override {
        return FileNameCommand(dialog, context_, context_.readPath, id, code);
    }

    AppContext& context_;
};

}  // namespace

INT_PTR RunReadSourceDialog(HWND owner, AppContext& context) {
    ReadSourceDialog dialog(context);
    return dialog.Run(owner, IDD_READ_SOURCE, &context);
}

}  // namespace kx305mon
