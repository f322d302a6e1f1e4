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

    // Every try starts the transfer over: both buffers are released, `out`
    // is cleared and the count frame is awaited.
    void Begin(LogBuffer& out);

    // Releases both buffers; the records handed out in a LogBuffer become
    // invalid.  A transfer still running goes on counting frames and ends
    // with 8.
    void Release();

    // One awaited reply frame of CMD_GET_LOG or CMD_PEEK_LOG.  `version` is
    // the converter's firmware (it selects the results-block layout).  On the last record frame the records are decoded, `out` is
    // filled and 0 is posted.  Frames before Begin or after the end are
    // dropped.  While the count frame is awaited, a frame shorter than 4
    // bytes or as long as a record (8 bytes or more) is not taken for it.
    void Receive(const Frame& frame, FirmwareVersion version, LogBuffer& out, StatusSink& sink);

private:
    struct RawRecord {
        uint8_t length;  // bytes stored, 0 to kRawRecordSize
        uint8_t bytes[kRawRecordSize];
    };
    enum class Phase { Idle, AwaitingCount, Receiving, Finished };

    void Finish(const char* name, FirmwareVersion version, LogBuffer& out, StatusSink& sink);

    Allocate allocate_;
    Phase phase_ = Phase::Idle;
    uint16_t count_ = 0;     // records announced by the count frame
    uint16_t received_ = 0;  // record frames that arrived
    RawRecord* raw_ = nullptr;
    LogRecord* records_ = nullptr;
};

// Decodes one stored record (`length` bytes).  The year is not stored: it is
// `today`'s, one more for a January record read in December, one less for a
// December record read in January.
void DecodeLogRecord(const uint8_t* stored, size_t length, FirmwareVersion version, int currentYear, int currentMonth,
                     LogRecord& record);

}  // namespace kx305
