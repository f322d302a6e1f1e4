#include "test_hooks_win32.h"

#include <atomic>

namespace kx305mon {

namespace {

std::atomic<UINT> lastIcon{0};

struct HookMessages {
    UINT menuState = RegisterWindowMessageA("KX305MonMenuState");
    UINT lastIcon = RegisterWindowMessageA("KX305MonLastMessageIcon");
};

// Registered with the first message the main window does not know.
const HookMessages& Messages() {
    static const HookMessages messages;
    return messages;
}

// The dialog's result for the message.
bool Answer(HWND window, LONG_PTR result) {
    SetWindowLongPtrA(window, DWLP_MSGRESULT, result);
    return true;
}

}  // namespace

bool AnswerTestHook(HWND window, UINT message, WPARAM wParam) {
    const HookMessages& hooks = Messages();
    // A registration that failed gave 0, which is no hook.
    if (message == 0) return false;
    if (message == hooks.menuState) {
        const UINT state = GetMenuState(GetMenu(window), static_cast<UINT>(wParam), MF_BYCOMMAND);
        return Answer(window, static_cast<LONG_PTR>(static_cast<int>(state)));
    }
    if (message == hooks.lastIcon) return Answer(window, static_cast<LONG_PTR>(LastMessageIcon()));
    return false;
}

void RememberMessageIcon(UINT icon) { lastIcon.store(icon, std::memory_order_relaxed); }

UINT LastMessageIcon() { return lastIcon.load(std::memory_order_relaxed); }

}  // namespace kx305mon
