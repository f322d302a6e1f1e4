// Instrument catalogue: the meaning of the data words of every instrument
// type.  Word numbers below are indexes into InputReading::data.
#include "instruments/catalogue.h"

#include <cstring>

#include "instruments/format.h"
#include "quantity.h"

namespace kx305mon {
namespace {

bool IsSet(int32_t word) { return word != 0; }

// Instruments with a one-decimal flag deliver tenths when it is set.
int TenthsIf(int32_t flag) { return IsSet(flag) ? 10 : 1; }

// Display name and short tag of each instrument type; index = type code.
struct TypeNames {
    int nameId;
    int tagId;
};
constexpr TypeNames kTypeNames[] = {
    {23, 24},  // 0: no instrument
    {39, 38},  // 1: rain gauge (display name from the settings)
    {62, 63},  // 2: KX-538S
    {13, 14},  // 3: KX-124
    {13, 14},  // 4: KX-124, temperature only
    {15, 16},  // 5: KX-125
    {17, 18},  // 6: KX-129
    {19, 20},  // 7: KX-132
    {21, 22},  // 8: KX-153
    {42, 43},  // 9: KX-261
    {48, 49},  // 10: KX-262
    {57, 58},  // 11: KX-273
};
constexpr uint32_t kLastType = kTypeKX273;

bool IsKnown(uint32_t type) { return type >= kTypeRainGauge && type <= kLastType; }

// Word holding the 16-bit serial number of types 2 to 11.
constexpr int kSerialWord[] = {-1, -1, 4, 3, 3, 3, 4, 4, 3, 4, 8, 3};

// A unit code selects both the unit text and the quantity's name id.  Codes
// the table does not know keep the quantity (a generic name id, so callers
// counting quantities still see it) but show no unit.
struct UnitCodes {
    int count;
    int nameIds[3];
    const char* units[3];
    int unknownNameId;
};
constexpr UnitCodes kDistanceUnits = {2, {66, 65, 0}, {"m", "mm", ""}, 64};
constexpr UnitCodes kIntensityUnits = {2, {45, 46, 0}, {"W/m2", "kLx", ""}, 44};
constexpr UnitCodes kChannel1Units = {3, {45, 46, 53}, {"W/m2", "kLx", "µmol/sm2"}, 44};
constexpr UnitCodes kChannel2Units = {3, {54, 55, 56}, {"W/m2", "kLx", "µmol/sm2"}, 54};

Quantity WithUnitCode(const UnitCodes& codes, int32_t code, int32_t raw, int divisor) {
    if (code >= 0 && code < codes.count) return {codes.nameIds[code], raw, divisor, codes.units[code]};
    return {codes.unknownNameId, raw, divisor, ""};
}

// KX-262 channel 0 or 1: error word 1 + c, decimal flag 3 + c, unit code
// 5 + c, value 9 + c.
Quantity RadiationChannel(const InputReading& reading, int channel) {
    const int32_t* w = reading.data;
    return WithUnitCode(channel == 0 ? kChannel1Units : kChannel2Units, w[5 + channel], w[9 + channel],
                        TenthsIf(w[3 + channel]));
}

// Resolution word of the KX-125: 1 means tenths, anything else hundredths.
int KX125Divisor(const InputReading& reading) { return reading.data[2] == 1 ? 10 : 100; }

size_t CopyText(const char* text, size_t length, char* buffer, size_t size) {
    if (buffer == nullptr || size == 0) return 0;
    const size_t n = length < size - 1 ? length : size - 1;
    std::memcpy(buffer, text, n);
    buffer[n] = '\0';
    return n;
}

}  // namespace

bool FindQuantity(uint32_t type, const InputReading& reading, int q, Quantity& quantity) {
    const int32_t* w = reading.data;
    switch (type) {
    case kTypeRainGauge:
        if (q != 0) return false;
        quantity = {40, RainAmount(static_cast<uint32_t>(w[0])), 10, "mm"};
        return true;
    case kTypeKX538S:
        if (q != 0) return false;
        quantity = WithUnitCode(kDistanceUnits, w[3], w[5], TenthsIf(w[0]));
        return true;
    case kTypeKX124:
        if (q == 0) quantity = {25, w[5], 10, "°C"};
        else if (q == 1) quantity = {26, w[4], 10, " %"};
        else return false;
        return true;
    case kTypeKX124Temperature:
        if (q != 0) return false;
        quantity = {25, w[4], IsSet(w[0]) ? 100 : 10, "°C"};
        return true;
    case kTypeKX125:
        // q 0 is the average, q 1 to 8 the channels (presence word 5 + q,
        // value word 13 + q).
        if (q < 0 || q > 8) return false;
        if (q == 0) quantity = {25, KX125Average(reading), KX125Divisor(reading), "°C"};
        else quantity = {29 + q, IsSet(w[5 + q]) ? w[13 + q] : INVALID_VALUE, KX125Divisor(reading), "°C"};
        return true;
    case kTypeKX129:
        if (q == 0) quantity = {25, w[7], 10, "°C"};
        else if (q == 1) quantity = {26, w[6], 10, " %"};
        else if (q == 2) quantity = {27, w[5], 10, " hPa"};
        else return false;
        return true;
    case kTypeKX132:
        if (q != 0) return false;
        if (IsSet(w[2])) quantity = {27, w[5], TenthsIf(w[0]), "hPa"};
        else quantity = {47, w[5], TenthsIf(w[0]), "Pa"};
        return true;
    case kTypeKX153:
        if (q == 0) quantity = {29, w[5], 10, "m/s"};
        else if (q == 1) quantity = {28, w[4], 1, "°"};
        else return false;
        return true;
    case kTypeKX261:
        if (q != 0) return false;
        quantity = WithUnitCode(kIntensityUnits, w[3], w[5], TenthsIf(w[0]));
        return true;
    case kTypeKX262:
        // Word 0 tells whether the second channel is fitted.
        if (q == 0 || (q == 1 && IsSet(w[0]))) {
            quantity = RadiationChannel(reading, q);
            return true;
        }
        return false;
    case kTypeKX273:
        if (q != 0) return false;
        quantity = {61, w[4], 1, "Ohm"};
        return true;
    default:
        return false;
    }
}

size_t InstrumentName(uint32_t type, char* buffer, size_t size, bool longName) {
    if (type == kTypeRainGauge && longName) {
        const char* name = rainGaugeSettings().name;
        return CopyText(name, strnlen(name, sizeof rainGaugeSettings().name), buffer, size);
    }
    const TypeNames& names = kTypeNames[IsKnown(type) ? type : kTypeNone];
    const char* text = StringText(longName ? names.nameId : names.tagId);
    return CopyText(text, std::strlen(text), buffer, size);
}

int32_t InstrumentSerial(uint32_t type, const InputReading& reading) {
    if (type == kTypeRainGauge) return static_cast<int32_t>(rainGaugeSettings().serial.load());
    if (!IsKnown(type)) return INVALID_VALUE;
    return reading.data[kSerialWord[type]] & 0xFFFF;
}

int InstrumentStatus(uint32_t type, const InputReading& reading) {
    const int32_t* w = reading.data;
    switch (type) {
    case kTypeRainGauge:
        return 1;
    case kTypeKX538S:
        if (IsSet(w[1])) return 5;
        if (IsSet(w[2])) return 67;
        return 1;
    case kTypeKX124: {
        if (IsSet(w[0])) return 5;
        const bool temperature = IsSet(w[1]), humidity = IsSet(w[2]);
        if (temperature && humidity) return 4;
        if (temperature) return 3;
        if (humidity) return 2;
        return 1;
    }
    case kTypeKX124Temperature:
        if (IsSet(w[1])) return 5;
        if (IsSet(w[2])) return 3;
        return 1;
    case kTypeKX125:
        if (IsSet(w[0])) return 5;
        if (IsSet(w[1])) return 3;
        return 1;
    case kTypeKX129: {
        if (IsSet(w[0])) return 5;
        const bool pressure = IsSet(w[1]), temperature = IsSet(w[2]), humidity = IsSet(w[3]);
        if (humidity && temperature && pressure) return 9;
        if (temperature && humidity) return 4;
        if (temperature && pressure) return 8;
        if (humidity && pressure) return 7;
        if (temperature) return 3;
        if (humidity) return 2;
        if (pressure) return 6;
        return 1;
    }
    case kTypeKX132:
        if (IsSet(w[1])) return 5;
        if (IsSet(w[3])) return 6;
        return 1;
    case kTypeKX153: {
        if (IsSet(w[0])) return 5;
        const bool direction = IsSet(w[1]), speed = IsSet(w[2]);
        if (direction && speed) return 12;
        if (speed) return 11;
        if (direction) return 10;
        return 1;
    }
    case kTypeKX261:
        if (IsSet(w[1])) return 5;
        if (IsSet(w[2])) return 41;
        return 1;
    case kTypeKX262: {
        if (IsSet(w[7])) return 5;
        const bool channel1 = IsSet(w[1]), channel2 = IsSet(w[2]);
        if (channel1 && channel2) return 50;
        if (channel1) return 51;
        if (channel2) return 52;
        return 1;
    }
    case kTypeKX273:
        if (IsSet(w[0])) return 5;
        if (IsSet(w[1])) return 59;
        if (IsSet(w[2])) return 60;
        return 1;
    default:
        return 0;
    }
}

int QuantityValue(uint32_t type, const InputReading& reading, int q, char* buffer, size_t size,
                  bool withUnit, bool plain) {
    Quantity quantity;
    if (!FindQuantity(type, reading, q, quantity)) {
        CopyText("", 0, buffer, size);
        return 0;
    }
    if (buffer != nullptr && size > 0) {
        const char* unit = withUnit && !plain ? quantity.unit : "";
        FormatValue("", quantity.raw, quantity.divisor, unit, buffer, size, plain);
    }
    return quantity.nameId;
}

bool InstrumentChanged(uint32_t typeA, const InputReading& readingA, uint32_t typeB,
                       const InputReading& readingB) {
    return typeA != typeB || InstrumentSerial(typeA, readingA) != InstrumentSerial(typeB, readingB);
}

int QuantityStatusText(uint32_t type, const InputReading& reading, int q, char* buffer, size_t size,
                       bool withUnit) {
    if (!IsKnown(type)) {
        CopyText("", 0, buffer, size);
        return 0;
    }
    QuantityValue(type, reading, q, buffer, size, withUnit, false);
    return InstrumentStatus(type, reading);
}

int32_t RainAmount(uint32_t impulses) {
    // The converter's counter and the calibration multiply in 32 bits; a
    // product past 2^32 wraps before the scaling to tenths of a millimetre.
    const uint32_t product = impulses * static_cast<uint32_t>(rainGaugeSettings().calibration.load());
    return static_cast<int32_t>(product / 100u);
}

int32_t KX125Average(const InputReading& reading) {
    int64_t sum = 0;
    int present = 0;
    for (int channel = 0; channel < 8; ++channel) {
        if (IsSet(reading.data[6 + channel])) {
            sum += reading.data[14 + channel];
            ++present;
        }
    }
    if (present == 0) return INVALID_VALUE;
    return static_cast<int32_t>(sum / present);
}

namespace {

void ApplyDefaults(RainGaugeSettings& settings) {
    std::memset(settings.name, 0, sizeof settings.name);
    std::strncpy(settings.name, StringText(39), sizeof settings.name - 1);
    settings.serial = 0;
    settings.calibration = 1000;
}

}  // namespace

RainGaugeSettings& rainGaugeSettings() {
    static RainGaugeSettings settings;
    static const bool initialised = (ApplyDefaults(settings), true);
    (void)initialised;
    return settings;
}

void ResetRainGaugeSettings() { ApplyDefaults(rainGaugeSettings()); }

}  // namespace kx305mon
