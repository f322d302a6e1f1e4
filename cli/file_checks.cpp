#include "file_checks.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "console.h"

namespace kx305cli {

bool CheckRegularFile(const std::string& path, bool mayBeNew, std::string& reason) {
    // Opened rather than stat()ed so that a name the user may not read is
    // told as such; O_NONBLOCK keeps a FIFO from waiting for a writer and
    // O_NOCTTY a terminal from becoming ours.
    const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        const int error = errno;
        if (mayBeNew && error == ENOENT) return true;
        reason = SystemReason(error);
        return false;
    }
    struct stat info {};
    const bool known = fstat(fd, &info) == 0;
    const int error = errno;
    close(fd);
    if (!known) {
        reason = SystemReason(error);
        return false;
    }
    if (S_ISDIR(info.st_mode)) {
        reason = SystemReason(EISDIR);
        return false;
    }
    if (!S_ISREG(info.st_mode)) {
        reason = "not a regular file";
        return false;
    }
    return true;
}

bool SameFile(const std::string& a, const std::string& b) {
    struct stat first {};
    struct stat second {};
    if (stat(a.c_str(), &first) != 0 || stat(b.c_str(), &second) != 0) return false;
    return first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

}  // namespace kx305cli
