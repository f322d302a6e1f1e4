// Where each measured quantity of an instrument type lives: name id, raw
// value, divisor and unit.  Shared by the catalogue and the reading
// descriptions inside this library; other modules use QuantityValue.
#pragma once

#include <cstdint>

#include "kx305.h"

namespace kx305mon {

struct Quantity {
    int nameId = 0;         // string-table id of the quantity's name
    int32_t raw = 0;        // scaled integer, or INVALID_VALUE
    int divisor = 1;        // 1, 10, 100 or 1000
    const char* unit = "";  // appended after one blank in the display form
};

// Fills `quantity` and returns true when `type` has a quantity number q.
bool FindQuantity(uint32_t type, const InputReading& reading, int q, Quantity& quantity);

}  // namespace kx305mon
