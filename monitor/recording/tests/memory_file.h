// An in-memory FileStream for the recording and acquisition tests and the
// fuzz target, with switches for failing writes, reads and flushes and for a
// disk that fills up.  SharedFile hands one to an owner (the registration
// file of an AppContext) while the test keeps looking at it.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "recording/file.h"

namespace kx305mon::testing {

class MemoryFile : public FileStream {
public:
    MemoryFile() = default;
    explicit MemoryFile(std::vector<uint8_t> content) : bytes(std::move(content)) {}

    bool Write(const void* data, size_t size) override {
        ++writeCalls;
        if (failWrites || writesLeft == 0) {
            return false;
        }
        if (writesLeft > 0) {
            --writesLeft;
        }
        // A full disk takes what still fits and fails the rest.
        const size_t room = capacity > position ? capacity - position : 0;
        const size_t taken = std::min(size, room);
        if (position + taken > bytes.size()) {
            bytes.resize(position + taken);
        }
        if (taken > 0) {
            std::memcpy(bytes.data() + position, data, taken);
        }
        position += taken;
        return taken == size;
    }

    long Read(void* data, size_t size) override {
        ++readCalls;
        if (failReadNumber == readCalls) {
            return -1;
        }
        const size_t count = std::min({size, maxRead, bytes.size() - std::min(position, bytes.size())});
        if (count > 0) {
            std::memcpy(data, bytes.data() + position, count);
        }
        position += count;
        return static_cast<long>(count);
    }

    bool SeekToStart() override {
        position = 0;
        return true;
    }
    bool SeekToEnd() override {
        position = bytes.size();
        return true;
    }
    bool SeekTo(int64_t offset) override {
        if (offset < 0) {
            return false;
        }
        position = static_cast<size_t>(offset);
        return true;
    }
    int64_t Position() override { return static_cast<int64_t>(position); }
    bool Truncate() override {
        if (failTruncate) {
            return false;
        }
        bytes.resize(position);
        return true;
    }
    bool Flush() override {
        ++flushes;
        return !failWrites && !failFlush;
    }
    int64_t Size() override { return static_cast<int64_t>(bytes.size()); }

    std::vector<uint8_t> bytes;
    size_t position = 0;
    bool failWrites = false;     // every write and flush fails
    long writesLeft = -1;        // good writes before every further one fails; -1 = no limit
    size_t capacity = SIZE_MAX;  // bytes the disk holds; a write beyond is cut there and fails
    bool failFlush = false;
    bool failTruncate = false;
    int writeCalls = 0;
    int readCalls = 0;
    int flushes = 0;
    int failReadNumber = 0;     // the read call (1, 2, ...) that fails; 0: none
    size_t maxRead = SIZE_MAX;  // bytes one read hands out at most (short reads)
};

// Forwards to a MemoryFile that the test shares.
class SharedFile final : public ForwardingFile {
public:
    explicit SharedFile(std::shared_ptr<MemoryFile> file) : ForwardingFile(*file), file_(std::move(file)) {}

private:
    std::shared_ptr<MemoryFile> file_;
};

}  // namespace kx305mon::testing
