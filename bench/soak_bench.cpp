// The long recording soak: kx305cli record against four simulated
// converters (firmware 1.05, 1.12 and 1.13 at log intervals from 1 s to
// 30 s) side by side, each through recorder runs of random length with
// random faults, Ctrl-C and line losses in downloads, torn tails and file
// size limits, then a clean run.  Prints, per converter and in all, the
// records logged, stored, still held, reported lost, doubled and
// unaccounted, and records per minute logged and stored.
//
//   soak_bench [SECONDS]     (default 300 of faults, plus the clean run)
#include <cstdio>
#include <cstdlib>

#include "soak.h"

using namespace kx305soak;

int main(int argc, char** argv) {
    const double seconds = argc > 1 ? std::atof(argv[1]) : 300;
    if (!(seconds > 0)) {
        std::fprintf(stderr, "usage: soak_bench [SECONDS]\n");
        return 2;
    }
    const std::vector<Scenario> scenarios = {
        MixedScenario("1.05", 1, seconds, 11),
        MixedScenario("1.12", 5, seconds, 12),
        MixedScenario("1.13", 2, seconds, 13),
        MixedScenario("1.13", 30, seconds, 14),
    };
    std::printf("Recording soak: %g s of faults per converter, %zu converters side by side\n", seconds,
                scenarios.size());
    std::fflush(stdout);
    const std::vector<Outcome> outcomes = RunScenarios(scenarios);
    std::printf("\n%s\n", Table(outcomes).c_str());

    Account total;
    bool clean = true;
    std::printf("%-32s %14s %14s\n", "scenario", "logged/min", "stored/min");
    for (const Outcome& o : outcomes) {
        const Account& a = o.account;
        const double minutes = a.seconds / 60;
        std::printf("%-32s %14.1f %14.1f\n", o.name.c_str(), a.logged / minutes, a.stored / minutes);
        total.logged += a.logged;
        total.stored += a.stored;
        total.held += a.held;
        total.reportedLost += a.reportedLost;
        total.doubled += a.doubled;
        total.unaccounted += a.unaccounted;
        total.dropped += a.dropped;
        total.seconds = std::max(total.seconds, a.seconds);
        clean = clean && o.Clean(true);
    }
    std::printf(
        "\nIn all: logged %llu, stored %llu, held %llu, reported lost %llu, doubled %llu, unaccounted %llu "
        "(dropped by full memories %llu); %.1f logged and %.1f stored per minute over %.0f s\n\n",
        (unsigned long long)total.logged, (unsigned long long)total.stored, (unsigned long long)total.held,
        (unsigned long long)total.reportedLost, (unsigned long long)total.doubled,
        (unsigned long long)total.unaccounted, (unsigned long long)total.dropped, total.logged / (total.seconds / 60),
        total.stored / (total.seconds / 60), total.seconds);
    for (const Outcome& o : outcomes) std::printf("%s", Details(o).c_str());
    return clean ? 0 : 1;
}
