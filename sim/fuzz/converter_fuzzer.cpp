// Arbitrary bytes from the host into the converter, or arbitrary lines into
// its control channel (first byte odd).  The converter must survive both;
// with no faults switched on, everything it sends must be whole, valid
// frames, and every control reply is "ok ..." or "error ...".
#include <cstddef>
#include <cstdint>
#include <string>

#include "../tests/sim_test_support.h"
#include "control.h"

namespace {

using namespace kx305sim;

void Check(bool condition) {
    if (!condition) __builtin_trap();
}

void HostBytes(const uint8_t* data, size_t size) {
    Bench b;
    // Feed in pieces of varying size, with time passing between them.
    size_t at = 0;
    while (at < size) {
        const size_t n = 1 + data[at] % 64;
        const size_t take = n < size - at ? n : size - at;
        b.converter.Receive(data + at, take);
        b.time.Advance(data[at] * 100);
        b.converter.Tick();
        at += take;
    }
    kx305::FrameReader reader;
    size_t lastStart = 0;
    size_t whole = 0;
    for (size_t i = 0; i < b.sink.bytes.size(); ++i) {
        if (b.sink.bytes[i] == kx305::kFrameStart) lastStart = i;
        if (reader.Feed(b.sink.bytes[i])) whole += i + 1 - lastStart;
    }
    Check(whole == b.sink.bytes.size());
}

void ControlLines(const uint8_t* data, size_t size) {
    Bench b;
    ControlChannel control(b.converter);
    std::string line;
    for (size_t i = 0; i < size; ++i) {
        if (data[i] != '\n') {
            line += static_cast<char>(data[i]);
            continue;
        }
        const std::string reply = control.Handle(line);
        Check(reply.rfind("ok", 0) == 0 || reply.rfind("error ", 0) == 0);
        Check(reply.find('\n') == std::string::npos);
        line.clear();
        b.converter.Tick();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    if (data[0] & 1)
        ControlLines(data + 1, size - 1);
    else
        HostBytes(data + 1, size - 1);
    return 0;
}
