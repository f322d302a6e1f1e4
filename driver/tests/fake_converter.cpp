#include "fake_converter.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <iterator>
#include <chrono>
#include <stdexcept>
#include <thread>

namespace kx305::testing {

Bytes WireFrame(uint8_t command, const Bytes& payload, uint8_t address) {
    Frame frame;
    BuildFrame(frame, address, 0, command, payload.data(), static_cast<uint8_t>(payload.size()));
    uint8_t wire[kMaxWireFrame];
    const size_t n = EncodeFrame(frame, wire);
    return Bytes(wire, wire + n);
}

FakeConverter::FakeConverter() {
    int slave = -1;
    termios raw{};
    cfmakeraw(&raw);
    char name[256] = {};
    if (openpty(&master_, &slave, name, &raw, nullptr) != 0) throw std::runtime_error("openpty failed");
    path_ = name;
    // The driver opens its own descriptor; keeping ours would hide a hang-up.
    close(slave);
    fcntl(master_, F_SETFD, FD_CLOEXEC);
}

FakeConverter::~FakeConverter() { HangUp(); }

void FakeConverter::HangUp() {
    if (master_ >= 0) close(master_);
    master_ = -1;
}

bool FakeConverter::ReadRequest(Frame& request, int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return false;
        pollfd p{master_, POLLIN, 0};
        const int ready = poll(&p, 1, static_cast<int>(left.count()));
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) return false;
        uint8_t byte = 0;
        const ssize_t n = read(master_, &byte, 1);
        if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        if (n <= 0) {
            // No slave open yet (EIO): wait for the driver.
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
            continue;
        }
        if (reader_.Feed(byte)) {
            request = reader_.frame();
            return true;
        }
    }
}

bool FakeConverter::SlaveClosed() const {
    pollfd p{master_, POLLIN, 0};
    return poll(&p, 1, 0) > 0 && (p.revents & POLLHUP) != 0;
}

void FakeConverter::Write(const Bytes& bytes, bool oneByEach) {
    size_t done = 0;
    while (done < bytes.size()) {
        const size_t chunk = oneByEach ? 1 : bytes.size() - done;
        const ssize_t n = write(master_, bytes.data() + done, chunk);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) throw std::runtime_error("write to pty master failed");
        done += static_cast<size_t>(n);
        if (oneByEach) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

Bytes InfoPayload(uint8_t major, uint8_t minor, uint16_t serial) {
    // Firmware date 07.03.2011.
    return {0,
            major,
            minor,
            0x07,
            0x03,
            0x20,
            0x11,
            static_cast<uint8_t>(serial >> 8),
            static_cast<uint8_t>(serial & 0xFF)};
}

Bytes RecordPayload(uint8_t month, uint8_t day, uint8_t hour, uint8_t minute, uint8_t second,
                    const Bytes& resultsBlock) {
    const uint8_t head[] = {0xAA, 0xBB, ToBcd(42), ToBcd(second), ToBcd(minute), ToBcd(hour), ToBcd(day), ToBcd(month)};
    Bytes p(sizeof head + resultsBlock.size());
    std::copy(std::begin(head), std::end(head), p.begin());
    std::copy(resultsBlock.begin(), resultsBlock.end(), p.begin() + sizeof head);
    return p;
}

}  // namespace kx305::testing
