// What each injected fault does to the bytes the host receives, and how the
// sending queue keeps order under delays, pacing and a full line.
#include <gtest/gtest.h>

#include <algorithm>

#include "sim_test_support.h"

namespace kx305sim {
namespace {

using Bytes = std::vector<uint8_t>;

// A converter that asks `count` times for the results and returns the
// valid frames received.
std::vector<kx305::Frame> AskResults(Bench& b, int count) {
    b.sink.bytes.clear();
    for (int i = 0; i < count; ++i) {
        const Bytes wire = Request(kCmdGetResults);
        b.converter.Receive(wire.data(), wire.size());
    }
    b.converter.Tick();
    return Frames(b.sink.bytes);
}

Faults& FaultsOf(Bench& b) { return b.converter.transmitter().faults(); }

TEST(Faults, DropLosesAllOrAShareOfTheReplies) {
    Bench b;
    FaultsOf(b).drop = 1;
    EXPECT_TRUE(AskResults(b, 20).empty());
    EXPECT_TRUE(b.sink.bytes.empty());
    EXPECT_EQ(b.converter.transmitter().counters().dropped, 20u);

    FaultsOf(b).drop = 0.5;
    const size_t got = AskResults(b, 400).size();
    EXPECT_GT(got, 120u);
    EXPECT_LT(got, 280u);
}

TEST(Faults, EveryCorruptionKindMakesTheFrameUnreadable) {
    for (Corruption kind : {Corruption::kChecksum, Corruption::kEscape, Corruption::kTruncate, Corruption::kAny}) {
        Bench b;
        FaultsOf(b).corrupt = 1;
        FaultsOf(b).corruption = kind;
        for (int i = 0; i < 50; ++i) {
            b.sink.bytes.clear();
            const Bytes request = Request(kCmdGetInfo);
            b.converter.Receive(request.data(), request.size());
            const Bytes damaged = b.sink.bytes;
            EXPECT_TRUE(Frames(damaged).empty()) << CorruptionName(kind);
            ASSERT_FALSE(damaged.empty());
            EXPECT_EQ(damaged[0], kx305::kFrameStart);
            if (kind == Corruption::kChecksum) {
                EXPECT_EQ(damaged.size(), 15u);
            }
            if (kind == Corruption::kTruncate) {
                EXPECT_LT(damaged.size(), 15u);
            }
            if (kind == Corruption::kEscape) {
                const Bytes bad = {0x7F, 0x00};
                EXPECT_NE(std::search(damaged.begin(), damaged.end(), bad.begin(), bad.end()), damaged.end());
            }
        }
        EXPECT_EQ(b.converter.transmitter().counters().corrupted, 50u);
        // The next good reply is read whatever the damaged one left behind.
        FaultsOf(b).corrupt = 0;
        b.sink.bytes.clear();
        Bytes both = {0x7E, 0x00, 0x00, 0x00, 0x09, 0x7F};  // half a frame, as a truncation leaves it
        const Bytes request = Request(kCmdGetInfo);
        b.converter.Receive(request.data(), request.size());
        both.insert(both.end(), b.sink.bytes.begin(), b.sink.bytes.end());
        EXPECT_EQ(Frames(both).size(), 1u) << CorruptionName(kind);
    }
}

// Exactly the frames named, of the next reply to that command only: the
// count frame and records 2 and 5 (the last) of a five-record log reply.
TEST(Faults, DropReplyLeavesOutTheNamedFramesOfOneReply) {
    Bench b;
    ASSERT_EQ(b.converter.Fill(5), 5u);
    std::string error;
    ASSERT_TRUE(ApplyFault(FaultsOf(b), {"drop-reply", "14", "0,2,-1"}, error)) << error;
    EXPECT_NE(DescribeFaults(FaultsOf(b)).find("drop-reply=14:0,2,-1"), std::string::npos);
    EXPECT_EQ(b.Ask(kCmdGetResults).size(), 1u);
    std::vector<uint16_t> numbers;
    for (const kx305::Frame& f : b.Ask(kCmdPeekLog))
        numbers.push_back(static_cast<uint16_t>(f.payload()[0] << 8 | f.payload()[1]));
    EXPECT_EQ(numbers, (std::vector<uint16_t>{1, 3, 4}));
    EXPECT_EQ(b.converter.transmitter().counters().dropped, 3u);
    EXPECT_EQ(b.Ask(kCmdPeekLog).size(), 6u);
    EXPECT_FALSE(ApplyFault(FaultsOf(b), {"drop-reply", "14"}, error));
    EXPECT_FALSE(ApplyFault(FaultsOf(b), {"drop-reply", "14", "1,x"}, error));
}

TEST(Faults, DelayHoldsTheReplyBack) {
    Bench b;
    FaultsOf(b).delayMs = 300;
    EXPECT_TRUE(AskResults(b, 1).empty());
    b.time.Advance(299);
    b.converter.Tick();
    EXPECT_TRUE(b.sink.bytes.empty());
    EXPECT_LE(b.converter.NextWakeUs(), b.time.MonotonicUs() + 1000);
    b.time.Advance(1);
    b.converter.Tick();
    EXPECT_EQ(Frames(b.sink.bytes).size(), 1u);
}

TEST(Faults, SilenceSwallowsEveryReplyUntilLifted) {
    Bench b;
    FaultsOf(b).silent = true;
    EXPECT_TRUE(b.Ask(kCmdGetInfo).empty());
    EXPECT_TRUE(b.Ask(kCmdGetTime).empty());
    EXPECT_EQ(b.converter.transmitter().counters().silenced, 2u);
    EXPECT_EQ(b.converter.received().frames, 2u);
    FaultsOf(b).silent = false;
    EXPECT_EQ(b.Ask(kCmdGetInfo).size(), 1u);
}

TEST(Faults, StaleSendsThePreviousReplyFirst) {
    Bench b;
    std::string error;
    const auto first = b.Ask(kCmdGetResults);
    ASSERT_EQ(first.size(), 1u);
    ASSERT_TRUE(b.converter.ApplyToInput(1, "t=-1.5", error)) << error;
    FaultsOf(b).stale = 1;
    const auto frames = b.Ask(kCmdGetResults);
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(Payload(frames[0]), Payload(first[0]));
    EXPECT_NE(Payload(frames[1]), Payload(first[0]));
    EXPECT_EQ(Payload(frames[1]), b.converter.ResultsBlock());
}

TEST(Faults, UnsolicitedFramesAnswerNothingThatWasAsked) {
    Bench b;
    b.Ask(kCmdGetResults);
    b.Ask(kCmdGetInfo);
    FaultsOf(b).unsolicited = 1;
    for (int i = 0; i < 40; ++i) {
        const auto frames = b.Ask(kCmdGetTime);
        ASSERT_EQ(frames.size(), 2u);
        const kx305::Frame& extra = frames[0];
        // Another command, or the same one under another address.
        EXPECT_TRUE(extra.command() != kCmdGetTime || extra.address() != 0);
        EXPECT_EQ(frames[1].command(), kCmdGetTime);
        EXPECT_EQ(frames[1].address(), 0);
    }
    EXPECT_EQ(b.converter.transmitter().counters().unsolicited, 40u);
}

TEST(Faults, PacingReleasesOneByteEveryByteTime) {
    Bench b;
    b.converter.transmitter().SetPacing(true);
    AskResults(b, 1);
    EXPECT_EQ(b.sink.bytes.size(), 1u);
    const size_t total = b.sink.bytes.size() + b.converter.transmitter().queuedBytes();
    b.time.monotonicUs += 10 * kByteTimeUs;
    b.converter.Tick();
    EXPECT_EQ(b.sink.bytes.size(), 11u);
    EXPECT_EQ(b.converter.transmitter().NextDueUs(), b.time.MonotonicUs() + kByteTimeUs);
    b.time.monotonicUs += int64_t(total) * kByteTimeUs;
    b.converter.Tick();
    EXPECT_EQ(b.sink.bytes.size(), total);
    EXPECT_EQ(Frames(b.sink.bytes).size(), 1u);
}

TEST(Faults, AFullLineKeepsTheRestInOrder) {
    Bench b;
    b.sink.limit = 7;
    b.converter.transmitter().faults().delayMs = 0;
    AskResults(b, 3);
    EXPECT_TRUE(b.converter.transmitter().blocked());
    while (b.converter.transmitter().queuedBytes() > 0) b.converter.transmitter().Flush();
    const auto frames = Frames(b.sink.bytes);
    ASSERT_EQ(frames.size(), 3u);
    for (const kx305::Frame& f : frames) EXPECT_EQ(Payload(f), b.converter.ResultsBlock());
}

TEST(Faults, DiscardForgetsWhatWasQueued) {
    Bench b;
    FaultsOf(b).delayMs = 1000;
    AskResults(b, 2);
    EXPECT_GT(b.converter.transmitter().queuedBytes(), 0u);
    b.converter.transmitter().Discard();
    b.time.Advance(2000);
    b.converter.Tick();
    EXPECT_TRUE(b.sink.bytes.empty());
}

TEST(Faults, SettingsParseAndRejectBadArguments) {
    Faults f;
    std::string error;
    EXPECT_TRUE(ApplyFault(f, {"drop", "25%"}, error)) << error;
    EXPECT_DOUBLE_EQ(f.drop, 0.25);
    EXPECT_TRUE(ApplyFault(f, {"corrupt", "on", "escape"}, error)) << error;
    EXPECT_EQ(f.corrupt, 1);
    EXPECT_EQ(f.corruption, Corruption::kEscape);
    EXPECT_TRUE(ApplyFault(f, {"silent", "on"}, error)) << error;
    EXPECT_TRUE(f.silent);
    EXPECT_TRUE(ApplyFault(f, {"delay", "250"}, error)) << error;
    EXPECT_EQ(f.delayMs, 250);
    for (const std::vector<std::string>& bad : std::vector<std::vector<std::string>>{{},
                                                                                     {"drop"},
                                                                                     {"drop", "1.5"},
                                                                                     {"drop", "-1%"},
                                                                                     {"drop", "x"},
                                                                                     {"corrupt", "0.5", "bits"},
                                                                                     {"delay", "-5"},
                                                                                     {"silent", "maybe"},
                                                                                     {"stale", "0.5", "extra"},
                                                                                     {"explode", "1"}}) {
        const Faults before = f;
        error.clear();
        EXPECT_FALSE(ApplyFault(f, bad, error));
        EXPECT_FALSE(error.empty());
        EXPECT_EQ(DescribeFaults(f), DescribeFaults(before));
    }
    EXPECT_TRUE(ApplyFault(f, {"off"}, error));
    EXPECT_EQ(DescribeFaults(f), DescribeFaults(Faults{}));
}

}  // namespace
}  // namespace kx305sim
