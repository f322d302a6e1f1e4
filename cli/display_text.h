// The texts of the live display as the main window shows them: the status
// field (converter identity and clock) and one panel per input.  All texts
// are code page 1250 and come from the catalogue and the formatter.
#pragma once

#include <cstdint>
#include <string>

#include "instruments/locale.h"
#include "kx305.h"

namespace kx305cli {

// "KX-305 wersja %d.%d, nr %d", or "KX-305 wersja ?.?, nr ????" without info.
std::string StatusLine(const ConverterInfo* info);

// The year of a converter clock record (which has none), read at the
// computer's UTC date `utcNow`: the previous year for a December clock in
// January, the next one for a January clock in December, else this year.
int ClockYear(const ClockRecord& clock, const kx305mon::CalendarTime& utcNow);

// The clock record with its year as UTC calendar fields.
kx305mon::CalendarTime ClockUtc(const ClockRecord& clock, const kx305mon::CalendarTime& utcNow);

// The clock part of the status field: the clock in local time as the user's
// long date, ", " and time, dated in the computer's current local year;
// "?????, ?????" without a clock or when it cannot be converted.
std::string ClockText(const ClockRecord* clock, const kx305mon::CalendarTime& utcNow,
                      const kx305mon::CalendarTime& localNow, const kx305mon::NumberLocale& locale);

// One input's panel.
struct PanelText {
    std::string name;         // long name, " nr <serial>" when the instrument has one
    std::string description;  // DescribeReading; empty without an instrument
    std::string status;       // status text; empty without an instrument
};

// Panel of an input; a null reading counts as no instrument.
PanelText DescribePanel(const InputReading* reading, bool averageKX125);

// The block that kx305cli read prints for one polling cycle: status line,
// clock, then per input "Wejście nr i: " and the name, the description and
// the status, each indented on a line of its own when not empty, and an
// empty line at the end.  Null pointers give the question marks of a
// display without a converter.
std::string LiveBlock(const ConverterInfo* info, const ClockRecord* clock, const InputReading* results,
                      bool averageKX125);

}  // namespace kx305cli
