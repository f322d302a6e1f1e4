// Scenarios that record live from the simulated converters: a quick start
// into live readings, simulators reconfigured for one scenario and given
// back afterwards, and the accounting of the records a converter logged
// against the registration file and its memory.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "program_fixture.h"

namespace kx305::e2e {

class QuickStart : public ProgramTest {
protected:
    void TearDown() override;
    // Quick start on the simulator of `variable` (KX305_PORT_*), recording
    // into `logfile` (the scenario's pomiary.kxg when empty), and waits
    // until the main window shows its live data.
    void Start(const char* variable, const std::string& logfile = "");

    // Sends `command` to the simulator on `port` (a failure when it is not
    // answered "ok"), and `undo` when the scenario ends: the simulators
    // serve the following scenarios as scripts/wine-sim-run started them.
    void Configure(const std::string& port, const std::string& command, const std::string& undo = "");
    // A number of the simulator's state ("records", "lost"); -1 when unreadable.
    static int64_t StateNumber(const std::string& port, const std::string& key);

    std::string port_;

private:
    std::vector<std::pair<std::string, std::string>> undo_;
};

// --- What a converter logged, where it went ---
//
// Converter time stamps ("06-15 12:00:02.00" of the memory listing,
// "06-15T12:00:02" of the state's clock) are UTC without a year; the
// registration file keeps local time.  Both become seconds since 1601 in
// UTC, in the current year, whole seconds.
std::optional<int64_t> ConverterSeconds(const std::string& stamp);
// The stamps of the records the simulator on `port` holds, oldest first.
std::optional<std::vector<int64_t>> MemoryStamps(const std::string& port);
// The stamps of the valid records of a registration file (or of its
// waiting file, which has the same format), in file order, read with the
// program's reader; nullopt when it cannot be read.
std::optional<std::vector<int64_t>> FileStamps(const std::string& path);

}  // namespace kx305::e2e
