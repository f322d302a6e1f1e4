#include "frame.h"

#include <cstring>

namespace kx305 {

uint8_t FrameChecksum(const Frame& frame) {
    uint8_t sum = 0;
    for (size_t i = 0; i < kChecksumByte; ++i) sum = static_cast<uint8_t>(sum + frame.bytes[i]);
    const uint8_t* payload = frame.payload();
    for (size_t i = 0; i < frame.length(); ++i) sum = static_cast<uint8_t>(sum + payload[i]);
    return static_cast<uint8_t>(0u - sum);
}

void BuildFrame(Frame& frame, uint8_t address, uint8_t aux, uint8_t command, const uint8_t* payload, uint8_t length) {
    frame.bytes[kAddressByte] = address;
    frame.bytes[kAuxByte] = aux;
    frame.bytes[kCommandByte] = command;
    frame.bytes[kLengthByte] = length;
    if (length > 0 && payload != nullptr) std::memcpy(frame.payload(), payload, length);
    frame.bytes[kChecksumByte] = FrameChecksum(frame);
}

size_t EncodeFrame(Frame& frame, uint8_t* out) {
    frame.bytes[kChecksumByte] = FrameChecksum(frame);
    size_t n = 0;
    out[n++] = kFrameStart;
    const size_t total = kHeaderSize + frame.length();
    for (size_t i = 0; i < total; ++i) {
        const uint8_t b = frame.bytes[i];
        if (b == kFrameStart) {
            out[n++] = kFrameEscape;
            out[n++] = kEscapedStart;
        } else if (b == kFrameEscape) {
            out[n++] = kFrameEscape;
            out[n++] = kFrameEscape;
        } else {
            out[n++] = b;
        }
    }
    return n;
}

bool FrameReader::Feed(uint8_t byte) {
    if (byte == kFrameStart) {
        inFrame_ = true;
        escapePending_ = false;
        phase_ = Phase::Header;
        count_ = 0;
        sum_ = 0;
        return false;
    }
    if (!inFrame_) return false;
    if (escapePending_) {
        escapePending_ = false;
        if (byte == kFrameEscape) {
            // data byte 0x7F
        } else if (byte == kEscapedStart) {
            byte = kFrameStart;
        } else {
            inFrame_ = false;
            return false;
        }
    } else if (byte == kFrameEscape) {
        escapePending_ = true;
        return false;
    }

    sum_ = static_cast<uint8_t>(sum_ + byte);
    bool complete = false;
    if (phase_ == Phase::Header) {
        frame_.bytes[count_++] = byte;
        if (count_ == kHeaderSize) {
            phase_ = Phase::Payload;
            count_ = 0;
            complete = frame_.length() == 0;
        }
    } else {
        frame_.bytes[kHeaderSize + count_++] = byte;
        complete = count_ == frame_.length();
    }
    if (!complete) return false;
    inFrame_ = false;
    return sum_ == 0;
}

}  // namespace kx305
