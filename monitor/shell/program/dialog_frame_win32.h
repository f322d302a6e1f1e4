// The frame every dialog of the program stands on.  It runs the dialog's
// template modally, keeps the dialog object as the window's user data,
// answers context help, and turns the two answers every dialog has into
// Accept and Cancel: OK (its button or Enter) and Cancel (its button,
// Escape or the close box).  A dialog overrides what it adds; what it
// decides lives in the portable shell code.  Windows build only.
#pragma once

#include <windows.h>

#include <string>

#include "acquisition/app_context.h"
#include "shell/program/requester_win32.h"

namespace kx305mon {

class DialogFrame {
public:
    // `contextHelp`: whether WM_HELP opens the help at the control with
    // the dialog's help-id table.
    explicit DialogFrame(AppContext& context, bool contextHelp = true)
        : context_(&context), contextHelp_(contextHelp) {}
    // A dialog that needs no context and has no help (107).
    DialogFrame() = default;
    virtual ~DialogFrame() = default;
    DialogFrame(const DialogFrame&) = delete;
    DialogFrame& operator=(const DialogFrame&) = delete;

    // Dialog `dialogId` from the templates of the program's module (the
    // context's instance; the executable's without a context) over
    // `owner`; returns EndDialog's value.
    INT_PTR Run(HWND owner, int dialogId);

protected:
    // WM_INITDIALOG; the focus goes where the template puts it.
    virtual void Open(HWND) {}
    // OK: ends with 1.
    virtual void Accept(HWND dialog) { EndDialog(dialog, 1); }
    // Cancel: ends with 0.
    virtual void Cancel(HWND dialog) { EndDialog(dialog, 0); }
    // Any other command of a control or the keyboard; true when answered.
    virtual bool Command(HWND, int /*id*/, int /*code*/) { return false; }
    // Any other message; true when answered.
    virtual bool Message(HWND, UINT, WPARAM, LPARAM) { return false; }

    AppContext& Context() const { return *context_; }
    int DialogId() const { return dialogId_; }

private:
    static INT_PTR CALLBACK Procedure(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
    bool Dispatch(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

    AppContext* const context_ = nullptr;
    const bool contextHelp_ = false;
    int dialogId_ = 0;
};

// Dialog `dialogId` as a `Dialog` made with `context` and whatever else it
// takes (the settings store of a dialog that saves).
template <typename Dialog, typename... More>
INT_PTR RunDialog(HWND owner, int dialogId, AppContext& context, More&... more) {
    Dialog dialog(context, more...);
    return dialog.Run(owner, dialogId);
}

// The module the program's templates and resources come from.
HINSTANCE TemplateModule(const AppContext* context);
// The main window of the program, or `owner` while none is set.
HWND MainWindowOr(AppContext& context, HWND owner);
// The text of edit `id`.
std::string ItemText(HWND dialog, int id);

}  // namespace kx305mon
