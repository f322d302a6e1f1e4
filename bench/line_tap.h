// A relay between a simulated converter's terminal and the one the host
// opens, for benchmarks that time what crosses the line: it counts the bytes
// each side sent and notes when the converter's bytes arrived.  Native only.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace kx305bench {

using Clock = std::chrono::steady_clock;

inline int64_t NowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch()).count();
}

// A pty pair, raw; its slave stays open here too, so that the master reads
// no hang-up while nobody else has the slave open.
struct Pty {
    int master = -1;
    int slave = -1;
    std::string path;

    bool Open() {
        master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) return false;
        char name[128];
        if (ptsname_r(master, name, sizeof name) != 0) return false;
        path = name;
        slave = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (slave < 0) return false;
        termios t{};
        if (tcgetattr(slave, &t) != 0) return false;
        cfmakeraw(&t);
        return tcsetattr(slave, TCSANOW, &t) == 0;
    }
    ~Pty() {
        if (slave >= 0) close(slave);
        if (master >= 0) close(master);
    }
};

// Copies bytes between the converter's terminal and the host's, counting
// what each side sent and when the converter's last byte arrived.
class LineTap {
public:
    bool Start() {
        if (!converter_.Open() || !host_.Open()) return false;
        thread_ = std::thread([this] { Run(); });
        return true;
    }
    ~LineTap() {
        stop_ = true;
        if (thread_.joinable()) thread_.join();
    }
    // What the simulator serves on, and what the driver opens.
    const std::string& converterPath() const { return converter_.path; }
    const std::string& hostPath() const { return host_.path; }

    void Reset() {
        toHost_ = 0;
        toConverter_ = 0;
        lastToHostNs_ = 0;
    }
    // When each chunk of bytes crossed, from the host (`toConverter`) or
    // from the converter; kept only after KeepPasses().
    struct Pass {
        int64_t atNs;
        bool toConverter;
    };
    void KeepPasses() { keepPasses_ = true; }
    std::vector<Pass> Passes() {
        std::lock_guard<std::mutex> guard(passesMutex_);
        return passes_;
    }

    uint64_t toHost() const { return toHost_; }
    uint64_t toConverter() const { return toConverter_; }
    int64_t lastToHostNs() const { return lastToHostNs_; }

private:
    void Run() {
        uint8_t buffer[4096];
        while (!stop_) {
            pollfd fds[2] = {{converter_.master, POLLIN, 0}, {host_.master, POLLIN, 0}};
            if (poll(fds, 2, 20) <= 0) continue;
            if (fds[0].revents & POLLIN) {
                ssize_t n = read(converter_.master, buffer, sizeof buffer);
                if (n > 0) {
                    lastToHostNs_ = NowNs();
                    Note(lastToHostNs_, false);
                    toHost_ += static_cast<uint64_t>(n);
                    WriteAll(host_.master, buffer, static_cast<size_t>(n));
                }
            }
            if (fds[1].revents & POLLIN) {
                ssize_t n = read(host_.master, buffer, sizeof buffer);
                if (n > 0) {
                    Note(NowNs(), true);
                    toConverter_ += static_cast<uint64_t>(n);
                    WriteAll(converter_.master, buffer, static_cast<size_t>(n));
                }
            }
        }
    }
    void Note(int64_t atNs, bool toConverter) {
        if (!keepPasses_) return;
        std::lock_guard<std::mutex> guard(passesMutex_);
        passes_.push_back({atNs, toConverter});
    }
    static void WriteAll(int fd, const uint8_t* data, size_t size) {
        while (size > 0) {
            ssize_t n = write(fd, data, size);
            if (n <= 0) return;
            data += n;
            size -= static_cast<size_t>(n);
        }
    }

    Pty converter_;
    Pty host_;
    std::thread thread_;
    std::atomic<bool> stop_{false};
    std::atomic<uint64_t> toHost_{0};
    std::atomic<uint64_t> toConverter_{0};
    std::atomic<int64_t> lastToHostNs_{0};
    std::atomic<bool> keepPasses_{false};
    std::mutex passesMutex_;
    std::vector<Pass> passes_;
};

}  // namespace kx305bench
