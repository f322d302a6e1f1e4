// The real kx305sim program through the harness: it comes up behind its
// link, answers a request written to the pty, and goes away cleanly.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <termios.h>
#include <unistd.h>

#include <cstring>
#include <random>
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

// Reads until a frame is complete (with `command` when given) or
// `timeoutMs` passes without bytes.
bool ReadFrame(int fd, kx305::Frame& frame, int timeoutMs = 3000, int command = -1) {
    kx305::FrameReader reader;
    while (true) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, timeoutMs) <= 0) return false;
        uint8_t byte = 0;
        if (read(fd, &byte, 1) != 1) return false;
        if (reader.Feed(byte) && (command < 0 || reader.frame().command() == command)) {
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

TEST(SimProcess, BadSettingsOfEveryKindAreRefused) {
    const std::vector<std::vector<std::string>> bad = {
        {"--input", "5=kx124"},
        {"--input", "1=kx124,t=hot"},
        {"--input", "2=kx999"},
        {"--prefill", "20", "--capacity", "10"},
        {"--capacity", "0"},
        {"--firmware", "1.01", "--period", "90"},
        {"--period", "70000"},
        {"--clock", "13-01 00:00:00"},
        {"--firmware-date", "2009-02-30"},
        {"--serial", "65536"},
        {"--fault", "drop 7"},
        {"--rain-rate", "-1"},
        {"--no-such-option"},
    };
    for (const auto& args : bad) {
        std::string error;
        auto sim = SimProcess::Start(args, &error);
        EXPECT_EQ(sim, nullptr) << args[0];
        EXPECT_EQ(error.find("status 0"), std::string::npos) << args[0] << ": " << error;
        EXPECT_NE(error.find(args[0].substr(2)), std::string::npos) << args[0] << ": " << error;
    }
}

// Random bytes, half frames, frames with wrong sums: afterwards it still
// answers, still serves its control channel and stops cleanly.
TEST(SimProcess, GarbageFromTheHostDoesNotStopIt) {
    std::string error;
    auto sim = SimProcess::Start({}, &error);
    ASSERT_NE(sim, nullptr) << error;
    const int fd = OpenRawPort(sim->port(), &error);
    ASSERT_GE(fd, 0) << error;
    std::mt19937 random(99);
    std::vector<uint8_t> garbage(64 * 1024);
    for (uint8_t& b : garbage) b = static_cast<uint8_t>(random());
    for (size_t at = 0; at < garbage.size(); at += 512) {
        ASSERT_EQ(write(fd, garbage.data() + at, 512), 512);
        tcflush(fd, TCIFLUSH);  // replies to frames the noise happened to make
    }
    WriteFrame(fd, 0);
    kx305::Frame reply;
    ASSERT_TRUE(ReadFrame(fd, reply, 3000, 0)) << sim->Log();
    EXPECT_EQ(reply.length(), 9);
    close(fd);
    EXPECT_EQ(sim->Control("state").rfind("ok firmware=1.13 ", 0), 0u);
    EXPECT_EQ(sim->Stop(), 0) << sim->Log();
}

// A raw control connection, for talking over one connection.
int ConnectControl(const std::string& path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    if (fd >= 0 && connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

std::string ReadLines(int fd, int lines) {
    std::string text;
    while (std::count(text.begin(), text.end(), '\n') < lines) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 3000) <= 0) break;
        char buffer[512];
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n <= 0) break;
        text.append(buffer, static_cast<size_t>(n));
    }
    return text;
}

TEST(SimProcess, ControlClientsInSequenceAndSideBySide) {
    std::string error;
    auto sim = SimProcess::Start({"--no-drift"}, &error);
    ASSERT_NE(sim, nullptr) << error;
    for (int i = 1; i <= 20; ++i) EXPECT_EQ(sim->Control("rain 1"), "ok count=" + std::to_string(i));

    const int a = ConnectControl(sim->controlPath());
    const int b = ConnectControl(sim->controlPath());
    ASSERT_GE(a, 0);
    ASSERT_GE(b, 0);
    const std::string two = "set 0 count=0\nrain 2\n";
    ASSERT_EQ(write(b, two.data(), two.size()), static_cast<ssize_t>(two.size()));
    // Half a line on one connection does not hold up the other.
    ASSERT_EQ(write(a, "firm", 4), 4);
    EXPECT_EQ(ReadLines(b, 2), "ok rain,count=0,rate=0\nok count=2\n");
    ASSERT_EQ(write(a, "ware\n", 5), 5);
    EXPECT_EQ(ReadLines(a, 1), "ok firmware=1.13\n");
    close(a);
    close(b);
    EXPECT_EQ(sim->Control("input 1"), "ok kx124,serial=1103,t=21.0,h=45.0,cal-err=0,t-err=0,h-err=0");
}

// --tty: it serves on a terminal it is given; here one end of a pty pair
// whose other end plays the host.
TEST(SimProcess, ServesOnAGivenTty) {
    const int host = posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(host, 0);
    ASSERT_EQ(grantpt(host), 0);
    ASSERT_EQ(unlockpt(host), 0);
    termios t{};
    ASSERT_EQ(tcgetattr(host, &t), 0);
    cfmakeraw(&t);
    ASSERT_EQ(tcsetattr(host, TCSANOW, &t), 0);
    char name[128];
    ASSERT_EQ(ptsname_r(host, name, sizeof name), 0);

    std::string error;
    auto sim = SimProcess::Start({"--tty", name, "--serial", "77"}, &error);
    ASSERT_NE(sim, nullptr) << error;
    EXPECT_EQ(sim->port(), name);
    WriteFrame(host, 0);
    kx305::Frame reply;
    ASSERT_TRUE(ReadFrame(host, reply)) << sim->Log();
    EXPECT_EQ(reply.payload()[8], 77);
    EXPECT_EQ(sim->Stop(), 0);
    close(host);
}

}  // namespace
}  // namespace kx305sim
