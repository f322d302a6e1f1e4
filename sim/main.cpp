// kx305sim: a simulated KX-305 converter on a pseudo-terminal.
//
// One thread, one poll loop: the port (pty master or a given tty), the
// control socket and its clients, and a signalfd for SIGTERM/SIGINT/SIGHUP.
// Everything the converter does lives in kx305sim_core; this file only
// connects it to the system.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <termios.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "control.h"
#include "converter.h"
#include "settings.h"
#include "text.h"
#include "time_source.h"

using namespace kx305sim;

namespace {

std::string SystemError(const std::string& what) { return what + ": " + std::strerror(errno); }

void Report(const std::string& text) { std::fprintf(stderr, "kx305sim: %s\n", text.c_str()); }

// The converter's end of the serial line.  Either a fresh pseudo-terminal
// pair (the host opens the slave) or an existing tty given by the user.
class Port final : public ByteSink {
public:
    explicit Port(std::string tty) : tty_(std::move(tty)) {}
    ~Port() override { Close(); }

    // "" when open, else the reason.
    std::string Open() {
        Close();
        return tty_.empty() ? OpenPty() : OpenTty();
    }

    void Close() {
        if (slave_ >= 0) close(slave_);
        if (fd_ >= 0) close(fd_);
        slave_ = fd_ = -1;
    }

    bool isOpen() const { return fd_ >= 0; }
    int fd() const { return fd_; }
    // What the host opens: the pty slave or the given tty.
    const std::string& path() const { return path_; }

    size_t Write(const uint8_t* data, size_t length) override {
        if (fd_ < 0) return length;  // the line is away: bytes go nowhere
        const ssize_t n = write(fd_, data, length);
        return n > 0 ? static_cast<size_t>(n) : 0;
    }

    // Reads what the host sent; false when the port failed.
    bool Read(std::vector<uint8_t>& bytes) {
        uint8_t buffer[4096];
        const ssize_t n = read(fd_, buffer, sizeof buffer);
        if (n > 0) {
            bytes.assign(buffer, buffer + n);
            return true;
        }
        bytes.clear();
        return n < 0 && (errno == EAGAIN || errno == EINTR);
    }

private:
    static bool MakeRaw(int fd) {
        termios t{};
        if (tcgetattr(fd, &t) != 0) return false;
        cfmakeraw(&t);
        t.c_cflag |= CLOCAL | CREAD;
        cfsetispeed(&t, B9600);
        cfsetospeed(&t, B9600);
        return tcsetattr(fd, TCSANOW, &t) == 0;
    }

    std::string OpenPty() {
        fd_ = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (fd_ < 0) return SystemError("posix_openpt");
        char name[256];
        if (grantpt(fd_) != 0 || unlockpt(fd_) != 0 || ptsname_r(fd_, name, sizeof name) != 0) {
            const std::string error = SystemError("pseudo-terminal");
            Close();
            return error;
        }
        // Raw on the master sets the pair's line discipline: no echo, no
        // translation, whatever the host does or does not configure.
        if (!MakeRaw(fd_)) {
            const std::string error = SystemError("raw mode");
            Close();
            return error;
        }
        // Our own open slave keeps the pair alive while the host closes and
        // reopens the port; we never read from it.
        slave_ = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (slave_ < 0) {
            const std::string error = SystemError(std::string("open ") + name);
            Close();
            return error;
        }
        path_ = name;
        return "";
    }

