// The program's windows as the portable code knows them: a requester is the
// dialog or the main window that placed a device request and gets the answer
// as a message; a WindowRef is a window that owns what the shell opens or
// that the worker posts to.  Windows build only.
#pragma once

#include <windows.h>

#include <cstdint>

#include "acquisition/app_context.h"

namespace kx305mon {

inline Requester RequesterOf(HWND window) { return static_cast<Requester>(reinterpret_cast<uintptr_t>(window)); }
inline HWND WindowOf(Requester requester) { return reinterpret_cast<HWND>(static_cast<uintptr_t>(requester)); }
inline WindowRef WindowRefOf(HWND window) { return reinterpret_cast<WindowRef>(window); }
inline HWND WindowOf(WindowRef window) { return reinterpret_cast<HWND>(window); }

}  // namespace kx305mon
