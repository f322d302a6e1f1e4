// The converter's wire protocol as the driver speaks it: command codes, the
// line speed, the fixed parameters of every request, and the firmware
// versions at which the command set and the results block change.  The one
// home of these facts inside the library; what callers see of them (status
// codes, instrument types, the firmware that keeps its logging memory) is in
// kx305.h.
#pragma once

#include <cstdint>

#include "kx305.h"

namespace kx305 {

// A reply carries the code of the request it answers.  Codes 2, 12, 13 and
// anything above 15 are neither sent nor answered.
constexpr uint8_t CMD_GET_INFO = 0;
constexpr uint8_t CMD_SET_SERIAL = 1;
constexpr uint8_t CMD_GET_TIME = 3;
constexpr uint8_t CMD_SET_TIME = 4;
constexpr uint8_t CMD_GET_PERIOD_MIN = 5;
constexpr uint8_t CMD_SET_PERIOD_MIN = 6;
constexpr uint8_t CMD_GET_RESULTS = 7;
constexpr uint8_t CMD_GET_LOG = 8;
constexpr uint8_t CMD_GET_PERIOD_SEC = 9;
constexpr uint8_t CMD_SET_PERIOD_SEC = 10;
constexpr uint8_t CMD_RESET_RAIN = 11;
constexpr uint8_t CMD_PEEK_LOG = 14;
constexpr uint8_t CMD_CLEAR_LOG = 15;

constexpr uint32_t kBaudRate = 9600;

// Every device command is tried 4 times, 2500 ms each, with address and aux 0.
constexpr uint32_t kRequestTries = 4;
constexpr uint32_t kRequestTimeoutMs = 2500;

// The converter's firmware version word, (major << 8) | minor, as the last
// CMD_GET_INFO reply on a handle gave it.  Each predicate names a feature by
// the first version that has it.  A handle starts at 0, before any info
// reply: the oldest variants of every command.
class FirmwareVersion {
public:
    constexpr FirmwareVersion() = default;
    // Implicit: a version word is a version (tests and fuzzers pass words).
    constexpr FirmwareVersion(uint16_t word) : word_(word) {}
    constexpr FirmwareVersion(uint8_t major, uint8_t minor) : word_(static_cast<uint16_t>(major << 8 | minor)) {}

    constexpr uint16_t word() const { return word_; }

    // 1.02: the log period in seconds (CMD_GET/SET_PERIOD_SEC); up to 1.01
    // in minutes (CMD_GET/SET_PERIOD_MIN).
    constexpr bool HasPeriodInSeconds() const { return word_ >= FirmwareVersion(1, 2).word_; }
    // 1.05: CMD_RESET_RAIN.
    constexpr bool HasRainReset() const { return word_ >= FirmwareVersion(1, 5).word_; }
    // 1.05: the results block gives a length and data for input 0 (the rain
    // gauge); before, it starts with the length of input 1.
    constexpr bool HasInput0InResults() const { return word_ >= FirmwareVersion(1, 5).word_; }
    // 1.13: CMD_CLEAR_LOG, and a download that leaves the memory as it is.
    constexpr bool HasClearLog() const { return word_ >= KX305_FIRMWARE_KEEPS_LOG; }

private:
    uint16_t word_ = 0;
};

}  // namespace kx305
