// Small strict text helpers shared by the command line and the control
// channel.  Parsers accept the whole text or nothing.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kx305sim {

// Splits at any of the separator characters; empty pieces are dropped.
std::vector<std::string> Split(const std::string& text, const char* separators);

bool EqualsIgnoreCase(const std::string& a, const std::string& b);

// A decimal integer between lo and hi.
bool ParseInteger(const std::string& text, double lo, double hi, int64_t& value);

// A finite decimal number ("21.5", "-3", "1e3").
bool ParseNumber(const std::string& text, double& value);

// "on"/"off", "1"/"0", "yes"/"no".
bool ParseSwitch(const std::string& text, bool& value);

// A share of events: "0.25" or "25%", 0 to 1.
bool ParseShare(const std::string& text, double& share);

// Bytes in hex, optionally separated by blanks or colons: "7e 00 03" or "7e0003".
bool ParseHex(const std::string& text, std::vector<uint8_t>& bytes);
std::string ToHex(const uint8_t* data, size_t length);

}  // namespace kx305sim
