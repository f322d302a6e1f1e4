#include "temporary_directory.h"

#include <cstdio>
#include <random>
#include <system_error>

namespace kx305::support {

namespace fs = std::filesystem;

bool TemporaryDirectory::Create(const std::string& prefix) {
    Remove();
    std::error_code error;
    const fs::path base = fs::temp_directory_path(error);
    if (error) return false;
    // Random names: test programs that ctest runs side by side, and runs
    // of the same program that overlap, each get their own.
    std::random_device random;
    for (int attempt = 0; attempt < 100; ++attempt) {
        char suffix[16];
        std::snprintf(suffix, sizeof suffix, ".%08x", static_cast<unsigned>(random()));
        const fs::path candidate = base / (prefix + suffix);
        if (fs::create_directory(candidate, error)) {
            path_ = candidate;
            return true;
        }
        if (error) return false;  // not merely taken
    }
    return false;
}

void TemporaryDirectory::Remove() {
    if (path_.empty()) return;
    std::error_code ignored;
    fs::remove_all(path_, ignored);
    path_.clear();
}

}  // namespace kx305::support
