// The converter's sending side: frames go out through a queue that applies
// the reply delay and, when asked, the line's real byte rate, and on their
// way the injected faults (lost, damaged, stale and unsolicited frames,
// silence) have their say.  Runs on the simulator's one thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "frame.h"
#include "time_source.h"

namespace kx305sim {

// How a damaged frame is damaged.
enum class Corruption {
    kAny,       // one of the three below, chosen at random per frame
    kChecksum,  // one data byte changed, so the bytes no longer sum to zero
    kEscape,    // an escape byte followed by a byte that no escape allows
    kTruncate,  // the frame ends early
};

struct Faults {
    double drop = 0;     // share of reply frames never sent
    double corrupt = 0;  // share of reply frames damaged
    Corruption corruption = Corruption::kAny;
    int delayMs = 0;         // wait before the first byte of every reply
    bool silent = false;     // no replies at all
    double stale = 0;        // share of replies preceded by the previous reply to the same command
    double unsolicited = 0;  // share of replies preceded by a frame that answers nothing asked
    // Frames left out of the next reply to command `dropReplyCode` (-1:
    // none), by position in that reply: 0 the first, -1 the last.  Once:
    // a test loses exactly the frames it means to.
    int dropReplyCode = -1;
    std::vector<int> dropReplyFrames;
    // Silent from the reply to the next request with this command on (-1:
    // none): the converter has acted on that request, and no answer to it
    // or to anything after it leaves until "silent off".
    int silentFromCode = -1;
};

struct TransmitCounters {
    uint64_t frames = 0;  // reply frames handed to the line
    uint64_t dropped = 0;
    uint64_t corrupted = 0;
    uint64_t stale = 0;
    uint64_t unsolicited = 0;
    uint64_t silenced = 0;  // replies swallowed while silent
};

// Where the bytes go: the pty master in the program, a buffer in tests.
class ByteSink {
public:
    virtual ~ByteSink() = default;
    // Takes up to `length` bytes and returns how many it took (0 when it
    // cannot take any now; the rest is offered again later).
    virtual size_t Write(const uint8_t* data, size_t length) = 0;
};

// One byte at 9600 baud, 8N1: ten bits.
constexpr int64_t kByteTimeUs = 1042;

class Transmitter {
public:
    Transmitter(const TimeSource& time, ByteSink& sink, uint32_t seed);

    Faults& faults() { return faults_; }
    const Faults& faults() const { return faults_; }
    void SetPacing(bool on) { pacing_ = on; }
    bool pacing() const { return pacing_; }

    // Sends the frames of one reply, all with the same command code, through
    // the faults.  Checksums are computed here.
    void SendReply(std::vector<kx305::Frame>& frames);
    // Sends a frame or bytes as they are, past the faults.
    void SendFrame(kx305::Frame& frame);
    void SendRaw(const uint8_t* data, size_t length);

    // Hands the due bytes to the sink, as many as it takes.
    void Flush();
    // Monotonic time at which Flush has more to send, INT64_MAX when nothing
    // is queued.  While blocked() the sink refused bytes: wait until it can
    // take more, then Flush.
    int64_t NextDueUs() const;
    bool blocked() const { return blocked_; }
    size_t queuedBytes() const;
    // Forgets everything queued (the line went away).
    void Discard();

    const TransmitCounters& counters() const { return counters_; }
    void ResetCounters() { counters_ = {}; }

private:
    struct Chunk {
        int64_t due;
        std::vector<uint8_t> bytes;
        size_t sent = 0;
    };

    void Queue(const uint8_t* data, size_t length, int64_t due);
    void QueueFrame(kx305::Frame& frame, int64_t due, bool mayCorrupt);
    void Corrupt(std::vector<uint8_t>& wire);
    bool Chance(double share);
    std::optional<kx305::Frame> UnsolicitedFrame(const kx305::Frame& reply);

    const TimeSource& time_;
    ByteSink& sink_;
    std::mt19937 random_;
    Faults faults_;
    bool pacing_ = false;
    bool blocked_ = false;
    int64_t lineFreeUs_ = 0;  // when the line can start the next byte (pacing)
    std::deque<Chunk> queue_;
    // First frame of the last reply to each command code 0 to 15, as sent.
    std::optional<kx305::Frame> lastReply_[16];
    TransmitCounters counters_;
};

const char* CorruptionName(Corruption corruption);
bool ParseCorruption(const std::string& text, Corruption& corruption);

}  // namespace kx305sim
