#include <windows.h>

#include "program_path.h"

namespace kx305mon {

std::string ProgramPath() {
    char path[MAX_PATH];
    const DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
    // A full buffer means the path was cut: better no help file than a wrong one.
    if (length == 0 || length >= sizeof path) return "";
    return std::string(path, length);
}

}  // namespace kx305mon
