// The records of the benchmarks' registration files: one station as it is
// usually equipped, one record a minute.
#pragma once

#include <cstdint>

#include "instruments/catalogue.h"
#include "recording/registration_file.h"

namespace kx305bench {

// A station as it is usually equipped: the rain gauge, a KX-124, a KX-125
// with all eight channels, a KX-129 and a KX-153 (21 quantity lines).
inline LogRecord StationRecord(uint32_t k) {
    LogRecord record{};
    const uint32_t minutes = k;  // one record a minute
    record.year = 2007;
    record.month = static_cast<uint8_t>(1 + minutes / (60 * 24 * 28) % 12);
    record.day = static_cast<uint8_t>(1 + minutes / (60 * 24) % 28);
    record.hour = static_cast<uint8_t>(minutes / 60 % 24);
    record.minute = static_cast<uint8_t>(minutes % 60);
    record.second = 0;
    const int32_t wave = static_cast<int32_t>(k % 200) - 100;

    record.results[0].type = kx305mon::kTypeRainGauge;
    record.results[0].data[0] = static_cast<int32_t>(k / 37);

    InputReading& kx124 = record.results[1];
    kx124.type = kx305mon::kTypeKX124;
    kx124.data[3] = 5678;
    kx124.data[4] = 450 + wave;
    kx124.data[5] = 215 + wave / 2;

    InputReading& kx125 = record.results[2];
    kx125.type = kx305mon::kTypeKX125;
    kx125.data[2] = 2;  // two decimals
    kx125.data[3] = 900;
    for (int channel = 0; channel < 8; ++channel) {
        kx125.data[6 + channel] = 1;
        kx125.data[14 + channel] = 2150 + channel * 13 + wave;
    }

    InputReading& kx129 = record.results[3];
    kx129.type = kx305mon::kTypeKX129;
    kx129.data[4] = 4321;
    kx129.data[5] = 10132 + wave;
    kx129.data[6] = 612 - wave;
    kx129.data[7] = 187 + wave;

    InputReading& kx153 = record.results[4];
    kx153.type = kx305mon::kTypeKX153;
    kx153.data[3] = 777;
    kx153.data[4] = static_cast<int32_t>(k * 7 % 360);
    kx153.data[5] = 35 + wave / 10;
    return record;
}

}  // namespace kx305bench
