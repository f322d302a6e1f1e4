#include "results_block.h"

namespace kx305 {
namespace {

// The instruments send their readings as characters: every value is the
// character code minus 0x30, with no validation, so "?" (0x3F) reads as 15
// and anything outside the digits gives an out-of-range number that is
// delivered as computed.  All arithmetic is unsigned so that such numbers
// wrap instead of overflowing.
class Characters {
public:
    explicit Characters(const uint8_t* d) : d_(d) {}

    uint8_t operator[](size_t k) const { return d_[k]; }
    uint32_t Value(size_t k) const { return uint32_t{d_[k]} - 0x30u; }

    // n digits d[k]..d[k+n-1] as an unsigned number.
    uint32_t Dec(size_t k, size_t n) const {
        uint32_t v = 0;
        for (size_t i = 0; i < n; ++i) v = v * 10u + Value(k + i);
        return v;
    }

    // d[k] is a minus sign or a leading digit in front of n digits.
    int32_t SignedDec(size_t k, size_t n) const {
        const uint32_t rest = Dec(k + 1, n);
        if (d_[k] == '-') return static_cast<int32_t>(0u - rest);
        uint32_t scale = 1;
        for (size_t i = 0; i < n; ++i) scale *= 10u;
        return static_cast<int32_t>(Value(k) * scale + rest);
    }

