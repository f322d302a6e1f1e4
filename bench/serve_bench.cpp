// kx305cli serve against Debian's mosquitto on a free loopback port, with
// a subscriber of this process:
//  - state latency: the converter's values change through the simulator's
//    control socket; each state message the subscriber receives is timed
//    from the last byte the converter sent before it (the end of the polling
//    cycle on the line, seen by a relay between the simulator's terminal and
//    the one serve opens), beside the cycle itself (first request byte to
//    last reply byte) and the time between cycles;
//  - catch-up: an unpaced simulator holding 1000 records; records per second
//    published (first to last record message at the subscriber) beside
//    records per second written to the registration file (first to last
//    growth of the file, watched here), and how long after the file was
//    complete the last record arrived.
//
//   serve_bench [SECONDS]     (default 20 s of state measurements)
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "line_tap.h"
#include "mqtt_testing.h"
#include "sim_process.h"

namespace {

using kx305bench::Clock;
using kx305bench::LineTap;
using kx305bench::NowNs;
using kx305cli::testing::Broker;
using kx305cli::testing::Message;
using kx305cli::testing::Subscriber;
using namespace std::chrono_literals;

constexpr size_t kCatchUpRecords = 1000;

int64_t Ns(Clock::time_point t) {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(t.time_since_epoch()).count();
}

double Percentile(std::vector<double> values, double p) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    const size_t at = std::min(values.size() - 1, static_cast<size_t>(p / 100.0 * static_cast<double>(values.size())));
    return values[at];
}

// kx305cli serve as a child process; its output goes to `log`.
class Serve {
public:
    Serve(const std::vector<std::string>& args, const std::string& log) {
        std::fflush(stdout);  // else the child writes what this process buffered
        pid_ = fork();
        if (pid_ == 0) {
            if (freopen(log.c_str(), "w", stdout) == nullptr || freopen(log.c_str(), "a", stderr) == nullptr)
                _exit(126);
            std::vector<char*> argv;
            static std::string program = KX305CLI_PATH;
            argv.push_back(program.data());
            for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
            argv.push_back(nullptr);
            execv(program.c_str(), argv.data());
            _exit(127);
        }
    }
    ~Serve() {
        if (pid_ <= 0) return;
        kill(pid_, SIGTERM);
        waitpid(pid_, nullptr, 0);
    }

private:
    pid_t pid_ = -1;
};

std::vector<std::string> ServeArgs(const std::string& file, const std::string& port, const Broker& broker) {
    return {"serve", file, "--port", port, "--broker", broker.url(), "--no-discovery"};
}

int64_t FileSize(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 ? static_cast<int64_t>(st.st_size) : 0;
}

bool MeasureStateLatency(const std::string& dir, const Broker& broker, int seconds) {
    LineTap tap;
    if (!tap.Start()) return false;
    std::string error;
    auto sim = kx305sim::SimProcess::Start(
        {"--tty", tap.converterPath(), "--no-drift", "--period", "0", "--input", "1=kx124,t=20.0,h=50.0,serial=1201"},
        &error);
    if (sim == nullptr) {
        std::fprintf(stderr, "serve_bench: simulator: %s\n", error.c_str());
        return false;
    }
    Subscriber subscriber(broker.port(), "kx305/+/state");
    if (!subscriber.connected()) return false;
    Serve serve(ServeArgs(dir + "/latency.kxg", tap.hostPath(), broker), dir + "/latency.log");
    if (!subscriber.WaitForCount("kx305/3051/state", 1, 30s) && subscriber.Messages().empty()) {
        std::fprintf(stderr, "serve_bench: no state from serve (see %s/latency.log)\n", dir.c_str());
        return false;
    }
    tap.KeepPasses();
    const size_t before = subscriber.Messages().size();
    const Clock::time_point end = Clock::now() + std::chrono::seconds(seconds);
    for (int k = 0; Clock::now() < end; ++k) {
        // A new temperature for every cycle, so that every cycle has a state.
        sim->Control("set 1 t=" + std::to_string(20 + k % 100) + "." + std::to_string(k % 10));
        std::this_thread::sleep_for(100ms);
    }
    std::this_thread::sleep_for(500ms);
    const std::vector<LineTap::Pass> passes = tap.Passes();
    const std::vector<Message> states = subscriber.Messages();

    std::vector<double> latencies;
    for (size_t i = before; i < states.size(); ++i) {
        const int64_t received = Ns(states[i].received);
        int64_t lastReply = 0;
        for (const LineTap::Pass& pass : passes) {
            if (pass.atNs > received) break;
            if (!pass.toConverter) lastReply = pass.atNs;
        }
        if (lastReply > 0) latencies.push_back(static_cast<double>(received - lastReply) / 1e6);
    }
    // Cycles: runs of line traffic separated by the worker's pause.
    std::vector<double> cycles;
    std::vector<double> periods;
    int64_t start = -1;
    int64_t lastReply = -1;
    int64_t previous = -1;
    for (const LineTap::Pass& pass : passes) {
        if (previous >= 0 && pass.atNs - previous > 60'000'000) {
            if (start >= 0 && lastReply > start) cycles.push_back(static_cast<double>(lastReply - start) / 1e6);
            if (start >= 0) periods.push_back(static_cast<double>(pass.atNs - start) / 1e6);
            start = -1;
        }
        if (start < 0 && pass.toConverter) start = pass.atNs;
        if (!pass.toConverter) lastReply = pass.atNs;
        previous = pass.atNs;
    }
    std::printf("State latency, end of the polling cycle on the line to the subscriber (%zu states):\n",
                latencies.size());
    std::printf("  median %.2f ms, p99 %.2f ms, max %.2f ms (goal: p99 within 5 ms)\n", Percentile(latencies, 50),
                Percentile(latencies, 99), Percentile(latencies, 100));
    std::printf("Polling cycle on the line (%zu cycles): median %.1f ms; cycle start to cycle start: median %.1f ms\n",
                cycles.size(), Percentile(cycles, 50), Percentile(periods, 50));
    if (!cycles.empty()) {
        std::printf("  p99 latency / median cycle: %.3f\n", Percentile(latencies, 99) / Percentile(cycles, 50));
    }
    return !latencies.empty();
}