    std::string OpenTty() {
        fd_ = open(tty_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (fd_ < 0) return SystemError("open " + tty_);
        if (!isatty(fd_) || !MakeRaw(fd_)) {
            const std::string error = tty_ + " is not a terminal that can run raw at 9600 baud";
            Close();
            return error;
        }
        path_ = tty_;
        return "";
    }

    std::string tty_;
    int fd_ = -1;
    int slave_ = -1;
    std::string path_;
};

// Points `link` at `target`, replacing an earlier link atomically.  Refuses
// to replace anything that is not a symbolic link.
std::string PlaceLink(const std::string& link, const std::string& target) {
    struct stat st {};
    if (lstat(link.c_str(), &st) == 0 && !S_ISLNK(st.st_mode))
        return link + " exists and is not a symbolic link; not replacing it";
    const std::string temporary = link + ".new" + std::to_string(getpid());
    unlink(temporary.c_str());
    if (symlink(target.c_str(), temporary.c_str()) != 0) return SystemError("symlink " + temporary);
    if (rename(temporary.c_str(), link.c_str()) != 0) {
        const std::string error = SystemError("rename to " + link);
        unlink(temporary.c_str());
        return error;
    }
    return "";
}

// Removes `link` if it still points at `target` (nobody replaced it).
void RemoveLink(const std::string& link, const std::string& target) {
    char buffer[PATH_MAX];
    const ssize_t n = readlink(link.c_str(), buffer, sizeof buffer - 1);
    if (n < 0) return;
    buffer[n] = '\0';
    if (target == buffer) unlink(link.c_str());
}

// The control socket: any number of clients, one command per line.
class ControlServer {
public:
    ~ControlServer() { Close(); }

    std::string Listen(const std::string& path) {
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        if (path.size() >= sizeof address.sun_path) return "control socket path too long: " + path;
        std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
        struct stat st {};
        if (lstat(path.c_str(), &st) == 0) {
            if (!S_ISSOCK(st.st_mode)) return path + " exists and is not a socket; not replacing it";
            // A socket nobody answers on is left over from an ended run.
            const int probe = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
            const bool alive = probe >= 0 && connect(probe, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
            if (probe >= 0) close(probe);
            if (alive) return path + " is the control socket of a running simulator";
            unlink(path.c_str());
        }
        listen_ = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (listen_ < 0) return SystemError("socket");
        if (bind(listen_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || listen(listen_, 8) != 0) {
            const std::string error = SystemError("control socket " + path);
            Close();
            return error;
        }
        path_ = path;
        return "";
    }

    void Close() {
        for (Client& c : clients_) close(c.fd);
        clients_.clear();
        if (listen_ >= 0) {
            close(listen_);
            unlink(path_.c_str());
        }
        listen_ = -1;
    }

    void AddPollFds(std::vector<pollfd>& fds) const {
        if (listen_ < 0) return;
        fds.push_back({listen_, POLLIN, 0});
        for (const Client& c : clients_) fds.push_back({c.fd, short(POLLIN | (c.out.empty() ? 0 : POLLOUT)), 0});
    }

    void Serve(const std::vector<pollfd>& fds, ControlChannel& channel) {
        for (const pollfd& p : fds) {
            if (p.revents == 0) continue;
            if (p.fd == listen_) {
                Accept();
                continue;
            }
            for (Client& c : clients_)
                if (c.fd == p.fd) Serve(c, p.revents, channel);
        }
        clients_.erase(std::remove_if(clients_.begin(), clients_.end(),
                                      [](const Client& c) {
                                          if (c.closing && c.out.empty()) close(c.fd);
                                          return c.closing && c.out.empty();
                                      }),
                       clients_.end());
    }

private:
    struct Client {
        int fd;
        std::string in;
        std::string out;
        bool closing = false;
    };

    static constexpr size_t kMaxLine = 65536;

    void Accept() {
        const int fd = accept4(listen_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd >= 0) clients_.push_back(Client{fd, "", ""});
    }

    static void Serve(Client& c, short revents, ControlChannel& channel) {
        if (revents & (POLLIN | POLLHUP | POLLERR)) {
            char buffer[4096];
            const ssize_t n = read(c.fd, buffer, sizeof buffer);
            if (n > 0) {
                c.in.append(buffer, static_cast<size_t>(n));
            } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
                c.closing = true;
            }
            size_t newline;
            while ((newline = c.in.find('\n')) != std::string::npos) {
                c.out += channel.Handle(c.in.substr(0, newline)) + "\n";
                c.in.erase(0, newline + 1);
            }
            if (c.in.size() > kMaxLine) {
                c.out += "error line too long\n";
                c.in.clear();
                c.closing = true;
            }
        }
        if (!c.out.empty()) {
            const ssize_t n = send(c.fd, c.out.data(), c.out.size(), MSG_NOSIGNAL);
            if (n > 0) {
                c.out.erase(0, static_cast<size_t>(n));
            } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
                c.out.clear();
                c.closing = true;
            }
        }
    }

