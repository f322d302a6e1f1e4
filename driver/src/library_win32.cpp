// Load and unload hooks of kx305.dll.
//
// DllMain runs under the loader lock.  A thread cannot end while another
// thread holds that lock (ending a thread notifies the loaded libraries), so
// the handles left open at unload need care:
//
// - FreeLibrary (lpReserved == NULL): the handles' threads still run.  They
//   are stopped as KX305Close stops them, and each ends itself with
//   TerminateThread on its own handle as its very last act, which skips the
//   thread-detach notifications and so needs no loader lock.  Their handles
//   are then signalled and the joins return; no thread is left running code
//   of this library when it is unmapped.
// - Process exit (lpReserved != NULL): every other thread is gone already,
//   killed wherever it was.  The ports are released without waiting for
//   anything, and the handle objects are left to the system.
#include <windows.h>

#include <atomic>

#include "frame_link.h"
#include "library.h"
#include "process_exit_win32.h"

namespace kx305 {
namespace {

std::atomic<bool> g_unloading{false};

// Every handle thread's last act (g_handleThreadEnd).
void EndHandleThread() {
    if (g_unloading.load()) TerminateThread(GetCurrentThread(), 0);
}

}  // namespace

}  // namespace kx305

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID reserved) {
    switch (reason) {
    case DLL_PROCESS_ATTACH:
        kx305::g_handleThreadEnd = kx305::EndHandleThread;
        kx305::LibraryLoad();
        break;
    case DLL_PROCESS_DETACH:
        if (reserved != nullptr) {
            kx305::MarkProcessExit();
            kx305::LibraryUnload(true);
        } else {
            kx305::g_unloading.store(true);
            kx305::LibraryUnload(false);
        }
        break;
    default:
        break;
    }
    return TRUE;
}
