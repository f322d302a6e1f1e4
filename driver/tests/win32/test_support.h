// Helpers of the Windows driver tests: the simulated converters of
// scripts/wine-sim-run (wine_sim.h), a handle closed however the test ends,
// and a guard against calls that hang.
#pragma once

#include <windows.h>

#include <chrono>
#include <cstdio>
#include <future>
#include <string>

#include <gtest/gtest.h>

#include "kx305.h"
#include "wine_sim.h"

namespace kx305::wintest {

using support::SimNumber;
using support::SimPort;

// A handle that is closed when the test ends, however it ends.
class OpenHandle {
public:
    explicit OpenHandle(const std::string& port) { status_ = KX305Open(&handle_, port.c_str()); }
    ~OpenHandle() {
        if (handle_ != nullptr) KX305Close(&handle_);
    }
    OpenHandle(const OpenHandle&) = delete;
    OpenHandle& operator=(const OpenHandle&) = delete;

    KX305Status status() const { return status_; }
    KX305Handle* get() { return &handle_; }

private:
    KX305Handle handle_ = nullptr;
    KX305Status status_ = KX305_STATUS_BAD_HANDLE;
};

// Runs `action` on another thread and waits up to `seconds` for it.  An
// action that hangs ends the whole test program with exit code 3: the
// thread still uses the caller's variables, so nothing else may run on.
template <typename Action>
void ExpectReturnsWithin(int seconds, const char* what, Action action) {
    auto done = std::async(std::launch::async, action);
    if (done.wait_for(std::chrono::seconds(seconds)) == std::future_status::ready) return;
    std::fprintf(stderr, "FAILED: %s did not return within %d s\n", what, seconds);
    std::fflush(stderr);
    TerminateProcess(GetCurrentProcess(), 3);
}

}  // namespace kx305::wintest
