// Memory that is obtained or ends the program, the system's error box and
// the dialogs' context help, on Windows.
#include <windows.h>

#include "instruments/help_path.h"
#include "resources/messages.h"
#include "shell/help.h"

namespace kx305mon {

namespace {

constexpr UINT kFatalExitCode = 1;

[[noreturn]] void Die() {
    ShowLastErrorBox();
    ExitProcess(kFatalExitCode);
}

}  // namespace

void* AllocOrDie(size_t size) {
    void* block = GlobalAlloc(GPTR, size);
    if (block == nullptr) Die();
    return block;
}

void FreeOrDie(void* block) {
    if (GlobalFree(block) != nullptr) Die();
}

void ShowLastErrorBox() {
    const DWORD error = GetLastError();
    char* text = nullptr;
    FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                   nullptr, error, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), reinterpret_cast<char*>(&text), 0,
                   nullptr);
    MessageBoxA(nullptr, text != nullptr ? text : "", messages::kCaption, MB_OK | MB_ICONERROR);
    if (text != nullptr) LocalFree(text);
}

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
