#include "sim_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

namespace kx305sim {
namespace {

using Clock = std::chrono::steady_clock;

void Sleep(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

int ElapsedMs(Clock::time_point since) {
    return static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - since).count());
}

bool FillAddress(const std::string& path, sockaddr_un& address) {
    address = {};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path) return false;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    return true;
}

int Connect(const std::string& path) {
    sockaddr_un address;
    if (!FillAddress(path, address)) return -1;
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

bool Exists(const std::string& path) {
    struct stat st {};
    return lstat(path.c_str(), &st) == 0;
}

// A fresh directory; short enough for a Unix socket path inside it.
std::string MakeDirectory() {
    std::string base = "/tmp";
    if (const char* tmp = std::getenv("TMPDIR"); tmp != nullptr && *tmp != '\0' && std::strlen(tmp) < 60) base = tmp;
    std::string pattern = base + "/kx305sim.XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) return "";
    return pattern;
}

}  // namespace

std::string SimulatorPath() {
    if (const char* path = std::getenv("KX305SIM"); path != nullptr && *path != '\0') return path;
    return KX305SIM_PATH;
}

std::unique_ptr<SimProcess> SimProcess::Start(const std::vector<std::string>& args, std::string* error, int timeoutMs) {
    auto fail = [error](const std::string& reason) {
        if (error != nullptr) *error = reason;
        return nullptr;
    };
    std::unique_ptr<SimProcess> sim(new SimProcess);
    sim->dir_ = MakeDirectory();
    if (sim->dir_.empty()) return fail(std::string("mkdtemp: ") + std::strerror(errno));
    sim->port_ = sim->dir_ + "/port";
    sim->control_ = sim->dir_ + "/control";
    const std::string program = SimulatorPath();
    const std::string out = sim->dir_ + "/stdout";
    const std::string err = sim->dir_ + "/stderr";

    // Everything the child needs is made before fork: after it only
    // async-signal-safe calls.
    // With --tty the simulator serves on the given terminal and puts no link
    // in front of it; the host side is the test's.
    const auto tty = std::find(args.begin(), args.end(), "--tty");
    std::vector<std::string> all = {program, "--control", sim->control_};
    if (tty == args.end()) {
        all.insert(all.end(), {"--link", sim->port_});
    } else if (tty + 1 != args.end()) {
        sim->port_ = *(tty + 1);
    }
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : all) argv.push_back(a.data());
    argv.push_back(nullptr);
    const pid_t parent = getpid();

    const pid_t pid = fork();
    if (pid < 0) return fail(std::string("fork: ") + std::strerror(errno));
    if (pid == 0) {
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (getppid() != parent) _exit(127);
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        const int in = open("/dev/null", O_RDONLY);
        const int o = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int e = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (in < 0 || o < 0 || e < 0) _exit(127);
        dup2(in, 0);
        dup2(o, 1);
        dup2(e, 2);
        execv(argv[0], argv.data());
        _exit(127);
    }
    sim->pid_ = pid;

    const Clock::time_point start = Clock::now();
    while (true) {
        if (!sim->Running()) {
            return fail("kx305sim (" + program + ") ended at start with status " + std::to_string(sim->exitStatus_) +
                        ": " + sim->Log());
        }
        // The control channel answers only once the port is up and the
        // loop runs.
        if (Exists(sim->port_) && Exists(sim->control_) && sim->Control("state", 1000).rfind("ok", 0) == 0) return sim;
        if (ElapsedMs(start) > timeoutMs) {
            const std::string log = sim->Log();
            sim->Stop();
            return fail("kx305sim did not come up within " + std::to_string(timeoutMs) + " ms: " + log);
        }
        Sleep(5);
    }
}

SimProcess::~SimProcess() {
    Stop();
    if (!dir_.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(dir_, ignored);
    }
}

std::string SimProcess::Control(const std::string& command, int timeoutMs) const {
    const int fd = Connect(control_);
    if (fd < 0) return std::string("error control connect: ") + std::strerror(errno);
    const std::string line = command + "\n";
    size_t sent = 0;
    while (sent < line.size()) {
        const ssize_t n = send(fd, line.data() + sent, line.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) {
            close(fd);
            return std::string("error control send: ") + std::strerror(errno);
        }
        sent += static_cast<size_t>(n);
    }
    std::string reply;
    const Clock::time_point start = Clock::now();
    while (reply.find('\n') == std::string::npos) {
        const int left = timeoutMs - ElapsedMs(start);
        pollfd p{fd, POLLIN, 0};
        if (left <= 0 || poll(&p, 1, left) <= 0) {
            close(fd);
            return "error control reply timed out";
        }
        char buffer[4096];
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n <= 0) {
            close(fd);
            return "error control channel closed";
        }
        reply.append(buffer, static_cast<size_t>(n));
    }
    close(fd);
    return reply.substr(0, reply.find('\n'));
}

bool SimProcess::WaitForPort(int timeoutMs) const {
    const Clock::time_point start = Clock::now();
    while (!Exists(port_)) {
        if (ElapsedMs(start) > timeoutMs) return false;
        Sleep(5);
    }
    return true;
}

bool SimProcess::Running() {
    if (pid_ < 0) return false;
    int status = 0;
    const pid_t r = waitpid(pid_, &status, WNOHANG);
    if (r == 0) return true;
    exitStatus_ = r == pid_ && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    pid_ = -1;
    return false;
}

int SimProcess::Stop() {
    if (!Running()) return exitStatus_;
    kill(pid_, SIGTERM);
    const Clock::time_point start = Clock::now();
    while (Running()) {
        if (ElapsedMs(start) > 5000) {
            kill(pid_, SIGKILL);
            int status = 0;
            waitpid(pid_, &status, 0);
            pid_ = -1;
            exitStatus_ = -1;
            break;
        }
        Sleep(2);
    }
    return exitStatus_;
}

std::string SimProcess::Log() const {
    std::ifstream file(dir_ + "/stderr");
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

int OpenRawPort(const std::string& path, std::string* error) {
    const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    termios t{};
    if (fd < 0 || tcgetattr(fd, &t) != 0) {
        if (error != nullptr) *error = "open " + path + ": " + std::strerror(errno);
        if (fd >= 0) close(fd);
        return -1;
    }
    cfmakeraw(&t);
    t.c_cflag |= CLOCAL | CREAD;
    cfsetispeed(&t, B9600);
    cfsetospeed(&t, B9600);
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
    if (tcsetattr(fd, TCSANOW, &t) != 0) {
        if (error != nullptr) *error = "raw mode on " + path + ": " + std::strerror(errno);
        close(fd);
        return -1;
    }
    return fd;
}

}  // namespace kx305sim
