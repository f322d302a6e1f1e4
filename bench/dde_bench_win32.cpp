// What the DDE server's advise round costs the UI thread, with 0, 10, 100
// and 1000 hot links held by client processes, and how long a changed
// value takes to reach a client's callback.
//
//   dde_bench [ROUNDS [MAX_LINKS]]   (under Wine: scripts/wine-run with a display)
//
// The bench serves five KX-125 thermometers (45 topics, 135 items) as the
// program's UI thread does and starts copies of itself as clients
// ("dde_bench --client FIRST COUNT READY QUIT"), each holding up to 135
// links.  One more link, on a thread of the bench, sees the changes.
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "acquisition/app_context.h"
#include "dde/dde_names.h"
#include "dde/dde_server.h"
#include "instruments/catalogue.h"
#include "uidriver.h"

namespace {

using namespace kx305mon;
using kx305::ui::DdeClient;
using kx305::ui::Milliseconds;
using Clock = std::chrono::steady_clock;

constexpr int kTopicsPerInput = 9;
constexpr int kLinksPerClient = kDdeInputs * kTopicsPerInput * kDdeItems;
constexpr Milliseconds kCycle{250};

std::string Topic(int input, int q) {
    const std::string name = q == 0 ? "Temperatura" : "Temperatura" + std::to_string(q);
    return name + "#" + std::to_string(100 + input);
}

InputReading Thermometer(int input, int32_t hundredths) {
    InputReading reading = {};
    reading.type = kTypeKX125;
    reading.data[3] = 100 + input;
    for (int channel = 0; channel < 8; ++channel) {
        reading.data[6 + channel] = 1;
        reading.data[14 + channel] = hundredths + channel;
    }
    return reading;
}

void Pump() {
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
}

// A client process: links `count` items from number `first` on, signals
// READY and pumps until QUIT.
int RunClient(int first, int count, const char* ready, const char* quit) {
    auto dde = DdeClient::Create();
    if (!dde) return 2;
    std::vector<HCONV> conversations(kDdeInputs * kTopicsPerInput, nullptr);
    int linked = 0;
    for (int link = first; link < first + count; ++link) {
        const int topic = link / kDdeItems % (kDdeInputs * kTopicsPerInput);
        HCONV& conv = conversations[topic];
        if (!conv) conv = dde->Connect("KX125", Topic(topic / kTopicsPerInput, topic % kTopicsPerInput));
        if (!conv) continue;
        for (int attempt = 0; attempt < 3; ++attempt) {
            if (dde->StartAdvise(conv, kDdeItemNames[link % kDdeItems])) {
                ++linked;
                break;
            }
            dde->Pump(Milliseconds(20));
        }
    }
    if (linked != count) std::fprintf(stderr, "client: %d of %d links\n", linked, count);
    HANDLE readyEvent = OpenEventA(EVENT_MODIFY_STATE, FALSE, ready);
    HANDLE quitEvent = OpenEventA(SYNCHRONIZE, FALSE, quit);
    if (readyEvent) SetEvent(readyEvent);
    while (quitEvent && MsgWaitForMultipleObjects(1, &quitEvent, FALSE, INFINITE, QS_ALLINPUT) != WAIT_OBJECT_0)
        dde->Pump(Milliseconds(0));
    return 0;
}

struct Figures {
    double meanMs = 0, maxMs = 0;
    double latencyMs = 0;     // change to callback, mean
    double fromAdviseMs = 0;  // the advise round's start to callback, mean
};

class Bench {
public:
    explicit Bench(int rounds) : rounds_(rounds) {}

    bool Start() {
        if (!DdeServerStart(context_)) return false;
        for (int i = 0; i < kDdeInputs; ++i) {
            {
                MutexLock hold(context_.plumbing.lock);
                context_.inputs[i] = Thermometer(i, 2000);
            }
            DdeInputRegister(i);
        }
        return true;
    }
    void Stop() {
        for (int i = 0; i < kDdeInputs; ++i) DdeInputUnregister(i);
        DdeServerStop();
    }

