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

void BrowseFromStoredPath(HWND dialog, AppContext& context, const char (&stored)[260]) {
    char path[260] = {};
    {
        std::lock_guard<std::mutex> guard(context.lock);
        std::memcpy(path, stored, sizeof path - 1);
    }
    if (ChooseRegistrationFile(reinterpret_cast<WindowRef>(dialog), path)) SetDlgItemTextA(dialog, IDC_FILE_NAME, path);
}

}  // namespace

void ShowStoredPath(HWND dialog, AppContext& context, const char (&stored)[260]) {
    std::string path;
    {
        std::lock_guard<std::mutex> guard(context.lock);
        path = stored;
    }
    SendDlgItemMessageA(dialog, IDC_FILE_NAME, EM_LIMITTEXT, kPathLength, 0);
    SetDlgItemTextA(dialog, IDC_FILE_NAME, path.c_str());
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

void ShowReadSource(HWND dialog, AppContext& context) {
    ShowStoredPath(dialog, context, context.readPath);
    CheckDlgButton(dialog, IDC_USE_CURRENT_FILE, BST_CHECKED);
    ApplyReadSourceRule(dialog);
}

bool FileNameCommand(HWND dialog, AppContext& context, const char (&stored)[260], int id, int code) {
    if (id == IDC_BROWSE) {
        BrowseFromStoredPath(dialog, context, stored);
        return true;
    }
    if (id != IDC_USE_CURRENT_FILE || code != BN_CLICKED) return false;
    ApplyReadSourceRule(dialog);
    return true;
}

void ShowUnavailableFile(HWND owner) {
    ShowMessage(owner, messages::kRegistrationFileUnavailable, MB_ICONEXCLAMATION);
}

}  // namespace kx305mon
