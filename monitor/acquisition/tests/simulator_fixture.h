// The polling worker against simulated converters (kx305sim on ptys): port
// numbers 1 and 2 name the simulators started by the test, any other number
// a port that does not exist.  Pauses are shortened so that a test spends
// its time on the line, not asleep.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "acquisition/events.h"
#include "acquisition_fixture.h"
#include "instruments/catalogue.h"
#include "sim_process.h"

namespace kx305mon::testing {

using namespace std::chrono_literals;

constexpr WindowRef kDialog = 105;
constexpr int32_t kMissingPort = 30;

// Converter command codes, as the simulator counts them.
constexpr int kCodeSetTime = 4;
constexpr int kCodeGetLog = 8;
constexpr int kCodeResetRain = 11;
constexpr int kCodePeekLog = 14;
constexpr int kCodeClearLog = 15;

// The number after "key=" in a control reply, or -1.
inline long ReplyField(const std::string& reply, const std::string& key) {
    size_t at = reply.find(" " + key + "=");
    if (at == std::string::npos) return -1;
    return std::strtol(reply.c_str() + at + key.size() + 2, nullptr, 10);
}

// The text after "key=" up to the next blank.
inline std::string ReplyText(const std::string& reply, const std::string& key) {
    size_t at = reply.find(" " + key + "=");
    if (at == std::string::npos) return "";
    size_t from = at + key.size() + 2;
    return reply.substr(from, reply.find(' ', from) - from);
}

class AcquisitionOnSimulator : public AcquisitionTest {
protected:
    void TearDown() override {
        AcquisitionTest::TearDown();
        if (HasFailure()) {
            for (auto& sim : sims_) {
                if (sim) std::fprintf(stderr, "simulator log:\n%s\n", sim->Log().c_str());
            }
        }
    }

    // Starts simulator 1 or 2 with `args` (and --control, --link).
    kx305sim::SimProcess& StartSimulator(const std::vector<std::string>& args, int number = 1) {
        std::string error;
        sims_[number - 1] = kx305sim::SimProcess::Start(args, &error);
        EXPECT_NE(sims_[number - 1], nullptr) << error;
        return *sims_[number - 1];
    }

    std::string Control(const std::string& command, int number = 1) { return sims_[number - 1]->Control(command); }
    long State(const std::string& key, int number = 1) { return ReplyField(Control("state", number), key); }

    // How many requests with `code` the simulator has received.
    long Received(int code, int number = 1) {
        std::string codes = ReplyText(Control("received", number), "codes");
        std::string key = std::to_string(code) + ":";
        for (size_t at = 0; at < codes.size();) {
            size_t end = codes.find(',', at);
            std::string item = codes.substr(at, end == std::string::npos ? std::string::npos : end - at);
            if (item.compare(0, key.size(), key) == 0) return std::strtol(item.c_str() + key.size(), nullptr, 10);
            if (end == std::string::npos) break;
            at = end + 1;
        }
        return 0;
    }

    std::string PortPath(int32_t port) const {
        if ((port == 1 || port == 2) && sims_[port - 1]) return sims_[port - 1]->port();
        return "/nonexistent/kx305-com" + std::to_string(port);
    }

    void StartWorker(int32_t port = 1) {
        std::vector<std::string> paths = {PortPath(1), PortPath(2)};
        context.plumbing.portNamer = [paths, port](int32_t n) {
            if (n == 1 || n == 2) return paths[n - 1];
            return "/nonexistent/kx305-com" + std::to_string(n);
        };
        context.port = port;
        ASSERT_TRUE(StartPollingWorker(context));
    }

    // Waits for `count` more good cycles from now.
    bool WaitCycles(size_t count = 1, std::chrono::milliseconds timeout = 30s) {
        return recorder.WaitFor(Notice::CycleDone, count, recorder.Size(), timeout);
    }

    static bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout = 30s) {
        auto end = std::chrono::steady_clock::now() + timeout;
        while (!condition()) {
            if (std::chrono::steady_clock::now() > end) return false;
            std::this_thread::sleep_for(10ms);
        }
        return true;
    }

    // Gives the stop without waiting for the worker (an event handler runs
    // on the worker's own thread): the worker starts nothing new from then
    // on.  JoinStop waits for its end and measures the stop's length.
    void StopMeanwhile() {
        stopGiven_ = std::chrono::steady_clock::now();
        SignalStop(context);
    }
    void JoinStop() {
        StopPollingWorker(context);
        stopTime = std::chrono::steady_clock::now() - stopGiven_;
    }

    // A copy of what the worker published.
    InputReading Input(int i) { return ReadLiveState(context).inputs[i]; }
    ConverterInfo Info() { return ReadLiveState(context).info; }

    std::unique_ptr<kx305sim::SimProcess> sims_[2];
    std::chrono::steady_clock::duration stopTime{};  // set by JoinStop

private:
    std::chrono::steady_clock::time_point stopGiven_;
};

}  // namespace kx305mon::testing
