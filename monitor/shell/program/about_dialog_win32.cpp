// "O programie" (107): the converter's picture, the title, the version and
// the maker's mark.  OK ends with 1, closing with 0.
#include <windows.h>

#include "resources/resource.h"
#include "shell/program/dialog_frame_win32.h"
#include "shell/program/dialogs.h"

namespace kx305mon {

INT_PTR RunAboutDialog(HWND owner) {
    DialogFrame about;
    return about.Run(owner, IDD_ABOUT);
}

}  // namespace kx305mon
