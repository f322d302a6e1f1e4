// What the program's scenarios may ask of the running program through its
// main window: registered messages answered as the dialog's result, and the
// icon of the last message box.  The procedure of the main window hands
// every message it does not know to AnswerTestHook.  Windows build only.
#pragma once

#include <windows.h>

namespace kx305mon {

// "KX305MonMenuState" (wParam a menu command: GetMenuState of the main
// window's menu) and "KX305MonLastMessageIcon" (the MB_ICON* flags of the
// last message box, 0 before the first).  False for any other message.
bool AnswerTestHook(HWND window, UINT message, WPARAM wParam);

// ShowMessage's note of the icon of the box it shows, and the note read.
void RememberMessageIcon(UINT icon);
UINT LastMessageIcon();

}  // namespace kx305mon
