// Driver figures: results-block decoding rate, a 4000-record log download
// over an unpaced pseudo-terminal against the 9600-baud line rate, and the
// time from a reply's last byte on the line to KX305DoneWait returning.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "fake_converter.h"
#include "kx305.h"
#include "protocol.h"
#include "results_block.h"

namespace {

using kx305::Frame;
using kx305::testing::Bytes;
using kx305::testing::FakeConverter;
using Clock = std::chrono::steady_clock;

constexpr double kLineBytesPerSecond = 960.0;  // 9600 baud, 10 bits a byte

// A busy converter: rain gauge, KX-124, KX-129, KX-125 with 8 channels, KX-132.
Bytes TypicalBlock() {
    const std::string kx124 = std::string(1, '\x30') + "1234" + "456" + "-012";
    const std::string kx129 = std::string(1, '\x3D') + "9900" + "045" + "-020" + "01013";
    std::string kx125 = std::string(1, '\x36') + "0001" + "-00150";
    for (int c = 0; c < 8; ++c) kx125 += "+00123";
    const std::string kx132 = std::string(1, '\x35') + "1234" + "09876";
    Bytes block{0, 4, static_cast<uint8_t>(kx124.size()), static_cast<uint8_t>(kx129.size()),
                static_cast<uint8_t>(kx125.size()), static_cast<uint8_t>(kx132.size()), 0x10, 0x27, 0, 0};
    for (const std::string& s : {kx124, kx129, kx125, kx132}) block.insert(block.end(), s.begin(), s.end());
    return block;
}

void DecodeRate() {
    const Bytes block = TypicalBlock();
    InputReading results[KX305_INPUTS];
    constexpr int kBlocks = 2'000'000;
    uint64_t check = 0;
    const auto start = Clock::now();
    for (int i = 0; i < kBlocks; ++i) {
        kx305::DecodeResultsBlock(block.data(), block.size(), 0x010D, results);
        check += results[3].data[14];
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    std::printf("results block decode (%zu bytes, 5 inputs): %.0f blocks/s (check %llu)\n", block.size(),
                kBlocks / seconds, static_cast<unsigned long long>(check % 10));
}

bool OpenAndIdentify(FakeConverter& device, KX305Handle& handle) {
    if (KX305Open(&handle, device.path().c_str()) != KX305_STATUS_OK) return false;
    ConverterInfo info{};
    KX305GetInfo(&handle, &info);
    Frame request;
    if (!device.ReadRequest(request)) return false;
    device.Reply(kx305::CMD_GET_INFO, kx305::testing::InfoPayload(1, 13));
    uint32_t percent = 0;
    return KX305DoneWait(&handle, &percent) == KX305_STATUS_OK;
}

void DownloadRate() {
    constexpr unsigned kRecords = 4000;
    FakeConverter device;
    KX305Handle handle = nullptr;
    if (!OpenAndIdentify(device, handle)) {
        std::printf("download: the converter did not answer\n");
        return;
    }
    const Bytes record = kx305::testing::RecordPayload(6, 15, 12, 30, 0, TypicalBlock());
    const Bytes recordWire = kx305::testing::WireFrame(kx305::CMD_GET_LOG, record);
    Bytes stream = kx305::testing::WireFrame(kx305::CMD_GET_LOG, {kRecords >> 8, kRecords & 0xFF, 0x10, 0x00});
    for (unsigned k = 0; k < kRecords; ++k) stream.insert(stream.end(), recordWire.begin(), recordWire.end());

    LogBuffer log{};
    const auto start = Clock::now();
    KX305GetLog(&handle, &log);
    std::thread converter([&] {
        Frame request;
        if (device.ReadRequest(request)) device.Write(stream);
    });
    uint32_t percent = 0;
    KX305Status status;
    while ((status = KX305DoneWait(&handle, &percent)) == KX305_STATUS_PROGRESS) {
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    converter.join();
    if (status != KX305_STATUS_OK || log.count != kRecords) {
        std::printf("download: ended with status %d and %u records\n", status, unsigned{log.count});
    } else {
        const double recordsPerSecond = kRecords / seconds;
        const double lineRecordsPerSecond = kLineBytesPerSecond / recordWire.size();
        std::printf("log download of %u records (%zu bytes each on the wire): %.3f s, %.0f records/s, "
                    "%.0f times the 9600-baud line rate (%.1f records/s)\n",
                    kRecords, recordWire.size(), seconds, recordsPerSecond, recordsPerSecond / lineRecordsPerSecond,
                    lineRecordsPerSecond);
    }
    KX305Close(&handle);
}

void CompletionLatency() {
    constexpr int kRequests = 400;
    FakeConverter device;
    KX305Handle handle = nullptr;
    if (!OpenAndIdentify(device, handle)) {
        std::printf("latency: the converter did not answer\n");
        return;
    }
    const Bytes reply = kx305::testing::WireFrame(kx305::CMD_GET_TIME, {0, 0x30, 0x15, 0x12, 0x24, 0x06});
    const Bytes head(reply.begin(), reply.end() - 1);
    const Bytes last(reply.end() - 1, reply.end());
    std::vector<double> micros;
    for (int i = 0; i < kRequests; ++i) {
        ClockRecord clock{};
        KX305GetTime(&handle, &clock);
        std::atomic<Clock::time_point> lastByte{};
        std::thread converter([&] {
            Frame request;
            if (!device.ReadRequest(request)) return;
            device.Write(head);
            std::this_thread::sleep_for(std::chrono::microseconds(200));  // the head is read and waiting
            lastByte = Clock::now();
            device.Write(last);
        });
        uint32_t percent = 0;
        const KX305Status status = KX305DoneWait(&handle, &percent);
        const auto done = Clock::now();
        converter.join();
        if (status != KX305_STATUS_OK) {
            std::printf("latency: request %d ended with %d\n", i, status);
            break;
        }
        micros.push_back(std::chrono::duration<double, std::micro>(done - lastByte.load()).count());
    }
    KX305Close(&handle);
    if (micros.empty()) return;
    std::sort(micros.begin(), micros.end());
    std::printf("last reply byte to KX305DoneWait returning, %zu requests: median %.0f us, 99th percentile %.0f us, "
                "max %.0f us\n",
                micros.size(), micros[micros.size() / 2], micros[micros.size() * 99 / 100], micros.back());
}

}  // namespace

int main() {
    DecodeRate();
    DownloadRate();
    CompletionLatency();
    return 0;
}
