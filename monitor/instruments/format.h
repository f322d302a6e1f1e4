// Value formatting (display form in the user's locale, plain form for files),
// parsing of numbers typed in the user's locale, and the one-line description
// of an input's readings for the live display.
#pragma once

#include <cstddef>
#include <cstdint>

#include "kx305.h"

namespace kx305mon {

// Writes prefix + formatted value into buffer (at most size bytes with the
// terminating zero).  Invalid raw value: prefix + "?????" + " " + unit.
// Plain form: dot, trailing zeros dropped, unit ignored.  Display form: the
// locale's number formatting with the divisor's decimals, " " and unit.
// Returns the position just after the prefix.
size_t FormatValue(const char* prefix, int32_t raw, int divisor, const char* unit, char* buffer, size_t size,
                   bool plain);

// Parses a number typed in the user's locale; rewrites text in place
// (separator to ".", negative sign to "-").  Empty text gives 0; anything
// that is not a number gives the largest finite double.
double ParseLocaleNumber(char* text);

// Where a description goes: a window's text in the program, a string in the
// command line and the tests.
class TextSink {
public:
    virtual ~TextSink() = default;
    virtual void SetText(const char* text) = 0;
};

// Builds the description of one input's readings and hands it to the sink.
void DescribeReading(uint32_t type, const InputReading& reading, bool averageKX125, TextSink& target);

}  // namespace kx305mon