    int listen_ = -1;
    std::string path_;
    std::vector<Client> clients_;
};

struct Options {
    std::string link;
    std::string tty;
    std::string control;
    std::string firmware = "1.13";
    std::string firmwareDate = "2009-06-15";
    unsigned serial = 3051;
    std::vector<std::string> inputs;
    uint32_t rain = 0;
    double rainRate = 0;
    unsigned period = 60;
    unsigned capacity = 1000;
    unsigned prefill = 0;
    std::string clock;
    uint32_t seed = 1;
    bool noDrift = false;
    bool pace = false;
    std::vector<std::string> faults;
    std::string journal;
    bool verbose = false;
};

std::string Footer() {
    return "Instruments (--input N=TYPE[,KEY=VALUE]...; control: input N ..., set N KEY=VALUE...):\n" + KeyHelp() +
           "  Every instrument also takes serial=0..65535 (default 1000 + 100*N + type).  Values are\n"
           "  in display units and held exactly once given; others drift slowly.  Flags are 0 or 1.\n"
           "  Defaults: 1=kx124 2=kx125 3=kx129 4=none; input 0 is the rain gauge.\n"
           "\n"
           "Firmware: up to 1.01 the log period commands work in minutes (codes 5, 6), later in\n"
           "seconds (9, 10); rain reset (11) from 1.05, when the results block also carries input 0;\n"
           "peek and clear of the logging memory (14, 15) from 1.13.  Commands the firmware lacks\n"
           "and unknown codes get no reply.\n"
           "Logging memory: a record every log period, at whole multiples of the period on the\n"
           "converter clock.  A full memory stores nothing more (counted as lost) until it is\n"
           "read out with code 8 or cleared.\n"
           "\n"
           "Faults (--fault 'NAME ARGS' or NAME=ARGS, control: fault NAME ARGS), SHARE 0-1, N% or\n"
           "on/off: drop SHARE (of the reply frames; a log transfer loses single frames), corrupt\n"
           "SHARE [checksum|escape|truncate|any] (frames with a wrong sum, a bad escape or cut\n"
           "short), delay MS (before every reply), silent on|off (no replies), stale SHARE (the\n"
           "previous reply to the same command first), unsolicited SHARE (a reply to another\n"
           "command, the reply under another address or an unknown code first), off.\n"
           "\n"
           "Control commands (--control PATH, one per line, reply 'ok ...' or 'error <reason>'):\n" +
           ControlChannel::Help() +
           "\n"
           "Prints the port path (the link, or the --tty path) on stdout once the port is ready.\n"
           "SIGTERM or SIGINT stops it and removes the link and the control socket.\n";
}

// Turns the options into settings; "" or the first problem.
std::string BuildSettings(const Options& o, ConverterSettings& s) {
    if (o.link.empty() && o.tty.empty()) return "--link PATH is required (or --tty PATH)";
    if (!ParseFirmware(o.firmware, s.version))
        return "--firmware '" + o.firmware + "': expected MAJOR.MINOR such as 1.13";
    if (!ParseDate(o.firmwareDate, s.dateYear, s.dateMonth, s.dateDay) || s.dateYear > 9999)
        return "--firmware-date '" + o.firmwareDate + "': expected a date YYYY-MM-DD";
    if (o.serial > 65535) return "--serial: expected 0 to 65535";
    s.serial = static_cast<uint16_t>(o.serial);
    DefaultInputs(s.inputs);
    for (const std::string& text : o.inputs) {
        std::string error;
        if (!ParseInputOption(text, s.inputs, error)) return "--input " + error;
    }
    s.rainImpulses = o.rain;
    if (!(o.rainRate >= 0 && o.rainRate <= 60000)) return "--rain-rate: expected 0 to 60000 impulses per minute";
    s.rainPerMinute = o.rainRate;
    if (o.period > 65535) return "--period: expected 0 to 65535 seconds";
    if (PeriodInMinutes(s.version) && (o.period % 60 != 0 || o.period > 255 * 60))
        return "--period: firmware " + FormatFirmware(s.version) +
               " keeps the period in minutes; expected a multiple of 60 up to 15300";
    s.periodSeconds = static_cast<uint16_t>(o.period);
    if (o.capacity < 1 || o.capacity > 65535) return "--capacity: expected 1 to 65535 records";
    s.capacity = static_cast<uint16_t>(o.capacity);
    if (o.prefill > o.capacity) return "--prefill: more records than the capacity holds";
    s.prefill = static_cast<uint16_t>(o.prefill);
    if (!o.clock.empty()) {
        if (!ParseClock(o.clock, s.clock)) return "--clock '" + o.clock + "': expected MM-DD HH:MM:SS";
        s.clockGiven = true;
    }
    s.seed = o.seed;
    s.drift = !o.noDrift;
    s.pacing = o.pace;
    for (const std::string& text : o.faults) {
        std::string error;
        if (!ApplyFault(s.faults, Split(text, " \t="), error)) return "--fault: " + error;
    }
    return "";
}

int Run(const Options& options, const ConverterSettings& settings) {
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGHUP);
    sigprocmask(SIG_BLOCK, &stopSignals, nullptr);
    const int signals = signalfd(-1, &stopSignals, SFD_CLOEXEC | SFD_NONBLOCK);
    if (signals < 0) {
        Report(SystemError("signalfd"));
        return 1;
    }
    signal(SIGPIPE, SIG_IGN);

