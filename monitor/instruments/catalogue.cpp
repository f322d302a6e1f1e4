// Instrument catalogue: the meaning of the data words of every instrument
// type.  Word numbers below are indexes into InputReading::data.
#include "instruments/catalogue.h"

#include <cstring>
#include <mutex>

#include "instruments/format.h"
#include "quantity.h"

namespace kx305mon {
namespace {

// Guards the rain gauge's name: the UI thread writes it while the polling
// worker reads it for the live display.
std::mutex& RainGaugeNameLock() {
    static std::mutex lock;
    return lock;
}

bool IsSet(int32_t word) { return word != 0; }

// Instruments with a one-decimal flag deliver tenths when it is set.
int TenthsIf(int32_t flag) { return IsSet(flag) ? 10 : 1; }

// Display name and short tag of each instrument type; index = type code.
struct TypeNames {
    int nameId;
    int tagId;
};
constexpr TypeNames kTypeNames[] = {
    {kStrNameNone, kStrTagNone},            // 0: no instrument
    {kStrNameRainGauge, kStrTagRainGauge},  // 1: rain gauge (display name from the settings)
    {kStrNameKX538S, kStrTagKX538S},        // 2: KX-538S
    {kStrNameKX124, kStrTagKX124},          // 3: KX-124
    {kStrNameKX124, kStrTagKX124},          // 4: KX-124, temperature only
    {kStrNameKX125, kStrTagKX125},          // 5: KX-125
    {kStrNameKX129, kStrTagKX129},          // 6: KX-129
    {kStrNameKX132, kStrTagKX132},          // 7: KX-132
    {kStrNameKX153, kStrTagKX153},          // 8: KX-153
    {kStrNameKX261, kStrTagKX261},          // 9: KX-261
    {kStrNameKX262, kStrTagKX262},          // 10: KX-262
    {kStrNameKX273, kStrTagKX273},          // 11: KX-273
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
constexpr UnitCodes kDistanceUnits = {2, {kStrDistanceM, kStrDistanceMm, kStrNone}, {"m", "mm", ""}, kStrDistance};
constexpr UnitCodes kIntensityUnits = {
    2, {kStrIntensityWm2, kStrIntensityKlx, kStrNone}, {"W/m2", "kLx", ""}, kStrIntensity};
constexpr UnitCodes kChannel1Units = {
    3, {kStrIntensityWm2, kStrIntensityKlx, kStrIntensityUmol}, {"W/m2", "kLx", "µmol/sm2"}, kStrIntensity};
constexpr UnitCodes kChannel2Units = {
    3, {kStrIntensity2Wm2, kStrIntensity2Klx, kStrIntensity2Umol}, {"W/m2", "kLx", "µmol/sm2"}, kStrIntensity2Wm2};

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
        quantity = {kStrRain, RainAmount(static_cast<uint32_t>(w[0])), 10, "mm"};
        return true;
    case kTypeKX538S:
        if (q != 0) return false;
        quantity = WithUnitCode(kDistanceUnits, w[3], w[5], TenthsIf(w[0]));
        return true;
    case kTypeKX124:
        if (q == 0)
            quantity = {kStrTemperature, w[5], 10, "°C"};
        else if (q == 1)
            quantity = {kStrHumidity, w[4], 10, " %"};
        else
            return false;
        return true;
    case kTypeKX124Temperature:
        if (q != 0) return false;
        quantity = {kStrTemperature, w[4], IsSet(w[0]) ? 100 : 10, "°C"};
        return true;
    case kTypeKX125:
        // q 0 is the average, q 1 to 8 the channels (presence word 5 + q,
        // value word 13 + q).
        if (q < 0 || q > 8) return false;
        if (q == 0)
            quantity = {kStrTemperature, KX125Average(reading), KX125Divisor(reading), "°C"};
        else
            quantity = {kStrTemperature1 + (q - 1), IsSet(w[5 + q]) ? w[13 + q] : INVALID_VALUE, KX125Divisor(reading),
                        "°C"};
        return true;
    case kTypeKX129:
        if (q == 0)
            quantity = {kStrTemperature, w[7], 10, "°C"};
        else if (q == 1)
            quantity = {kStrHumidity, w[6], 10, " %"};
        else if (q == 2)
            quantity = {kStrPressureHpa, w[5], 10, " hPa"};
        else
            return false;
        return true;
    case kTypeKX132:
        if (q != 0) return false;
        if (IsSet(w[2]))
            quantity = {kStrPressureHpa, w[5], TenthsIf(w[0]), "hPa"};
        else
            quantity = {kStrPressurePa, w[5], TenthsIf(w[0]), "Pa"};
        return true;
    case kTypeKX153:
        if (q == 0)
            quantity = {kStrWindSpeed, w[5], 10, "m/s"};
        else if (q == 1)
            quantity = {kStrWindDirection, w[4], 1, "°"};
        else
            return false;
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
        quantity = {kStrResistance, w[4], 1, "Ohm"};
        return true;
    default:
        return false;
    }
}

size_t InstrumentName(uint32_t type, char* buffer, size_t size, bool longName) {
    if (type == kTypeRainGauge && longName) {
        // The settings first: their first use stores the default name under the lock.
        const RainGaugeSettings& settings = rainGaugeSettings();
        std::lock_guard<std::mutex> guard(RainGaugeNameLock());
        return CopyText(settings.name, strnlen(settings.name, sizeof settings.name), buffer, size);
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
        return kStrMeasurementOk;
    case kTypeKX538S:
        if (IsSet(w[1])) return kStrCalibrationError;
        if (IsSet(w[2])) return kStrDistanceError;
        return kStrMeasurementOk;
    case kTypeKX124: {
        if (IsSet(w[0])) return kStrCalibrationError;
        const bool temperature = IsSet(w[1]), humidity = IsSet(w[2]);
        if (temperature && humidity) return kStrHumidityTemperatureError;
        if (temperature) return kStrTemperatureError;
        if (humidity) return kStrHumidityError;
        return kStrMeasurementOk;
    }
    case kTypeKX124Temperature:
        if (IsSet(w[1])) return kStrCalibrationError;
        if (IsSet(w[2])) return kStrTemperatureError;
        return kStrMeasurementOk;
    case kTypeKX125:
        if (IsSet(w[0])) return kStrCalibrationError;
        if (IsSet(w[1])) return kStrTemperatureError;
        return kStrMeasurementOk;
    case kTypeKX129: {
        if (IsSet(w[0])) return kStrCalibrationError;
        const bool pressure = IsSet(w[1]), temperature = IsSet(w[2]), humidity = IsSet(w[3]);
        if (humidity && temperature && pressure) return kStrAllMeasurementsError;
        if (temperature && humidity) return kStrHumidityTemperatureError;
        if (temperature && pressure) return kStrTemperaturePressureError;
        if (humidity && pressure) return kStrHumidityPressureError;
        if (temperature) return kStrTemperatureError;
        if (humidity) return kStrHumidityError;
        if (pressure) return kStrPressureError;
        return kStrMeasurementOk;
    }
    case kTypeKX132:
        if (IsSet(w[1])) return kStrCalibrationError;
        if (IsSet(w[3])) return kStrPressureError;
        return kStrMeasurementOk;
    case kTypeKX153: {
        if (IsSet(w[0])) return kStrCalibrationError;
        const bool direction = IsSet(w[1]), speed = IsSet(w[2]);
        if (direction && speed) return kStrWindDirectionSpeedError;
        if (speed) return kStrWindSpeedError;
        if (direction) return kStrWindDirectionError;
        return kStrMeasurementOk;
    }
    case kTypeKX261:
        if (IsSet(w[1])) return kStrCalibrationError;
        if (IsSet(w[2])) return kStrRadiationError;
        return kStrMeasurementOk;
    case kTypeKX262: {
        if (IsSet(w[7])) return kStrCalibrationError;
        const bool channel1 = IsSet(w[1]), channel2 = IsSet(w[2]);
        if (channel1 && channel2) return kStrRadiationErrorBoth;
        if (channel1) return kStrRadiationError1;
        if (channel2) return kStrRadiationError2;
        return kStrMeasurementOk;
    }
    case kTypeKX273:
        if (IsSet(w[0])) return kStrCalibrationError;
        if (IsSet(w[1])) return kStrInternalTemperatureError;
        if (IsSet(w[2])) return kStrResistanceError;
        return kStrMeasurementOk;
    default:
        return kStrNone;
    }
}

int QuantityValue(uint32_t type, const InputReading& reading, int q, char* buffer, size_t size, bool withUnit,
                  bool plain) {
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

bool InstrumentChanged(uint32_t typeA, const InputReading& readingA, uint32_t typeB, const InputReading& readingB) {
    return typeA != typeB || InstrumentSerial(typeA, readingA) != InstrumentSerial(typeB, readingB);
}

int QuantityStatusText(uint32_t type, const InputReading& reading, int q, char* buffer, size_t size, bool withUnit) {
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

void StoreName(RainGaugeSettings& settings, const char* name) {
    std::lock_guard<std::mutex> guard(RainGaugeNameLock());
    std::memset(settings.name, 0, sizeof settings.name);
    if (name != nullptr) std::strncpy(settings.name, name, sizeof settings.name - 1);
}

void ApplyDefaults(RainGaugeSettings& settings) {
    StoreName(settings, StringText(kStrNameRainGauge));
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

void SetRainGaugeName(const char* name) { StoreName(rainGaugeSettings(), name); }

std::string RainGaugeName() {
    const RainGaugeSettings& settings = rainGaugeSettings();
    std::lock_guard<std::mutex> guard(RainGaugeNameLock());
    return std::string(settings.name, strnlen(settings.name, sizeof settings.name));
}

}  // namespace kx305mon
