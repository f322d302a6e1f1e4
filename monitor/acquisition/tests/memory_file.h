// A registration file in memory that can be told to fail: its writes after
// a number of good ones, or its flush.  Its bytes are shared with the test
// through a handle, so the test can read them after the context has taken
// the file.  Used under the live-state lock like the real file.
#pragma once

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "recording/file.h"

namespace kx305mon::testing {

struct MemoryFileState {
    std::vector<uint8_t> bytes;
    size_t position = 0;
    long writesLeft = -1;  // good writes before every further one fails; -1 = no limit
    bool failFlush = false;
    int flushes = 0;
};

class MemoryFile final : public FileStream {
public:
    explicit MemoryFile(std::shared_ptr<MemoryFileState> state) : s_(std::move(state)) {}

    bool Write(const void* data, size_t size) override {
        if (s_->writesLeft == 0) return false;
        if (s_->writesLeft > 0) --s_->writesLeft;
        if (s_->position + size > s_->bytes.size()) s_->bytes.resize(s_->position + size);
        std::memcpy(s_->bytes.data() + s_->position, data, size);
        s_->position += size;
        return true;
    }
    long Read(void* data, size_t size) override {
        size_t n = std::min(size, s_->bytes.size() - s_->position);
        std::memcpy(data, s_->bytes.data() + s_->position, n);
        s_->position += n;
        return static_cast<long>(n);
    }
    bool SeekToStart() override {
        s_->position = 0;
        return true;
    }
    bool SeekToEnd() override {
        s_->position = s_->bytes.size();
        return true;
    }
    bool Truncate() override {
        s_->bytes.resize(s_->position);
        return true;
    }
    bool Flush() override {
        ++s_->flushes;
        return !s_->failFlush;
    }
    int64_t Size() override { return static_cast<int64_t>(s_->bytes.size()); }

private:
    std::shared_ptr<MemoryFileState> s_;
};

}  // namespace kx305mon::testing
