// What the program's dialog procedures share: the dialog's state kept in its
// user data, the context-help answer and the message boxes.  Windows build
// only.
#pragma once

#include <windows.h>

#include "resources/messages.h"
#include "shell/help.h"

namespace kx305mon {

// Runs dialog `dialogId` of the program's module modally over `owner` with
// `state` as its creation parameter.
inline INT_PTR RunDialog(int dialogId, HWND owner, DLGPROC procedure, void* state) {
    return DialogBoxParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(dialogId), owner, procedure,
                           reinterpret_cast<LPARAM>(state));
}

// The state a dialog keeps from WM_INITDIALOG on (null before).
template <typename State>
State* DialogState(HWND dialog, UINT message, LPARAM lParam) {
    if (message == WM_INITDIALOG) SetWindowLongPtrA(dialog, DWLP_USER, lParam);
    return reinterpret_cast<State*>(GetWindowLongPtrA(dialog, DWLP_USER));
}

inline INT_PTR AnswerHelp(LPARAM lParam, int dialogId) {
    ShowContextHelp(reinterpret_cast<const void*>(lParam), HelpIdTable(dialogId), dialogId);
    return TRUE;
}

// Cancel, Escape and the window's close box.
inline bool IsCancel(UINT message, WPARAM wParam, int cancelId) {
    if (message == WM_CLOSE) return true;
    return message == WM_COMMAND && (LOWORD(wParam) == cancelId || LOWORD(wParam) == IDCANCEL);
}

inline void ShowUnavailableFile(HWND owner) {
    MessageBoxA(owner, messages::kRegistrationFileUnavailable, messages::kCaption, MB_OK | MB_ICONEXCLAMATION);
}

}  // namespace kx305mon
