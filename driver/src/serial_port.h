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

// What a port operation came to.  Each backend maps its system's error
// numbers onto these; nothing above the seam sees a platform's codes.
enum class PortResult : uint8_t {
    Ok = 0,
    NoSuchPort,  // open: the path names no device
    InUse,       // open: another program or handle holds the port
    NotSerial,   // open: not a serial device, or it refuses the line settings
    Closed,      // Close ended the call, or the port is not open
    LineEnded,   // the line gives nothing more: the other end hung up, or a read ended without a byte
    Failed,      // any other failure of the system
};

class ByteChannel {
public:
    virtual ~ByteChannel() = default;
    // Blocks until all `count` bytes are written.
    virtual PortResult Write(const uint8_t* data, size_t count) = 0;
    // Blocks until `count` bytes have arrived.  A closed channel makes a
    // waiting read fail.
    virtual PortResult Read(uint8_t* data, size_t count) = 0;
};

class SerialPort final : public ByteChannel {
public:
    SerialPort();
    ~SerialPort() override;  // releases whatever is still held
    SerialPort(const SerialPort&) = delete;
    SerialPort& operator=(const SerialPort&) = delete;

    // Opens `path` exclusively and configures the line.  Ok, or what the
    // first step that failed came to (what was made so far stays held until
    // Close or destruction).
    PortResult Open(const char* path, uint32_t baudRate);
    // Releases the port and its events; wakes a read blocked on another
    // thread, which then fails with Closed.  Safe to call twice.
    void Close();
    bool IsOpen() const;
    // Read and Write calls inside the port now (the ones Close has to end);
    // tests wait for it before they act on a blocked call.
    int CallsInside() const;

    PortResult Write(const uint8_t* data, size_t count) override;
    PortResult Read(uint8_t* data, size_t count) override;

    struct Impl;  // platform state

private:
    std::unique_ptr<Impl> impl_;
};

}  // namespace kx305
