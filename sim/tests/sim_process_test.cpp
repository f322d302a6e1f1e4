// The real kx305sim program through the harness: it comes up behind its
// link, answers a request written to the pty, and goes away cleanly.
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "frame.h"
#include "sim_process.h"

namespace kx305sim {
namespace {

bool LinkExists(const std::string& path) {
    struct stat st {};
    return lstat(path.c_str(), &st) == 0;
}

void WriteFrame(int fd, uint8_t command, const std::vector<uint8_t>& payload = {}) {
    kx305::Frame frame;
    kx305::BuildFrame(frame, 0, 0, command, payload.data(), static_cast<uint8_t>(payload.size()));
    uint8_t wire[kx305::kMaxWireFrame];
    const size_t n = kx305::EncodeFrame(frame, wire);
    ASSERT_EQ(write(fd, wire, n), static_cast<ssize_t>(n));
}

// Reads until a frame is complete or `timeoutMs` passes without bytes.
bool ReadFrame(int fd, kx305::Frame& frame, int timeoutMs = 3000) {
    kx305::FrameReader reader;
    while (true) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, timeoutMs) <= 0) return false;
        uint8_t byte = 0;
        if (read(fd, &byte, 1) != 1) return false;
        if (reader.Feed(byte)) {
            frame = reader.frame();
            return true;
        }
    }
}

TEST(SimProcess, AnswersGetInfoOnItsPtyAndRemovesTheLinkWhenStopped) {
    std::string error;
    auto sim = SimProcess::Start({"--firmware", "1.05", "--serial", "4321", "--firmware-date", "2004-05-17"}, &error);
    ASSERT_NE(sim, nullptr) << error;
    ASSERT_TRUE(LinkExists(sim->port()));

    const int fd = OpenRawPort(sim->port(), &error);
    ASSERT_GE(fd, 0) << error;
    WriteFrame(fd, 0);
    kx305::Frame reply;
    ASSERT_TRUE(ReadFrame(fd, reply)) << sim->Log();
    EXPECT_EQ(reply.command(), 0);
    ASSERT_EQ(reply.length(), 9);
    const uint8_t* p = reply.payload();
    EXPECT_EQ(p[1], 1);
    EXPECT_EQ(p[2], 5);
    EXPECT_EQ(p[3], 0x17);
    EXPECT_EQ(p[4], 0x05);
    EXPECT_EQ(p[5], 0x20);
    EXPECT_EQ(p[6], 0x04);
    EXPECT_EQ(p[7] << 8 | p[8], 4321);
    close(fd);

    EXPECT_EQ(sim->Control("received").rfind("ok frames=1 ", 0), 0u);
    const std::string port = sim->port();
    EXPECT_EQ(sim->Stop(), 0);
    EXPECT_FALSE(LinkExists(port));
}

TEST(SimProcess, SurvivesTheHostClosingAndReopeningThePort) {
    std::string error;
    auto sim = SimProcess::Start({}, &error);
    ASSERT_NE(sim, nullptr) << error;
    for (int round = 0; round < 3; ++round) {
        const int fd = OpenRawPort(sim->port(), &error);
        ASSERT_GE(fd, 0) << error;
        WriteFrame(fd, 3);
        kx305::Frame reply;
        ASSERT_TRUE(ReadFrame(fd, reply)) << "round " << round << ": " << sim->Log();
        EXPECT_EQ(reply.command(), 3);
        EXPECT_EQ(reply.length(), 6);
        close(fd);
    }
    EXPECT_EQ(sim->Control("received").rfind("ok frames=3 ", 0), 0u);
}

TEST(SimProcess, ComesBackOnANewPtyAfterVanishing) {
    std::string error;
    auto sim = SimProcess::Start({}, &error);
    ASSERT_NE(sim, nullptr) << error;
    ASSERT_EQ(sim->Control("vanish 0.5").rfind("ok", 0), 0u);
    EXPECT_FALSE(LinkExists(sim->port()));
    EXPECT_NE(sim->Control("state").find("port=vanished"), std::string::npos);
    ASSERT_TRUE(sim->WaitForPort(5000));
    const int fd = OpenRawPort(sim->port(), &error);
    ASSERT_GE(fd, 0) << error;
    WriteFrame(fd, 0);
    kx305::Frame reply;
    EXPECT_TRUE(ReadFrame(fd, reply)) << sim->Log();
    close(fd);
}

TEST(SimProcess, BadSettingsEndTheProgramWithAMessage) {
    std::string error;
    auto sim = SimProcess::Start({"--firmware", "one"}, &error);
    EXPECT_EQ(sim, nullptr);
    EXPECT_NE(error.find("--firmware"), std::string::npos) << error;
    EXPECT_NE(error.find("status 2"), std::string::npos) << error;
}

}  // namespace
}  // namespace kx305sim