    // Client processes with `links` links in all, then the rounds.
    Figures Measure(int links, const char* self) {
        const std::string tag = std::to_string(GetCurrentProcessId()) + "_" + std::to_string(links);
        const std::string quitName = "kx305_dde_bench_quit_" + tag;
        HANDLE quit = CreateEventA(nullptr, TRUE, FALSE, quitName.c_str());
        std::vector<HANDLE> ready, processes;
        for (int first = 0, n = 0; first < links; first += kLinksPerClient, ++n) {
            const int count = std::min(kLinksPerClient, links - first);
            const std::string readyName = "kx305_dde_bench_ready_" + tag + "_" + std::to_string(n);
            ready.push_back(CreateEventA(nullptr, TRUE, FALSE, readyName.c_str()));
            std::string command = std::string("\"") + self + "\" --client " + std::to_string(first) + " " +
                                  std::to_string(count) + " " + readyName + " " + quitName;
            STARTUPINFOA startup = {};
            startup.cb = sizeof startup;
            PROCESS_INFORMATION process = {};
            if (CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                               &process)) {
                CloseHandle(process.hThread);
                processes.push_back(process.hProcess);
            }
        }
        // Serve the clients' connects and advise starts until all are ready.
        for (HANDLE event : ready) {
            while (MsgWaitForMultipleObjects(1, &event, FALSE, 60000, QS_ALLINPUT) != WAIT_OBJECT_0) Pump();
        }
        Figures figures = Rounds();
        SetEvent(quit);
        for (HANDLE process : processes) {
            while (MsgWaitForMultipleObjects(1, &process, FALSE, 10000, QS_ALLINPUT) != WAIT_OBJECT_0) Pump();
            CloseHandle(process);
        }
        for (HANDLE event : ready) CloseHandle(event);
        CloseHandle(quit);
        return figures;
    }

private:
    // Rounds every cycle; each changes input 4's value first, and the
    // watching thread notes when its link sees it.
    Figures Rounds() {
        std::atomic<bool> watching{true};
        // Back to 20,00 between measurements, so that round 0 is a change.
        {
            MutexLock hold(context_.plumbing.lock);
            context_.inputs[4] = Thermometer(4, 2000);
        }
        std::atomic<int> seen{-1};
        std::atomic<bool> linked{false};
        std::vector<Clock::time_point> arrivals(rounds_);
        std::thread watcher([&] {
            auto dde = DdeClient::Create();
            HCONV conv = dde ? dde->Connect("KX125", Topic(4, 1)) : nullptr;
            if (conv && dde->StartAdvise(conv, "Wynik")) linked = true;
            while (watching) {
                dde->Pump(Milliseconds(1));
                if (!conv) continue;
                const std::string value = dde->LastAdvise(conv, "Wynik");
                // The round number is in the value: 30,00 + round / 100.
                const int round = value.rfind("30,", 0) == 0 ? std::atoi(value.c_str() + 3) : -1;
                if (round > seen && round < rounds_) {
                    arrivals[round] = Clock::now();
                    seen = round;
                }
            }
        });
        const auto settle = Clock::now() + std::chrono::seconds(2);
        while (Clock::now() < settle || !linked) {
            MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
            Pump();
            if (Clock::now() > settle + std::chrono::seconds(10)) break;
        }
        std::vector<double> costs;
        std::vector<Clock::time_point> changes(rounds_), advises(rounds_);
        auto next = Clock::now();
        for (int round = 0; round < rounds_; ++round) {
            while (Clock::now() < next) {
                MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
                Pump();
            }
            changes[round] = Clock::now();
            {
                MutexLock hold(context_.plumbing.lock);
                context_.inputs[4] = Thermometer(4, 3000 + round);  // channel 1 shows 30,00 + round / 100
            }
            // The polling worker's pause lies between the change and the
            // round in the program; here the round follows at once.
            advises[round] = Clock::now();
            for (int i = 0; i < kDdeInputs; ++i) DdeInputAdvise(i);
            costs.push_back(std::chrono::duration<double, std::milli>(Clock::now() - advises[round]).count());
            next = advises[round] + kCycle;
        }
        const auto drain = Clock::now() + std::chrono::seconds(2);
        while (Clock::now() < drain && seen < rounds_ - 1) {
            MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
            Pump();
        }
        watching = false;
        watcher.join();
        Figures figures;
        for (double c : costs) {
            figures.meanMs += c / costs.size();
            figures.maxMs = std::max(figures.maxMs, c);
        }
        int counted = 0;
        for (int round = 0; round < rounds_; ++round) {
            if (arrivals[round] == Clock::time_point{}) continue;
            figures.latencyMs += std::chrono::duration<double, std::milli>(arrivals[round] - changes[round]).count();
            figures.fromAdviseMs += std::chrono::duration<double, std::milli>(arrivals[round] - advises[round]).count();
            ++counted;
        }
        if (counted) {
            figures.latencyMs /= counted;
            figures.fromAdviseMs /= counted;
        } else {
            figures.latencyMs = figures.fromAdviseMs = -1;
        }
        return figures;
    }

