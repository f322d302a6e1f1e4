#include "file_name_controls_win32.h"

#include <cstring>
#include <mutex>

#include "program_win32.h"
#include "resources/messages.h"
#include "resources/resource.h"
#include "shell/registration.h"

namespace kx305mon {

namespace {

constexpr int kPathLength = 259;

}  // namespace

void FileNamingDialog::ShowStoredPath(HWND dialog) {
    std::string path;
    {
        MutexLock guard(Context().plumbing.lock);
        path = stored_;
    }
    SendDlgItemMessageA(dialog, IDC_FILE_NAME, EM_LIMITTEXT, kPathLength, 0);
    SetDlgItemTextA(dialog, IDC_FILE_NAME, path.c_str());
}

void FileNamingDialog::ShowStoredPathBesideFileInUse(HWND dialog) {
    ShowStoredPath(dialog);
    CheckDlgButton(dialog, IDC_USE_CURRENT_FILE, BST_CHECKED);
    ApplyReadSourceRule(dialog);
}

bool FileNamingDialog::Command(HWND dialog, int id, int code) {
    if (id == IDC_USE_CURRENT_FILE && code == BN_CLICKED) {
        ApplyReadSourceRule(dialog);
        return true;
    }
    if (id != IDC_BROWSE) return false;
    char path[260] = {};
    {
        MutexLock guard(Context().plumbing.lock);
        std::memcpy(path, stored_, sizeof path - 1);
    }
    if (ChooseRegistrationFile(WindowRefOf(dialog), path)) SetDlgItemTextA(dialog, IDC_FILE_NAME, path);
    return true;
}

std::string FileNameText(HWND dialog) {
    char text[kPathLength + 1] = {};
    GetDlgItemTextA(dialog, IDC_FILE_NAME, text, sizeof text);
    return text;
}

void ApplyReadSourceRule(HWND dialog) {
    const BOOL otherFile = IsDlgButtonChecked(dialog, IDC_USE_CURRENT_FILE) != BST_CHECKED;
    EnableWindow(GetDlgItem(dialog, IDC_FILE_NAME), otherFile);
    EnableWindow(GetDlgItem(dialog, IDC_BROWSE), otherFile);
}

void ShowUnavailableFile(HWND owner) { ShowMessage(owner, messages::kRegistrationFileUnavailable, MB_ICONEXCLAMATION); }

}  // namespace kx305mon
