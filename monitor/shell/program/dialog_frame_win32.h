// What the procedures of the port, registration, read-source and viewer
// dialogs share beyond small_dialog_support_win32.h: running a template,
// the context-help answer, Cancel, and the unavailable-file message.
// Windows build only.
#pragma once

#include <windows.h>

#include "program_win32.h"
#include "resources/messages.h"
#include "shell/help.h"
#include "small_dialog_support_win32.h"

namespace kx305mon {

// Runs dialog `dialogId` of the program's module modally over `owner` with
// `state` as its creation parameter.
inline INT_PTR RunDialog(AppContext& context, int dialogId, HWND owner, DLGPROC procedure, void* state) {
    return DialogBoxParamA(small_dialogs::TemplateModule(&context), MAKEINTRESOURCEA(dialogId), owner, procedure,
                           reinterpret_cast<LPARAM>(state));
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
    ShowMessage(owner, messages::kRegistrationFileUnavailable, MB_ICONEXCLAMATION);
}

}  // namespace kx305mon
