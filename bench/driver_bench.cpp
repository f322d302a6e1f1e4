// Driver figures: results-block decoding rate, a 4000-record log download
// over an unpaced pseudo-terminal against the 9600-baud line rate, the time
// from a reply's last byte on the line to KX305DoneWait returning, and how
// often a 200-record download completes when a tenth of the frames is lost.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "fake_converter.h"
#include "frame_link.h"
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
    Bytes block{0,
                4,
                static_cast<uint8_t>(kx124.size()),
                static_cast<uint8_t>(kx129.size()),
                static_cast<uint8_t>(kx125.size()),
                static_cast<uint8_t>(kx132.size()),
                0x10,
                0x27,
                0,
                0};
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
        std::printf(
            "log download of %u records (%zu bytes each on the wire): %.3f s, %.0f records/s, "
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
    std::printf(
        "last reply byte to KX305DoneWait returning, %zu requests: median %.0f us, 99th percentile %.0f us, "
        "max %.0f us\n",
        micros.size(), micros[micros.size() / 2], micros[micros.size() * 99 / 100], micros.back());
}

// A 200-record PeekLog over a line that loses each frame (the count frame
// too) with probability `loss`.  The line is unpaced and the tries are
// shortened to kTryMs; the time a converter on a real 9600-baud line would
// take is worked out from the bytes of every try sent (lost frames use the
// line as well) and 2500 ms for every try that timed out.
void LossyDownload(double loss) {
    constexpr unsigned kRecords = 200;
    constexpr int kRuns = 40;
    constexpr uint32_t kTryMs = 150;
    FakeConverter device;
    KX305Handle handle = nullptr;
    if (!OpenAndIdentify(device, handle)) {
        std::printf("lossy download: the converter did not answer\n");
        return;
    }
    std::vector<Bytes> frames;
    frames.push_back(kx305::testing::WireFrame(kx305::CMD_PEEK_LOG, {0, kRecords, 0x10, 0x00}));
    for (unsigned k = 0; k < kRecords; ++k) {
        // One record a minute from 06-15 09:00, as the converter stores them.
        const unsigned minute = 9 * 60 + k;
        const Bytes record = kx305::testing::RecordPayload(6, 15, static_cast<uint8_t>(minute / 60),
                                                           static_cast<uint8_t>(minute % 60), 0, TypicalBlock());
        frames.push_back(kx305::testing::WireFrame(kx305::CMD_PEEK_LOG, record));
    }
    size_t bytesPerTry = 0;
    for (const Bytes& f : frames) bytesPerTry += f.size();

    const kx305::RequestTiming saved = kx305::CurrentRequestTiming();
    kx305::SetRequestTiming({kTryMs, kx305::kRequestTries});
    std::mt19937 random(305);
    std::bernoulli_distribution lost(loss);
    int completed = 0;       // every record, once, in order
    int wrong = 0;           // ended with 0 but with records missing, doubled or out of order
    double lineSeconds = 0;  // over the completed runs
    int triesOfCompleted = 0;
    for (int run = 0; run < kRuns; ++run) {
        LogBuffer log{};
        KX305PeekLog(&handle, &log);
        std::atomic<bool> stop{false};
        std::atomic<int> tries{0};
        std::thread converter([&] {
            while (!stop.load()) {
                Frame request;
                if (!device.ReadRequest(request, 20)) continue;
                ++tries;
                Bytes stream;
                for (const Bytes& f : frames)
                    if (!lost(random)) stream.insert(stream.end(), f.begin(), f.end());
                device.Write(stream);
            }
        });
        uint32_t percent = 0;
        KX305Status status;
        int failedTries = 0;
        while ((status = KX305DoneWait(&handle, &percent)) == KX305_STATUS_PROGRESS || status == KX305_STATUS_BUSY)
            if (status == KX305_STATUS_BUSY) ++failedTries;
        stop.store(true);
        converter.join();
        bool inOrder = status == KX305_STATUS_OK && log.count == kRecords;
        for (unsigned k = 0; inOrder && k < kRecords; ++k)
            inOrder = log.records[k].hour * 60 + log.records[k].minute == static_cast<int>(9 * 60 + k);
        if (status == KX305_STATUS_OK && !inOrder) ++wrong;
        if (inOrder) {
            ++completed;
            triesOfCompleted += tries.load();
            lineSeconds += tries.load() * (bytesPerTry / kLineBytesPerSecond) + failedTries * 2.5;
        }
        KX305FreeLog(&handle, &log);
    }
    kx305::SetRequestTiming(saved);
    KX305Close(&handle);
    std::printf("PeekLog of %u records, %.0f %% of frames lost, %d runs: %d completed, %d wrong", kRecords, loss * 100,
                kRuns, completed, wrong);
    if (completed > 0)
        std::printf(", in %.1f tries and %.1f s on a 9600-baud line on average\n",
                    static_cast<double>(triesOfCompleted) / completed, lineSeconds / completed);
    else
        std::printf(" (a try alone takes %.1f s on a 9600-baud line)\n", bytesPerTry / kLineBytesPerSecond);
}

}  // namespace

int main() {
    DecodeRate();
    DownloadRate();
    CompletionLatency();
    LossyDownload(0.01);
    LossyDownload(0.10);
    return 0;
}