    // Four characters, one nibble each: d[k], d[k+1] the low byte and
    // d[k+2], d[k+3] the high byte, high nibble first.
    uint16_t Hex4(size_t k) const {
        return static_cast<uint16_t>(Value(k + 2) << 12 | Value(k + 3) << 8 | Value(k) << 4 | Value(k + 1));
    }

private:
    const uint8_t* d_;
};

int32_t Bit(uint8_t x, unsigned n) { return (x >> n) & 1; }
int32_t NotBit(uint8_t x, unsigned n) { return 1 - Bit(x, n); }

// A 16-bit code (an instrument's serial number) fills only the low half of
// its data word.
void SetCode(int32_t& word, uint16_t code) {
    const uint32_t high = static_cast<uint32_t>(word) & 0xFFFF0000u;
    word = static_cast<int32_t>(high | code);
}

// The type an input's data select, before checking that they are long
// enough for it.
uint32_t SelectType(const uint8_t* d, size_t length) {
    if (length == 0) return KX305_TYPE_NONE;
    if (length == 4) return KX305_TYPE_RAIN_GAUGE;
    if (d[0] == 1) {
        if (length < 3 || d[1] != 0) return KX305_TYPE_NONE;
        switch (d[2]) {
        case 3:
            return KX305_TYPE_KX261;
        case 8:
            return KX305_TYPE_KX262;
        case 9:
            return KX305_TYPE_KX124_TEMPERATURE;
        case 11:
            return KX305_TYPE_KX273;
        case 12:
            return KX305_TYPE_KX538S;
        default:
            return KX305_TYPE_NONE;
        }
    }
    switch (length) {
    case 12:
        return (d[0] & 0x08) ? KX305_TYPE_KX153 : KX305_TYPE_KX124;
    case 50:
    case 59:
        return KX305_TYPE_KX125;
    case 17:
        return KX305_TYPE_KX129;
    case 10:
        return KX305_TYPE_KX132;
    default:
        return KX305_TYPE_NONE;
    }
}

// Bytes a type reads; the types chosen by length alone always fit.
size_t BytesNeeded(uint32_t type, const uint8_t* d, size_t length) {
    switch (type) {
    case KX305_TYPE_KX538S:
    case KX305_TYPE_KX261:
    case KX305_TYPE_KX273:
        return 13;
    // Five digits with bit 0 of d[3].
    case KX305_TYPE_KX124_TEMPERATURE:
        return length > 3 && (d[3] & 0x01) ? 14 : 13;
    case KX305_TYPE_KX262:
        return 20;
    default:
        return 0;
    }
}

void DecodeKX125(const Characters& d, size_t length, InputReading& r) {
    const bool wide = length == 59;
    const size_t digits = wide ? 5 : 4;
    r.data[0] = Bit(d[0], 2);
    r.data[1] = Bit(d[0], 1);
    r.data[2] = wide ? 2 : 1;
    SetCode(r.data[3], d.Hex4(1));
    r.data[4] = 0;
    if (d[5] != '?') {
        r.data[5] = d.SignedDec(5, digits);
        r.data[4] = 1;
    }
    for (size_t c = 0; c < 8; ++c) r.data[6 + c] = 0;
    for (size_t c = 0; c < 8; ++c) {
        const size_t start = wide ? 11 + 6 * c : 10 + 5 * c;
        if (d[start] == '?') continue;
        r.data[14 + c] = d.SignedDec(start, digits);
        r.data[6 + c] = 1;
    }
}

}  // namespace

void DecodeInput(const uint8_t* data, size_t length, InputReading& r) {
    uint32_t type = SelectType(data, length);
    if (length < BytesNeeded(type, data, length)) type = KX305_TYPE_NONE;
    r.type = type;
    if (type == KX305_TYPE_NONE) return;

    const Characters d(data);
    switch (type) {
    case KX305_TYPE_RAIN_GAUGE:
        r.data[0] =
            static_cast<int32_t>(uint32_t{d[0]} | uint32_t{d[1]} << 8 | uint32_t{d[2]} << 16 | uint32_t{d[3]} << 24);
        break;
    case KX305_TYPE_KX538S:
    case KX305_TYPE_KX261:
        r.data[0] = NotBit(d[3], 3);
        r.data[1] = Bit(d[3], 2);
        r.data[2] = Bit(d[3], 0);
        r.data[3] = Bit(d[3], 1);
        SetCode(r.data[4], d.Hex4(4));
        r.data[5] = d.SignedDec(8, 4);
        break;
    case KX305_TYPE_KX124:
    case KX305_TYPE_KX153:
        r.data[0] = Bit(d[0], 2);
        r.data[1] = Bit(d[0], 1);
        r.data[2] = Bit(d[0], 0);
        SetCode(r.data[3], d.Hex4(1));
        r.data[4] = static_cast<int32_t>(d.Dec(5, 3));
        r.data[5] = type == KX305_TYPE_KX153 ? static_cast<int32_t>(d.Dec(8, 4)) : d.SignedDec(8, 3);
        break;
    case KX305_TYPE_KX124_TEMPERATURE: {
        r.data[0] = Bit(d[3], 0);
        r.data[1] = Bit(d[3], 2);
        r.data[2] = Bit(d[3], 1);
        SetCode(r.data[3], d.Hex4(4));
        const uint32_t value = d.Dec(9, r.data[0] ? 5 : 4);
        r.data[4] = static_cast<int32_t>(d[8] == '-' ? 0u - value : value);
        break;
    }
    case KX305_TYPE_KX125:
        DecodeKX125(d, length, r);
        break;
    case KX305_TYPE_KX129:
        r.data[0] = Bit(d[0], 2);
        r.data[1] = Bit(d[0], 3);
        r.data[2] = Bit(d[0], 1);
        r.data[3] = Bit(d[0], 0);
        SetCode(r.data[4], d.Hex4(1));
        r.data[5] = d.SignedDec(12, 4);
        r.data[6] = static_cast<int32_t>(d.Dec(5, 3));
        r.data[7] = d.SignedDec(8, 3);
        break;
    case KX305_TYPE_KX132:
        r.data[0] = NotBit(d[0], 3);
        r.data[1] = Bit(d[0], 2);
        r.data[2] = NotBit(d[0], 1);
        r.data[3] = Bit(d[0], 0);
        SetCode(r.data[4], d.Hex4(1));
        r.data[5] = d.SignedDec(5, 4);
        break;
    case KX305_TYPE_KX262:
        r.data[0] = Bit(d[3], 3);
        r.data[1] = Bit(d[3], 0);
        r.data[2] = Bit(d[3], 1);
        r.data[3] = NotBit(d[4], 3);
        r.data[4] = NotBit(d[5], 3);
        r.data[5] = d[4] & 7;
        r.data[6] = d[5] & 7;
        r.data[7] = Bit(d[3], 2);
        SetCode(r.data[8], d.Hex4(6));
        r.data[9] = d.SignedDec(10, 4);
        r.data[10] = d.SignedDec(15, 4);
        break;
    case KX305_TYPE_KX273:
        r.data[0] = Bit(d[3], 2);
        r.data[1] = Bit(d[3], 1);
        r.data[2] = Bit(d[3], 0);
        SetCode(r.data[3], d.Hex4(4));
        r.data[4] = static_cast<int32_t>(d.Dec(8, 5));
        break;
    }
}

void DecodeResultsBlock(const uint8_t* payload, size_t length, FirmwareVersion version,
                        InputReading results[KX305_INPUTS]) {
    // Byte 0 is not interpreted.  Old firmware has no length byte for input
    // 0 (its rain gauge is not reported there).
    const bool hasInput0 = version.HasInput0InResults();
    const size_t firstInput = hasInput0 ? 0 : 1;
    if (!hasInput0) DecodeInput(nullptr, 0, results[0]);

    size_t lengthAt = 1;
    size_t dataAt = 1 + (KX305_INPUTS - firstInput);
    for (size_t input = firstInput; input < KX305_INPUTS; ++input, ++lengthAt) {
        if (lengthAt >= length) {
            DecodeInput(nullptr, 0, results[input]);
            continue;
        }
        const size_t inputLength = payload[lengthAt];
        if (dataAt + inputLength > length)
            DecodeInput(nullptr, 0, results[input]);
        else
            DecodeInput(payload + dataAt, inputLength, results[input]);
        dataAt += inputLength;
    }
}

}  // namespace kx305
