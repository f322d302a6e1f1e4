// The save-as dialog that names a registration file.
#include <windows.h>

#include <commdlg.h>

#include "shell/registration.h"
#include "resources/messages.h"

namespace kx305mon {

bool ChooseRegistrationFile(WindowRef owner, char (&path)[260]) {
    OPENFILENAMEA dialog = {};
    dialog.lStructSize = sizeof dialog;
    dialog.hwndOwner = reinterpret_cast<HWND>(owner);
    dialog.lpstrFilter = messages::kRegistrationFileTypes;
    dialog.nFilterIndex = 1;
    dialog.lpstrFile = path;
    dialog.nMaxFile = sizeof path;
    dialog.lpstrTitle = messages::kChooseRegistrationTitle;
    dialog.lpstrDefExt = messages::kRegistrationExtension;
    dialog.Flags = OFN_EXPLORER | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY;
    return GetSaveFileNameA(&dialog) != FALSE;
}

}  // namespace kx305mon
