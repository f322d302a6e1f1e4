// A scripted converter on a pseudo-terminal for the driver's tests.
//
// The driver opens the slave side by its path; the test thread holds the
// master side and plays the device: it reads the request frames the driver
// writes and answers them, late, wrongly or not at all.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "frame.h"

namespace kx305::testing {

using Bytes = std::vector<uint8_t>;

// The wire form of a frame (address 0 unless given).
Bytes WireFrame(uint8_t command, const Bytes& payload, uint8_t address = 0);

class FakeConverter {
public:
    FakeConverter();
    ~FakeConverter();
    FakeConverter(const FakeConverter&) = delete;
    FakeConverter& operator=(const FakeConverter&) = delete;

    // Path of the slave side, for KX305Open.
    const std::string& path() const { return path_; }

    // Waits up to `timeoutMs` for the next whole request frame.
    bool ReadRequest(Frame& request, int timeoutMs = 5000);

    // Writes raw bytes; with `oneByEach` every byte by its own write and a
    // short pause, so that the driver gets them in separate reads.
    void Write(const Bytes& bytes, bool oneByEach = false);
    void Reply(uint8_t command, const Bytes& payload) { Write(WireFrame(command, payload)); }

    // Closes the master side: the driver's side sees a hang-up.
    void HangUp();
    // True once no descriptor of the slave side is open any more.
    bool SlaveClosed() const;
    int master() const { return master_; }

private:
    int master_ = -1;
    std::string path_;
    FrameReader reader_;
};

// Payloads the converter sends.
Bytes InfoPayload(uint8_t major, uint8_t minor, uint16_t serial = 12345);
// A stored log record frame payload: 2 unused bytes, 6 BCD time bytes, results block.
Bytes RecordPayload(uint8_t month, uint8_t day, uint8_t hour, uint8_t minute, uint8_t second,
                    const Bytes& resultsBlock);

}  // namespace kx305::testing
