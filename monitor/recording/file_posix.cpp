// FileStream over a POSIX file descriptor.
//
// Windows opens the registration file shared with readers only, so the file
// in use cannot be opened a second time for reading or writing while it is
// recorded into.  Advisory flock() locks give the same rule here: writers
// hold an exclusive lock, readers a shared one, both without waiting.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>

#include "recording/file.h"

namespace kx305mon {

namespace {

FileIdentity IdentityOf(const struct stat& status) {
    return {true, static_cast<uint64_t>(status.st_dev), static_cast<uint64_t>(status.st_ino)};
}

class PosixFile final : public FileStream {
public:
    explicit PosixFile(int fd) : fd_(fd) {}
    ~PosixFile() override { close(fd_); }
    PosixFile(const PosixFile&) = delete;
    PosixFile& operator=(const PosixFile&) = delete;

    bool Write(const void* data, size_t size) override {
        const char* bytes = static_cast<const char*>(data);
        while (size > 0) {
            const ssize_t done = write(fd_, bytes, size);
            if (done < 0) {
                if (errno == EINTR) {
                    continue;
                }
                return false;
            }
            bytes += done;
            size -= static_cast<size_t>(done);
        }
        return true;
    }

    long Read(void* data, size_t size) override {
        for (;;) {
            const ssize_t done = read(fd_, data, size);
            if (done >= 0) {
                return static_cast<long>(done);
            }
            if (errno != EINTR) {
                return -1;
            }
        }
    }

    bool SeekToStart() override { return lseek(fd_, 0, SEEK_SET) == 0; }
    bool SeekToEnd() override { return lseek(fd_, 0, SEEK_END) >= 0; }
    bool SeekTo(int64_t offset) override {
        return offset >= 0 && lseek(fd_, static_cast<off_t>(offset), SEEK_SET) == static_cast<off_t>(offset);
    }
    int64_t Position() override { return static_cast<int64_t>(lseek(fd_, 0, SEEK_CUR)); }

    bool Truncate() override {
        const off_t position = lseek(fd_, 0, SEEK_CUR);
        return position >= 0 && ftruncate(fd_, position) == 0;
    }

    bool Flush() override { return fdatasync(fd_) == 0; }

    int64_t Size() override {
        struct stat info {};
        if (fstat(fd_, &info) != 0) {
            return -1;
        }
        return static_cast<int64_t>(info.st_size);
    }

    FileIdentity Identity() override {
        struct stat info {};
        if (fstat(fd_, &info) != 0) {
            return {};
        }
        return IdentityOf(info);
    }

private:
    int fd_;
};

// Takes the sharing lock without waiting.  A file system without locks
// (ENOLCK, EINVAL) is used without one.
bool LockShared(int fd, bool exclusive) {
    for (;;) {
        if (flock(fd, (exclusive ? LOCK_EX : LOCK_SH) | LOCK_NB) == 0) {
            return true;
        }
        if (errno == EINTR) {
            continue;
        }
        return errno != EWOULDBLOCK;
    }
}

std::unique_ptr<FileStream> Adopt(int fd, bool exclusive) {
    if (fd < 0) {
        return nullptr;
    }
    if (!LockShared(fd, exclusive)) {
        close(fd);
        return nullptr;
    }
    return std::make_unique<PosixFile>(fd);
}

std::string TemporaryDirectory() {
    const char* dir = std::getenv("TMPDIR");
    return dir != nullptr && dir[0] != '\0' ? dir : "/tmp";
}

std::unique_ptr<FileStream> OpenTemporary() {
    const std::string dir = TemporaryDirectory();
#ifdef O_TMPFILE
    // Nameless from the start: nothing is left behind even after a crash.
    const int fd = open(dir.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (fd >= 0) {
        return std::make_unique<PosixFile>(fd);
    }
#endif
    std::string name = dir + "/KX305XXXXXX";
    const int named = mkstemp(name.data());
    if (named < 0) {
        return nullptr;
    }
    unlink(name.c_str());
    return std::make_unique<PosixFile>(named);
}

std::unique_ptr<FileStream> OpenRecording(const std::string& path, bool* existed) {
    // Create exclusively first so that "existed" is told without a race.
    for (;;) {
        int fd = open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) {
            if (existed != nullptr) {
                *existed = false;
            }
        } else if (errno == EEXIST) {
            fd = open(path.c_str(), O_RDWR | O_CLOEXEC);
            if (fd < 0 && errno == ENOENT) {
                continue;  // removed in between
            }
            if (existed != nullptr) {
                *existed = true;
            }
        }
        if (fd >= 0) {
            posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
        }
        return Adopt(fd, true);
    }
}

}  // namespace

FileIdentity IdentifyFile(const std::string& path) {
    struct stat status;
    if (::stat(path.c_str(), &status) != 0) {
        return {};
    }
    return IdentityOf(status);
}

std::unique_ptr<FileStream> OpenFile(const std::string& path, FileMode mode, bool* existed) {
    switch (mode) {
    case FileMode::Recording:
        return OpenRecording(path, existed);
    case FileMode::Reading: {
        const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd >= 0) {
            posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
        }
        return Adopt(fd, false);
    }
    case FileMode::Export: {
        // Truncated only once the lock is held, so that a file another
        // handle is writing keeps its content.
        std::unique_ptr<FileStream> file = Adopt(open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666), true);
        if (file == nullptr || !file->SeekToStart() || !file->Truncate()) {
            return nullptr;
        }
        return file;
    }
    case FileMode::Temporary:
        return OpenTemporary();
    }
    return nullptr;
}

}  // namespace kx305mon
