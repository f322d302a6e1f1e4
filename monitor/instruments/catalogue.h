// Instrument catalogue: names, serial numbers, quantities, units, scaling and
// status texts of every instrument type the converter reports.  Every other
// module goes through these functions; none interprets data words itself.
//
// All functions are pure functions of their arguments and of the program-wide
// rain-gauge settings; they take no lock.  Texts are code page 1250.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>

#include "kx305.h"

namespace kx305mon {

// A missing or invalid value or serial number; shown as "?????".
constexpr int32_t INVALID_VALUE = 0x7FFFFFFF;

// Instrument type codes as the driver decodes them (kx305.h).
enum InstrumentType : uint32_t {
    kTypeNone = KX305_TYPE_NONE,
    kTypeRainGauge = KX305_TYPE_RAIN_GAUGE,
    kTypeKX538S = KX305_TYPE_KX538S,
    kTypeKX124 = KX305_TYPE_KX124,
    kTypeKX124Temperature = KX305_TYPE_KX124_TEMPERATURE,
    kTypeKX125 = KX305_TYPE_KX125,
    kTypeKX129 = KX305_TYPE_KX129,
    kTypeKX132 = KX305_TYPE_KX132,
    kTypeKX153 = KX305_TYPE_KX153,
    kTypeKX261 = KX305_TYPE_KX261,
    kTypeKX262 = KX305_TYPE_KX262,
    kTypeKX273 = KX305_TYPE_KX273,
};

// String-table ids by name (resources/string_table.inc): kStrTemperature is
// 25.  0 is no text.
enum StringId : int {
    kStrNone = 0,
#define KX305_STRING(id, name, text) name = id,
#include "resources/string_table.inc"
#undef KX305_STRING
};

// Program-wide settings of the rain gauge on input 0.  Serial and
// calibration may be written by the polling worker while other threads read
// them, hence atomic.  The name is written by the UI thread (dialog 119,
// the settings) while the polling worker names the rain gauge for the live
// display: it is written only with SetRainGaugeName and read off the UI
// thread only through InstrumentName or RainGaugeName, which copy it whole.
struct RainGaugeSettings {
    char name[200];                    // default: string 39
    std::atomic<uint32_t> serial;      // 0 = take the converter's serial
    std::atomic<int32_t> calibration;  // thousandths of a millimetre per impulse
};

// The one instance of the program (initialised with the defaults).
RainGaugeSettings& rainGaugeSettings();
// Restores the defaults (name of string 39, serial 0, calibration 1000).
void ResetRainGaugeSettings();
// Replaces the rain gauge's name (cut to 199 bytes), never seen half-written.
void SetRainGaugeName(const char* name);
// A consistent copy of the rain gauge's name.
std::string RainGaugeName();

// Text of string-table id 1..67 (code page 1250); "" for any other id.
const char* StringText(int id);

// Long flag: display name; else the short tag.  Returns characters written
// (always zero-terminated when size > 0).
size_t InstrumentName(uint32_t type, char* buffer, size_t size, bool longName);

// Serial 0..65535, the rain-gauge setting for type 1, or INVALID_VALUE.
int32_t InstrumentSerial(uint32_t type, const InputReading& reading);

// Status text id (1..67), 0 for no instrument.
int InstrumentStatus(uint32_t type, const InputReading& reading);

// Name id of quantity q, or 0 when the type has no quantity q.  With a buffer
// (size > 0) the value is formatted by FormatValue: display form with the
// unit when withUnit is set and plain clear; plain form (dot, no unit) when
// plain is set.
int QuantityValue(uint32_t type, const InputReading& reading, int q, char* buffer, size_t size, bool withUnit,
                  bool plain);

// Types differ, or equal types with different serial numbers.
bool InstrumentChanged(uint32_t typeA, const InputReading& readingA, uint32_t typeB, const InputReading& readingB);

// DDE helper: formats quantity q (display form, unit as asked) and returns
// InstrumentStatus; for type 0 and codes above 11 writes "" and returns 0.
int QuantityStatusText(uint32_t type, const InputReading& reading, int q, char* buffer, size_t size, bool withUnit);

// Rain amount in tenths of a millimetre: impulses x calibration (32-bit
// unsigned, wrapping) / 100.
int32_t RainAmount(uint32_t impulses);

// Average of the present KX-125 channels, or INVALID_VALUE when none is present.
int32_t KX125Average(const InputReading& reading);

}  // namespace kx305mon
