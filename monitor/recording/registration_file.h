// The registration file (*.kxg): the program's archive of every record
// downloaded from the converter's logging memory, and its in-memory form.
//
// Format: records follow each other with no header or padding.  A record is
// an ASCII text, a time-stamp line of 14 digits (local time) and "$", then
// one line "type,serial,quantity,value,status$" per measured quantity, then
// the trailer "@", T1, T2 with T1 = S % 253 + 1 and T2 = S % 251 + 1, S being
// the sum of the text's bytes as signed 8-bit numbers.  Every stored byte is
// the negation (256 - b) % 256 of the plain byte.
//
// Threads: the writer runs on the polling worker, the reader on the UI
// thread; both move the one position of the recording handle, so callers
// hold the live-state lock around a download burst and around a read.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <initializer_list>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "instruments/locale.h"
#include "kx305.h"
#include "recording/file.h"

namespace kx305mon {

// At most this many quantity lines per record (a rain gauge and four KX-125
// need 37).
constexpr int kMaxRecordLines = 40;
// A stored value text keeps at most 14 characters (16-byte field).
constexpr size_t kEntryValueLength = 14;
constexpr size_t kEntryValueSize = 16;

// One quantity line of a record.
struct MemoryEntry {
    int32_t type;      // instrument type code
    int32_t status;    // status text id of the input
    int32_t serial;    // instrument serial number (0 when the catalogue had none)
    int32_t quantity;  // quantity name id
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

// What the user wants done with a registration file that exists already.
enum class ExistingFileChoice { Append, Erase, Cancel };

enum class RecordingOpen {
    Opened,       // `file` is open, positioned where the next record goes
    Unavailable,  // could not be opened (or not emptied): tell the user
    Cancelled,    // the user cancelled the question: no message
};

// Opens or creates the registration file `path` for recording.  An existing
// file is appended to when `appendWithoutAsking` is set, else `ask` (the
// Yes/No/Cancel question of the window code) decides: append, erase (cut
// to length 0) or cancel (closed again).  A new file is used from its start.
RecordingOpen OpenRecordingFile(const std::string& path, bool appendWithoutAsking,
                                const std::function<ExistingFileChoice()>& ask, std::unique_ptr<FileStream>& file);

// Appends one record at the file's current position (the writer neither
// seeks nor flushes).  The UTC time of the record is converted to local
// time; a record whose time cannot be converted is not written at all and
// gives false.  A failed write does not stop the record: every line and the
// trailer are still attempted.  True when every write succeeded.
bool WriteRegistrationRecord(FileStream& file, const LogRecord& record);

// Rewinds the file, reads it whole in 2000-byte blocks and fills `records`
// with every valid record (anything there before is dropped).  Damaged,
// foreign or cut-off records are skipped silently; reading resumes after the
// next "@" trailer.  Leaves the position at the end of the file so that
// recording can go on appending.  A null file gives 0 records.
// Returns the number of records, or kReadOutOfMemory when the list
// outgrew the memory (a file of several gigabytes): `records` is then
// empty and the file positioned at its end all the same.
constexpr int kReadOutOfMemory = -1;
int ReadRegistrationFile(FileStream* file, RecordList& records);

// Releases every record and entry.
void FreeRecordList(RecordList& records);

}  // namespace kx305mon
