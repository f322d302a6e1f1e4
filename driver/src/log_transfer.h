// Download of the converter's logging memory: a count frame, then one frame
// per stored record.  The raw records are collected as they arrive and all
// decoded at once after the last one, so that the reader thread only copies
// while frames stream in.
//
// The state belongs to one handle and is touched under its link's mutex only
// (reader thread while frames arrive, dispatcher thread when a try starts,
// caller's thread for starting, freeing and closing).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "frame.h"
#include "kx305.h"
#include "protocol.h"

namespace kx305 {

// Where the transfer reports its state: progress (2), the end (0), or a
// failure (7 no memory, 8 data lost after it).
class StatusSink {
public:
    virtual void Post(KX305Status status, uint32_t percent) = 0;

protected:
    ~StatusSink() = default;
};

// A stored record is bytes 2 onward of a record frame's payload: six BCD
// time bytes, then a results block.  Longer records are cut to one slot.
constexpr size_t kRawRecordSize = 252;

class LogTransfer {
public:
    // calloc-like; tests put a failing one in its place.
    using Allocate = void* (*)(size_t count, size_t size);

    explicit LogTransfer(Allocate allocate = nullptr);
    ~LogTransfer();
    LogTransfer(const LogTransfer&) = delete;
    LogTransfer& operator=(const LogTransfer&) = delete;

    // A new transfer (KX305GetLog or KX305PeekLog): forgets the records that
    // tries of an earlier transfer kept.  With `keepAcrossTries` (PeekLog,
    // which leaves the converter's memory as it was) the records of a try
    // that failed are kept for the tries that follow; see Begin.
    void NewTransfer(LogBuffer& out, bool keepAcrossTries);

    // Every try starts the transfer over: both buffers are released, `out`
    // is cleared and the count frame is awaited.  When the transfer keeps
    // records across tries, the records the failed try received are kept
    // first, and a try then also completes once the records kept and its
    // own make up the N records it announced.  Records are told apart by
    // their 6 time bytes, which grow from record to record in the
    // converter's memory; the merge is given up, and the try must bring all
    // N records itself as before, when a try's records do not grow, a kept
    // record comes back with other bytes, N shrinks, or the memory is full
    // (N reaches the capacity: the oldest records may have been replaced).
    void Begin(LogBuffer& out);

    // Releases both buffers; the records handed out in a LogBuffer become
    // invalid.  A transfer still running goes on counting frames and ends
    // with 8.
    void Release();

    // One awaited reply frame of CMD_GET_LOG or CMD_PEEK_LOG.  `version` is
    // the converter's firmware (it selects the results-block
    // layout).  On the last record frame (or once the kept records and this
    // try's make up N) the records are decoded, `out` is filled and 0 is
    // posted.  Frames before Begin or after the end are
    // dropped.  While the count frame is awaited, a frame shorter than 4
    // bytes or as long as a record (8 bytes or more) is not taken for it.
    void Receive(const Frame& frame, FirmwareVersion version, LogBuffer& out, StatusSink& sink);

private:
    struct RawRecord {
        uint8_t length;  // bytes stored, 0 to kRawRecordSize
        uint8_t bytes[kRawRecordSize];
    };
    enum class Phase { Idle, AwaitingCount, Receiving, Finished };
    // A record kept from a failed try, found by its time stamp.
    struct KeptRecord {
        uint64_t stamp;
        RawRecord raw;
    };

    void Finish(const char* name, FirmwareVersion version, LogBuffer& out, StatusSink& sink);
    // Decodes `count_` records given in memory order.
    void Deliver(const char* name, FirmwareVersion version, const RawRecord* const* ordered, LogBuffer& out,
                 StatusSink& sink);
    void ReleaseBuffers();
    void KeepFailedTry();
    void NoteRecord(const RawRecord& slot);
    bool MergedComplete() const;
    void FinishMerged(const char* name, FirmwareVersion version, LogBuffer& out, StatusSink& sink);

    Allocate allocate_;
    Phase phase_ = Phase::Idle;
    uint16_t count_ = 0;     // records announced by the count frame
    uint16_t received_ = 0;  // record frames that arrived
    uint16_t capacity_ = 0;  // capacity announced by the count frame
    RawRecord* raw_ = nullptr;
    LogRecord* records_ = nullptr;

    // Across the tries of one transfer (keepAcross_ only).
    bool keepAcross_ = false;
    std::vector<KeptRecord> kept_;  // ascending by stamp
    uint16_t keptCount_ = 0;        // N of the last try whose records were kept
    // This try: its records so far grow by stamp (last one in lastStamp_),
    // and `fresh_` of them are not among the kept ones.
    bool tryMergeable_ = false;
    uint64_t lastStamp_ = 0;
    uint32_t fresh_ = 0;
};

// Decodes one stored record (`length` bytes).  The year is not stored: it is
// `today`'s, one more for a January record read in December, one less for a
// December record read in January.
void DecodeLogRecord(const uint8_t* stored, size_t length, FirmwareVersion version, int currentYear, int currentMonth,
                     LogRecord& record);

}  // namespace kx305
