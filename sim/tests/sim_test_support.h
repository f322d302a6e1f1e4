// Test doubles for driving the converter core without a pty: a clock the
// test steps by hand, a sink that collects the sent bytes, and helpers that
// speak the host's side of the frames.
#pragma once

#include <cstdint>
#include <vector>

#include "converter.h"
#include "frame.h"
#include "time_source.h"
#include "transmitter.h"

namespace kx305sim {

class FakeTime final : public TimeSource {
public:
    int64_t MonotonicUs() const override { return monotonicUs; }
    int64_t UtcMs() const override { return utcMs; }
    void Advance(int64_t ms) {
        monotonicUs += ms * 1000;
        utcMs += ms;
    }

    int64_t monotonicUs = 1000000;
    int64_t utcMs = 1718452800000;  // 2024-06-15 12:00:00 UTC
};

// Takes at most `limit` bytes per write when limit is set (a full pty).
class BufferSink final : public ByteSink {
public:
    size_t Write(const uint8_t* data, size_t length) override {
        const size_t n = limit < length ? limit : length;
        bytes.insert(bytes.end(), data, data + n);
        return n;
    }

    std::vector<uint8_t> bytes;
    size_t limit = SIZE_MAX;
};

// The wire form of a request.
inline std::vector<uint8_t> Request(uint8_t command, const std::vector<uint8_t>& payload = {}, uint8_t address = 0) {
    kx305::Frame frame;
    kx305::BuildFrame(frame, address, 0, command, payload.data(), static_cast<uint8_t>(payload.size()));
    std::vector<uint8_t> wire(kx305::kMaxWireFrame);
    wire.resize(kx305::EncodeFrame(frame, wire.data()));
    return wire;
}

// Every valid frame in `bytes`, as the host's reader would accept them.
inline std::vector<kx305::Frame> Frames(const std::vector<uint8_t>& bytes) {
    kx305::FrameReader reader;
    std::vector<kx305::Frame> frames;
    for (uint8_t b : bytes)
        if (reader.Feed(b)) frames.push_back(reader.frame());
    return frames;
}

inline std::vector<uint8_t> Payload(const kx305::Frame& frame) {
    return std::vector<uint8_t>(frame.payload(), frame.payload() + frame.length());
}

// A converter with its clock and sink, ready for requests.
struct Bench {
    explicit Bench(ConverterSettings s = Settings()) : settings(s), converter(settings, time, sink) {}

    static ConverterSettings Settings() {
        ConverterSettings s;
        DefaultInputs(s.inputs);
        s.drift = false;
        return s;
    }

    // Sends a request and returns the valid frames that came back.
    std::vector<kx305::Frame> Ask(uint8_t command, const std::vector<uint8_t>& payload = {}) {
        sink.bytes.clear();
        const std::vector<uint8_t> wire = Request(command, payload);
        converter.Receive(wire.data(), wire.size());
        converter.Tick();
        return Frames(sink.bytes);
    }

    ConverterSettings settings;
    FakeTime time;
    BufferSink sink;
    Converter converter;
};

}  // namespace kx305sim
