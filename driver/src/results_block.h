// Decoding of the converter's packed readings (the results block) into five
// InputReadings.  Shared by the results request and the log transfer.
#pragma once

#include <cstddef>
#include <cstdint>

#include "kx305.h"
#include "protocol.h"

namespace kx305 {

// Decodes `length` payload bytes into results[0..4].  Never reads outside the
// payload: an input whose data run past the end, or whose type needs more
// bytes than its length holds, is decoded as type 0.  Data words a type does
// not name keep what the record held.  The firmware decides whether the
// block reports input 0.
void DecodeResultsBlock(const uint8_t* payload, size_t length, FirmwareVersion version,
                        InputReading results[KX305_INPUTS]);

// Decodes one input's data bytes d[0..length-1] into `reading`.
void DecodeInput(const uint8_t* data, size_t length, InputReading& reading);

}  // namespace kx305
