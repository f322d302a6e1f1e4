#include "recording/record_list.h"

#include <algorithm>
#include <utility>

namespace kx305mon {

namespace {

// Entries per chunk of a RecordList: some ninety records of a usually
// equipped station (21 lines).  The chunks stay below the C library's threshold for
// taking memory straight from the system, so that a file read after a
// freed one reuses the heap instead of paying for fresh pages.
constexpr size_t kChunkEntries = 2000;
static_assert(kChunkEntries * sizeof(MemoryEntry) <= 64000);

}  // namespace

RecordList::RecordList(const RecordList& other) {
    for (const MemoryRecord& record : other) {
        Add(record);
    }
}

RecordList::RecordList(RecordList&& other) { swap(other); }

MemoryRecord& RecordList::Add(const CalendarTime& time, const MemoryEntry* first, size_t count) {
    if (count > free_) {
        // A record keeps its entries together; what is left of the last
        // chunk stays unused.  Records built by hand may be longer than a
        // chunk and get one of their own.
        const size_t size = std::max(count, kChunkEntries);
        chunks_.push_back(std::unique_ptr<MemoryEntry[]>(new MemoryEntry[size]));
        next_ = chunks_.back().get();
        free_ = size;
    }
    MemoryEntry* entries = next_;
    std::copy_n(first, count, entries);
    next_ += count;
    free_ -= count;
    return records_.emplace_back(MemoryRecord{time, std::span<MemoryEntry>(entries, count)});
}

void RecordList::clear() {
    records_.clear();
    chunks_.clear();
    next_ = nullptr;
    free_ = 0;
}

void RecordList::swap(RecordList& other) noexcept {
    records_.swap(other.records_);
    chunks_.swap(other.chunks_);
    std::swap(next_, other.next_);
    std::swap(free_, other.free_);
}

void FreeRecordList(RecordList& records) {
    // A fresh list: clear() would keep the deque's block map.
    RecordList().swap(records);
}

}  // namespace kx305mon
