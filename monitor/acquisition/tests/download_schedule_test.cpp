// Recording at short log periods on a simulated converter that keeps its
// memory until cleared (firmware 1.13) and sends at the line's pace, with
// the program's own timing (one-second ticks, 20-s recording interval,
// 250-ms cycle pause).  From the simulator's own account: the memory never
// fills, the converter drops nothing, and every record it logged is in the
// registration file exactly once or still in its memory.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>

#include "memory_file.h"
#include "recording/registration_file.h"
#include "simulator_fixture.h"
#include "time/calendar.h"

namespace kx305mon::testing {
namespace {

using Clear = DownloadReport::Clear;

struct RunOutcome {
    long mostHeld = 0;            // the most records the converter held at a look
    long lost = 0;                // records the converter could not store
    std::vector<int64_t> stored;  // stamps of the file's records
    std::vector<int64_t> held;    // of what the converter still holds
    std::vector<DownloadReport> reports;
};

class ShortLogPeriod : public AcquisitionOnSimulator {
protected:
    void SetUp() override {
        AcquisitionOnSimulator::SetUp();
        context.plumbing.timing = AcquisitionTiming{};  // the program's own
        context.recordingInterval = 20;
        context.registrationFile = std::make_unique<SharedFile>(file);
    }

    // Records for `seconds`, looking at the converter's memory twice a
    // second; then the file's records and those the converter still holds.
    RunOutcome Record(unsigned period, unsigned capacity, std::chrono::seconds length) {
        StartSimulator({"--firmware", "1.13", "--period", std::to_string(period), "--capacity",
                        std::to_string(capacity), "--pace", "--clock", "06-01 00:00:00"});
        StartWorker();
        RunOutcome out;
        auto end = std::chrono::steady_clock::now() + length;
        while (std::chrono::steady_clock::now() < end) {
            out.mostHeld = std::max(out.mostHeld, State("records"));
            std::this_thread::sleep_for(500ms);
        }
        StopPollingWorker(context);
        out.lost = State("lost");
        out.reports = recorder.Downloads();
        RecordList stored;
        ReadRegistrationFile(context.registrationFile.get(), stored);
        for (const MemoryRecord& r : stored) out.stored.push_back(SecondsOf(r.time));
        // What the converter holds, read without clearing.
        const auto memory = ReadConverterMemory(PortPath(1));
        EXPECT_TRUE(memory.has_value()) << "the converter's memory did not read";
        MemoryFile held;
        for (const LogRecord& record : memory.value_or(std::vector<LogRecord>{})) WriteRegistrationRecord(held, record);
        RecordList heldList;
        ReadRegistrationFile(&held, heldList);
        for (const MemoryRecord& r : heldList) out.held.push_back(SecondsOf(r.time));
        return out;
    }

    // The file holds a record every `period` seconds, none missing, none
    // twice; the converter holds what followed (it may still hold the
    // file's last ones, not yet cleared); together they cover the run.
    static ::testing::AssertionResult EveryRecordOnce(const RunOutcome& run, unsigned period,
                                                      std::chrono::seconds length) {
        std::vector<int64_t> all = run.stored;
        for (int64_t stamp : run.held) {
            if (run.stored.empty() || stamp > run.stored.back()) {
                all.push_back(stamp);
            } else if (!std::binary_search(run.stored.begin(), run.stored.end(), stamp)) {
                return ::testing::AssertionFailure() << "a held record older than the file's last is not in it";
            }
        }
        if (all.size() < 2) return ::testing::AssertionFailure() << all.size() << " records";
        for (size_t i = 1; i < all.size(); ++i) {
            if (all[i] - all[i - 1] != period) {
                return ::testing::AssertionFailure()
                       << "records " << i - 1 << " and " << i << " are " << all[i] - all[i - 1] << " s apart ("
                       << run.stored.size() << " in the file)";
            }
        }
        // Missing at the start or the end would shorten the span.
        const size_t expected = static_cast<size_t>(length.count()) / period;
        if (all.size() + 3 < expected) {
            return ::testing::AssertionFailure() << all.size() << " records in " << length.count() << " s";
        }
        return ::testing::AssertionSuccess();
    }

    std::shared_ptr<MemoryFile> file = std::make_shared<MemoryFile>();
};

TEST_F(ShortLogPeriod, TwoSecondsKeepsTheMemoryEmptiedAndLosesNothing) {
    constexpr std::chrono::seconds kLength = 120s;
    RunOutcome run = Record(2, 40, kLength);
    size_t cleared = 0;
    for (const DownloadReport& r : run.reports) cleared += r.clear == Clear::Cleared ? 1 : 0;
    std::printf("2-s period: %zu downloads, %zu cleared, at most %ld of 40 held, %ld lost, %zu records\n",
                run.reports.size(), cleared, run.mostHeld, run.lost, run.stored.size());
    EXPECT_EQ(run.lost, 0);
    EXPECT_LT(run.mostHeld, 20);
    EXPECT_TRUE(EveryRecordOnce(run, 2, kLength));
    for (const DownloadReport& r : run.reports) EXPECT_NE(r.clear, Clear::TransferLongerThanLogPeriod);
}

TEST_F(ShortLogPeriod, OneSecondLosesNothingAndKeepsUpOrSaysItCannot) {
    constexpr std::chrono::seconds kLength = 45s;
    RunOutcome run = Record(1, 1000, kLength);
    size_t cleared = 0, cannot = 0;
    for (const DownloadReport& r : run.reports) {
        cleared += r.clear == Clear::Cleared ? 1 : 0;
        cannot += r.clear == Clear::TransferLongerThanLogPeriod ? 1 : 0;
    }
    std::printf("1-s period: %zu downloads, %zu cleared, %zu too long for the period, at most %ld held, %zu records\n",
                run.reports.size(), cleared, cannot, run.mostHeld, run.stored.size());
    EXPECT_EQ(run.lost, 0);
    EXPECT_TRUE(EveryRecordOnce(run, 1, kLength));
    // Either the memory is emptied as it fills, or the user hears that no
    // schedule can do it.
    if (cannot == 0) {
        EXPECT_LT(run.mostHeld, 20);
    }
}

}  // namespace
}  // namespace kx305mon::testing
