// Time as the simulated converter sees it.  The core never reads a clock of
// its own: everything goes through a TimeSource, so tests can step time.
#pragma once

#include <cstdint>

namespace kx305sim {

class TimeSource {
public:
    virtual ~TimeSource() = default;
    // Steady time in microseconds (scheduling of output, drift steps).
    virtual int64_t MonotonicUs() const = 0;
    // The computer's UTC time in milliseconds since 1970 (converter clock).
    virtual int64_t UtcMs() const = 0;
};

// The real clocks of the computer.
class SystemTime final : public TimeSource {
public:
    int64_t MonotonicUs() const override;
    int64_t UtcMs() const override;
};

}  // namespace kx305sim
