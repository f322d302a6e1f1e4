// The recording soak: kx305cli record runs against kx305sim with faults
// switched on and off between and during the runs, and then an account of
// every record the simulated converter logged.  The simulator's journal
// names each logged record by its time stamp; at the end each one must be
// in the registration file exactly once, still in the converter's memory,
// or among the records the command line reported lost.
//
// The recorder runs with TZ=UTC, so the file's local time stamps are the
// converter's UTC stamps; records are compared by month, day, hour, minute
// and second (the converter keeps no year, and logs at most once a second).
// Native only.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "process.h"
#include "sim_process.h"

namespace kx305soak {

// Where every logged record ended up.
struct Account {
    uint64_t logged = 0;        // stored in the converter's memory
    uint64_t dropped = 0;       // refused by a full memory (never logged)
    uint64_t stored = 0;        // in the file at least once
    uint64_t held = 0;          // not in the file, still in the converter
    uint64_t reportedLost = 0;  // sum of "Records lost: N" over the runs
    uint64_t missing = 0;       // neither in the file nor in the converter
    uint64_t doubled = 0;       // copies beyond the first in the file
    uint64_t unaccounted = 0;   // missing beyond what was reported lost
    uint64_t overReported = 0;  // reported lost beyond what is missing
    uint64_t foreign = 0;       // file records the converter never logged
    uint64_t written = 0;       // sum of "Records written: N" over the runs
    double seconds = 0;         // from the simulator's start to the account
};

// One scenario's outcome: the account, what each run said, and what went
// wrong with the scenario itself (a simulator that did not start, a
// control command refused).
struct Outcome {
    std::string name;
    Account account;
    std::vector<std::string> runs;  // per run: exit status, summary, stderr
    std::vector<std::string> problems;
    // The account shows neither loss nor doubling, and the scenario ran.
    bool Clean(bool memoryMayFill) const;
};

// A converter, a registration file and the recorder runs against them.
class Soak {
public:
    // Starts kx305sim with `simArgs` plus a journal.  Check ok() after.
    Soak(std::string name, const std::vector<std::string>& simArgs);
    ~Soak();

    bool ok() const { return sim_ != nullptr; }
    kx305sim::SimProcess& sim() { return *sim_; }
    const std::string& file() const { return file_; }

    // A control command that must succeed; a refusal is a problem of the
    // scenario.  Returns the reply.
    std::string Control(const std::string& command);

    // Starts `kx305cli record FILE --port ... --timeout 30` with `extraArgs`
    // once the line is quiet; with `fileSizeLimit` > 0 under that
    // RLIMIT_FSIZE (bytes).
    std::unique_ptr<kx305cli::testing::Process> Launch(const std::vector<std::string>& extraArgs,
                                                       uint64_t fileSizeLimit = 0);
    // Waits for a launched run to end and takes its report into the account.
    void Finish(kx305cli::testing::Process& run, int timeoutMs = 120000);
    // Launch and Finish a run of `seconds`.
    void Record(double seconds, uint64_t fileSizeLimit = 0);

    // Waits until the converter is asked for its logging memory (a download
    // begins) after this call.  False after `timeoutMs`.
    bool WaitForDownload(int timeoutMs = 30000);
    // Waits until the converter has sent everything it queued.
    bool WaitForQuietLine(int timeoutMs);
    // Cuts `bytes` off the end of the registration file.
    void TearTail(uint64_t bytes);
    // Time stamps ("MM-DD HH:MM:SS") of the records the converter holds now.
    std::vector<std::string> Held();
    // Time stamp of the last record the file's reader finds, "" when none.
    std::string LastStored();

    // Stops the converter's logging and accounts for every logged record.
    Outcome Conclude();

    void Problem(const std::string& text) { outcome_.problems.push_back(text); }

private:
    Outcome outcome_;
    std::unique_ptr<kx305sim::SimProcess> sim_;
    std::string dir_;
    std::string file_;
    std::string journal_;
    uint64_t downloadRequests_ = 0;
    double startSeconds_ = 0;
};

struct Scenario {
    std::string name;
    std::vector<std::string> simArgs;
    std::function<void(Soak&)> script;
    // A short log interval may fill the converter's memory between two
    // downloads: with this false, a record the full memory refused is a
    // failure of the scenario.
    bool memoryMayFill = true;
};

// Runs the scenarios side by side (each waits mostly on the converter's
// clock) and returns their outcomes in the scenarios' order.
std::vector<Outcome> RunScenarios(const std::vector<Scenario>& scenarios);

// The scenarios of the bounded soak, about a minute side by side.
std::vector<Scenario> BoundedScenarios();

// A long run against firmware `firmware` at log interval `period`: recorder
// runs of random length one after another for `seconds`, each with a random
// mix of lost, corrupt and delayed frames, a silent spell, the converter
// leaving the line, or Ctrl-C in the middle of a download; then a clean run
// that collects what is left.
Scenario MixedScenario(const std::string& firmware, int period, double seconds, uint32_t seed);

// The table header and one line per outcome.
std::string Table(const std::vector<Outcome>& outcomes);
// The runs and problems of an outcome, indented.
std::string Details(const Outcome& outcome);

}  // namespace kx305soak
