// The built-in converter: device commands without --port run kx305sim on a
// pseudo-terminal of their own (a KX-124, a KX-125 and a KX-129 on inputs 1
// to 3, the rain gauge on input 0) and stop it at the end.
#pragma once

#include <sys/types.h>

#include <memory>
#include <string>
#include <vector>

namespace kx305cli {

// Where kx305sim is: $KX305SIM when set, else beside this program or in
// ../sim/ relative to it (the build tree), else on PATH.  "" with the
// reason in `error` when there is none.
std::string FindSimulator(std::string& error);

class EmbeddedSimulator {
public:
    // Starts kx305sim with `extraArgs` in a private directory and waits
    // until it reports its port.  Null with the reason in `error`;
    // `refused` tells that it ended at once rejecting its arguments (it has
    // said why on stderr), a usage error rather than a failure.
    static std::unique_ptr<EmbeddedSimulator> Start(const std::vector<std::string>& extraArgs, std::string& error,
                                                    bool& refused);
    // Stops the simulator and removes its directory.
    ~EmbeddedSimulator();
    EmbeddedSimulator(const EmbeddedSimulator&) = delete;
    EmbeddedSimulator& operator=(const EmbeddedSimulator&) = delete;

    const std::string& port() const { return port_; }

private:
    EmbeddedSimulator() = default;
    // Waits a little for the simulator's end; true with its wait status.
    bool Reap(int& status);
    void Stop();

    pid_t pid_ = -1;
    std::string dir_;
    std::string port_;
};

}  // namespace kx305cli