    // The journal is written line by line and flushed at once, so that a
    // reader sees every logged record even while the simulator runs on.
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> journal(nullptr, std::fclose);
    if (!options.journal.empty()) {
        journal.reset(std::fopen(options.journal.c_str(), "a"));
        if (journal == nullptr) {
            Report(SystemError("journal " + options.journal));
            return 1;
        }
    }
    std::function<void(const std::string&)> writeJournal;
    if (journal != nullptr)
        writeJournal = [file = journal.get()](const std::string& line) {
            std::fputs((line + "\n").c_str(), file);
            std::fflush(file);
        };

    SystemTime time;
    Port port(options.tty);
    Converter converter(settings, time, port, writeJournal);
    if (options.verbose) converter.SetTrace([](const std::string& line) { Report(line); });

    ControlServer server;
    if (!options.control.empty()) {
        const std::string error = server.Listen(options.control);
        if (!error.empty()) {
            Report(error);
            return 1;
        }
    }

    // Port up: open it and put the link in place.  Used at start and when
    // coming back after vanishing.
    std::string linkTarget;
    auto bringUp = [&]() -> std::string {
        std::string error = port.Open();
        if (!error.empty()) return error;
        if (!options.link.empty()) {
            error = PlaceLink(options.link, port.path());
            if (!error.empty()) {
                port.Close();
                return error;
            }
            linkTarget = port.path();
        }
        return "";
    };
    auto takeDown = [&]() {
        if (!options.link.empty()) RemoveLink(options.link, linkTarget);
        port.Close();
        converter.transmitter().Discard();
    };

    const std::string error = bringUp();
    if (!error.empty()) {
        Report(error);
        return 1;
    }
    std::printf("%s\n", options.link.empty() ? port.path().c_str() : options.link.c_str());
    std::fflush(stdout);
    if (options.verbose) Report("serving on " + port.path());

    int64_t returnAtUs = INT64_MAX;  // while vanished: when the port comes back
    ControlHooks hooks;
    hooks.vanish = [&](double seconds) -> std::string {
        if (!port.isOpen()) return "the port is away already";
        takeDown();
        returnAtUs = time.MonotonicUs() + static_cast<int64_t>(seconds * 1e6);
        if (options.verbose) Report("vanished");
        return "";
    };
    hooks.portState = [&]() -> std::string { return port.isOpen() ? "up" : "vanished"; };
    ControlChannel channel(converter, hooks);

