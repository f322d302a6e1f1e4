// The Win32 SerialPort under Wine, on the pseudo-terminals of simulated
// converters: the byte path, the refusals, and how a read that waits
// forever is ended.
#include <windows.h>

#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "../done_wait.h"
#include "frame.h"
#include "protocol.h"
#include "serial_port.h"
#include "test_support.h"

namespace kx305::wintest {
namespace {

constexpr DWORD kErrorHandlesClosed = 676;  // ERROR_HANDLES_CLOSED, missing from mingw-w64's headers

TEST(Win32SerialPort, CarriesARequestAndItsReply) {
    SerialPort port;
    ASSERT_EQ(port.Open(SimPort("KX305_PORT_FW104").c_str(), kBaudRate), PortResult::Ok);
    Frame request;
    BuildFrame(request, 0, 0, CMD_GET_INFO, nullptr, 0);
    uint8_t wire[kMaxWireFrame];
    const size_t size = EncodeFrame(request, wire);
    ASSERT_EQ(port.Write(wire, size), PortResult::Ok);

    // Whole bytes in arbitrary pieces until a frame completes: the reply.
    FrameReader reader;
    bool complete = false;
    for (int i = 0; i < 64 && !complete; ++i) {
        uint8_t piece[1];
        ASSERT_EQ(port.Read(piece, 1), PortResult::Ok);
        complete = reader.Feed(piece[0]);
    }
    ASSERT_TRUE(complete);
    EXPECT_EQ(reader.frame().command(), CMD_GET_INFO);
    ASSERT_GE(reader.frame().length(), 9);
    EXPECT_EQ(reader.frame().payload()[1], 1);  // firmware 1.04
    EXPECT_EQ(reader.frame().payload()[2], 4);
    port.Close();
    EXPECT_FALSE(port.IsOpen());
}

TEST(Win32SerialPort, OpenSaysWhetherThePortIsMissingOrHeld) {
    SerialPort missing;
    EXPECT_EQ(missing.Open(SimPort("KX305_PORT_MISSING").c_str(), kBaudRate), PortResult::NoSuchPort);
    EXPECT_FALSE(missing.IsOpen());  // nothing was opened, the events are released by Close
    missing.Close();

    const std::string path = SimPort("KX305_PORT_FW104");
    SerialPort first, second;
    ASSERT_EQ(first.Open(path.c_str(), kBaudRate), PortResult::Ok);
    EXPECT_EQ(second.Open(path.c_str(), kBaudRate), PortResult::InUse);
    second.Close();
    first.Close();
    SerialPort again;
    EXPECT_EQ(again.Open(path.c_str(), kBaudRate), PortResult::Ok);
}

// The reader thread's situation at KX305Close: a one-byte read pending on a
// port that sends nothing.  Close on another thread must end it, with the
// code that ends the reader loop, and must return.
TEST(Win32SerialPort, CloseEndsAPendingReadOnAnotherThread) {
    SerialPort port;
    ASSERT_EQ(port.Open(SimPort("KX305_PORT_SILENT").c_str(), kBaudRate), PortResult::Ok);
    PortResult readResult = PortResult::Ok;
    std::thread reader([&] {
        uint8_t byte = 0;
        readResult = port.Read(&byte, 1);
    });
    ASSERT_TRUE(testing::WaitUntil([&] { return port.CallsInside() == 1; }));
    ExpectReturnsWithin(30, "SerialPort::Close", [&] { port.Close(); });
    ExpectReturnsWithin(30, "the pending read", [&] { reader.join(); });
    EXPECT_EQ(readResult, PortResult::Closed);

    // A read after Close fails at once, without touching released handles.
    uint8_t byte = 0;
    EXPECT_EQ(port.Read(&byte, 1), PortResult::Closed);
    EXPECT_EQ(port.Write(&byte, 1), PortResult::Closed);
}

// What the library guards against when it cancels before closing: closing
// the handle under a pending overlapped read completes the read with
// ERROR_HANDLES_CLOSED on Wine (ERROR_OPERATION_ABORTED on Windows).  The
// reader loop ends on either, as on any failed read.
TEST(Win32SerialPort, ClosingTheHandleUnderAPendingReadCompletesIt) {
    HANDLE port = CreateFileA(SimPort("KX305_PORT_SILENT").c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                              OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    ASSERT_NE(port, INVALID_HANDLE_VALUE);
    COMMTIMEOUTS timeouts{};
    ASSERT_TRUE(SetCommTimeouts(port, &timeouts));
    HANDLE event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    OVERLAPPED overlapped{};
    overlapped.hEvent = event;
    uint8_t byte = 0;
    ASSERT_FALSE(ReadFile(port, &byte, 1, nullptr, &overlapped));
    ASSERT_EQ(GetLastError(), static_cast<DWORD>(ERROR_IO_PENDING));

    CloseHandle(port);
    ASSERT_EQ(WaitForSingleObject(event, 30000), WAIT_OBJECT_0);
    DWORD transferred = 0;
    EXPECT_FALSE(GetOverlappedResult(port, &overlapped, &transferred, FALSE));
    const DWORD error = GetLastError();
    EXPECT_TRUE(error == kErrorHandlesClosed || error == ERROR_OPERATION_ABORTED) << error;
    CloseHandle(event);
}

}  // namespace
}  // namespace kx305::wintest
