// Arbitrary bytes as a registration file: the reader must neither crash nor
// read outside its window, must keep only well-formed records and must
// leave the position at the end.
#include <cstdlib>
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
