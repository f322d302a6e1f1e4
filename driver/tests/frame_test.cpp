#include "frame.h"

#include <gtest/gtest.h>

#include <vector>

namespace kx305 {
namespace {

std::vector<uint8_t> Wire(uint8_t command, std::vector<uint8_t> payload) {
    Frame frame;
    BuildFrame(frame, 0, 0, command, payload.data(), static_cast<uint8_t>(payload.size()));
    uint8_t out[kMaxWireFrame];
    const size_t n = EncodeFrame(frame, out);
    return {out, out + n};
}

std::vector<std::vector<uint8_t>> FeedAll(FrameReader& reader, const std::vector<uint8_t>& bytes) {
    std::vector<std::vector<uint8_t>> frames;
    for (uint8_t b : bytes)
        if (reader.Feed(b)) {
            const Frame& f = reader.frame();
            frames.emplace_back(f.bytes, f.bytes + kHeaderSize + f.length());
        }
    return frames;
}

TEST(FrameEncoding, RequestsWithoutPayloadAreSixBytes) {
    EXPECT_EQ(Wire(0, {}), (std::vector<uint8_t>{0x7E, 0, 0, 0, 0, 0}));
    EXPECT_EQ(Wire(3, {}), (std::vector<uint8_t>{0x7E, 0, 0, 3, 0, 0xFD}));
}

TEST(FrameEncoding, EscapesPayloadAndChecksum) {
    // 126 s log period: checksum 0x76, payload byte 0x7E escaped.
    EXPECT_EQ(Wire(10, {0x00, 0x7E}), (std::vector<uint8_t>{0x7E, 0, 0, 0x0A, 0x02, 0x76, 0x00, 0x7F, 0x81}));
    // 0x7F as data goes out as 7F 7F.
    const auto wire = Wire(10, {0x00, 0x7F});
    EXPECT_EQ(wire, (std::vector<uint8_t>{0x7E, 0, 0, 0x0A, 0x02, 0x75, 0x00, 0x7F, 0x7F}));
}

TEST(FrameReader, RoundTripsEveryByteValueSplitAtEveryPosition) {
    std::vector<uint8_t> payload(255);
    for (size_t i = 0; i < payload.size(); ++i) payload[i] = static_cast<uint8_t>(i + 0x70);
    const auto wire = Wire(7, payload);
    FrameReader reader;
    int frames = 0;
    for (uint8_t b : wire) frames += reader.Feed(b) ? 1 : 0;
    ASSERT_EQ(frames, 1);
    EXPECT_EQ(reader.frame().length(), 255);
    EXPECT_EQ(std::vector<uint8_t>(reader.frame().payload(), reader.frame().payload() + 255), payload);
}

TEST(FrameReader, DropsBadChecksumAndRestartsOnStartAfterEscape) {
    FrameReader reader;
    // Bad checksum.
    for (uint8_t b : std::vector<uint8_t>{0x7E, 0, 0, 3, 0, 0xFC}) EXPECT_FALSE(reader.Feed(b));
    // 7E right after an escape begins a new frame, which then completes.
    int frames = 0;
    for (uint8_t b : std::vector<uint8_t>{0x7E, 0, 0x7F, 0x7E, 0, 0, 3, 0, 0xFD}) frames += reader.Feed(b);
    EXPECT_EQ(frames, 1);
    EXPECT_EQ(reader.frame().command(), 3);
    // An escape followed by anything else abandons the frame.
    for (uint8_t b : std::vector<uint8_t>{0x7E, 0, 0x7F, 0x12, 0, 3, 0, 0xFD}) EXPECT_FALSE(reader.Feed(b));
}

TEST(FrameEncoding, ChecksumBytesAreEscapedLikeData) {
    // A command of 0x7F escapes in the header (checksum 0x81); payload 0x7F
    // gives checksum 0x7E and payload 0x7E checksum 0x7F, both escaped.
    EXPECT_EQ(Wire(0x7F, {}), (std::vector<uint8_t>{0x7E, 0, 0, 0x7F, 0x7F, 0, 0x81}));
    EXPECT_EQ(Wire(0x02, {0x7F}), (std::vector<uint8_t>{0x7E, 0, 0, 2, 1, 0x7F, 0x81, 0x7F, 0x7F}));
    EXPECT_EQ(Wire(0x02, {0x7E}), (std::vector<uint8_t>{0x7E, 0, 0, 2, 1, 0x7F, 0x7F, 0x7F, 0x81}));
    FrameReader reader;
    for (const auto& wire : {Wire(0x7F, {}), Wire(0x02, {0x7F}), Wire(0x02, {0x7E})}) {
        const auto frames = FeedAll(reader, wire);
        ASSERT_EQ(frames.size(), 1u);
        uint8_t sum = 0;
        for (uint8_t b : frames[0]) sum = static_cast<uint8_t>(sum + b);
        EXPECT_EQ(sum, 0);
    }
}

TEST(FrameReader, EmptyFrameCompletesOnItsFifthHeaderByte) {
    FrameReader reader;
    const auto wire = Wire(5, {});
    for (size_t i = 0; i + 1 < wire.size(); ++i) EXPECT_FALSE(reader.Feed(wire[i]));
    EXPECT_TRUE(reader.Feed(wire.back()));
    EXPECT_EQ(reader.frame().command(), 5);
    EXPECT_EQ(reader.frame().length(), 0);
}

TEST(FrameReader, GarbageCutFramesAndRepeatsAroundGoodFrames) {
    FrameReader reader;
    const auto good = Wire(7, {1, 2, 3});
    std::vector<uint8_t> stream = {0x00, 0xFF, 0x7F, 0x81, 0x12};  // noise outside any frame
    stream.insert(stream.end(), good.begin(), good.begin() + 5);   // a frame cut short...
    stream.insert(stream.end(), good.begin(), good.end());         // ...by the next start byte
    stream.insert(stream.end(), good.begin(), good.end());         // the same frame again
    stream.push_back(0x33);                                        // trailing noise
    const auto frames = FeedAll(reader, stream);
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[0], frames[1]);
    EXPECT_EQ(frames[0], (std::vector<uint8_t>{0, 0, 7, 3, 0xF0, 1, 2, 3}));
}

TEST(FrameReader, AcceptsAnyAddressAndLeavesTheCheckToTheLink) {
    Frame frame;
    const uint8_t payload[] = {9};
    BuildFrame(frame, 0x42, 0x17, 3, payload, 1);
    uint8_t wire[kMaxWireFrame];
    const size_t n = EncodeFrame(frame, wire);
    FrameReader reader;
    const auto frames = FeedAll(reader, std::vector<uint8_t>(wire, wire + n));
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(reader.frame().address(), 0x42);
    EXPECT_EQ(reader.frame().aux(), 0x17);
}

}  // namespace
}  // namespace kx305
