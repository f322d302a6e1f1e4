#include "encoder.h"

#include <cstring>

namespace kx305sim {
namespace {

constexpr uint8_t kZero = 0x30;  // "0": digits and status characters start here
constexpr uint8_t kAbsent = '?';

uint8_t Bit(bool set, int bit) { return set ? static_cast<uint8_t>(1u << bit) : 0; }

// Instruments that announce themselves with the binary bytes 1, 0, form code.
size_t PutForm(uint8_t* d, uint8_t form, uint8_t status) {
    d[0] = 1;
    d[1] = 0;
    d[2] = form;
    d[3] = static_cast<uint8_t>(kZero | status);
    return 4;
}

// The KX-538S and the KX-261 share one layout: decimals, calibration, unit
// and error bits, serial, one signed value.
size_t EncodeUnitForm(const Instrument& in, uint8_t form, int errorFlag, int slot, uint8_t* d) {
    const int* f = in.flags;
    PutForm(d, form,
            Bit(f[kDecimals] == 0, 3) | Bit(f[kCalibrationError], 2) | Bit(f[kUnit] == 1, 1) | Bit(f[errorFlag], 0));
    PutHex4(d + 4, in.serial);
    PutSignedDigits(d + 8, RawValue(in, slot), 4);
    return 13;
}

size_t EncodeKX124(const Instrument& in, uint8_t* d) {
    const int* f = in.flags;
    d[0] = static_cast<uint8_t>(kZero | Bit(f[kCalibrationError], 2) | Bit(f[kTemperatureError], 1) |
                                Bit(f[kHumidityError], 0));
    PutHex4(d + 1, in.serial);
    PutDigits(d + 5, static_cast<uint64_t>(RawValue(in, kHumidity)), 3);
    PutSignedDigits(d + 8, RawValue(in, kTemperature), 3);
    return 12;
}

size_t EncodeKX124T(const Instrument& in, uint8_t* d) {
    const int* f = in.flags;
    const bool twoDecimals = f[kDecimals] == 2;
    PutForm(d, 9, Bit(f[kCalibrationError], 2) | Bit(f[kTemperatureError], 1) | Bit(twoDecimals, 0));
    PutHex4(d + 4, in.serial);
    const int64_t raw = RawValue(in, kTemperature);
    d[8] = raw < 0 ? '-' : '+';
    const int digits = twoDecimals ? 5 : 4;
    PutDigits(d + 9, static_cast<uint64_t>(raw < 0 ? -raw : raw), digits);
    return 9 + static_cast<size_t>(digits);
}

size_t EncodeKX125(const Instrument& in, uint8_t* d) {
    const int* f = in.flags;
    const bool twoDecimals = f[kDecimals] == 2;
    const size_t length = twoDecimals ? 59 : 50;
    const int digits = twoDecimals ? 5 : 4;    // after the sign or leading digit
    const size_t width = twoDecimals ? 6 : 5;  // of one channel field
    const size_t first = twoDecimals ? 11 : 10;
    d[0] = static_cast<uint8_t>(kZero | Bit(f[kCalibrationError], 2) | Bit(f[kTemperatureError], 1));
    PutHex4(d + 1, in.serial);
    // Absent channels (and an absent main reading) are all "?".
    std::memset(d + 5, kAbsent, length - 5);
    for (int c = 0; c <= 8; ++c) {
        if (!(f[kChannels] & (1 << c))) continue;
        uint8_t* field = c == 0 ? d + 5 : d + first + width * static_cast<size_t>(c - 1);
        PutSignedDigits(field, RawValue(in, kChannel0 + c), digits);
    }
    return length;
}

size_t EncodeKX129(const Instrument& in, uint8_t* d) {
    const int* f = in.flags;
    d[0] = static_cast<uint8_t>(kZero | Bit(f[kPressureError], 3) | Bit(f[kCalibrationError], 2) |
                                Bit(f[kTemperatureError], 1) | Bit(f[kHumidityError], 0));
    PutHex4(d + 1, in.serial);
    PutDigits(d + 5, static_cast<uint64_t>(RawValue(in, kHumidity)), 3);
    PutSignedDigits(d + 8, RawValue(in, kTemperature), 3);
    PutSignedDigits(d + 12, RawValue(in, kPressure), 4);
    return 17;
}

size_t EncodeKX132(const Instrument& in, uint8_t* d) {
    const int* f = in.flags;
    d[0] = static_cast<uint8_t>(kZero | Bit(f[kDecimals] == 0, 3) | Bit(f[kCalibrationError], 2) |
                                Bit(f[kUnit] == 0, 1) | Bit(f[kPressureError], 0));
    PutHex4(d + 1, in.serial);
    PutSignedDigits(d + 5, RawValue(in, kPressure), 4);
    return 10;
}

size_t EncodeKX153(const Instrument& in, uint8_t* d) {
    const int* f = in.flags;
    // Bit 3 set tells it from the KX-124, which has the same length.
    d[0] = static_cast<uint8_t>(kZero | Bit(true, 3) | Bit(f[kCalibrationError], 2) | Bit(f[kDirectionError], 1) |
                                Bit(f[kSpeedError], 0));
    PutHex4(d + 1, in.serial);
    PutDigits(d + 5, static_cast<uint64_t>(RawValue(in, kDirection)), 3);
    PutDigits(d + 8, static_cast<uint64_t>(RawValue(in, kSpeed)), 4);
    return 12;
}

size_t EncodeKX262(const Instrument& in, uint8_t* d) {
    const int* f = in.flags;
    const bool second = f[kChannels] == 2;
    PutForm(d, 8,
            Bit(second, 3) | Bit(f[kCalibrationError], 2) | Bit(f[kIntensityError2], 1) | Bit(f[kIntensityError], 0));
    d[4] = static_cast<uint8_t>(kZero | Bit(f[kDecimals] == 0, 3) | (f[kUnit] & 7));
    d[5] = static_cast<uint8_t>(kZero | Bit(f[kDecimals2] == 0, 3) | (f[kUnit2] & 7));
    PutHex4(d + 6, in.serial);
    PutSignedDigits(d + 10, RawValue(in, kIntensity), 4);
    // Without a second channel its field is still sent, as zero.
    PutSignedDigits(d + 15, second ? RawValue(in, kIntensity2) : 0, 4);
    return 20;
}

size_t EncodeKX273(const Instrument& in, uint8_t* d) {
    const int* f = in.flags;
    PutForm(d, 11, Bit(f[kCalibrationError], 2) | Bit(f[kInternalError], 1) | Bit(f[kResistanceError], 0));
    PutHex4(d + 4, in.serial);
    PutDigits(d + 8, static_cast<uint64_t>(RawValue(in, kResistance)), 5);
    return 13;
}

}  // namespace

void PutHex4(uint8_t* d, uint16_t value) {
    d[0] = static_cast<uint8_t>(kZero + ((value >> 4) & 15));
    d[1] = static_cast<uint8_t>(kZero + (value & 15));
    d[2] = static_cast<uint8_t>(kZero + ((value >> 12) & 15));
    d[3] = static_cast<uint8_t>(kZero + ((value >> 8) & 15));
}

void PutDigits(uint8_t* d, uint64_t value, int digits) {
    for (int i = digits - 1; i >= 0; --i) {
        d[i] = static_cast<uint8_t>(kZero + value % 10);
        value /= 10;
    }
}

void PutSignedDigits(uint8_t* d, int64_t value, int digits) {
    if (value < 0) {
        d[0] = '-';
        PutDigits(d + 1, static_cast<uint64_t>(-value), digits);
    } else {
        PutDigits(d, static_cast<uint64_t>(value), digits + 1);
    }
}

size_t EncodeInput(const Instrument& instrument, uint8_t* d) {
    switch (instrument.type) {
    case kKX538S:
        return EncodeUnitForm(instrument, 12, kDistanceError, kDistance, d);
    case kKX124:
        return EncodeKX124(instrument, d);
    case kKX124T:
        return EncodeKX124T(instrument, d);
    case kKX125:
        return EncodeKX125(instrument, d);
    case kKX129:
        return EncodeKX129(instrument, d);
    case kKX132:
        return EncodeKX132(instrument, d);
    case kKX153:
        return EncodeKX153(instrument, d);
    case kKX261:
        return EncodeUnitForm(instrument, 3, kIntensityError, kIntensity, d);
    case kKX262:
        return EncodeKX262(instrument, d);
    case kKX273:
        return EncodeKX273(instrument, d);
    default:
        return 0;
    }
}

size_t EncodeRainGauge(uint32_t impulses, uint8_t* d) {
    for (int i = 0; i < 4; ++i) d[i] = static_cast<uint8_t>(impulses >> (8 * i));
    return 4;
}

size_t EncodeResultsBlock(uint32_t rainImpulses, const Instrument inputs[4], uint16_t version, uint8_t* out) {
    // Older firmware gives no length byte and no data for input 0.
    const bool withInput0 = version >= kFirstInput0Version;
    out[0] = 0;
    size_t lengthAt = 1;
    size_t n = withInput0 ? 6 : 5;
    if (withInput0) {
        out[lengthAt++] = static_cast<uint8_t>(EncodeRainGauge(rainImpulses, out + n));
        n += 4;
    }
    for (int i = 0; i < 4; ++i) {
        const size_t length = EncodeInput(inputs[i], out + n);
        out[lengthAt++] = static_cast<uint8_t>(length);
        n += length;
    }
    return n;
}

}  // namespace kx305sim
