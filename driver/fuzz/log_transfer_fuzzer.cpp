// Arbitrary frame sequences through the log-transfer reply handler: count
// frames and record frames of any length, duplicates, frames after the end,
// restarts (a new try) and releases (KX305FreeLog) in between, new
// transfers that keep records across their tries, and GetLogs that end
// short of their records.
//
// Input: a series of [control][length][length payload bytes].  Control % 8:
// 0 starts a try, 1 releases the buffers, 2 starts a new transfer (bit 3:
// a PeekLog, which keeps records across tries), 3 lets a try run out (an
// answered GetLog ends with what arrived), anything else delivers a frame
// (bit 3: CMD_PEEK_LOG instead of CMD_GET_LOG; bit 4: firmware 1.05
// instead of 1.04).
#include <cstddef>
#include <cstdint>

#include "log_transfer.h"
#include "protocol.h"

namespace {

struct CheckingSink final : kx305::StatusSink {
    const LogBuffer* out = nullptr;
    void Post(KX305Status status, uint32_t percent) override {
        // 8 carries the number of records lost, any other status a share.
        if (percent > 100 && status != KX305_STATUS_NO_RESOURCE) __builtin_trap();
        switch (status) {
        case KX305_STATUS_NO_RESOURCE:
            if (percent != KX305_LOG_LOST_UNKNOWN && percent > 0xFFFF) __builtin_trap();
            [[fallthrough]];
        case KX305_STATUS_OK: {
            // Every record handed out must be readable.
            unsigned sum = 0;
            for (uint16_t k = 0; k < out->count; ++k) sum += out->records[k].month + out->records[k].results[4].type;
            if (out->count > 0 && out->records == nullptr) __builtin_trap();
            (void)sum;
            break;
        }
        case KX305_STATUS_PROGRESS:
        case KX305_STATUS_NO_MEMORY:
            break;
        default:
            __builtin_trap();
        }
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    kx305::LogTransfer transfer;
    LogBuffer out{};
    CheckingSink sink;
    sink.out = &out;
    size_t i = 0;
    while (i + 2 <= size) {
        const uint8_t control = data[i];
        const uint8_t length = data[i + 1];
        i += 2;
        const size_t available = size - i < length ? size - i : length;
        switch (control % 8) {
        case 0:
            transfer.Begin(out);
            break;
        case 1:
            transfer.Release();
            break;
        case 2:
            transfer.NewTransfer(out, (control & 8) ? kx305::CMD_PEEK_LOG : kx305::CMD_GET_LOG);
            break;
        case 3:
            if (transfer.Answered()) transfer.Interrupt((control & 16) ? 0x0105 : 0x0104, out, sink);
            break;
        default: {
            kx305::Frame frame;
            kx305::BuildFrame(frame, 0, 0, (control & 8) ? kx305::CMD_PEEK_LOG : kx305::CMD_GET_LOG, data + i,
                              static_cast<uint8_t>(available));
            transfer.Receive(frame, (control & 16) ? 0x0105 : 0x0104, out, sink);
        }
        }
        i += available;
    }
    return 0;
}
