// The stored form of the registration file's bytes, shared by its writer
// and its reader (and the download's look at a file's end): the record
// marks, the negation of every stored byte and the checksum with its two
// check bytes.  Internal to the recording module; registration_file.h is
// the public face.  Inline, so that the reader's bulk loops keep their
// vector code.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kx305mon::registration_format {

constexpr uint8_t kLineEnd = '$';     // LINE_END
constexpr uint8_t kRecordMark = '@';  // RECORD_MARK
constexpr size_t kStampDigits = 14;

// Both directions of the storage transformation.
inline uint8_t Negate(uint8_t byte) { return static_cast<uint8_t>(0u - byte); }

// The bulk loops run in fixed-size chunks, which the
// compiler turns into vector code at the project's optimisation level.
constexpr size_t kChunk = 32;

inline void NegateBytes(uint8_t* bytes, size_t count) {
    size_t i = 0;
    for (; i + kChunk <= count; i += kChunk) {
        for (size_t j = 0; j < kChunk; ++j) {
            bytes[i + j] = Negate(bytes[i + j]);
        }
    }
    for (; i < count; ++i) {
        bytes[i] = Negate(bytes[i]);
    }
}

// Sum of the bytes taken as signed 8-bit numbers, wrapping like the
// signed 32-bit checksum.
inline uint32_t SignedByteSum(const uint8_t* bytes, size_t count) {
    uint32_t sum = 0;
    size_t i = 0;
    // Whole blocks as unsigned bytes with the top bit flipped (the signed
    // value plus 128) summed in 16 bits: the vector code keeps such a sum in
    // registers, where the wider one went through memory.
    constexpr size_t kBlock = 256;  // 256 * 255 fits in 16 bits
    for (; i + kBlock <= count; i += kBlock) {
        uint16_t block = 0;
        for (size_t j = 0; j < kBlock; ++j) {
            block = static_cast<uint16_t>(block + (bytes[i + j] ^ 0x80u));
        }
        sum += static_cast<uint32_t>(block) - static_cast<uint32_t>(kBlock * 128);
    }
    for (; i + kChunk <= count; i += kChunk) {
        int32_t chunk = 0;
        for (size_t j = 0; j < kChunk; ++j) {
            chunk += static_cast<int8_t>(bytes[i + j]);
        }
        sum += static_cast<uint32_t>(chunk);
    }
    for (; i < count; ++i) {
        sum += static_cast<uint32_t>(static_cast<int8_t>(bytes[i]));
    }
    return sum;
}

// The two trailer bytes of a checksum (remainders truncated toward zero, as
// the sum of a damaged record may be negative).
inline uint8_t CheckByte(uint32_t sum, int32_t modulus) {
    return static_cast<uint8_t>(static_cast<int32_t>(sum) % modulus + 1);
}

}  // namespace kx305mon::registration_format
