// Arbitrary line bytes through the frame reader; every frame it accepts goes
// through the results-block decoder with the old and the new layout.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <initializer_list>

#include "frame.h"
#include "results_block.h"

namespace {

void CheckReading(const InputReading& r) {
    if (r.type > 11) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    kx305::FrameReader reader;
    for (size_t i = 0; i < size; ++i) {
        if (!reader.Feed(data[i])) continue;
        const kx305::Frame& frame = reader.frame();
        // A copy of exactly the payload, so that any read past it is caught.
        auto* payload = new uint8_t[frame.length() + 1];
        std::memcpy(payload, frame.payload(), frame.length());
        for (uint16_t version : {uint16_t{0x0104}, uint16_t{0x0105}}) {
            InputReading results[KX305_INPUTS] = {};
            kx305::DecodeResultsBlock(payload, frame.length(), version, results);
            for (const auto& r : results) CheckReading(r);
        }
        delete[] payload;
    }
    return 0;
}
