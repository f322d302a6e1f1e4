// FileStream over a Win32 file handle.
#include <windows.h>

#include <string>

#include "recording/file.h"

namespace kx305mon {

namespace {

FileIdentity IdentityOf(HANDLE handle) {
    BY_HANDLE_FILE_INFORMATION info = {};
    if (!GetFileInformationByHandle(handle, &info)) {
        return {};
    }
    return {true, info.dwVolumeSerialNumber, uint64_t{info.nFileIndexHigh} << 32 | info.nFileIndexLow};
}

class Win32File final : public FileStream {
public:
    explicit Win32File(HANDLE handle) : handle_(handle) {}
    ~Win32File() override { CloseHandle(handle_); }
    Win32File(const Win32File&) = delete;
    Win32File& operator=(const Win32File&) = delete;

    bool Write(const void* data, size_t size) override {
        const char* bytes = static_cast<const char*>(data);
        while (size > 0) {
            const DWORD chunk = size > 0x40000000 ? 0x40000000 : static_cast<DWORD>(size);
            DWORD done = 0;
            if (!WriteFile(handle_, bytes, chunk, &done, nullptr) || done == 0) {
                return false;
            }
            bytes += done;
            size -= done;
        }
        return true;
    }

    long Read(void* data, size_t size) override {
        const DWORD chunk = size > 0x40000000 ? 0x40000000 : static_cast<DWORD>(size);
        DWORD done = 0;
        if (!ReadFile(handle_, data, chunk, &done, nullptr)) {
            return -1;
        }
        return static_cast<long>(done);
    }

    bool SeekToStart() override { return Seek(FILE_BEGIN); }
    bool SeekToEnd() override { return Seek(FILE_END); }
    bool SeekTo(int64_t offset) override {
        LARGE_INTEGER to{};
        to.QuadPart = offset;
        return offset >= 0 && SetFilePointerEx(handle_, to, nullptr, FILE_BEGIN) != 0;
    }
    int64_t Position() override {
        LARGE_INTEGER zero{};
        LARGE_INTEGER at{};
        if (!SetFilePointerEx(handle_, zero, &at, FILE_CURRENT)) {
            return -1;
        }
        return at.QuadPart;
    }
    bool Truncate() override { return SetEndOfFile(handle_) != 0; }
    bool Flush() override { return FlushFileBuffers(handle_) != 0; }

    int64_t Size() override {
        LARGE_INTEGER size{};
        if (!GetFileSizeEx(handle_, &size)) {
            return -1;
        }
        return size.QuadPart;
    }

    FileIdentity Identity() override { return IdentityOf(handle_); }

private:
    bool Seek(DWORD method) {
        LARGE_INTEGER zero{};
        return SetFilePointerEx(handle_, zero, nullptr, method) != 0;
    }

    HANDLE handle_;
};

std::unique_ptr<FileStream> Adopt(HANDLE handle) {
    if (handle == INVALID_HANDLE_VALUE) {
        return nullptr;
    }
    return std::make_unique<Win32File>(handle);
}

std::unique_ptr<FileStream> OpenTemporary() {
    char dir[MAX_PATH + 1];
    const DWORD length = GetTempPathA(sizeof dir, dir);
    if (length == 0 || length > sizeof dir - 1) {
        return nullptr;
    }
    char name[MAX_PATH];
    if (GetTempFileNameA(dir, "KX305", 0, name) == 0) {
        return nullptr;
    }
    // GetTempFileNameA has created the file; reopen it so that it vanishes
    // with its last handle.
    const HANDLE handle = CreateFileA(name, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                      CREATE_ALWAYS, FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        DeleteFileA(name);
    }
    return Adopt(handle);
}

}  // namespace

FileIdentity IdentifyFile(const std::string& path) {
    // No access asked and every sharing granted: the recording handle,
    // which shares reading only, does not refuse this open.
    const HANDLE handle = CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                      OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        return {};
    }
    const FileIdentity identity = IdentityOf(handle);
    CloseHandle(handle);
    return identity;
}

std::unique_ptr<FileStream> OpenFile(const std::string& path, FileMode mode, bool* existed) {
    switch (mode) {
    case FileMode::Recording: {
        const HANDLE handle = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                          OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
        if (handle != INVALID_HANDLE_VALUE && existed != nullptr) {
            *existed = GetLastError() == ERROR_ALREADY_EXISTS;
        }
        return Adopt(handle);
    }
    case FileMode::Reading:
        return Adopt(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                 FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    case FileMode::Export:
        return Adopt(CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                                 FILE_ATTRIBUTE_NORMAL, nullptr));
    case FileMode::Temporary:
        return OpenTemporary();
    }
    return nullptr;
}

}  // namespace kx305mon