bool MeasureCatchUp(const std::string& dir, const Broker& broker) {
    std::string error;
    auto sim =
        kx305sim::SimProcess::Start({"--no-drift", "--period", "60", "--prefill", std::to_string(kCatchUpRecords),
                                     "--input", "1=kx124,t=20.0,h=50.0,serial=1201", "--input", "2=kx129,serial=77"},
                                    &error);
    if (sim == nullptr) {
        std::fprintf(stderr, "serve_bench: simulator: %s\n", error.c_str());
        return false;
    }
    Subscriber subscriber(broker.port(), "kx305/+/records");
    if (!subscriber.connected()) return false;
    const std::string file = dir + "/catchup.kxg";
    std::atomic<bool> watching{true};
    int64_t firstGrowthNs = 0;
    int64_t lastGrowthNs = 0;
    std::thread watcher([&] {
        int64_t size = 0;
        while (watching) {
            const int64_t now = FileSize(file);
            if (now != size) {
                const int64_t at = NowNs();
                if (size == 0) firstGrowthNs = at;
                lastGrowthNs = at;
                size = now;
            }
            std::this_thread::sleep_for(200us);
        }
    });
    bool complete = false;
    {
        Serve serve(ServeArgs(file, sim->port(), broker), dir + "/catchup.log");
        complete = subscriber.WaitForCount("kx305/3051/records", kCatchUpRecords, 180s);
        std::this_thread::sleep_for(300ms);
    }
    watching = false;
    watcher.join();
    const std::vector<Message> records = subscriber.Messages();
    if (!complete || records.size() < kCatchUpRecords) {
        std::fprintf(stderr, "serve_bench: %zu of %zu records published (see %s/catchup.log)\n", records.size(),
                     kCatchUpRecords, dir.c_str());
        return false;
    }
    const double publishSeconds =
        static_cast<double>(Ns(records[kCatchUpRecords - 1].received) - Ns(records[0].received)) / 1e9;
    const double writeSeconds = static_cast<double>(lastGrowthNs - firstGrowthNs) / 1e9;
    const double publishRate = static_cast<double>(kCatchUpRecords - 1) / std::max(publishSeconds, 1e-6);
    const double writeRate = static_cast<double>(kCatchUpRecords) / std::max(writeSeconds, 1e-6);
    std::printf("Catch-up of %zu records from an unpaced simulator:\n", kCatchUpRecords);
    std::printf("  written to the file: %.3f s from its first to its last growth, %.0f records/s\n", writeSeconds,
                writeRate);
    std::printf("  published: %.3f s from the first to the last record message, %.0f records/s\n", publishSeconds,
                publishRate);
    std::printf("  published / written: %.2f; last record at the subscriber %.1f ms after the file was complete\n",
                publishRate / writeRate,
                static_cast<double>(Ns(records[kCatchUpRecords - 1].received) - lastGrowthNs) / 1e6);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    const int seconds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 20;
    char pattern[] = "/tmp/kx305_serve_bench.XXXXXX";
    if (mkdtemp(pattern) == nullptr) return 1;
    const std::string dir = pattern;
    setenv("TZ", "UTC", 1);
    int port = kx305cli::testing::FreePort();
    Broker broker(dir, port);
    if (!broker.Start()) {
        std::fprintf(stderr, "serve_bench: mosquitto did not start (see %s/mosquitto.log)\n", dir.c_str());
        return 1;
    }
    bool ok = MeasureStateLatency(dir, broker, seconds);
    ok = MeasureCatchUp(dir, broker) && ok;
    broker.Stop();
    if (ok) std::filesystem::remove_all(dir);
    return ok ? 0 : 1;
}
