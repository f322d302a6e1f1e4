// Models of the instruments on the converter's inputs 1 to 4.
//
// An instrument holds its measured quantities in display units (°C, %, hPa,
// m/s ...), its error flags and settings (decimals, units, channels) and its
// own serial number.  Quantities drift slowly around their base value unless
// they were set explicitly.  The encoder (encoder.h) turns an Instrument into
// the data bytes the converter reports for its input.
//
// Text form, used by the command line (--input N=INSTRUMENT) and the control
// channel alike:  TYPE[,KEY=VALUE]...   for example
//   kx124,serial=1201,t=-3.5,h=80,h-err=1
// TYPE is a name (kx538s kx124 kx124t kx125 kx129 kx132 kx153 kx261 kx262
// kx273), a type code 2 to 11, or none.  Keys per type: see KeyHelp().
#pragma once

#include <cstdint>
#include <random>
#include <string>

#include "kx305.h"

namespace kx305sim {

// Instrument type codes: the converter sends none, they are the codes the
// library gives the host for what it recognises (kx305.h).  The command line
// and the control channel take them as an alternative to the names.
enum InstrumentType : int {
    kNoInstrument = KX305_TYPE_NONE,
    kRainGauge = KX305_TYPE_RAIN_GAUGE,
    kKX538S = KX305_TYPE_KX538S,
    kKX124 = KX305_TYPE_KX124,
    kKX124T = KX305_TYPE_KX124_TEMPERATURE,  // KX-124 in its temperature-only form
    kKX125 = KX305_TYPE_KX125,
    kKX129 = KX305_TYPE_KX129,
    kKX132 = KX305_TYPE_KX132,
    kKX153 = KX305_TYPE_KX153,
    kKX261 = KX305_TYPE_KX261,
    kKX262 = KX305_TYPE_KX262,
    kKX273 = KX305_TYPE_KX273,
};

// Quantity slots.  Every instrument carries all of them and uses its own few.
enum QuantitySlot : int {
    kTemperature,
    kHumidity,
    kPressure,
    kDirection,
    kSpeed,
    kIntensity,   // KX-261; channel 1 of the KX-262
    kIntensity2,  // channel 2 of the KX-262
    kResistance,
    kDistance,
    kChannel0,  // KX-125 main reading; kChannel0 + c is channel c (1 to 8)
    kQuantityCount = kChannel0 + 9,
};

// Flag and setting slots, likewise shared.
enum FlagSlot : int {
    kCalibrationError,
    kTemperatureError,
    kHumidityError,
    kPressureError,
    kDirectionError,
    kSpeedError,
    kIntensityError,   // KX-261; channel 1 of the KX-262
    kIntensityError2,  // channel 2 of the KX-262
    kInternalError,    // KX-273 internal temperature
    kResistanceError,
    kDistanceError,
    kDecimals,   // decimal places of the main value (channel 1 of the KX-262)
    kDecimals2,  // channel 2 of the KX-262
    kUnit,       // unit code (channel 1 of the KX-262); KX-132: 1 hPa, 0 Pa
    kUnit2,
    kChannels,  // KX-125: bit c set = channel c present (bit 0 main); KX-262: 1 or 2
    kFlagCount,
};

// One measured quantity in display units.
struct Quantity {
    double base = 0;      // what it drifts around
    double value = 0;     // what the instrument reports now
    double walk = 0;      // random part of the drift
    double phase = 0;     // of the slow periodic part, radians
    bool pinned = false;  // set explicitly: held exactly, no drift
};

struct Instrument {
    int type = kNoInstrument;
    uint16_t serial = 0;
    int flags[kFlagCount] = {};
    Quantity q[kQuantityCount];
};

// How a value travels: with `decimals` implied decimal places as a raw
// integer between rawMin and rawMax (what its digit field can hold).
struct ValueField {
    int decimals = 0;
    int64_t rawMin = 0;
    int64_t rawMax = 0;
};

// The field of quantity `slot` for the instrument's current settings.
ValueField FieldOf(const Instrument& instrument, int slot);

// The raw integer the converter sends for quantity `slot`: the value scaled by
// its decimals, rounded, and held inside the field.
int64_t RawValue(const Instrument& instrument, int slot);

// Builds an instrument from its text form.  `input` (1 to 4) only chooses the
// default serial number.  False with a message in `error` on any bad part.
bool ParseInstrument(const std::string& form, int input, Instrument& out, std::string& error);

// Applies KEY=VALUE settings (separated by commas or blanks) to an existing
// instrument.  All or nothing: on an error the instrument is unchanged.
// A value set this way is held exactly; VALUE "drift" lets it drift again.
bool ApplySettings(Instrument& instrument, const std::string& settings, std::string& error);

// The text form of the instrument with its current values.
std::string DescribeInstrument(const Instrument& instrument);

// Short name of a type ("kx124"), "none" for no instrument.
const char* TypeName(int type);

// One line per type listing its keys, for --help.
std::string KeyHelp();

// Advances the drift of every unpinned quantity by `seconds`.
void Drift(Instrument& instrument, double seconds, std::mt19937& random);

// Gives the unpinned quantities fresh drift phases and moves them to where
// their phase puts them.
void SeedDrift(Instrument& instrument, std::mt19937& random);

}  // namespace kx305sim
