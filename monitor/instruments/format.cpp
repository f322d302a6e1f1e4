// Value formatting for the screen (user's locale) and for files (plain form),
// parsing of numbers typed in the user's locale, and the one-line reading
// descriptions of the live display.
#include "instruments/format.h"

#include <cfloat>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <string>

#include "instruments/catalogue.h"
#include "instruments/locale.h"
#include "quantity.h"

namespace kx305mon {
namespace {

// Every caller's output buffer holds at most this many characters.
constexpr size_t kPieceSize = 200;

// Decimals the display form shows for a divisor of 1, 10, 100 or 1000.
int DecimalsOf(int divisor) {
    int decimals = 0;
    while (divisor > 1) {
        divisor /= 10;
        ++decimals;
    }
    return decimals;
}

// raw / divisor with a dot, trailing zeros and a bare trailing dot removed:
// 215/10 -> "21.5", 1000/10 -> "100", -5/10 -> "-0.5".
std::string PlainNumber(int32_t raw, int divisor) {
    char text[64];
    std::snprintf(text, sizeof text, "%.3f", static_cast<double>(raw) / (divisor > 0 ? divisor : 1));
    size_t length = std::strlen(text);
    while (length > 1 && text[length - 1] == '0') --length;
    if (length > 1 && text[length - 1] == '.') --length;
    return std::string(text, length);
}

size_t CopyOut(const std::string& text, char* buffer, size_t size) {
    const size_t n = text.size() < size - 1 ? text.size() : size - 1;
    std::memcpy(buffer, text.data(), n);
    buffer[n] = '\0';
    return n;
}

void AppendValue(std::string& text, const char* prefix, const Quantity& quantity, const char* unit) {
    char piece[kPieceSize];
    FormatValue(prefix, quantity.raw, quantity.divisor, unit, piece, sizeof piece, false);
    text += piece;
}

// KX-125: the average (or the bare word when the user switched it off),
// then all eight channels between "<" and ">", absent ones as "?????".
std::string DescribeKX125(const InputReading& reading, bool averageKX125) {
    std::string text;
    Quantity quantity;
    FindQuantity(kTypeKX125, reading, 0, quantity);
    if (averageKX125)
        AppendValue(text, "Temperatura: ", quantity, quantity.unit);
    else
        text = "Temperatura";
    for (int channel = 1; channel <= 8; ++channel) {
        FindQuantity(kTypeKX125, reading, channel, quantity);
        AppendValue(text, channel == 1 ? " <" : " ", quantity, "");
    }
    return text + "> ";
}

// Labels of the quantities q = 0, 1, 2 in the description of each type
// (nullptr ends the list); the values and units are the catalogue's.
struct DescriptionLabels {
    const char* label[3];
};

DescriptionLabels LabelsOf(uint32_t type, const InputReading& reading) {
    switch (type) {
    case kTypeRainGauge:
        return {{"Ilość opadów atmosferycznych: "}};
    case kTypeKX538S:
        return {{"Odległość: "}};
    case kTypeKX124:
        return {{"Temperatura: ", ", Wilgotność: "}};
    case kTypeKX124Temperature:
        return {{"Temperatura: "}};
    case kTypeKX129:
        return {{"Temperatura: ", ", Wilgotność: ", ", Ciśnienie: "}};
    case kTypeKX132:
        return {{"Ciśnienie: "}};
    case kTypeKX153:
        return {{"Prędkość wiatru: ", ", Kierunek wiatru: "}};
    case kTypeKX261:
        return {{"Natężenie światła: "}};
    case kTypeKX262:
        if (reading.data[0] != 0) return {{"Natężenie światła 1: ", ", Natężenie światła 2: "}};
        return {{"Natężenie światła: "}};
    case kTypeKX273:
        return {{"Rezystancja: "}};
    default:
        return {{}};
    }
}

}  // namespace

size_t FormatValue(const char* prefix, int32_t raw, int divisor, const char* unit, char* buffer, size_t size,
                   bool plain) {
    if (buffer == nullptr || size == 0) return 0;
    // Copied first: callers may append by passing their buffer as the prefix.
    std::string text = prefix != nullptr ? prefix : "";
    const size_t prefixLength = text.size();
    if (unit == nullptr) unit = "";
    if (raw == INVALID_VALUE) {
        text += "????? ";
        text += unit;
    } else if (plain) {
        text += PlainNumber(raw, divisor);
    } else {
        text += CurrentLocale().FormatNumber(PlainNumber(raw, divisor), DecimalsOf(divisor));
        text += ' ';
        text += unit;
    }
    const size_t written = CopyOut(text, buffer, size);
    return prefixLength < written ? prefixLength : written;
}

double ParseLocaleNumber(char* text) {
    constexpr double kNotANumber = DBL_MAX;
    if (text == nullptr) return kNotANumber;
    const NumberLocale& locale = CurrentLocale();
    const char decimal = locale.DecimalSeparator();
    const char negative = locale.NegativeSign();
    size_t length = 0;
    for (char* c = text; *c != '\0'; ++c, ++length) {
        if (*c >= '0' && *c <= '9') continue;
        if (*c == decimal)
            *c = '.';
        else if (*c == negative)
            *c = '-';
        else
            return kNotANumber;
    }
    if (length == 0) return 0.0;
    // from_chars ignores the C library's locale: the dot is always the point.
    double value = 0.0;
    const auto [end, error] = std::from_chars(text, text + length, value);
    if (error != std::errc() || end != text + length) return kNotANumber;
    return value;
}

void DescribeReading(uint32_t type, const InputReading& reading, bool averageKX125, TextSink& target) {
    if (type == kTypeKX125) {
        target.SetText(DescribeKX125(reading, averageKX125).c_str());
        return;
    }
    std::string text;
    const DescriptionLabels labels = LabelsOf(type, reading);
    Quantity quantity;
    for (int q = 0; q < 3 && labels.label[q] != nullptr; ++q) {
        if (FindQuantity(type, reading, q, quantity)) AppendValue(text, labels.label[q], quantity, quantity.unit);
    }
    target.SetText(text.c_str());
}

}  // namespace kx305mon
