// A stand-in for the companion library "kx305_adv.dll": its one export
// "ShowMessage" (no arguments, nothing returned) appends the line
// "ShowMessage" to the file that the environment variable KX305_ADV_LOG
// names, so that a test can count the program's calls.  Shows nothing.
#include <windows.h>

extern "C" __declspec(dllexport) void ShowMessage() {
    char path[MAX_PATH];
    const DWORD length = GetEnvironmentVariableA("KX305_ADV_LOG", path, sizeof path);
    if (length == 0 || length >= sizeof path) return;
    HANDLE file = CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    static const char kLine[] = "ShowMessage\r\n";
    DWORD written = 0;
    WriteFile(file, kLine, sizeof kLine - 1, &written, nullptr);
    CloseHandle(file);
}
