// Command codes of the converter and the fixed parameters of every request.
#pragma once

#include <cstdint>

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

// Firmware version words ((major << 8) | minor) that change the command set.
constexpr uint16_t kLastVersionWithMinutePeriod = 0x0101;
constexpr uint16_t kLastVersionWithoutRainReset = 0x0104;
constexpr uint16_t kFirstVersionWithClearLog = 0x010D;

}  // namespace kx305
