#include "log_transfer.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "diagnostic_log.h"
#include "local_clock.h"
#include "protocol.h"
#include "results_block.h"

namespace kx305 {
namespace {

constexpr size_t kRecordFrameSkip = 2;  // payload bytes 0 and 1 of a record frame are not used
constexpr size_t kStoredTimeBytes = 6;
constexpr size_t kCountFrameSize = 4;  // record count, capacity

// Leaves an already clear record alone: the caller may be looking at it
// while a try starts on the dispatcher thread.
void Clear(LogBuffer& out) {
    if (out.count != 0) out.count = 0;
    if (out.records != nullptr) out.records = nullptr;
}

uint32_t Percent(uint32_t part, uint32_t whole) { return (part * 1000 / whole + 5) / 10; }

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

void LogTransfer::Release() {
    std::free(raw_);
    std::free(records_);
    raw_ = nullptr;
    records_ = nullptr;
}

void LogTransfer::Begin(LogBuffer& out) {
    Release();
    Clear(out);
    phase_ = Phase::AwaitingCount;
    count_ = 0;
    received_ = 0;
}

void LogTransfer::Receive(const Frame& frame, FirmwareVersion version, LogBuffer& out, StatusSink& sink) {
    const char* name = frame.command() == CMD_PEEK_LOG ? "PeekLog" : "GetLog";
    const uint8_t* payload = frame.payload();
    const size_t length = frame.length();

    if (phase_ == Phase::AwaitingCount) {
        // The count frame has 4 bytes.  A frame of record size here means the
        // count frame was lost: taking it for one would end the transfer
        // early with a wrong count, so it is dropped and the try times out.
        if (length < kCountFrameSize || length >= kRecordFrameSkip + kStoredTimeBytes) return;
        count_ = static_cast<uint16_t>(payload[0] << 8 | payload[1]);
        const unsigned capacity = payload[2] << 8 | payload[3];
        LogMessage("%s(): ilosc zgromadzonych rekordow: %u/%u", name, unsigned{count_}, capacity);
        received_ = 0;
        phase_ = Phase::Receiving;
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
        }
        ++received_;
    } else {
        return;
    }

    if (received_ < count_) {
        sink.Post(KX305_STATUS_PROGRESS, Percent(received_, count_));
        return;
    }
    Finish(name, version, out, sink);
}

void LogTransfer::Finish(const char* name, FirmwareVersion version, LogBuffer& out, StatusSink& sink) {
    phase_ = Phase::Finished;
    sink.Post(KX305_STATUS_PROGRESS, 100);
    if (count_ > 0 && raw_ == nullptr) {
        sink.Post(KX305_STATUS_NO_RESOURCE, 100);
        return;
    }
    // One reading of the clock for the whole transfer.
    const LocalDate today = CurrentLocalDate();
    for (size_t k = 0; k < count_; ++k)
        DecodeLogRecord(raw_[k].bytes, raw_[k].length, version, today.year, today.month, records_[k]);
    LogMessage("%s(): Ok", name);
    std::free(raw_);
    raw_ = nullptr;
    out.count = count_;
    out.records = records_;
    sink.Post(KX305_STATUS_OK, 100);
}

}  // namespace kx305
