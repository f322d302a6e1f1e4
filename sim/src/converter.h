// The simulated KX-305 converter: takes the host's bytes, answers its
// requests, keeps the UTC clock (no year), the rain counter, the instruments
// on inputs 1 to 4 and the logging memory.  The port is injected (bytes in
// through Receive, out through a ByteSink) and so is time, so the whole
// device runs without a pty in tests.  Single-threaded: the owner calls
// Receive, Tick and the accessors from one thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "firmware.h"
#include "frame.h"
#include "instrument.h"
#include "log_memory.h"
#include "settings.h"
#include "time_source.h"
#include "transmitter.h"

namespace kx305sim {

// Command codes of the converter's protocol (the simulator's own copy, see
// firmware.h).
enum Command : uint8_t {
    kCmdGetInfo = 0,
    kCmdSetSerial = 1,
    kCmdGetTime = 3,
    kCmdSetTime = 4,
    kCmdGetPeriodMin = 5,
    kCmdSetPeriodMin = 6,
    kCmdGetResults = 7,
    kCmdGetLog = 8,
    kCmdGetPeriodSec = 9,
    kCmdSetPeriodSec = 10,
    kCmdResetRain = 11,
    kCmdPeekLog = 14,
    kCmdClearLog = 15,
};

// Whether firmware `version` answers command `code`.
bool FirmwareHas(uint16_t version, uint8_t code);

struct ReceiveCounters {
    uint64_t bytes = 0;
    uint64_t frames = 0;      // valid frames
    uint64_t frameBytes = 0;  // wire bytes of the valid frames
    uint64_t perCode[256] = {};
};

// The time stamp of a stored record as it stands in the memory:
// "MM-DD HH:MM:SS.hh" (UTC, no year).  "??" for a byte that is not BCD.
std::string StoredStampText(const std::vector<uint8_t>& record);

class Converter {
public:
    // `journal`, when given, receives one line for every record the
    // converter logs: "stored STAMP" when it went into the memory,
    // "dropped STAMP" when the full memory refused it.  Given here so that
    // the records stored at start are told too.
    Converter(const ConverterSettings& settings, const TimeSource& time, ByteSink& sink,
              std::function<void(const std::string&)> journal = {});

    // Bytes from the host, split anywhere.
    void Receive(const uint8_t* data, size_t length);
    // Brings instruments, rain gauge and logging memory up to the current
    // time and sends what is due.  Call after every event and by NextWakeUs.
    void Tick();
    // Monotonic time by which Tick must run again.
    int64_t NextWakeUs() const;

    uint16_t version() const { return version_; }
    // A firmware change empties the logging memory: its records were stored
    // in the old firmware's layout.
    void SetVersion(uint16_t version);
    uint16_t serial() const { return serial_; }

    // Inputs 1 to 4.
    const Instrument& input(int n) const { return inputs_[n - 1]; }
    void SetInput(int n, const Instrument& instrument);
    // KEY=VALUE settings on input n; all or nothing.
    bool ApplyToInput(int n, const std::string& settings, std::string& error);

    uint32_t rainImpulses() const { return rainImpulses_; }
    void SetRainImpulses(uint32_t impulses) { rainImpulses_ = impulses; }
    void AddRainImpulses(uint32_t impulses) { rainImpulses_ += impulses; }  // wraps like the counter
    double rainPerMinute() const { return rainPerMinute_; }
    void SetRainPerMinute(double rate) { rainPerMinute_ = rate; }

    ClockTime Clock() const;
    void SetClock(const ClockTime& clock);
    void FollowComputerClock();

    uint16_t periodSeconds() const { return periodSeconds_; }
    void SetPeriod(uint16_t seconds);

    LogMemory& memory() { return memory_; }
    const LogMemory& memory() const { return memory_; }
    // Appends `count` records a log period apart (a minute when logging is
    // off), the newest one period before now.  Returns how many fitted.
    size_t Fill(size_t count);
    uint64_t recordsLost() const { return recordsLost_; }  // not stored: memory full

    // The current results block in this firmware's layout.
    std::vector<uint8_t> ResultsBlock() const;

    Transmitter& transmitter() { return transmitter_; }
    const ReceiveCounters& received() const { return received_; }
    // The last valid request: its frame bytes and its bytes as they came.
    const kx305::Frame& lastRequest() const { return lastRequest_; }
    const std::vector<uint8_t>& lastRequestWire() const { return lastRequestWire_; }
    void ResetCounters();

    // Receives a line about every request and stored record (verbose mode).
    void SetTrace(std::function<void(const std::string&)> trace) { trace_ = std::move(trace); }

private:
    void Handle(const kx305::Frame& request);
    void AddLogStream(const kx305::Frame& request, std::vector<kx305::Frame>& reply) const;
    bool Store(int64_t deviceMs, uint32_t rainImpulses, const Instrument inputs[4]);
    int64_t DeviceMs() const;

    const TimeSource& time_;
    Transmitter transmitter_;
    std::mt19937 random_;

    uint16_t version_;
    int dateDay_, dateMonth_, dateYear_;
    uint16_t serial_;
    Instrument inputs_[4];
    bool drift_;
    uint32_t rainImpulses_;
    double rainPerMinute_;
    double rainCarry_ = 0;  // fraction of an impulse collected so far

    int64_t clockOffsetMs_ = 0;  // converter clock minus the computer's UTC
    uint16_t periodSeconds_;
    int64_t logSlot_ = -1;  // period number of the last stored record; -1: start anew
    LogMemory memory_;
    uint64_t recordsLost_ = 0;
    int64_t lastStepUs_;  // when instruments and rain were last advanced

    kx305::FrameReader reader_;
    std::vector<uint8_t> wire_;  // bytes since the last frame start
    ReceiveCounters received_;
    kx305::Frame lastRequest_;
    std::vector<uint8_t> lastRequestWire_;
    std::function<void(const std::string&)> trace_;
    std::function<void(const std::string&)> journal_;
};

}  // namespace kx305sim
