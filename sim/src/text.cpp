#include "text.h"

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace kx305sim {

std::vector<std::string> Split(const std::string& text, const char* separators) {
    std::vector<std::string> pieces;
    std::string piece;
    for (char c : text) {
        if (std::strchr(separators, c) != nullptr && c != '\0') {
            if (!piece.empty()) pieces.push_back(piece);
            piece.clear();
        } else {
            piece += c;
        }
    }
    if (!piece.empty()) pieces.push_back(piece);
    return pieces;
}

bool EqualsIgnoreCase(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

bool ParseInteger(const std::string& text, double lo, double hi, int64_t& value) {
    if (text.empty() || std::isspace(static_cast<unsigned char>(text[0]))) return false;
    errno = 0;
    char* end = nullptr;
    const long long v = std::strtoll(text.c_str(), &end, 10);
    if (errno != 0 || end == text.c_str() || *end != '\0') return false;
    if (static_cast<double>(v) < lo || static_cast<double>(v) > hi) return false;
    value = v;
    return true;
}

bool ParseNumber(const std::string& text, double& value) {
    if (text.empty() || std::isspace(static_cast<unsigned char>(text[0]))) return false;
    errno = 0;
    char* end = nullptr;
    const double v = std::strtod(text.c_str(), &end);
    if (errno != 0 || end == text.c_str() || *end != '\0' || !std::isfinite(v)) return false;
    value = v;
    return true;
}

bool ParseSwitch(const std::string& text, bool& value) {
    if (text == "on" || text == "1" || text == "yes") {
        value = true;
        return true;
    }
    if (text == "off" || text == "0" || text == "no") {
        value = false;
        return true;
    }
    return false;
}

bool ParseShare(const std::string& text, double& share) {
    double v = 0;
    if (!text.empty() && text.back() == '%') {
        if (!ParseNumber(text.substr(0, text.size() - 1), v)) return false;
        v /= 100;
    } else if (!ParseNumber(text, v)) {
        return false;
    }
    if (v < 0 || v > 1) return false;
    share = v;
    return true;
}

bool ParseHex(const std::string& text, std::vector<uint8_t>& bytes) {
    std::vector<uint8_t> out;
    int high = -1;
    for (char c : text) {
        if (c == ' ' || c == ':' || c == '\t') {
            if (high >= 0) return false;  // half a byte before a separator
            continue;
        }
        int nibble = 0;
        if (c >= '0' && c <= '9')
            nibble = c - '0';
        else if (c >= 'a' && c <= 'f')
            nibble = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F')
            nibble = c - 'A' + 10;
        else
            return false;
        if (high < 0) {
            high = nibble;
        } else {
            out.push_back(static_cast<uint8_t>(high << 4 | nibble));
            high = -1;
        }
    }
    if (high >= 0) return false;
    bytes = out;
    return true;
}

std::string ToHex(const uint8_t* data, size_t length) {
    static const char kDigits[] = "0123456789abcdef";
    std::string text;
    text.reserve(length * 2);
    for (size_t i = 0; i < length; ++i) {
        text += kDigits[data[i] >> 4];
        text += kDigits[data[i] & 15];
    }
    return text;
}

}  // namespace kx305sim
