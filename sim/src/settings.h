// What the simulated converter is at start: firmware, identity, instruments,
// logging, rain, faults.  Filled from the command line; the texts are parsed
// by the same functions the control channel uses.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "instrument.h"
#include "transmitter.h"

namespace kx305sim {

// Converter clock: UTC without a year.
struct ClockTime {
    int month = 1;  // 1-12
    int day = 1;    // 1-31
    int hour = 0;
    int minute = 0;
    int second = 0;
};

struct ConverterSettings {
    uint16_t version = 0x010D;  // firmware (major << 8) | minor: 1.13
    int dateDay = 15;           // firmware date
    int dateMonth = 6;
    int dateYear = 2009;
    uint16_t serial = 3051;
    uint16_t periodSeconds = 60;  // 0: no logging
    uint16_t capacity = 1000;     // records
    uint16_t prefill = 0;         // records stored at start
    uint32_t rainImpulses = 0;
    double rainPerMinute = 0;
    uint32_t seed = 1;
    bool drift = true;
    bool pacing = false;
    bool clockGiven = false;  // else the clock runs from the computer's UTC time
    ClockTime clock;
    Instrument inputs[4];
    Faults faults;
};

// The defaults of inputs 1 to 4: a KX-124, a KX-125 and a KX-129, input 4 free.
void DefaultInputs(Instrument inputs[4]);

// "1.13" -> 0x010D (major and minor in decimal, 0 to 255 each).
bool ParseFirmware(const std::string& text, uint16_t& version);
std::string FormatFirmware(uint16_t version);

// "2009-06-15".
bool ParseDate(const std::string& text, int& year, int& month, int& day);

// "MM-DD HH:MM:SS" (or with a T between date and time).
bool ParseClock(const std::string& text, ClockTime& clock);
std::string FormatClock(const ClockTime& clock);  // "06-15T12:00:00"
bool ValidClock(const ClockTime& clock);

// "N=INSTRUMENT" of --input: an instrument in its text form on input N (1 to 4).
bool ParseInputOption(const std::string& text, Instrument inputs[4], std::string& error);

// The arguments of a fault command ("drop 0.2", "corrupt 10% escape",
// "delay 300", "silent on", "stale 1", "unsolicited 0.5", "off").
bool ApplyFault(Faults& faults, const std::vector<std::string>& args, std::string& error);
std::string DescribeFaults(const Faults& faults);

}  // namespace kx305sim
