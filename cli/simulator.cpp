#include "simulator.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <thread>

#include "console.h"

namespace kx305cli {

namespace {

using Clock = std::chrono::steady_clock;

constexpr auto kStartTimeout = std::chrono::seconds(10);
constexpr auto kStopTimeout = std::chrono::seconds(5);

bool IsExecutable(const std::string& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && access(path.c_str(), X_OK) == 0;
}

std::string OwnDirectory() {
    std::error_code error;
    const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
    return error ? std::string() : self.parent_path().string();
}

std::string SearchPath(const std::string& name) {
    const char* path = std::getenv("PATH");
    if (path == nullptr) return "";
    std::string list = path;
    size_t start = 0;
    while (start <= list.size()) {
        size_t end = list.find(':', start);
        if (end == std::string::npos) end = list.size();
        const std::string dir = end > start ? list.substr(start, end - start) : ".";
        const std::string candidate = dir + "/" + name;
        if (IsExecutable(candidate)) return candidate;
        start = end + 1;
    }
    return "";
}

std::string MakeDirectory(std::string& error) {
    std::string base = "/tmp";
    if (const char* tmp = std::getenv("TMPDIR"); tmp != nullptr && *tmp != '\0') base = tmp;
    std::string pattern = base + "/kx305cli.XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) {
        error = base + ": " + SystemReason(errno);
        return "";
    }
    return pattern;
}

// Reads the first line the simulator prints (its port) within the start
// time-out.  "" when it ended (`ended` set: it closed its output) or stayed
// silent.  A signal does not cut the wait short: the start takes
// milliseconds, and the caller looks at the stop request afterwards.
std::string ReadPortLine(int fd, bool& ended) {
    ended = false;
    std::string line;
    const Clock::time_point deadline = Clock::now() + kStartTimeout;
    while (line.find('\n') == std::string::npos) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) return "";
        pollfd p{fd, POLLIN, 0};
        const int ready = poll(&p, 1, static_cast<int>(left));
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) return "";
        char buffer[512];
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            ended = n == 0;
            return "";
        }
        line.append(buffer, static_cast<size_t>(n));
    }
    return line.substr(0, line.find('\n'));
}

}  // namespace

std::string FindSimulator(std::string& error) {
    if (const char* path = std::getenv("KX305SIM"); path != nullptr && *path != '\0') {
        if (IsExecutable(path)) return path;
        error = std::string("KX305SIM names ") + path + ", which is not an executable program";
        return "";
    }
    const std::string own = OwnDirectory();
    if (!own.empty()) {
        for (const std::string& candidate : {own + "/kx305sim", own + "/../sim/kx305sim"}) {
            if (IsExecutable(candidate)) return candidate;
        }
    }
    if (std::string found = SearchPath("kx305sim"); !found.empty()) return found;
    error = "the built-in simulator kx305sim was not found (set KX305SIM, put it on PATH or give --port)";
    return "";
}

std::unique_ptr<EmbeddedSimulator> EmbeddedSimulator::Start(const std::vector<std::string>& extraArgs,
                                                            std::string& error, bool& refused) {
    refused = false;
    const std::string program = FindSimulator(error);
    if (program.empty()) return nullptr;
    std::unique_ptr<EmbeddedSimulator> sim(new EmbeddedSimulator);
    sim->dir_ = MakeDirectory(error);
    if (sim->dir_.empty()) return nullptr;

    std::vector<std::string> args = {program, "--link", sim->dir_ + "/port"};
    // A little rain falling, so that the demonstration shows the gauge at
    // work, unless the caller's simulator options say otherwise.
    const auto given = [&extraArgs](const std::string& option) {
        for (const std::string& arg : extraArgs)
            if (arg == option || arg.rfind(option + "=", 0) == 0) return true;
        return false;
    };
    if (!given("--rain")) args.insert(args.end(), {"--rain", "123"});
    if (!given("--rain-rate")) args.insert(args.end(), {"--rain-rate", "6"});
    args.insert(args.end(), extraArgs.begin(), extraArgs.end());
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);

    int pipeFds[2];
    if (pipe2(pipeFds, O_CLOEXEC) != 0) {
        error = "pipe: " + SystemReason(errno);
        return nullptr;
    }
    const pid_t parent = getpid();
    const pid_t pid = fork();
    if (pid < 0) {
        error = "fork: " + SystemReason(errno);
        close(pipeFds[0]);
        close(pipeFds[1]);
        return nullptr;
    }
    if (pid == 0) {
        // Its own process group, so that Ctrl-C reaches only this program,
        // which then stops the simulator after its last request; and
        // stopped with us should this program die.
        setpgid(0, 0);
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (getppid() != parent) _exit(127);
        const int in = open("/dev/null", O_RDONLY);
        if (in < 0) _exit(127);
        dup2(in, STDIN_FILENO);
        dup2(pipeFds[1], STDOUT_FILENO);
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(pipeFds[1]);
    sim->pid_ = pid;
    bool ended = false;
    const std::string port = ReadPortLine(pipeFds[0], ended);
    close(pipeFds[0]);
    if (port.empty()) {
        // kx305sim ends with 1 when it cannot run and with 2 or CLI11's codes
        // (100 and up) for arguments it does not take; 127 is a failed exec.
        int status = 0;
        if (ended && sim->Reap(status) && WIFEXITED(status)) {
            const int code = WEXITSTATUS(status);
            refused = code >= 2 && code != 127;
        }
        error = refused ? "the built-in simulator refused the --sim-option arguments"
                        : "the built-in simulator " + program + " did not start";
        return nullptr;
    }
    sim->port_ = port;
    return sim;
}

EmbeddedSimulator::~EmbeddedSimulator() {
    Stop();
    if (!dir_.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(dir_, ignored);
    }
}

bool EmbeddedSimulator::Reap(int& status) {
    // It closed its output: it is ending, give it a moment.
    const Clock::time_point deadline = Clock::now() + kStopTimeout;
    while (Clock::now() < deadline) {
        const pid_t ended = waitpid(pid_, &status, WNOHANG);
        if (ended == pid_) {
            pid_ = -1;
            return true;
        }
        if (ended < 0) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return false;
}

void EmbeddedSimulator::Stop() {
    if (pid_ < 0) return;
    kill(pid_, SIGTERM);
    const Clock::time_point deadline = Clock::now() + kStopTimeout;
    int status = 0;
    while (waitpid(pid_, &status, WNOHANG) == 0) {
        if (Clock::now() > deadline) {
            kill(pid_, SIGKILL);
            waitpid(pid_, &status, 0);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    pid_ = -1;
}

}  // namespace kx305cli
