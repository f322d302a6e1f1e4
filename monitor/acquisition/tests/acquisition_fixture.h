// The polling worker as the acquisition tests run it, natively and under
// Wine: every event recorded, the main window a fixed number, pauses
// shortened so that a test spends its time on the line, not asleep, and the
// worker stopped however the test ends.  Where the converters come from is
// the deriving fixture's business (simulator_fixture.h starts its own).
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "acquisition/app_context.h"
#include "acquisition/polling_worker.h"
#include "instruments/catalogue.h"
#include "kx305.h"
#include "recording_events.h"

namespace kx305mon::testing {

constexpr WindowRef kMain = 102;

class AcquisitionTest : public ::testing::Test {
protected:
    void SetUp() override {
        using namespace std::chrono_literals;
        rainGaugeSettings().serial = 1234;
        context.plumbing.events = &recorder;
        context.mainWindow = kMain;
        context.plumbing.timing.cyclePause = 20ms;
        context.plumbing.timing.reconnectPause = 50ms;
        context.plumbing.timing.recordingTick = 20ms;
        context.plumbing.timing.slotRetry = 20ms;
    }
    void TearDown() override { StopPollingWorker(context); }

    AppContext context;
    RecordingEvents recorder;
};

// What the converter on `port` holds, read on a handle of its own as a host
// reads it without clearing (with `take`, as firmware up to 1.12 hands it
// over).  Nothing when the port does not open or a request fails.
inline std::optional<std::vector<LogRecord>> ReadConverterMemory(const std::string& port, bool take = false) {
    KX305Handle handle = nullptr;
    if (KX305Open(&handle, port.c_str()) != KX305_STATUS_OK) return std::nullopt;
    std::optional<std::vector<LogRecord>> records;
    ConverterInfo info{};
    KX305GetInfo(&handle, &info);
    if (WaitDone(&handle) == 1) {
        LogBuffer log{};
        if (take) {
            KX305GetLog(&handle, &log);
        } else {
            KX305PeekLog(&handle, &log);
        }
        if (WaitDone(&handle) == 1) records.emplace(log.records, log.records + log.count);
    }
    KX305Close(&handle);
    return records;
}

}  // namespace kx305mon::testing
