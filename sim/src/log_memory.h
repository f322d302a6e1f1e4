// The converter's logging memory: stored records (a 6-byte BCD time stamp
// and a results block) in the order they were stored, up to a capacity.
// A full memory stores nothing more until it is emptied.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace kx305sim {

// Time stamp, results block of at most 246 bytes: 252 bytes at the most.
constexpr size_t kMaxStoredRecord = 252;
constexpr size_t kTimeStampSize = 6;

class LogMemory {
public:
    explicit LogMemory(uint16_t capacity) : capacity_(capacity) {}

    // False (and nothing stored) when the memory is full or the record is
    // longer than a stored record can be.
    bool Store(const uint8_t* record, size_t length);
    void Clear() { records_.clear(); }

    size_t count() const { return records_.size(); }
    uint16_t capacity() const { return capacity_; }
    bool full() const { return records_.size() >= capacity_; }
    const std::vector<uint8_t>& record(size_t index) const { return records_[index]; }

    // A smaller capacity drops the newest records that no longer fit.
    void SetCapacity(uint16_t capacity);

private:
    uint16_t capacity_;
    std::vector<std::vector<uint8_t>> records_;
};

}  // namespace kx305sim
