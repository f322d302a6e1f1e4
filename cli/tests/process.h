// Runs the built kx305cli as a user's shell would: a fresh process with a
// given environment, its stdout and stderr captured byte for byte.
#pragma once

#include <sys/types.h>

#include <map>
#include <string>
#include <vector>

namespace kx305cli::testing {

struct ProcessResult {
    int exitCode = -1;  // -1 when it ended by a signal or was killed
    std::string out;
    std::string err;
};

class Process {
public:
    // Starts `program` with `args`; `environment` replaces the whole
    // environment.  stdin is /dev/null.
    Process(const std::string& program, const std::vector<std::string>& args,
            const std::map<std::string, std::string>& environment);
    ~Process();
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;

    void Signal(int signal) const;
    // Waits for the end (killing it after `timeoutMs`), collecting its output.
    ProcessResult Wait(int timeoutMs = 60000);

private:
    pid_t pid_ = -1;
    int out_ = -1;
    int err_ = -1;
};

}  // namespace kx305cli::testing
