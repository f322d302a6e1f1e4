// What the small dialogs' procedures share: the module their templates come
// from, the window that hears of their outcome, message boxes with the
// program's caption, and reading an edit's text.  Windows build only.
#pragma once

#include <windows.h>

#include <mutex>
#include <string>

#include "acquisition/app_context.h"
#include "requester_win32.h"
#include "resources/messages.h"

namespace kx305mon::small_dialogs {

// The templates are the program's resources.
inline HINSTANCE TemplateModule(AppContext* context) {
    if (context != nullptr && context->instance != 0) return reinterpret_cast<HINSTANCE>(context->instance);
    return GetModuleHandleA(nullptr);
}

// The main window of the program, or the dialog's owner while none is set.
inline HWND MainWindow(AppContext& context, HWND owner) {
    MutexLock guard(context.plumbing.lock);
    return context.mainWindow != kNoWindow ? reinterpret_cast<HWND>(context.mainWindow) : owner;
}

inline Requester RefOf(HWND window) { return RequesterOf(window); }

inline void Tell(HWND dialog, const char* text, UINT icon) {
    MessageBoxA(dialog, text, messages::kCaption, MB_OK | icon);
}

inline std::string ItemText(HWND dialog, int id) {
    HWND control = GetDlgItem(dialog, id);
    const int length = control != nullptr ? GetWindowTextLengthA(control) : 0;
    std::string text(static_cast<size_t>(length) + 1, '\0');
    if (length > 0) GetWindowTextA(control, &text[0], length + 1);
    text.resize(std::char_traits<char>::length(text.c_str()));
    return text;
}

// The procedure's state travels as the creation parameter and lives in the
// dialog's user data.
template <typename State>
State* StateOf(HWND dialog, UINT message, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        SetWindowLongPtrA(dialog, GWLP_USERDATA, lParam);
        return reinterpret_cast<State*>(lParam);
    }
    return reinterpret_cast<State*>(GetWindowLongPtrA(dialog, GWLP_USERDATA));
}

}  // namespace kx305mon::small_dialogs
