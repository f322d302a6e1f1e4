// The two dialogs that name a registration file: "Rejestracja" (121, the
// file recorded into) and "Odczyt pamięci" (122, the file the memory viewer
// reads).  What OK does is registration.h's and memory_review.h's.
#include <windows.h>

#include <cstring>
#include <memory>
#include <mutex>
#include <string>

#include "resources/resource.h"
#include "shell/memory_review.h"
#include "shell/program/dialog_frame_win32.h"
#include "shell/program/dialogs.h"
#include "shell/program/read_source_win32.h"
#include "shell/registration.h"
#include "shell/settings_store.h"

namespace kx305mon {

namespace {

constexpr int kPathLength = 259;

struct FileDialog {
    AppContext& context;
    char (&storedPath)[260];  // registrationPath (121) or readPath (122)
};

ExistingFileChoice AskAboutExistingFile(HWND owner) {
    switch (ShowMessage(owner, messages::kRegistrationFileExists, MB_ICONQUESTION, MB_YESNOCANCEL)) {
        case IDYES: return ExistingFileChoice::Append;
        case IDNO: return ExistingFileChoice::Erase;
        default: return ExistingFileChoice::Cancel;
    }
}

bool IsOk(UINT message, WPARAM wParam) {
    return message == WM_COMMAND && (LOWORD(wParam) == IDC_OK || LOWORD(wParam) == IDOK);
}

// --- 121 ---

void AcceptRegistration(HWND dialog, FileDialog& state) {
    std::unique_ptr<SettingsStore> store = MakeRegistrySettingsStore();
    const RecordingOpen opened = ConfirmRegistrationFile(
        state.context, FileNameText(dialog), [dialog] { return AskAboutExistingFile(dialog); }, *store);
    if (opened == RecordingOpen::Opened) {
        EndDialog(dialog, 1);
    } else if (opened == RecordingOpen::Unavailable) {
        ShowUnavailableFile(dialog);
    }
}

INT_PTR CALLBACK RegistrationProcedure(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    FileDialog* state = small_dialogs::StateOf<FileDialog>(dialog, message, lParam);
    if (state == nullptr) return FALSE;
    if (IsCancel(message, wParam, IDC_CANCEL)) {
        EndDialog(dialog, 0);
        return TRUE;
    }
    if (IsOk(message, wParam)) {
        AcceptRegistration(dialog, *state);
        return TRUE;
    }
    switch (message) {
        case WM_INITDIALOG:
            ShowStoredPath(dialog, state->context, state->storedPath);
            return TRUE;
        case WM_COMMAND:
            if (LOWORD(wParam) != IDC_BROWSE) return FALSE;
            BrowseFromStoredPath(dialog, state->context, state->storedPath);
            return TRUE;
        case WM_HELP:
            return AnswerHelp(lParam, IDD_REGISTRATION);
        default:
            return FALSE;
    }
}

// --- 122 ---

void EnableReadSourceButtons(HWND dialog, BOOL enabled) {
    for (int id : {IDC_USE_CURRENT_FILE, IDC_OK, IDC_CANCEL}) EnableWindow(GetDlgItem(dialog, id), enabled);
}

void AcceptReadSource(HWND dialog, FileDialog& state) {
    const bool useFileInUse = IsDlgButtonChecked(dialog, IDC_USE_CURRENT_FILE) == BST_CHECKED;
    const std::string text = FileNameText(dialog);
    EnableWindow(GetDlgItem(dialog, IDC_FILE_NAME), FALSE);
    EnableWindow(GetDlgItem(dialog, IDC_BROWSE), FALSE);
    EnableReadSourceButtons(dialog, FALSE);
    if (ConfirmReadSource(state.context, useFileInUse, text)) {
        EndDialog(dialog, 1);
        return;
    }
    ShowUnavailableFile(dialog);
    ApplyReadSourceRule(dialog);
    EnableReadSourceButtons(dialog, TRUE);
}

INT_PTR CALLBACK ReadSourceProcedure(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    FileDialog* state = small_dialogs::StateOf<FileDialog>(dialog, message, lParam);
    if (state == nullptr) return FALSE;
    if (IsCancel(message, wParam, IDC_CANCEL)) {
        EndDialog(dialog, 0);
        return TRUE;
    }
    if (IsOk(message, wParam)) {
        AcceptReadSource(dialog, *state);
        return TRUE;
    }
    switch (message) {
        case WM_INITDIALOG:
            ShowStoredPath(dialog, state->context, state->storedPath);
            CheckDlgButton(dialog, IDC_USE_CURRENT_FILE, BST_CHECKED);
            ApplyReadSourceRule(dialog);
            return TRUE;
        case WM_COMMAND:
            if (IsUseCurrentFileClick(message, wParam)) {
                ApplyReadSourceRule(dialog);
                return TRUE;
            }
            if (LOWORD(wParam) != IDC_BROWSE) return FALSE;
            BrowseFromStoredPath(dialog, state->context, state->storedPath);
            return TRUE;
        case WM_HELP:
            return AnswerHelp(lParam, IDD_READ_SOURCE);
        default:
            return FALSE;
    }
}

}  // namespace

void ShowStoredPath(HWND dialog, AppContext& context, const char (&stored)[260]) {
    std::string path;
    {
        MutexLock guard(context.plumbing.lock);
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

void BrowseFromStoredPath(HWND dialog, AppContext& context, const char (&stored)[260]) {
    char path[260] = {};
    {
        MutexLock guard(context.plumbing.lock);
        std::memcpy(path, stored, sizeof path - 1);
    }
    if (ChooseRegistrationFile(reinterpret_cast<WindowRef>(dialog), path)) SetDlgItemTextA(dialog, IDC_FILE_NAME, path);
}

void ApplyReadSourceRule(HWND dialog) {
    const BOOL otherFile = IsDlgButtonChecked(dialog, IDC_USE_CURRENT_FILE) != BST_CHECKED;
    EnableWindow(GetDlgItem(dialog, IDC_FILE_NAME), otherFile);
    EnableWindow(GetDlgItem(dialog, IDC_BROWSE), otherFile);
}

bool IsUseCurrentFileClick(UINT message, WPARAM wParam) {
    return message == WM_COMMAND && LOWORD(wParam) == IDC_USE_CURRENT_FILE && HIWORD(wParam) == BN_CLICKED;
}

INT_PTR RunRegistrationDialog(HWND owner, AppContext& context) {
    FileDialog state{context, context.registrationPath};
    return RunDialog(context, IDD_REGISTRATION, owner, RegistrationProcedure, &state);
}

INT_PTR RunReadSourceDialog(HWND owner, AppContext& context) {
    FileDialog state{context, context.readPath};
    return RunDialog(context, IDD_READ_SOURCE, owner, ReadSourceProcedure, &state);
}

}  // namespace kx305mon
