// The POSIX serial backend on a pseudo-terminal.
#include "serial_port.h"

#include <termios.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <future>
#include <thread>

#include "done_wait.h"
#include "fake_converter.h"

namespace kx305 {
namespace {

using namespace std::chrono_literals;
using testing::Bytes;
using testing::FakeConverter;
using testing::WaitUntil;
constexpr PortResult kOk = PortResult::Ok;

TEST(SerialPortPosix, ConfiguresRaw9600EightNoneOneWithoutFlowControl) {
    FakeConverter device;
    SerialPort port;
    ASSERT_EQ(port.Open(device.path().c_str(), 9600), kOk);
    EXPECT_TRUE(port.IsOpen());
    termios tio{};
    ASSERT_EQ(tcgetattr(device.master(), &tio), 0);  // the pair shares its settings
    EXPECT_EQ(cfgetispeed(&tio), B9600);
    EXPECT_EQ(cfgetospeed(&tio), B9600);
    EXPECT_EQ(tio.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(tio.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
    EXPECT_EQ(tio.c_cflag & (CLOCAL | CREAD), static_cast<tcflag_t>(CLOCAL | CREAD));
    EXPECT_EQ(tio.c_iflag & (IXON | IXOFF | ICRNL | ISTRIP), 0u);
    EXPECT_EQ(tio.c_lflag & (ICANON | ECHO | ISIG), 0u);
    EXPECT_EQ(tio.c_oflag & OPOST, 0u);
}

TEST(SerialPortPosix, OpenIsExclusiveUntilClosed) {
    FakeConverter device;
    SerialPort first;
    SerialPort second;
    ASSERT_EQ(first.Open(device.path().c_str(), 9600), kOk);
    EXPECT_EQ(second.Open(device.path().c_str(), 9600), PortResult::InUse);
    first.Close();
    first.Close();  // closing twice is harmless
    EXPECT_FALSE(first.IsOpen());
    EXPECT_EQ(second.Open(device.path().c_str(), 9600), kOk);
}

TEST(SerialPortPosix, OpenSaysWhyItFailed) {
    SerialPort port;
    EXPECT_EQ(port.Open("/dev/kx305-no-such-port", 9600), PortResult::NoSuchPort);
    EXPECT_EQ(port.Open("/dev/null", 9600), PortResult::NotSerial);
    FakeConverter device;
    EXPECT_EQ(port.Open(device.path().c_str(), 12345), PortResult::NotSerial) << "no such baud rate";
}

TEST(SerialPortPosix, BytesPassBothWaysAndLongWritesWaitForTheLine) {
    FakeConverter device;
    SerialPort port;
    ASSERT_EQ(port.Open(device.path().c_str(), 9600), kOk);

    device.Write({1, 2, 3, 0x7E, 0xFF});
    uint8_t in[5] = {};
    ASSERT_EQ(port.Read(in, 2), kOk);
    ASSERT_EQ(port.Read(in + 2, 3), kOk);
    EXPECT_EQ(Bytes(in, in + 5), (Bytes{1, 2, 3, 0x7E, 0xFF}));

    // Far more than the terminal buffers: the write blocks until the other
    // side has read it all.
    Bytes out(256 * 1024);
    for (size_t i = 0; i < out.size(); ++i) out[i] = static_cast<uint8_t>(i * 7);
    auto writing = std::async(std::launch::async, [&] { return port.Write(out.data(), out.size()); });
    Bytes received;
    while (received.size() < out.size()) {
        uint8_t chunk[4096];
        const ssize_t n = read(device.master(), chunk, sizeof chunk);
        ASSERT_GT(n, 0);
        received.insert(received.end(), chunk, chunk + n);
    }
    EXPECT_EQ(writing.get(), kOk);
    EXPECT_EQ(received, out);
}

TEST(SerialPortPosix, CloseWakesABlockedRead) {
    FakeConverter device;
    SerialPort port;
    ASSERT_EQ(port.Open(device.path().c_str(), 9600), kOk);
    auto reading = std::async(std::launch::async, [&] {
        uint8_t b = 0;
        return port.Read(&b, 1);
    });
    ASSERT_TRUE(WaitUntil([&] { return port.CallsInside() == 1; }));
    EXPECT_EQ(reading.wait_for(20ms), std::future_status::timeout) << "a read waits for its byte";
    port.Close();
    ASSERT_EQ(reading.wait_for(20s), std::future_status::ready);
    EXPECT_EQ(reading.get(), PortResult::Closed);
    uint8_t b = 0;
    EXPECT_EQ(port.Read(&b, 1), PortResult::Closed);
    EXPECT_EQ(port.Write(&b, 1), PortResult::Closed);
    EXPECT_TRUE(device.SlaveClosed());
}

TEST(SerialPortPosix, HangUpFailsTheReadInsteadOfSpinning) {
    FakeConverter device;
    SerialPort port;
    ASSERT_EQ(port.Open(device.path().c_str(), 9600), kOk);
    device.Write({0x42});
    auto reading = std::async(std::launch::async, [&] {
        uint8_t b[2] = {};
        return port.Read(b, 2);
    });
    ASSERT_TRUE(WaitUntil([&] { return port.CallsInside() == 1; }));
    device.HangUp();
    ASSERT_EQ(reading.wait_for(20s), std::future_status::ready);
    EXPECT_EQ(reading.get(), PortResult::LineEnded);
    uint8_t b = 0;
    EXPECT_EQ(port.Read(&b, 1), PortResult::LineEnded) << "the line stays failed";
    EXPECT_EQ(port.Write(&b, 1), PortResult::LineEnded);
}

}  // namespace
}  // namespace kx305
