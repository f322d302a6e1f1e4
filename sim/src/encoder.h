// The converter's packed readings: per-input data bytes and the results
// block that carries all five inputs (reply to the results request and the
// body of every stored log record).
//
// Numbers travel as digit characters ("0" to "9", a leading "-" for negative
// values), serial numbers as four characters 0x30 to 0x3F giving the nibbles
// of the low byte and then of the high byte, status bits inside a character
// 0x30 + bits.  Types 2, 4, 9, 10 and 11 start with the binary bytes 1, 0 and
// a form code.
#pragma once

#include <cstddef>
#include <cstdint>

#include "firmware.h"
#include "instrument.h"

namespace kx305sim {

constexpr size_t kMaxInputData = 59;  // KX-125 with two decimals
// Byte 0, five lengths, the rain gauge and four of the longest inputs.
constexpr size_t kMaxResultsBlock = 1 + 5 + 4 + 4 * kMaxInputData;  // 246

// Writes the data bytes of one instrument into `d` (kMaxInputData bytes) and
// returns their number; 0 for no instrument.
size_t EncodeInput(const Instrument& instrument, uint8_t* d);

// The rain gauge: the impulse count as 4 bytes, least significant first.
size_t EncodeRainGauge(uint32_t impulses, uint8_t* d);

// The results block for firmware `version` into `out` (kMaxResultsBlock
// bytes); returns its length.
size_t EncodeResultsBlock(uint32_t rainImpulses, const Instrument inputs[4], uint16_t version, uint8_t* out);

// Digit-field writers (exposed for tests).
void PutHex4(uint8_t* d, uint16_t value);
void PutDigits(uint8_t* d, uint64_t value, int digits);
// `digits` + 1 characters: "-" and `digits` digits, or `digits` + 1 digits.
void PutSignedDigits(uint8_t* d, int64_t value, int digits);

}  // namespace kx305sim