    std::vector<uint8_t> bytes;
    bool stop = false;
    int status = 0;
    while (!stop) {
        converter.Tick();
        int64_t wakeUs = std::min(converter.NextWakeUs(), returnAtUs);

        std::vector<pollfd> fds;
        fds.push_back({signals, POLLIN, 0});
        if (port.isOpen())
            fds.push_back({port.fd(), short(POLLIN | (converter.transmitter().blocked() ? POLLOUT : 0)), 0});
        server.AddPollFds(fds);

        const int64_t waitUs = std::max<int64_t>(0, wakeUs - time.MonotonicUs());
        timespec timeout{static_cast<time_t>(waitUs / 1000000), static_cast<long>(waitUs % 1000000) * 1000};
        if (ppoll(fds.data(), fds.size(), &timeout, nullptr) < 0 && errno != EINTR) {
            Report(SystemError("poll"));
            status = 1;
            break;
        }

        for (const pollfd& p : fds) {
            if (p.revents == 0) continue;
            if (p.fd == signals) {
                stop = true;
            } else if (port.isOpen() && p.fd == port.fd()) {
                if (p.revents & (POLLIN | POLLHUP | POLLERR)) {
                    if (port.Read(bytes)) {
                        converter.Receive(bytes.data(), bytes.size());
                    } else {
                        // A failed line is taken down and opened afresh a second later.
                        Report("port failed: " + std::string(std::strerror(errno)));
                        takeDown();
                        returnAtUs = time.MonotonicUs() + 1000000;
                    }
                }
                if (p.revents & POLLOUT) converter.transmitter().Flush();
            }
        }
        server.Serve(fds, channel);

        if (!port.isOpen() && time.MonotonicUs() >= returnAtUs) {
            const std::string again = bringUp();
            if (again.empty()) {
                returnAtUs = INT64_MAX;
                if (options.verbose) Report("back on " + port.path());
            } else {
                Report("cannot bring the port back: " + again + "; trying again in 1 s");
                returnAtUs = time.MonotonicUs() + 1000000;
            }
        }
    }

    takeDown();
    server.Close();
    close(signals);
    return status;
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{"kx305sim: a simulated KX-305 converter on a pseudo-terminal"};
    app.set_version_flag("--version", "kx305sim " KX305_VERSION_TEXT);
    Options o;
    app.add_option("--link", o.link, "Symbolic link to put in front of the port (required unless --tty)");
    app.add_option("--tty", o.tty, "Serve on this existing tty instead of a new pseudo-terminal");
    app.add_option("--control", o.control, "Unix socket path of the control channel");
    app.add_option("--firmware", o.firmware, "Firmware version MAJOR.MINOR (1.01 1.04 1.05 1.12 1.13 ...)")
        ->capture_default_str();
    app.add_option("--firmware-date", o.firmwareDate, "Firmware date YYYY-MM-DD")->capture_default_str();
    app.add_option("--serial", o.serial, "Converter serial number 0-65535")->capture_default_str();
    app.add_option("--input", o.inputs, "Instrument on input N: N=TYPE[,KEY=VALUE]... (repeatable, see below)");
    app.add_option("--rain", o.rain, "Rain counter at start, impulses")->capture_default_str();
    app.add_option("--rain-rate", o.rainRate, "Rain impulses per minute while running")->capture_default_str();
    app.add_option("--period", o.period, "Log period in seconds (0: no logging)")->capture_default_str();
    app.add_option("--capacity", o.capacity, "Logging-memory capacity in records 1-65535")->capture_default_str();
    app.add_option("--prefill", o.prefill, "Records stored at start, a log period apart up to now")
        ->capture_default_str();
    app.add_option("--clock", o.clock, "Converter clock at start, 'MM-DD HH:MM:SS' UTC (default: the computer's)");
    app.add_option("--seed", o.seed, "Seed of the random drift and faults")->capture_default_str();
    app.add_flag("--no-drift", o.noDrift, "Hold every value at its base instead of letting it drift");
    app.add_flag("--pace", o.pace, "Send at the 9600-baud byte rate (about 1.04 ms a byte)");
    app.add_option("--fault", o.faults, "A fault from the start, e.g. 'drop 0.2' (repeatable, see below)");
    app.add_option("--journal", o.journal,
                   "Append a line per logged record to this file: 'stored MM-DD HH:MM:SS.hh' when it went "
                   "into the logging memory, 'dropped ...' when the full memory refused it");
    app.add_flag("--verbose", o.verbose, "Trace requests and stored records on stderr");
    app.footer(Footer());
    CLI11_PARSE(app, argc, argv);

    ConverterSettings settings;
    const std::string error = BuildSettings(o, settings);
    if (!error.empty()) {
        Report(error);
        return 2;
    }
    return Run(o, settings);
}
