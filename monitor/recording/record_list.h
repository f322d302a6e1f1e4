// The in-memory form of a registration file: its records in file order,
// each with its quantity lines, as the reader produces them for the memory
// viewer, the rain report and the exports.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <initializer_list>
#include <memory>
#include <span>
#include <vector>

#include "instruments/locale.h"

namespace kx305mon {

// At most this many quantity lines per record (a rain gauge and four KX-125
// need 37).
constexpr int kMaxRecordLines = 40;
// A stored value text keeps at most 14 characters (16-byte field).
constexpr size_t kEntryValueLength = 14;
constexpr size_t kEntryValueSize = 16;

// One quantity line of a record.
struct MemoryEntry {
    int32_t type;                 // instrument type code
    int32_t status;               // status text id of the input
    int32_t serial;               // instrument serial number (0 when the catalogue had none)
    int32_t quantity;             // quantity name id
    char value[kEntryValueSize];  // plain value text, at most 14 characters
};

struct MemoryRecord {
    // Local time of the time-stamp line; dayOfWeek and milliseconds are 0.
    CalendarTime time;
    // 1 to kMaxRecordLines entries, in line order, kept by the RecordList
    // that holds the record.
    std::span<MemoryEntry> entries;
};

// The records of one registration file, in file order.  Owned by the open
// memory viewer or rain report; whoever closes it calls FreeRecordList.
// The entries of many records share chunks owned by the list instead of
// one allocation per record.  A long file grows the list without moving
// what was read before: neither records nor entries change place until the
// list is cleared.  A copy copies the entries too.
class RecordList {
public:
    using iterator = std::deque<MemoryRecord>::iterator;
    using const_iterator = std::deque<MemoryRecord>::const_iterator;

    RecordList() = default;
    RecordList(const RecordList& other);
    RecordList(RecordList&& other);
    template <typename It>
    RecordList(It first, It last) {
        for (; first != last; ++first) {
            Add(*first);
        }
    }
    RecordList& operator=(RecordList other) noexcept {
        swap(other);
        return *this;
    }

    // Appends a record with a copy of `count` entries from `first`.
    MemoryRecord& Add(const CalendarTime& time, const MemoryEntry* first, size_t count);
    MemoryRecord& Add(const CalendarTime& time, std::initializer_list<MemoryEntry> entries) {
        return Add(time, entries.begin(), entries.size());
    }
    MemoryRecord& Add(const MemoryRecord& record) {
        return Add(record.time, record.entries.data(), record.entries.size());
    }

    size_t size() const { return records_.size(); }
    bool empty() const { return records_.empty(); }
    MemoryRecord& operator[](size_t index) { return records_[index]; }
    const MemoryRecord& operator[](size_t index) const { return records_[index]; }
    iterator begin() { return records_.begin(); }
    iterator end() { return records_.end(); }
    const_iterator begin() const { return records_.begin(); }
    const_iterator end() const { return records_.end(); }

    // Drops every record and releases the entries.
    void clear();
    void swap(RecordList& other) noexcept;

private:
    std::deque<MemoryRecord> records_;
    std::vector<std::unique_ptr<MemoryEntry[]>> chunks_;
    MemoryEntry* next_ = nullptr;  // unused part of the last chunk
    size_t free_ = 0;
};

// Releases every record and entry.
void FreeRecordList(RecordList& records);

}  // namespace kx305mon
