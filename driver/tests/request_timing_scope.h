// Shorter request tries for the tests that link the driver's core: the
// library's own 2500 ms x 4 would make every test of a silent or lossy line
// wait ten seconds.
#pragma once

#include "frame_link.h"

namespace kx305::testing {

class ScopedRequestTiming {
public:
    explicit ScopedRequestTiming(uint32_t timeoutMs, uint32_t tries = kRequestTries) : saved_(CurrentRequestTiming()) {
        SetRequestTiming({timeoutMs, tries});
    }
    ~ScopedRequestTiming() { SetRequestTiming(saved_); }
    ScopedRequestTiming(const ScopedRequestTiming&) = delete;
    ScopedRequestTiming& operator=(const ScopedRequestTiming&) = delete;

private:
    RequestTiming saved_;
};

}  // namespace kx305::testing
