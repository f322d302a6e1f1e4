// The main window's decisions: which start results of the charting
// program the user hears of, and the cycle log's line.
#include <gtest/gtest.h>

#include "shell/main_window.h"

namespace kx305mon::testing {
namespace {

TEST(VizoStart, ResultCodesByClass) {
    struct Case {
        uintptr_t code;
        VizoStart start;
    };
    const Case cases[] = {
        {0, VizoStart::CannotStart},   // out of resources
        {11, VizoStart::CannotStart},  // bad executable format
        {2, VizoStart::NotFound},      // file not found
        {3, VizoStart::NotFound},      // path not found
        {5, VizoStart::Started},       // access denied: not told
        {8, VizoStart::Started},       // out of memory: not told
        {31, VizoStart::Started},      // no association: not told
        {32, VizoStart::Started},      // the first success code
        {33, VizoStart::Started},
        {0x7FFF0000u, VizoStart::Started},
    };
    for (const Case& c : cases) EXPECT_EQ(ClassifyVizoStart(c.code), c.start) << "code " << c.code;
}

TEST(CycleLog, OneLineWithEveryShareInMicroseconds) {
    CycleTiming timing;
    timing.cycleMicros = 8123;
    timing.transactionMicros = 7900;
    timing.operationMicros = 12;
    timing.eventsMicros = 170;
    EXPECT_EQ(CycleLogLine(timing, 115, 40),
              "cycle 8123 transaction 7900 operation 12 events 170 livedata 115 display 40 program 210\n");
    // A long cycle (a download) keeps its digits.
    timing.cycleMicros = 12345678901;
    EXPECT_NE(CycleLogLine(timing, 0, 0).find("cycle 12345678901 "), std::string::npos);
}

}  // namespace
}  // namespace kx305mon::testing
