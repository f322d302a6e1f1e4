// Arbitrary bytes as a registration file: the reader must neither crash nor
// read outside its window, must keep only well-formed records, must leave
// the position at the end, and must not depend on how the reads split the
// data.
#include <cstdlib>
#include <algorithm>
#include <cstring>

#include "../tests/memory_file.h"
#include "recording/registration_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace kx305mon;
    testing::MemoryFile file(std::vector<uint8_t>(data, data + size));
    RecordList records;
    const int count = ReadRegistrationFile(&file, records);
    if (count < 0 || static_cast<size_t>(count) != records.size() || file.position != size) {
        std::abort();
    }
    // The same bytes handed out a few at a time, so that every field may
    // be cut by a block end, must give exactly the same records.
    testing::MemoryFile split(std::vector<uint8_t>(data, data + size));
    split.maxRead = size % 7 + 1;
    RecordList again;
    if (ReadRegistrationFile(&split, again) != count) {
        std::abort();
    }
    for (size_t k = 0; k < records.size(); ++k) {
        const std::span<MemoryEntry> a = records[k].entries;
        const std::span<MemoryEntry> b = again[k].entries;
        if (a.size() != b.size() || std::memcmp(a.data(), b.data(), a.size() * sizeof(MemoryEntry)) != 0 ||
            std::memcmp(&records[k].time, &again[k].time, sizeof(CalendarTime)) != 0) {
            std::abort();
        }
    }
    // Read again with the end of every record: the ends climb, stay in the
    // data, and reading on from any of them gives exactly the records after
    // it (a reader that resumes from a cursor sees no record twice or lost).
    testing::MemoryFile withEnds(std::vector<uint8_t>(data, data + size));
    RecordList fromStart;
    std::vector<int64_t> ends;
    if (!ReadRegistrationFrom(withEnds, 0, fromStart, ends) || fromStart.size() != records.size() ||
        ends.size() != records.size()) {
        std::abort();
    }
    for (size_t k = 0; k < ends.size(); ++k) {
        if (ends[k] <= (k == 0 ? 0 : ends[k - 1]) || static_cast<size_t>(ends[k]) > size) {
            std::abort();
        }
    }
    if (!ends.empty()) {
        const size_t from = size % ends.size();
        RecordList rest;
        std::vector<int64_t> restEnds;
        if (!ReadRegistrationFrom(withEnds, ends[from], rest, restEnds) || rest.size() != records.size() - from - 1 ||
            !std::equal(restEnds.begin(), restEnds.end(), ends.begin() + static_cast<long>(from) + 1)) {
            std::abort();
        }
    }
    for (const MemoryRecord& record : records) {
        if (record.entries.empty() || record.entries.size() > static_cast<size_t>(kMaxRecordLines)) {
            std::abort();
        }
        for (const MemoryEntry& entry : record.entries) {
            if (strnlen(entry.value, kEntryValueSize) > kEntryValueLength) {
                std::abort();
            }
        }
    }
    return 0;
}
