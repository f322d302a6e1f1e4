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
// failure (7 no memory; 8 records lost, with their number in place of the
// percentage).
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

    // A new transfer of `command` (CMD_GET_LOG or CMD_PEEK_LOG): forgets the
    // records that tries of an earlier transfer kept.  A peek leaves the
    // converter's memory as it was, so the records of a try that failed are
    // kept for the tries that follow (see Begin).  A GetLog may empty it
    // (firmware up to 1.12 does so on the request): once the converter has
    // answered, the transfer is never asked for again but ends with what
    // arrived (see Interrupt).  Until the first NewTransfer a transfer is a
    // GetLog.
    void NewTransfer(LogBuffer& out, uint8_t command);
    void NewTransfer(LogBuffer& out, bool) = delete;  // the command, not a flag

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
    // with 8, all its records lost.
    void Release();

    // One awaited reply frame of CMD_GET_LOG or CMD_PEEK_LOG.  `version` is
    // the converter's firmware (it selects the results-block
    // layout).  On the last record frame (or once the kept records and this
    // try's make up N) the records are decoded, `out` is filled and 0 is
    // posted.  Frames before Begin or after the end are
    // dropped.  While the count frame is awaited, a frame shorter than 4
    // bytes or as long as a record (8 bytes or more) is not taken for it.
    //
    // A GetLog whose count frame was lost takes the record frames that come
    // instead (8 bytes or more; from the first of them on every frame is a
    // record) and keeps them for Interrupt; nothing is posted meanwhile.
    void Receive(const Frame& frame, FirmwareVersion version, LogBuffer& out, StatusSink& sink);

    // True while a GetLog has begun to answer and is not complete: its count
    // frame announced records, or record frames came in its place, or it was
    // interrupted.  Asking again would find the memory emptied.
    bool Answered() const;
    // Still receiving: frames may yet complete it.
    bool Receiving() const { return phase_ == Phase::Receiving || phase_ == Phase::Collecting; }
    // The share received, for a caller told that the transfer still runs (0
    // while the count is unknown).
    uint32_t ProgressPercent() const;

    // Ends an answered GetLog that stopped short: the records that arrived
    // are decoded into `out` in arrival order and 8 is posted with the number
    // of announced records that did not arrive (KX305_LOG_LOST_UNKNOWN
    // without a count frame) in place of the percentage.  Called again
    // afterwards, posts the same.
    void Interrupt(FirmwareVersion version, LogBuffer& out, StatusSink& sink);

private:
    struct RawRecord {
        uint8_t length;  // bytes stored, 0 to kRawRecordSize
        uint8_t bytes[kRawRecordSize];
    };
    // Collecting: a GetLog's record frames arrived without a count frame.
    // Interrupted: a GetLog ended with 8 (records lost).
    enum class Phase { Idle, AwaitingCount, Receiving, Collecting, Finished, Interrupted };
    // A record kept from a failed try, found by its time stamp.
    struct KeptRecord {
        uint64_t stamp;
        RawRecord raw;
    };

    void Finish(const char* name, FirmwareVersion version, LogBuffer& out, StatusSink& sink);
    // Decodes `count_` records given in memory order.
    void Deliver(const char* name, FirmwareVersion version, const RawRecord* const* ordered, LogBuffer& out,
                 StatusSink& sink);
    void DecodeAll(const RawRecord* raw, size_t n, FirmwareVersion version);
    void ReleaseBuffers();
    void KeepFailedTry();
    void NoteRecord(const RawRecord& slot);
    bool MergedComplete() const;
    void FinishMerged(const char* name, FirmwareVersion version, LogBuffer& out, StatusSink& sink);

    Allocate allocate_;
    uint8_t command_ = CMD_GET_LOG;
    Phase phase_ = Phase::Idle;
    uint16_t count_ = 0;     // records announced by the count frame
    uint16_t received_ = 0;  // record frames that arrived
    uint16_t capacity_ = 0;  // capacity announced by the count frame
    RawRecord* raw_ = nullptr;
    LogRecord* records_ = nullptr;
    std::vector<RawRecord> collected_;  // Collecting: the records, in arrival order
    uint32_t lost_ = 0;                 // Interrupted: what was posted with the 8

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
