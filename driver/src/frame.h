// Frame format of the converter's serial protocol.
//
// On the wire a frame is 0x7E followed by the escaped bytes of a 5-byte
// header (address, aux, command, length, checksum) and `length` payload
// bytes.  0x7E inside header or payload travels as 7F 81, 0x7F as 7F 7F.
// The checksum makes the 8-bit sum of header and payload bytes zero.
//
// Nothing here touches a port: the encoder fills a buffer and the reader is a
// byte-at-a-time state machine, so both can be tested and fuzzed directly.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kx305 {

constexpr uint8_t kFrameStart = 0x7E;
constexpr uint8_t kFrameEscape = 0x7F;
constexpr uint8_t kEscapedStart = 0x81;  // 7F 81 stands for data byte 7E
constexpr size_t kHeaderSize = 5;
constexpr size_t kMaxPayload = 255;
constexpr size_t kMaxFrame = kHeaderSize + kMaxPayload;  // 260
// Start byte plus every header and payload byte escaped.
constexpr size_t kMaxWireFrame = 1 + 2 * kMaxFrame;

enum HeaderIndex : size_t {
    kAddressByte = 0,
    kAuxByte = 1,
    kCommandByte = 2,
    kLengthByte = 3,
    kChecksumByte = 4,
};

// One frame in memory: the 5 header bytes followed by the payload.
struct Frame {
    uint8_t bytes[kMaxFrame] = {};

    uint8_t address() const { return bytes[kAddressByte]; }
    uint8_t aux() const { return bytes[kAuxByte]; }
    uint8_t command() const { return bytes[kCommandByte]; }
    uint8_t length() const { return bytes[kLengthByte]; }
    const uint8_t* payload() const { return bytes + kHeaderSize; }
    uint8_t* payload() { return bytes + kHeaderSize; }
};

// Negated 8-bit sum of header bytes 0 to 3 and the payload.
uint8_t FrameChecksum(const Frame& frame);

// Fills header and payload and computes the checksum.
void BuildFrame(Frame& frame, uint8_t address, uint8_t aux, uint8_t command, const uint8_t* payload, uint8_t length);

// Recomputes the checksum and writes the wire form (start byte raw, header and
// payload escaped) into `out`, which holds at least kMaxWireFrame bytes.
// Returns the number of bytes written.
size_t EncodeFrame(Frame& frame, uint8_t* out);

// Reassembles frames from received bytes.  The state survives between calls:
// a frame may arrive split across any number of reads, and a 0x7E always
// starts a new frame, abandoning a half-received one.
class FrameReader {
public:
    // Takes one received byte.  Returns true when it completed a frame whose
    // bytes sum to zero; the frame is then available through frame() until
    // the next call.  Frames with a bad sum or a bad escape are dropped.
    bool Feed(uint8_t byte);

    const Frame& frame() const { return frame_; }

private:
    enum class Phase { Header, Payload };

    Frame frame_;
    bool inFrame_ = false;
    bool escapePending_ = false;
    Phase phase_ = Phase::Header;
    size_t count_ = 0;
    uint8_t sum_ = 0;
};

// Packed BCD helpers of the payloads.
inline uint8_t ToBcd(unsigned value) {
    const unsigned v = value & 0xFF;
    return static_cast<uint8_t>((v / 10) * 16 + v % 10);
}
inline unsigned FromBcd(uint8_t b) { return (b >> 4) * 10u + (b & 0x0Fu); }
// Four BCD digits, thousands in the top nibble of `hi`.
inline unsigned FromBcd4(uint8_t hi, uint8_t lo) { return FromBcd(hi) * 100u + FromBcd(lo); }

}  // namespace kx305
