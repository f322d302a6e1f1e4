// The driver against the converter simulator (kx305sim on a pseudo-terminal).
#include <gtest/gtest.h>

#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "done_wait.h"
#include "kx305.h"
#include "request_timing_scope.h"
#include "sim_process.h"

namespace kx305 {
namespace {

using kx305sim::SimProcess;

// The number after "KEY=" in a control reply, -1 when it is not there.
long Field(const std::string& reply, const std::string& key) {
    const size_t at = reply.find(" " + key + "=");
    return at == std::string::npos ? -1 : std::stol(reply.substr(at + key.size() + 2));
}

// How many requests of `code` the simulator took, from "received".
long RequestsOf(const std::string& received, int code) {
    const size_t at = received.find(" codes=");
    if (at == std::string::npos) return -1;
    std::istringstream codes(received.substr(at + 7, received.find(' ', at + 7) - at - 7));
    std::string entry;
    while (std::getline(codes, entry, ','))
        if (entry.rfind(std::to_string(code) + ":", 0) == 0) return std::stol(entry.substr(entry.find(':') + 1));
    return 0;
}

class AgainstSimulator : public ::testing::Test {
protected:
    void Start(const std::vector<std::string>& args) {
        std::string error;
        sim_ = SimProcess::Start(args, &error);
        ASSERT_NE(sim_, nullptr) << error;
        ASSERT_EQ(KX305Open(&handle_, sim_->port().c_str()), KX305_STATUS_OK);
    }
    void TearDown() override {
        if (handle_ != nullptr) {
            EXPECT_EQ(KX305Close(&handle_), KX305_STATUS_OK);
        }
        if (sim_ != nullptr && HasFailure()) std::fprintf(stderr, "simulator log:\n%s\n", sim_->Log().c_str());
    }

    // Polls a started request to its end; counts the tries that failed.
    KX305Status Finish(int* retries = nullptr) { return testing::Finish(&handle_, retries); }

