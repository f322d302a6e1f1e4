// The program's one message box.
#include "program_win32.h"
#include "resources/messages.h"
#include "shell/main_window.h"
#include "test_hooks_win32.h"

namespace kx305mon {

int ShowMessage(HWND owner, const char* text, UINT icon, UINT buttons) {
    RememberMessageIcon(icon);
    return MessageBoxA(owner, text, messages::kCaption, buttons | icon);
}

int ShowNotice(HWND owner, uint32_t notice, size_t count) {
    const NoticeBox box = NoticeMessage(notice, count);
    if (box.text.empty()) return 0;
    UINT icon = MB_ICONINFORMATION;
    switch (box.icon) {
    case NoticeIcon::Information:
        break;
    case NoticeIcon::Exclamation:
        icon = MB_ICONEXCLAMATION;
        break;
    case NoticeIcon::Warning:
        icon = MB_ICONWARNING;
        break;
    }
    return ShowMessage(owner, box.text.c_str(), icon);
}

}  // namespace kx305mon
