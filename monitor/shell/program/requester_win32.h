// The program's requesters are its windows: the dialog or the main window
// that placed a device request gets the answer as a message.  Windows build
// only.
#pragma once

#include <windows.h>

#include <cstdint>

#include "acquisition/app_context.h"

namespace kx305mon {

inline Requester RequesterOf(HWND window) { return static_cast<Requester>(reinterpret_cast<uintptr_t>(window)); }
inline HWND WindowOf(Requester requester) { return reinterpret_cast<HWND>(static_cast<uintptr_t>(requester)); }

}  // namespace kx305mon
