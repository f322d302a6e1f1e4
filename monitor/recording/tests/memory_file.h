// An in-memory FileStream for the tests and the fuzz target, with switches
// for failing writes and reads.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "recording/file.h"

namespace kx305mon::testing {

class MemoryFile : public FileStream {
public:
    MemoryFile() = default;
    explicit MemoryFile(std::vector<uint8_t> content) : bytes(std::move(content)) {}

    bool Write(const void* data, size_t size) override {
        ++writeCalls;
        if (failWrites) {
            return false;
        }
        const uint8_t* in = static_cast<const uint8_t*>(data);
        if (position + size > bytes.size()) {
            bytes.resize(position + size);
        }
        std::memcpy(bytes.data() + position, in, size);
        position += size;
        return true;
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
    bool Truncate() override {
        bytes.resize(position);
        return true;
    }
    bool Flush() override { return !failWrites; }
    int64_t Size() override { return static_cast<int64_t>(bytes.size()); }

    std::vector<uint8_t> bytes;
    size_t position = 0;
    bool failWrites = false;
    int writeCalls = 0;
    int readCalls = 0;
    int failReadNumber = 0;  // the read call (1, 2, ...) that fails; 0: none
    size_t maxRead = SIZE_MAX;  // bytes one read hands out at most (short reads)
};

}  // namespace kx305mon::testing
