#include "log_memory.h"

namespace kx305sim {

bool LogMemory::Store(const uint8_t* record, size_t length) {
    if (full() || length > kMaxStoredRecord) return false;
    records_.emplace_back(record, record + length);
    return true;
}

void LogMemory::SetCapacity(uint16_t capacity) {
    capacity_ = capacity;
    if (records_.size() > capacity_) records_.resize(capacity_);
}

}  // namespace kx305sim
