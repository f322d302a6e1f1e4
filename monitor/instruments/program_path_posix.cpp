#include <limits.h>
#include <unistd.h>

#include "program_path.h"

namespace kx305mon {

std::string ProgramPath() {
    char path[PATH_MAX];
    const ssize_t length = readlink("/proc/self/exe", path, sizeof path);
    if (length <= 0 || static_cast<size_t>(length) >= sizeof path) return "";
    return std::string(path, static_cast<size_t>(length));
}

}  // namespace kx305mon
