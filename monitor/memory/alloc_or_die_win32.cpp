// Memory that is obtained or ends the program, on Windows.
#include "memory/alloc_or_die.h"

#include <windows.h>

#include "resources/messages.h"

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
    FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                   error, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), reinterpret_cast<char*>(&text), 0, nullptr);
    MessageBoxA(nullptr, text != nullptr ? text : "", messages::kCaption, MB_OK | MB_ICONERROR);
    if (text != nullptr) LocalFree(text);
}

}  // namespace kx305mon