    AppContext context_;
    int rounds_;
};

// What a value costs in the platform whatever the server does: the message
// that carries it, and, under Wine, a reference on the item's atom for all
// links but one of an item (the wine server handles both), in microseconds.
struct PlatformCosts {
    double postUs;
    double atomUs;
};

PlatformCosts MeasurePlatformCosts() {
    constexpr int kCount = 2000;
    auto start = Clock::now();
    for (int i = 0; i < kCount; ++i) PostThreadMessageA(GetCurrentThreadId(), WM_NULL, 0, 0);
    const double postUs = std::chrono::duration<double, std::micro>(Clock::now() - start).count() / kCount;
    Pump();
    start = Clock::now();
    for (int i = 0; i < kCount; ++i) GlobalAddAtomA("Pomiar");
    const double atomUs = std::chrono::duration<double, std::micro>(Clock::now() - start).count() / kCount;
    for (int i = 0; i < kCount; ++i) GlobalDeleteAtom(GlobalFindAtomA("Pomiar"));
    return {postUs, atomUs};
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 6 && std::string(argv[1]) == "--client")
        return RunClient(std::atoi(argv[2]), std::atoi(argv[3]), argv[4], argv[5]);
    const int rounds = argc > 1 ? std::max(1, std::min(99, std::atoi(argv[1]))) : 20;
    const int maxLinks = argc > 2 ? std::atoi(argv[2]) : 1000;
    ResetRainGaugeSettings();
    Bench bench(rounds);
    if (!bench.Start()) {
        std::fprintf(stderr, "the DDE server did not start\n");
        return 1;
    }
    std::printf(
        "DDE advise round on the UI thread (DdeInputAdvise for inputs 0..4: 5 inputs x 9 topics x 3 items;\n"
        "under Wine one advise per item of an input, else one per hot link), %d rounds a %lld ms;\n"
        "links held by client processes, plus the one link that watches the changes\n",
        rounds, static_cast<long long>(kCycle.count()));
    const PlatformCosts platform = MeasurePlatformCosts();
    std::printf(
        "platform: a posted message %.1f us, an atom reference %.1f us: at least %.2f ms a round at 100 links\n",
        platform.postUs, platform.atomUs, 100 * (platform.postUs + platform.atomUs) / 1000);
    std::printf("%8s %16s %16s %22s %22s\n", "links", "round mean ms", "round max ms", "change->callback ms",
                "round->callback ms");
    for (int links : {0, 10, 100, 1000}) {
        if (links > maxLinks) break;
        const Figures f = bench.Measure(links, argv[0]);
        std::printf("%8d %16.2f %16.2f %22.2f %22.2f\n", links, f.meanMs, f.maxMs, f.latencyMs, f.fromAdviseMs);
        std::fflush(stdout);
    }
    bench.Stop();
    return 0;
}