    std::unique_ptr<SimProcess> sim_;
    KX305Handle handle_ = nullptr;
};

TEST_F(AgainstSimulator, InfoTimeAndResultsRoundTrip) {
    Start({"--firmware", "1.13", "--serial", "4321", "--firmware-date", "2004-05-17", "--clock", "03-04 05:06:07",
           "--rain", "1234", "--no-drift", "--input", "1=kx132,p=1013.2,unit=hpa,dec=1", "--input",
           "2=kx124,t=21.5,h=40", "--input", "3=none"});
    ConverterInfo info{};
    ASSERT_EQ(KX305GetInfo(&handle_, &info), KX305_STATUS_OK);
    ASSERT_EQ(Finish(), KX305_STATUS_OK);
    EXPECT_EQ(info.versionMajor, 1);
    EXPECT_EQ(info.versionMinor, 13);
    EXPECT_EQ(info.serialNumber, 4321);
    EXPECT_EQ(info.day, 17);
    EXPECT_EQ(info.month, 5);
    EXPECT_EQ(info.year, 2004);

    ClockRecord clock{};
    ASSERT_EQ(KX305GetTime(&handle_, &clock), KX305_STATUS_OK);
    ASSERT_EQ(Finish(), KX305_STATUS_OK);
    EXPECT_EQ(clock.month, 3);
    EXPECT_EQ(clock.day, 4);
    EXPECT_EQ(clock.hour, 5);
    EXPECT_EQ(clock.minute, 6);
    EXPECT_LE(clock.second, 20);

    const ClockRecord set{12, 31, 23, 59, 30};
    ASSERT_EQ(KX305SetTime(&handle_, &set), KX305_STATUS_OK);
    ASSERT_EQ(Finish(), KX305_STATUS_OK);
    ASSERT_EQ(KX305GetTime(&handle_, &clock), KX305_STATUS_OK);
    ASSERT_EQ(Finish(), KX305_STATUS_OK);
    EXPECT_EQ(clock.month, 12);
    EXPECT_EQ(clock.day, 31);
    EXPECT_EQ(clock.hour, 23);

    const uint16_t period = 126;
    ASSERT_EQ(KX305SetLogPeriod(&handle_, &period), KX305_STATUS_OK);
    ASSERT_EQ(Finish(), KX305_STATUS_OK);
    uint16_t read = 0;
    ASSERT_EQ(KX305GetLogPeriod(&handle_, &read), KX305_STATUS_OK);
    ASSERT_EQ(Finish(), KX305_STATUS_OK);
    EXPECT_EQ(read, 126);

    InputReading results[KX305_INPUTS] = {};
    ASSERT_EQ(KX305GetResults(&handle_, results), KX305_STATUS_OK);
    ASSERT_EQ(Finish(), KX305_STATUS_OK);
    EXPECT_EQ(results[0].type, 1u);
    EXPECT_EQ(results[0].data[0], 1234);
    EXPECT_EQ(results[1].type, 7u);
    EXPECT_EQ(results[1].data[5], 10132);
    EXPECT_EQ(results[2].type, 3u);
    EXPECT_EQ(results[2].data[5], 215);
    EXPECT_EQ(results[2].data[4], 400);
    EXPECT_EQ(results[3].type, 0u);

    ASSERT_EQ(KX305ResetRainCounter(&handle_), KX305_STATUS_OK);
    ASSERT_EQ(Finish(), KX305_STATUS_OK);
    ASSERT_EQ(KX305GetResults(&handle_, results), KX305_STATUS_OK);
    ASSERT_EQ(Finish(), KX305_STATUS_OK);
    EXPECT_EQ(results[0].data[0], 0);
}

TEST_F(AgainstSimulator, FourThousandRecordDownload) {
    Start({"--firmware", "1.13", "--capacity", "5000", "--prefill", "4000", "--period", "60", "--no-drift"});
    ConverterInfo info{};
    ASSERT_EQ(KX305GetInfo(&handle_, &info), KX305_STATUS_OK);
    ASSERT_EQ(Finish(), KX305_STATUS_OK);

    LogBuffer log{};
    ASSERT_EQ(KX305PeekLog(&handle_, &log), KX305_STATUS_OK);
    ASSERT_EQ(Finish(), KX305_STATUS_OK);
    ASSERT_GE(log.count, 4000);
    // Records a log period apart, oldest first.
    int steps = 0;
    for (int k = 1; k < log.count; ++k) {
        const LogRecord& a = log.records[k - 1];
        const LogRecord& b = log.records[k];
        const int minuteA = a.hour * 60 + a.minute;
        const int minuteB = b.hour * 60 + b.minute;
        if ((minuteB - minuteA + 1440) % 1440 == 1) ++steps;
        EXPECT_EQ(b.results[0].type, 1u);
    }
    EXPECT_GE(steps, log.count - 2);

    // Peek leaves the memory as it was; clearing empties it.
    ASSERT_EQ(KX305ClearLog(&handle_), KX305_STATUS_OK);
    ASSERT_EQ(Finish(), KX305_STATUS_OK);
    ASSERT_EQ(KX305GetLog(&handle_, &log), KX305_STATUS_OK);
    ASSERT_EQ(Finish(), KX305_STATUS_OK);
    EXPECT_LE(log.count, 1);
}

TEST_F(AgainstSimulator, FaultyLineStillCompletes) {
    // The simulator answers at once: a try without a reply within 300 ms
    // has lost it.
    const testing::ScopedRequestTiming timing(300);
    // Dropped, corrupted and unsolicited frames: tries fail and are repeated.
    Start({"--firmware", "1.13", "--serial", "777", "--seed", "7", "--no-drift", "--capacity", "100", "--prefill", "8",
           "--fault", "drop 0.15", "--fault", "corrupt 0.15 any", "--fault", "unsolicited 0.5"});
    int retries = 0;
    for (int i = 0; i < 6; ++i) {
        ConverterInfo info{};
        ASSERT_EQ(KX305GetInfo(&handle_, &info), KX305_STATUS_OK);
        ASSERT_EQ(Finish(&retries), KX305_STATUS_OK) << "request " << i;
        EXPECT_EQ(info.serialNumber, 777);
        EXPECT_EQ(info.versionMinor, 13);
    }
    EXPECT_GT(retries, 0) << "the faults never hit";

    ASSERT_EQ(sim_->Control("fault drop 0.03").rfind("ok", 0), 0u);
    ASSERT_EQ(sim_->Control("fault corrupt 0").rfind("ok", 0), 0u);
    // Peek: a transfer requested again after a lost frame finds the same
    // records (a GetLog try may already have emptied the memory).
    LogBuffer log{};
    ASSERT_EQ(KX305PeekLog(&handle_, &log), KX305_STATUS_OK);
    ASSERT_EQ(Finish(), KX305_STATUS_OK);
    EXPECT_GE(log.count, 8);
}

// A tenth of the reply frames lost: no try of 201 frames gets through
// whole, but together the tries of a peek bring every record, each once and
// in the converter's order.
TEST_F(AgainstSimulator, PeekCompletesAlthoughATenthOfTheFramesIsLost) {
    const testing::ScopedRequestTiming timing(300);
    Start({"--firmware", "1.13", "--seed", "11", "--no-drift", "--capacity", "5000", "--prefill", "200", "--period",
           "3600", "--fault", "drop 0.1"});
    ConverterInfo info{};
    ASSERT_EQ(KX305GetInfo(&handle_, &info), KX305_STATUS_OK);
    ASSERT_EQ(Finish(), KX305_STATUS_OK);

    LogBuffer log{};
    ASSERT_EQ(KX305PeekLog(&handle_, &log), KX305_STATUS_OK);
    int retries = 0;
    ASSERT_EQ(Finish(&retries), KX305_STATUS_OK);
    EXPECT_GT(retries, 0) << "no frame was lost";
    ASSERT_EQ(log.count, 200);
    for (int k = 1; k < log.count; ++k) {
        const LogRecord& a = log.records[k - 1];
        const LogRecord& b = log.records[k];
        const int hoursA = (a.month * 32 + a.day) * 24 + a.hour;
        const int hoursB = (b.month * 32 + b.day) * 24 + b.hour;
        EXPECT_TRUE(hoursB == hoursA + 1 || (b.hour == 0 && a.hour == 23)) << "record " << k << " follows " << k - 1;
        EXPECT_EQ(a.minute, b.minute) << "record " << k;
    }
}

// Firmware 1.12 hands its memory over on CMD_GET_LOG: with frames lost the
// GetLog is not sent again, and every record the converter held is either
// delivered, in order, or counted as lost.
TEST_F(AgainstSimulator, LossyGetLogOfOldFirmwareAccountsForEveryRecord) {
    const testing::ScopedRequestTiming timing(300);
    constexpr long kHeld = 40;
    Start({"--firmware", "1.12", "--seed", "5", "--no-drift", "--capacity", "100", "--prefill", std::to_string(kHeld),
           "--period", "3600"});
    ConverterInfo info{};
    ASSERT_EQ(KX305GetInfo(&handle_, &info), KX305_STATUS_OK);
    ASSERT_EQ(Finish(), KX305_STATUS_OK);
    ASSERT_EQ(sim_->Control("received reset"), "ok");
    const long droppedBefore = Field(sim_->Control("sent"), "dropped");
    ASSERT_EQ(sim_->Control("fault drop 0.1").rfind("ok", 0), 0u);

    LogBuffer log{};
    ASSERT_EQ(KX305GetLog(&handle_, &log), KX305_STATUS_OK);
    std::vector<testing::Outcome> answers = testing::PollToEnd(&handle_);
    const long dropped = Field(sim_->Control("sent"), "dropped") - droppedBefore;
    ASSERT_GT(dropped, 0) << "no frame was lost";
    EXPECT_EQ(RequestsOf(sim_->Control("received"), 8), 1);
    EXPECT_EQ(Field(sim_->Control("state"), "records"), 0) << "the memory was handed over";

    const testing::Outcome end = answers.back();
    ASSERT_EQ(end.status, KX305_STATUS_NO_RESOURCE);
    if (end.percent == KX305_LOG_LOST_UNKNOWN) {
        EXPECT_EQ(log.count, kHeld - (dropped - 1)) << "the count frame and " << dropped - 1 << " records lost";
    } else {
        EXPECT_EQ(end.percent, static_cast<uint32_t>(dropped));
        EXPECT_EQ(log.count + end.percent, static_cast<uint32_t>(kHeld));
    }
    // Oldest first, an hour apart or more where records are missing.
    for (int k = 1; k < log.count; ++k) {
        const LogRecord& a = log.records[k - 1];
        const LogRecord& b = log.records[k];
        EXPECT_LT((a.month * 32 + a.day) * 24 + a.hour, (b.month * 32 + b.day) * 24 + b.hour) << "record " << k;
    }
}

}  // namespace
}  // namespace kx305
