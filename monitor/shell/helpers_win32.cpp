// The dialogs' context help, on Windows.
#include <windows.h>

#include "instruments/help_path.h"
#include "shell/help.h"

namespace kx305mon {

intptr_t ShowContextHelp(const void* helpInfo, const uint32_t* table, int dialogId) {
    const HELPINFO* info = static_cast<const HELPINFO*>(helpInfo);
    if (info == nullptr || info->iContextType != HELPINFO_WINDOW) return 0;
    if (!WantsContextHelp(dialogId, info->iCtrlId)) return 0;
    char path[MAX_PATH];
    HelpFilePath(path, sizeof path, ".HLP");
    // The viewer takes the table as pairs of DWORDs, the layout of ours.
    static_assert(sizeof(DWORD) == sizeof(uint32_t));
    return WinHelpA(static_cast<HWND>(info->hItemHandle), path, HELP_WM_HELP, reinterpret_cast<ULONG_PTR>(table));
}

}  // namespace kx305mon
