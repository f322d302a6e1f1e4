// The serial link under one driver handle: exclusive open at 9600 8N1 with
// DTR and RTS held on and no flow control, blocking reads and writes with no
// time-out.  One thread reads while another writes; Close from a third
// thread ends a read that is blocked waiting for bytes.
//
// The frame code above it sees only ByteChannel, so tests and fuzzers can put
// any byte source and sink in its place.  SerialPort has one implementation
// file per platform (serial_port_posix.cpp, serial_port_win32.cpp).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace kx305 {

// The platform's serial time-out code: a read that completed with 0 bytes.
constexpr uint32_t kErrorCounterTimeout = 1121;

class ByteChannel {
public:
    virtual ~ByteChannel() = default;
    // Blocks until all `count` bytes are written; 0 or a system error code.
    virtual uint32_t Write(const uint8_t* data, size_t count) = 0;
    // Blocks until `count` bytes have arrived; 0 or a system error code.  A
    // closed channel makes a waiting read fail.
    virtual uint32_t Read(uint8_t* data, size_t count) = 0;
};

class SerialPort final : public ByteChannel {
public:
    SerialPort();
    ~SerialPort() override;  // releases whatever is still held
    SerialPort(const SerialPort&) = delete;
    SerialPort& operator=(const SerialPort&) = delete;

    // Opens `path` exclusively and configures the line.  0, or the system
    // error code of the first step that failed (what was made so far stays
    // held until Close or destruction).
    uint32_t Open(const char* path, uint32_t baudRate);
    // Releases the port and its events; wakes a read blocked on another
    // thread, which then fails.  Always 0; safe to call twice.
    uint32_t Close();
    bool IsOpen() const;

    uint32_t Write(const uint8_t* data, size_t count) override;
    uint32_t Read(uint8_t* data, size_t count) override;

    struct Impl;  // platform state

private:
    std::unique_ptr<Impl> impl_;
};

}  // namespace kx305
