#include "acquisition/pending_records.h"

#include <cstdio>
#include <mutex>
#include <vector>

#include "acquisition/internal.h"
#include "recording/registration_file.h"

namespace kx305mon {

namespace {

constexpr char kPendingSuffix[] = ".pending";
// The record trailer "@" as stored (negated).
constexpr char kStoredTrailer = static_cast<char>(0x100 - '@');
// The two check bytes after the trailer.
constexpr size_t kCheckBytes = 2;
// No record the writer makes is longer: a stretch without a valid record
// this long is damage, and reading stops there.
constexpr size_t kLongestRecord = 8192;

void PublishRecordsOnlyInMemory(AppContext& context) {
    const size_t count = context.worker->waitingRecords.size();
    MutexLock guard(context.plumbing.lock);
    context.recordsOnlyInMemory = count;
}

// The whole file, or false when it could not be read.
bool ReadWhole(FileStream& file, std::string& bytes) {
    bytes.clear();
    if (!file.SeekToStart()) return false;
    char block[4096];
    for (;;) {
        const long n = file.Read(block, sizeof block);
        if (n < 0) return false;
        if (n == 0) return true;
        bytes.append(block, static_cast<size_t>(n));
    }
}

// Splits stored bytes into the stored form of each valid record, in order.
// A record ends at a trailer followed by its check bytes; the text before
// it holds no trailer, so the first one that ends a valid record is its
// end.  Damaged bytes go with the record that follows them (the reader
// passes over them in the registration file as well); a torn end is left
// out.
std::vector<std::string> SplitRecords(const std::string& bytes) {
    std::vector<std::string> records;
    RecordList parsed;
    size_t start = 0;
    size_t searchFrom = 0;
    while (start < bytes.size()) {
        const size_t trailer = bytes.find(kStoredTrailer, searchFrom);
        if (trailer == std::string::npos || trailer + kCheckBytes >= bytes.size()) break;
        const size_t end = trailer + 1 + kCheckBytes;
        const std::string candidate = bytes.substr(start, end - start);
        ReadRegistrationBytes(candidate, parsed);
        if (parsed.size() == 1) {
            records.push_back(candidate);
            start = end;
            searchFrom = end;
        } else {
            if (end - start > kLongestRecord) break;
            searchFrom = trailer + 1;
        }
    }
    return records;
}

// Appends `records` from `first` on to the registration file, cutting a
// failed write off again so that the file ends with a whole record.
PendingOutcome AppendRecords(FileStream& file, const std::vector<std::string>& records, size_t first) {
    PendingOutcome outcome;
    outcome.result = DownloadReport::Store::Stored;
    for (size_t i = first; i < records.size(); ++i) {
        const int64_t end = file.Position();
        if (!file.Write(records[i].data(), records[i].size())) {
            if (end >= 0 && file.SeekTo(end)) file.Truncate();
            file.SeekToEnd();
            outcome.result = DownloadReport::Store::WriteFailed;
            break;
        }
        ++outcome.written;
    }
    const bool flushed = file.Flush();
    if (outcome.result == DownloadReport::Store::Stored && !flushed)
        outcome.result = DownloadReport::Store::FlushFailed;
    return outcome;
}

}  // namespace

std::string PendingRecordsPath(const std::string& registrationPath) {
    return registrationPath.empty() ? std::string() : registrationPath + kPendingSuffix;
}

std::string PendingRecordsPath(AppContext& context) {
    MutexLock guard(context.plumbing.lock);
    if (!context.pendingRecordsPath.empty()) return context.pendingRecordsPath;
    return PendingRecordsPath(std::string(context.registrationPath));
}

size_t RecordsOnlyInMemory(AppContext& context) {
    MutexLock guard(context.plumbing.lock);
    return context.recordsOnlyInMemory;
}

size_t PendingRecordCount(const std::string& path) {
    std::unique_ptr<FileStream> file = path.empty() ? nullptr : OpenFile(path, FileMode::Reading);
    std::string bytes;
    if (file == nullptr || !ReadWhole(*file, bytes)) return 0;
    return SplitRecords(bytes).size();
}

PendingOutcome StorePendingRecords(AppContext& context) {
    PendingOutcome outcome;
    const std::string path = PendingRecordsPath(context);
    std::unique_ptr<FileStream> pending = path.empty() ? nullptr : OpenFile(path, FileMode::Reading);
    if (pending == nullptr) return outcome;
    std::string bytes;
    if (!ReadWhole(*pending, bytes)) {
        // Not ours to remove (a directory, say): nothing is read from it.
        return outcome;
    }
    const std::vector<std::string> records = SplitRecords(bytes);
    if (!records.empty()) {
        // Nothing but the stamp's own fields tells these records' time:
        // they must line up with the file's end as stored.
        const std::vector<LogRecord> unknownTimes(records.size(), LogRecord{});
        MutexLock guard(context.plumbing.lock);
        if (!context.registrationFile) {
            outcome.result = DownloadReport::Store::NoFile;
            outcome.waiting = true;
            return outcome;
        }
        FileStream& file = *context.registrationFile;
        RegistrationTail tail;
        size_t already = 0;
        if (ReadRegistrationTail(file, TailLengthFor(records), tail)) {
            CutTornTail(file, tail);
            already = RecordsAlreadyStored(tail.records, unknownTimes.data(), records);
        }
        const PendingOutcome appended = AppendRecords(file, records, already);
        outcome.result = appended.result;
        outcome.written = appended.written;
    }
    pending.reset();
    if (outcome.result != DownloadReport::Store::Stored) {
        // What reached the file is found at its end next time.
        outcome.waiting = true;
        return outcome;
    }
    if (std::remove(path.c_str()) != 0) {
        // Left behind, its records would be written again after records
        // downloaded later: empty it, or else let it wait, with nothing
        // downloaded meanwhile, so that the file still ends with them.
        std::unique_ptr<FileStream> left = OpenFile(path, FileMode::Recording);
        outcome.waiting = left == nullptr || !left->SeekToStart() || !left->Truncate() || !left->Flush();
    }
    return outcome;
}

bool KeepWaitingRecordsOnDisk(AppContext& context) {
    std::vector<LogRecord>& waiting = context.worker->waitingRecords;
    const std::string path = waiting.empty() ? std::string() : PendingRecordsPath(context);
    if (!path.empty()) {
        std::string bytes;
        for (const LogRecord& record : waiting) bytes += EncodeRegistrationRecord(record);
        std::unique_ptr<FileStream> file = OpenFile(path, FileMode::Recording);
        if (file != nullptr) {
            // Records follow the last whole one: a record torn by a crash
            // during an earlier write is cut off first.
            RegistrationTail tail;
            if (ReadRegistrationTail(*file, TailLengthFor({}), tail)) CutTornTail(*file, tail);
            const int64_t end = file->SeekToEnd() ? file->Position() : -1;
            if (end >= 0 && file->Write(bytes.data(), bytes.size()) && file->Flush()) {
                waiting.clear();
            } else if (end >= 0 && file->SeekTo(end)) {
                file->Truncate();
                file->Flush();
            }
        }
    }
    PublishRecordsOnlyInMemory(context);
    return waiting.empty();
}

}  // namespace kx305mon
