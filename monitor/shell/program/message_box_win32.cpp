// The program's one message box.
#include <atomic>

#include "program_win32.h"
#include "resources/messages.h"

namespace kx305mon {

namespace {
std::atomic<UINT> lastIcon{0};
}  // namespace

int ShowMessage(HWND owner, const char* text, UINT icon, UINT buttons) {
    lastIcon.store(icon, std::memory_order_relaxed);
    return MessageBoxA(owner, text, messages::kCaption, buttons | icon);
}

UINT LastMessageIcon() { return lastIcon.load(std::memory_order_relaxed); }

}  // namespace kx305mon
