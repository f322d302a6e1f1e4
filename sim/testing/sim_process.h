// Test harness around the kx305sim program: every test that needs a
// converter starts one here, in a fresh temporary directory, talks to it
// through its port and control socket, and stops it when the SimProcess
// goes (also when the test fails; if the test process dies, the simulator
// gets SIGTERM from the kernel).  The kernel ties the simulator to the thread
// that started it: start it on a thread that outlives the SimProcess.
// Native only.
#pragma once

#include <sys/types.h>

#include <memory>
#include <string>
#include <vector>

namespace kx305sim {

// The kx305sim program: $KX305SIM when set, else the one of this build tree.
std::string SimulatorPath();

class SimProcess {
public:
    // Starts kx305sim with `args` (plus --link and --control in the new
    // directory) and waits up to `timeoutMs` for the link and the control
    // socket.  Null, with the reason in *error, when it does not come up.
    // With --tty PATH among `args` no link is made and port() is PATH.
    static std::unique_ptr<SimProcess> Start(const std::vector<std::string>& args = {}, std::string* error = nullptr,
                                             int timeoutMs = 10000);
    ~SimProcess();
    SimProcess(const SimProcess&) = delete;
    SimProcess& operator=(const SimProcess&) = delete;

    // The link a host opens as its serial port.
    const std::string& port() const { return port_; }
    const std::string& controlPath() const { return control_; }
    const std::string& dir() const { return dir_; }
    pid_t pid() const { return pid_; }

    // One control command; its reply line without the newline, or
    // "error <reason>" when the control channel itself fails.
    std::string Control(const std::string& command, int timeoutMs = 5000) const;

    // Waits until the link exists (again, after vanish).
    bool WaitForPort(int timeoutMs = 10000) const;

    // SIGTERM, then SIGKILL after 5 s.  Returns the exit status, -1 when it
    // was killed by a signal or not running.  Later calls return the same.
    int Stop();
    bool Running();

    // What the simulator wrote to stderr so far.
    std::string Log() const;

private:
    SimProcess() = default;

    pid_t pid_ = -1;
    int exitStatus_ = -1;
    std::string dir_;
    std::string port_;
    std::string control_;
};

// Opens a tty (such as SimProcess::port()) for reading and writing, raw, as
// a host would.  The descriptor, or -1 with the reason in *error.
int OpenRawPort(const std::string& path, std::string* error = nullptr);

}  // namespace kx305sim
