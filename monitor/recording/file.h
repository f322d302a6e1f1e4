// The small file interface under the registration file and the export
// writers.  One backend per platform (a Win32 HANDLE, a POSIX descriptor)
// implements it, so the same writer and reader code runs on both builds and
// produces byte-identical files; tests substitute failing or in-memory files.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace kx305mon {

// What makes a file itself on its volume, however a path spells it
// (relative, with "..", in other case, a short 8.3 name, another link):
// the volume's serial number and the file's index on it (device and inode
// on POSIX).  Unknown identities equal nothing.
struct FileIdentity {
    bool known = false;
    uint64_t volume = 0;
    uint64_t index = 0;
    bool SameFileAs(const FileIdentity& other) const {
        return known && other.known && volume == other.volume && index == other.index;
    }
};

class FileStream {
public:
    virtual ~FileStream() = default;
    // True when every byte was written.
    virtual bool Write(const void* data, size_t size) = 0;
    // Bytes read (0 at the end of the file), or -1 on failure.
    virtual long Read(void* data, size_t size) = 0;
    virtual bool SeekToStart() = 0;
    virtual bool SeekToEnd() = 0;
    // Moves to `offset` bytes from the start; false when it cannot.
    virtual bool SeekTo(int64_t offset) = 0;
    // The current position in bytes from the start, or -1.
    virtual int64_t Position() = 0;
    // Cuts the file at the current position.
    virtual bool Truncate() = 0;
    // Pushes written data to the device; false when that failed.
    virtual bool Flush() = 0;
    // Size in bytes, or -1.
    virtual int64_t Size() = 0;
    // Which file this is, whatever path opened it (unknown by default: a
    // file in memory has none).
    virtual FileIdentity Identity() { return {}; }
    // False when `path` no longer names this open file: it was deleted,
    // renamed, replaced or its file system unmounted, so what is written
    // here reaches no file anyone will read.  Streams without an identity
    // (memory, test doubles) have no name to lose: true.
    bool NamedBy(const std::string& path);
};

// A stream that passes every call on to another one; a wrapper overrides
// only what it adds to or changes.  The wrapper keeps the target alive.
class ForwardingFile : public FileStream {
public:
    bool Write(const void* data, size_t size) override { return target_.Write(data, size); }
    long Read(void* data, size_t size) override { return target_.Read(data, size); }
    bool SeekToStart() override { return target_.SeekToStart(); }
    bool SeekToEnd() override { return target_.SeekToEnd(); }
    bool SeekTo(int64_t offset) override { return target_.SeekTo(offset); }
    int64_t Position() override { return target_.Position(); }
    bool Truncate() override { return target_.Truncate(); }
    bool Flush() override { return target_.Flush(); }
    int64_t Size() override { return target_.Size(); }
    FileIdentity Identity() override { return target_.Identity(); }

protected:
    explicit ForwardingFile(FileStream& target) : target_(target) {}

private:
    FileStream& target_;
};

// The identity of the existing file `path` names, asked without reading or
// writing it (so a file open for recording can be asked too); unknown when
// it cannot be opened.
FileIdentity IdentifyFile(const std::string& path);

inline bool FileStream::NamedBy(const std::string& path) {
    const FileIdentity mine = Identity();
    return !mine.known || mine.SameFileAs(IdentifyFile(path));
}

enum class FileMode {
    // Read and write, created when missing, shared with readers only,
    // sequential-scan hint (the registration file in use).
    Recording,
    // Read only, existing files only, shared with readers only.
    Reading,
    // Created or overwritten, read and write, shared with readers (exports).
    Export,
    // A new temporary file that disappears when closed (prefix "KX305").
    Temporary,
};

// Opens a platform file; nullptr on failure.  `existed` (optional) tells
// whether the file was there before (Recording mode).
std::unique_ptr<FileStream> OpenFile(const std::string& path, FileMode mode, bool* existed = nullptr);

}  // namespace kx305mon
