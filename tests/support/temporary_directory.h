// A directory of one test's own below the system's temporary directory,
// removed with everything in it when the test is done with it.
#pragma once

#include <filesystem>
#include <string>

namespace kx305::support {

class TemporaryDirectory {
public:
    TemporaryDirectory() = default;
    ~TemporaryDirectory() { Remove(); }
    TemporaryDirectory(const TemporaryDirectory&) = delete;
    TemporaryDirectory& operator=(const TemporaryDirectory&) = delete;

    // Makes a new, empty directory whose name starts with `prefix` (an
    // earlier one of this object is removed first).  False when none could
    // be made; path() is empty then.
    bool Create(const std::string& prefix);
    // Removes it with its contents; nothing when there is none.
    void Remove();

    const std::filesystem::path& path() const { return path_; }
    // A name inside it, as the APIs that take a string want it.
    std::string Path(const std::string& name) const { return (path_ / name).string(); }

private:
    std::filesystem::path path_;
};

}  // namespace kx305::support
