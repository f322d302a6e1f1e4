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

}  // namespace
}  // namespace kx305
