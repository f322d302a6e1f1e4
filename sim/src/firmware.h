// Firmware versions at which the simulated converter's command set and
// results block change.  Version words are (major << 8) | minor, each
// threshold the first version with the feature.
//
// The simulator keeps its own copy of the protocol's facts (these and the
// command codes in converter.h) on purpose, rather than the driver's
// protocol.h: it is the model the driver is tested against, and a value
// written once and shared would let both sides agree on a mistake.
#pragma once

#include <cstdint>

namespace kx305sim {

constexpr uint16_t kFirstSecondPeriodVersion = 0x0102;  // commands 9, 10 instead of 5, 6
constexpr uint16_t kFirstRainResetVersion = 0x0105;     // command 11
constexpr uint16_t kFirstInput0Version = 0x0105;        // the results block reports input 0
constexpr uint16_t kFirstPeekClearVersion = 0x010D;     // commands 14 and 15

// Up to 1.01 the converter keeps its log period in whole minutes.
constexpr bool PeriodInMinutes(uint16_t version) { return version < kFirstSecondPeriodVersion; }

}  // namespace kx305sim
