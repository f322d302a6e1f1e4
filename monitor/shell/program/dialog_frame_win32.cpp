#include "dialog_frame_win32.h"

#include <mutex>

#include "resources/resource.h"
#include "shell/help.h"

namespace kx305mon {

INT_PTR DialogFrame::Run(HWND owner, int dialogId) {
    dialogId_ = dialogId;
    return DialogBoxParamA(TemplateModule(context_), MAKEINTRESOURCEA(dialogId), owner, Procedure,
                           reinterpret_cast<LPARAM>(this));
}

INT_PTR CALLBACK DialogFrame::Procedure(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) SetWindowLongPtrA(dialog, GWLP_USERDATA, lParam);
    auto* frame = reinterpret_cast<DialogFrame*>(GetWindowLongPtrA(dialog, GWLP_USERDATA));
    // Messages before WM_INITDIALOG (WM_SETFONT) find no dialog yet.
    if (frame == nullptr) return FALSE;
    return frame->Dispatch(dialog, message, wParam, lParam) ? TRUE : FALSE;
}

bool DialogFrame::Dispatch(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    const int id = LOWORD(wParam);
    switch (message) {
    case WM_INITDIALOG:
        Open(dialog);
        return true;
    case WM_CLOSE:
        Cancel(dialog);
        return true;
    case WM_HELP:
        if (!contextHelp_) break;
        ShowContextHelp(reinterpret_cast<const void*>(lParam), HelpIdTable(dialogId_), dialogId_);
        return true;
    case WM_COMMAND:
        if (id == IDC_OK || id == IDOK) {
            Accept(dialog);
            return true;
        }
        if (id == IDC_CANCEL || id == IDCANCEL) {
            Cancel(dialog);
            return true;
        }
        return Command(dialog, id, HIWORD(wParam));
    default:
        break;
    }
    return Message(dialog, message, wParam, lParam);
}

HINSTANCE TemplateModule(const AppContext* context) {
    if (context != nullptr && context->instance != 0) return reinterpret_cast<HINSTANCE>(context->instance);
    return GetModuleHandleA(nullptr);
}

HWND MainWindowOr(AppContext& context, HWND owner) {
    MutexLock guard(context.plumbing.lock);
    return context.mainWindow != kNoWindow ? WindowOf(context.mainWindow) : owner;
}

std::string ItemText(HWND dialog, int id) {
    HWND control = GetDlgItem(dialog, id);
    const int length = control != nullptr ? GetWindowTextLengthA(control) : 0;
    std::string text(static_cast<size_t>(length) + 1, '\0');
    if (length > 0) GetWindowTextA(control, &text[0], length + 1);
    text.resize(std::char_traits<char>::length(text.c_str()));
    return text;
}

}  // namespace kx305mon
