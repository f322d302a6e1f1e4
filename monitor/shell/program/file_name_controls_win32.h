// The frame of the dialogs that name a registration file (121, 122 and
// 126): the file name edit 1058 with "..." 1052 and, in 122 and 126, the
// check box 1059 "the file in use" that disables both.  Windows build only.
#pragma once

#include <windows.h>

#include <string>

#include "acquisition/app_context.h"
#include "shell/program/dialog_frame_win32.h"

namespace kx305mon {

class FileNamingDialog : public DialogFrame {
public:
    // `stored`: the context's name this dialog starts from
    // (registrationPath or readPath), read under the lock.
    FileNamingDialog(AppContext& context, const char (&stored)[260]) : DialogFrame(context), stored_(stored) {}

protected:
    // The edit limited to 259 characters, filled with the stored name.
    void ShowStoredPath(HWND dialog);
    // The stored name with "the file in use" ticked (122, 126).
    void ShowStoredPathBesideFileInUse(HWND dialog);
    // "..." (the save-as dialog from the stored name, not the edit's text;
    // the chosen name goes into the edit) and a click on 1059.
    bool Command(HWND dialog, int id, int code) override;

private:
    const char (&stored_)[260];
};

// The edit's text (at most 259 characters).
std::string FileNameText(HWND dialog);
// The edit and "..." are there for another file only.
void ApplyReadSourceRule(HWND dialog);
// The chosen file can be neither opened nor created.
void ShowUnavailableFile(HWND owner);

}  // namespace kx305mon
