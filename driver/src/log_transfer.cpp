#include "log_transfer.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>

#include "diagnostic_log.h"
#include "local_clock.h"
#include "protocol.h"
#include "results_block.h"

namespace kx305 {
namespace {

constexpr size_t kRecordFrameSkip = 2;  // payload bytes 0 and 1 of a record frame are not used
constexpr size_t kStoredTimeBytes = 6;
constexpr size_t kCountFrameSize = 4;                                     // record count, capacity
constexpr size_t kRecordFrameSize = kRecordFrameSkip + kStoredTimeBytes;  // the shortest record worth the name
constexpr size_t kMaxRecords = 0xFFFF;                                    // what LogBuffer.count can hold

// Leaves an already clear record alone: the caller may be looking at it
// while a try starts on the dispatcher thread.
void Clear(LogBuffer& out) {
    if (out.count != 0) out.count = 0;
    if (out.records != nullptr) out.records = nullptr;
}

uint32_t Percent(uint32_t part, uint32_t whole) { return (part * 1000 / whole + 5) / 10; }

// The stored time stamp (month, day, hour, minute, second, sub-second, as
// stored, BCD with the flag bits masked) as one number that grows with the
// time within a year; false for a record too short to hold one.
bool StampOf(const uint8_t* stored, size_t length, uint64_t& stamp) {
    if (length < kStoredTimeBytes) return false;
    stamp = uint64_t{static_cast<uint8_t>(stored[5] & 0x1F)} << 40 |
            uint64_t{static_cast<uint8_t>(stored[4] & 0x3F)} << 32 |
            uint64_t{static_cast<uint8_t>(stored[3] & 0x3F)} << 24 | uint64_t{stored[2]} << 16 |
            uint64_t{stored[1]} << 8 | stored[0];
    return true;
}

}  // namespace

void DecodeLogRecord(const uint8_t* stored, size_t length, FirmwareVersion version, int currentYear, int currentMonth,
                     LogRecord& record) {
    uint8_t time[kStoredTimeBytes] = {};
    std::memcpy(time, stored, std::min(length, kStoredTimeBytes));
    record.subSecond = static_cast<uint8_t>(FromBcd(time[0]));
    record.second = static_cast<uint8_t>(FromBcd(time[1]));
    record.minute = static_cast<uint8_t>(FromBcd(time[2]));
    record.hour = static_cast<uint8_t>(FromBcd(time[3] & 0x3F));
    record.day = static_cast<uint8_t>(FromBcd(time[4] & 0x3F));
    record.month = static_cast<uint8_t>(FromBcd(time[5] & 0x1F));
    int year = currentYear;
    if (currentMonth == 12 && record.month == 1) ++year;
    if (currentMonth == 1 && record.month == 12) --year;
    record.year = static_cast<uint16_t>(year);
    if (length > kStoredTimeBytes)
        DecodeResultsBlock(stored + kStoredTimeBytes, length - kStoredTimeBytes, version, record.results);
    else
        DecodeResultsBlock(nullptr, 0, version, record.results);
}

LogTransfer::LogTransfer(Allocate allocate) : allocate_(allocate != nullptr ? allocate : &std::calloc) {}

LogTransfer::~LogTransfer() { Release(); }

void LogTransfer::ReleaseBuffers() {
    std::free(raw_);
    std::free(records_);
    raw_ = nullptr;
    records_ = nullptr;
}

void LogTransfer::Release() {
    ReleaseBuffers();
    std::vector<KeptRecord>().swap(kept_);
    std::vector<RawRecord>().swap(collected_);
}

void LogTransfer::NewTransfer(LogBuffer& out, uint8_t command) {
    Release();
    command_ = command;
    keepAcross_ = command == CMD_PEEK_LOG;
    keptCount_ = 0;
    Begin(out);
}

void LogTransfer::Begin(LogBuffer& out) {
    KeepFailedTry();
    ReleaseBuffers();
    std::vector<RawRecord>().swap(collected_);
    Clear(out);
    phase_ = Phase::AwaitingCount;
    count_ = 0;
    capacity_ = 0;
    received_ = 0;
    tryMergeable_ = false;
    lastStamp_ = 0;
    fresh_ = 0;
}

// The try that just failed: its records join the kept ones, both in stamp
// order.  A try whose records did not grow makes the stamps untrustworthy,
// and nothing is kept.
void LogTransfer::KeepFailedTry() {
    if (!keepAcross_ || phase_ != Phase::Receiving || raw_ == nullptr) return;
    if (!tryMergeable_) {
        std::vector<KeptRecord>().swap(kept_);
        return;
    }
    try {
        std::vector<KeptRecord> merged;
        merged.reserve(kept_.size() + received_);
        size_t k = 0;
        for (size_t i = 0; i < received_; ++i) {
            uint64_t stamp = 0;
            StampOf(raw_[i].bytes, raw_[i].length, stamp);
            while (k < kept_.size() && kept_[k].stamp < stamp) merged.push_back(kept_[k++]);
            if (k < kept_.size() && kept_[k].stamp == stamp) ++k;  // the same record (checked on arrival)
            merged.push_back(KeptRecord{stamp, raw_[i]});
        }
        while (k < kept_.size()) merged.push_back(kept_[k++]);
        kept_.swap(merged);
        keptCount_ = count_;
    } catch (const std::bad_alloc&) {
        std::vector<KeptRecord>().swap(kept_);
    }
}

// A record of this try, stored in its slot, against the kept ones.
void LogTransfer::NoteRecord(const RawRecord& slot) {
    uint64_t stamp = 0;
    if (!StampOf(slot.bytes, slot.length, stamp) || stamp <= lastStamp_) {
        tryMergeable_ = false;
        return;
    }
    lastStamp_ = stamp;
    const auto at = std::lower_bound(kept_.begin(), kept_.end(), stamp,
                                     [](const KeptRecord& r, uint64_t s) { return r.stamp < s; });
    if (at == kept_.end() || at->stamp != stamp) {
        ++fresh_;
    } else if (at->raw.length != slot.length || std::memcmp(at->raw.bytes, slot.bytes, slot.length) != 0) {
        // The memory is not what it was: only this try counts from now on.
        std::vector<KeptRecord>().swap(kept_);
    }
}

bool LogTransfer::MergedComplete() const {
    return tryMergeable_ && raw_ != nullptr && records_ != nullptr && !kept_.empty() && kept_.size() + fresh_ == count_;
}

void LogTransfer::Receive(const Frame& frame, FirmwareVersion version, LogBuffer& out, StatusSink& sink) {
    const char* name = frame.command() == CMD_PEEK_LOG ? "PeekLog" : "GetLog";
    const uint8_t* payload = frame.payload();
    const size_t length = frame.length();

    if (phase_ == Phase::AwaitingCount && length >= kRecordFrameSize && command_ == CMD_GET_LOG) {
        // The count frame was lost and the converter is handing over its
        // memory: asking again would find it empty, so every record that
        // comes is kept.
        phase_ = Phase::Collecting;
    }
    if (phase_ == Phase::Collecting) {
        // Nothing is posted: how far the transfer is, is unknown.  A record
        // that finds no memory is lost like one the line lost.
        if (collected_.size() >= kMaxRecords) return;
        RawRecord raw{};
        if (length >= kRecordFrameSkip) {
            raw.length = static_cast<uint8_t>(std::min(length - kRecordFrameSkip, kRawRecordSize));
            std::memcpy(raw.bytes, payload + kRecordFrameSkip, raw.length);
        }
        try {
            collected_.push_back(raw);
        } catch (const std::bad_alloc&) {
        }
        return;
    }

    if (phase_ == Phase::AwaitingCount) {
        // The count frame has 4 bytes.  A frame of record size here means the
        // count frame was lost: taking it for one would end the transfer
        // early with a wrong count, so a peek drops it and the try times out.
        if (length < kCountFrameSize || length >= kRecordFrameSize) return;
        count_ = static_cast<uint16_t>(payload[0] << 8 | payload[1]);
        const unsigned capacity = payload[2] << 8 | payload[3];
        LogMessage("%s(): ilosc zgromadzonych rekordow: %u/%u", name, unsigned{count_}, capacity);
        received_ = 0;
        capacity_ = static_cast<uint16_t>(capacity);
        phase_ = Phase::Receiving;
        // Records are kept only while the memory just grows: never shrunk,
        // never full (a full memory may have replaced its oldest records).
        tryMergeable_ = keepAcross_ && count_ != 0 && count_ < capacity_;
        if (!tryMergeable_ || count_ < keptCount_ || kept_.size() > count_) std::vector<KeptRecord>().swap(kept_);
        if (count_ != 0) {
            raw_ = static_cast<RawRecord*>(allocate_(count_, sizeof(RawRecord)));
            records_ = static_cast<LogRecord*>(allocate_(count_, sizeof(LogRecord)));
            if (raw_ == nullptr || records_ == nullptr) {
                LogMessage("%s(): błąd - brak pamięci", name);
                Release();
                Clear(out);
                sink.Post(KX305_STATUS_NO_MEMORY, 100);
            }
        }
    } else if (phase_ == Phase::Receiving) {
        // A record frame too short to hold anything leaves its slot empty.
        if (raw_ != nullptr && length >= kRecordFrameSkip) {
            RawRecord& slot = raw_[received_];
            const size_t stored = std::min(length - kRecordFrameSkip, kRawRecordSize);
            std::memcpy(slot.bytes, payload + kRecordFrameSkip, stored);
            slot.length = static_cast<uint8_t>(stored);
            if (tryMergeable_) NoteRecord(slot);
        } else {
            tryMergeable_ = false;
        }
        ++received_;
    } else {
        return;
    }

    if (received_ < count_) {
        if (MergedComplete()) {
            FinishMerged(name, version, out, sink);
            return;
        }
        const bool merging = tryMergeable_ && !kept_.empty();
        sink.Post(KX305_STATUS_PROGRESS,
                  Percent(merging ? static_cast<uint32_t>(kept_.size()) + fresh_ : received_, count_));
        return;
    }
    Finish(name, version, out, sink);
}

// The kept records and this try's make up the memory: both in stamp order,
// merged, each record once.
void LogTransfer::FinishMerged(const char* name, FirmwareVersion version, LogBuffer& out, StatusSink& sink) {
    std::vector<const RawRecord*> ordered;
    try {
        ordered.reserve(count_);
    } catch (const std::bad_alloc&) {
        return;  // the try goes on and may still bring every record itself
    }
    size_t k = 0;
    for (size_t i = 0; i < received_; ++i) {
        uint64_t stamp = 0;
        StampOf(raw_[i].bytes, raw_[i].length, stamp);
        while (k < kept_.size() && kept_[k].stamp < stamp) ordered.push_back(&kept_[k++].raw);
        if (k < kept_.size() && kept_[k].stamp == stamp) ++k;
        ordered.push_back(&raw_[i]);
    }
    while (k < kept_.size()) ordered.push_back(&kept_[k++].raw);
    if (ordered.size() != count_) return;  // cannot happen: the counts agree
    phase_ = Phase::Finished;
    sink.Post(KX305_STATUS_PROGRESS, 100);
    Deliver(name, version, ordered.data(), out, sink);
}

void LogTransfer::Finish(const char* name, FirmwareVersion version, LogBuffer& out, StatusSink& sink) {
    phase_ = Phase::Finished;
    sink.Post(KX305_STATUS_PROGRESS, 100);
    if (count_ > 0 && raw_ == nullptr) {
        // No memory for them, or released while they came: all N are lost.
        phase_ = Phase::Interrupted;
        lost_ = count_;
        sink.Post(KX305_STATUS_NO_RESOURCE, lost_);
        return;
    }
    Deliver(name, version, nullptr, out, sink);
}

bool LogTransfer::Answered() const {
    if (command_ != CMD_GET_LOG) return false;
    return (phase_ == Phase::Receiving && count_ > 0) || phase_ == Phase::Collecting || phase_ == Phase::Interrupted;
}

uint32_t LogTransfer::ProgressPercent() const {
    return phase_ == Phase::Receiving && count_ > 0 ? Percent(received_, count_) : 0;
}

void LogTransfer::Interrupt(FirmwareVersion version, LogBuffer& out, StatusSink& sink) {
    const char* name = command_ == CMD_PEEK_LOG ? "PeekLog" : "GetLog";
    if (phase_ == Phase::Interrupted) {
        sink.Post(KX305_STATUS_NO_RESOURCE, lost_);
        return;
    }
    size_t arrived = 0;
    uint32_t lost = KX305_LOG_LOST_UNKNOWN;
    if (phase_ == Phase::Receiving) {
        // Without a raw buffer (no memory, or released) nothing was kept.
        arrived = raw_ != nullptr && records_ != nullptr ? received_ : 0;
        lost = count_ - static_cast<uint32_t>(arrived);
        if (arrived > 0) DecodeAll(raw_, arrived, version);
        LogMessage("%s(): transfer przerwany, odebrane rekordy: %u/%u", name, static_cast<unsigned>(arrived),
                   unsigned{count_});
    } else if (phase_ == Phase::Collecting) {
        arrived = collected_.size();
        if (arrived > 0) {
            ReleaseBuffers();
            records_ = static_cast<LogRecord*>(allocate_(arrived, sizeof(LogRecord)));
            if (records_ == nullptr) {
                LogMessage("%s(): błąd - brak pamięci", name);
                arrived = 0;
            } else {
                DecodeAll(collected_.data(), arrived, version);
            }
        }
        LogMessage("%s(): transfer przerwany, odebrane rekordy: %u/?", name, static_cast<unsigned>(arrived));
    } else {
        return;  // not running: nothing to end
    }
    std::free(raw_);
    raw_ = nullptr;
    std::vector<RawRecord>().swap(collected_);
    if (arrived == 0) ReleaseBuffers();
    out.count = static_cast<uint16_t>(arrived);
    out.records = arrived > 0 ? records_ : nullptr;
    phase_ = Phase::Interrupted;
    lost_ = lost;
    sink.Post(KX305_STATUS_NO_RESOURCE, lost_);
}

void LogTransfer::DecodeAll(const RawRecord* raw, size_t n, FirmwareVersion version) {
    // One reading of the clock for the whole transfer.
    const LocalDate today = CurrentLocalDate();
    for (size_t k = 0; k < n; ++k)
        DecodeLogRecord(raw[k].bytes, raw[k].length, version, today.year, today.month, records_[k]);
}

void LogTransfer::Deliver(const char* name, FirmwareVersion version, const RawRecord* const* ordered, LogBuffer& out,
                          StatusSink& sink) {
    if (ordered == nullptr) {
        DecodeAll(raw_, count_, version);
    } else {
        // One reading of the clock for the whole transfer.
        const LocalDate today = CurrentLocalDate();
        for (size_t k = 0; k < count_; ++k)
            DecodeLogRecord(ordered[k]->bytes, ordered[k]->length, version, today.year, today.month, records_[k]);
    }
    LogMessage("%s(): Ok", name);
    std::free(raw_);
    raw_ = nullptr;
    std::vector<KeptRecord>().swap(kept_);
    out.count = count_;
    out.records = records_;
    sink.Post(KX305_STATUS_OK, 100);
}

}  // namespace kx305
