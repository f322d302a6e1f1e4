// Helper program of unload_test: loads kx305.dll, leaves two handles open
// and then either unloads the library or ends the process.
//
//   kx305_unload_child free|exit PORT_A PORT_B
//
// The library's log goes where KX305_LOG says.  On PORT_B a request is left
// pending.  "free": FreeLibrary with both handles open, then a second load
// proves that both ports were released.  "exit": returns from main with
// both handles open.  Exit code 0, or the number of the step that failed
// (12-14: the handles' threads did not start, or outlived FreeLibrary).
#include <windows.h>
#include <tlhelp32.h>

#include <cstring>

#include "kx305.h"

namespace {

using OpenFunction = KX305Status(KX305_API*)(KX305Handle*, const char*);
using CloseFunction = KX305Status(KX305_API*)(KX305Handle*);
using GetInfoFunction = KX305Status(KX305_API*)(KX305Handle*, ConverterInfo*);

struct Library {
    HMODULE module = nullptr;
    OpenFunction open = nullptr;
    CloseFunction close = nullptr;
    GetInfoFunction getInfo = nullptr;
};

template <typename Function>
Function Export(HMODULE module, const char* name) {
    return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

// The exports are found by their plain names.
bool Load(Library& library) {
    library.module = LoadLibraryA("kx305.dll");
    if (library.module == nullptr) return false;
    library.open = Export<OpenFunction>(library.module, "KX305Open");
    library.close = Export<CloseFunction>(library.module, "KX305Close");
    library.getInfo = Export<GetInfoFunction>(library.module, "KX305GetInfo");
    return library.open != nullptr && library.close != nullptr && library.getInfo != nullptr;
}

ConverterInfo g_info;  // written by the library's reader thread, if ever

// Threads of this process now, or -1.
int ThreadCount() {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return -1;
    const DWORD self = GetCurrentProcessId();
    int count = 0;
    THREADENTRY32 entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry))
        if (entry.th32OwnerProcessID == self) ++count;
    CloseHandle(snapshot);
    return count;
}

// Waits up to 20 s until the process has at most `wanted` threads.
bool WaitForThreads(int wanted) {
    for (int i = 0; i < 20000; ++i) {
        const int count = ThreadCount();
        if (count >= 0 && count <= wanted) return true;
        Sleep(1);
    }
    return false;
}

constexpr int kThreadsPerHandle = 2;  // reader and dispatcher

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) return 1;
    const bool freeLibrary = std::strcmp(argv[1], "free") == 0;
    const char* portA = argv[2];
    const char* portB = argv[3];

    Library library;
    if (!Load(library)) return 2;
    // Counted after the load: the loader may keep threads of its own.
    const int threadsBefore = ThreadCount();
    if (threadsBefore <= 0) return 12;
    KX305Handle a = nullptr;
    KX305Handle b = nullptr;
    if (library.open(&a, portA) != KX305_STATUS_OK) return 3;
    if (library.open(&b, portB) != KX305_STATUS_OK) return 4;
    if (library.getInfo(&b, &g_info) != KX305_STATUS_OK) return 5;
    // Both handles' threads run.
    for (int i = 0; i < 20000 && ThreadCount() < threadsBefore + 2 * kThreadsPerHandle; ++i) Sleep(1);
    if (ThreadCount() < threadsBefore + 2 * kThreadsPerHandle) return 13;
    if (!freeLibrary) return 0;

    if (!FreeLibrary(library.module)) return 6;
    // Every thread of the library has ended; one still running would go on
    // in the unmapped code.
    if (!WaitForThreads(threadsBefore)) return 14;

    Library again;
    if (!Load(again)) return 7;
    if (again.open(&a, portA) != KX305_STATUS_OK) return 8;
    if (again.open(&b, portB) != KX305_STATUS_OK) return 9;
    if (again.close(&a) != KX305_STATUS_OK || again.close(&b) != KX305_STATUS_OK) return 10;
    if (!FreeLibrary(again.module)) return 11;
    return 0;
}
