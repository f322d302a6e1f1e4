// The bounded recording soak: every scenario side by side, about a minute
// in all.  Each must account for every record the converter logged: in the
// file exactly once, still in the converter, or reported lost.
//
// Alone: ctest --test-dir build/native -L soak --output-on-failure
// (or build/native/tests/soak/soak_test); the long run is bench/soak_bench.
#include <gtest/gtest.h>

#include <cstdio>

#include "soak.h"

namespace kx305soak {
namespace {

TEST(RecordingSoak, EveryLoggedRecordIsStoredOnceHeldOrReportedLost) {
    const std::vector<Scenario> scenarios = BoundedScenarios();
    const std::vector<Outcome> outcomes = RunScenarios(scenarios);
    std::printf("%s\n", Table(outcomes).c_str());
    for (size_t i = 0; i < outcomes.size(); ++i) {
        const Outcome& o = outcomes[i];
        std::printf("%s", Details(o).c_str());
        SCOPED_TRACE(o.name);
        EXPECT_TRUE(o.problems.empty()) << Details(o);
        EXPECT_GT(o.account.logged, 0u);
        EXPECT_EQ(o.account.unaccounted, 0u)
            << "missing " << o.account.missing << ", reported lost " << o.account.reportedLost;
        // A loss is reported with its number, and the number is no guess
        // that outruns what is missing.
        EXPECT_EQ(o.account.overReported, 0u)
            << "reported lost " << o.account.reportedLost << ", missing " << o.account.missing;
        EXPECT_EQ(o.account.doubled, 0u);
        EXPECT_EQ(o.account.foreign, 0u) << "records in the file the converter never logged";
        if (!scenarios[i].memoryMayFill) {
            EXPECT_EQ(o.account.dropped, 0u) << "the memory filled while recording";
        }
    }
}

}  // namespace
}  // namespace kx305soak
