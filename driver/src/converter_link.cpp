#include "converter_link.h"

#include "diagnostic_log.h"
#include "results_block.h"

namespace kx305 {
namespace {

// Reply payload sizes; a shorter reply is not a valid one and the try runs
// into its time-out.
constexpr size_t kInfoReplySize = 9;
constexpr size_t kTimeReplySize = 6;
constexpr size_t kPeriodMinReplySize = 1;
constexpr size_t kPeriodSecReplySize = 2;

uint8_t HighByte(uint16_t v) { return static_cast<uint8_t>(v >> 8); }
uint8_t LowByte(uint16_t v) { return static_cast<uint8_t>(v & 0xFF); }

}  // namespace

class ConverterLink::Poster final : public StatusSink {
public:
    Poster(ConverterLink& link, const Lock& lock) : link_(link), lock_(lock) {}
    void Post(KX305Status status, uint32_t percent) override { link_.Post(lock_, status, percent); }

private:
    ConverterLink& link_;
    const Lock& lock_;
};

ConverterLink::~ConverterLink() { CloseLink(); }

KX305Status ConverterLink::Open(const char* portPath) {
    const KX305Status status = OpenLink(portPath, kBaudRate);
    if (status == KX305_STATUS_OK)
        LogMessage("Open(\"%s\"): Ok", portPath);
    else
        LogMessage("Open(\"%s\"): failed, error code = %u", portPath, static_cast<unsigned>(status));
    return status;
}

void ConverterLink::Close() {
    CloseLink();
    LogMessage("Close(): Ok");
}

void ConverterLink::Start(const Lock& lock, uint8_t command, void* output, const uint8_t* payload, uint8_t length,
                          uint16_t argument) {
    const RequestTiming timing = CurrentRequestTiming();
    Request request;
    request.timeoutMs = timing.timeoutMs;
    request.tries = timing.tries;
    request.command = command;
    request.output = output;
    request.length = length;
    for (uint8_t i = 0; i < length; ++i) request.payload[i] = payload[i];
    request.argument = argument;
    StartRequest(lock, request);
}

void ConverterLink::GetInfo(ConverterInfo& info) {
    const Lock lock = Acquire();
    Start(lock, CMD_GET_INFO, &info);
}

void ConverterLink::SetSerialNumber(uint16_t serialNumber) {
    const uint8_t payload[] = {HighByte(serialNumber), LowByte(serialNumber), 0, 0};
    const Lock lock = Acquire();
    Start(lock, CMD_SET_SERIAL, nullptr, payload, sizeof payload, serialNumber);
}

void ConverterLink::GetTime(ClockRecord& clock) {
    const Lock lock = Acquire();
    Start(lock, CMD_GET_TIME, &clock);
}

void ConverterLink::SetTime(const ClockRecord& clock) {
    const uint8_t payload[] = {
        0, ToBcd(clock.second), ToBcd(clock.minute), ToBcd(clock.hour), ToBcd(clock.day), ToBcd(clock.month)};
    const Lock lock = Acquire();
    Start(lock, CMD_SET_TIME, nullptr, payload, sizeof payload);
}

void ConverterLink::GetLogPeriod(uint16_t& period) {
    const Lock lock = Acquire();
    Start(lock, version_.HasPeriodInSeconds() ? CMD_GET_PERIOD_SEC : CMD_GET_PERIOD_MIN, &period);
}

void ConverterLink::SetLogPeriod(uint16_t period) {
    const Lock lock = Acquire();
    if (version_.HasPeriodInSeconds()) {
        const uint8_t payload[] = {HighByte(period), LowByte(period)};
        Start(lock, CMD_SET_PERIOD_SEC, nullptr, payload, sizeof payload, period);
    } else {
        const uint8_t payload[] = {LowByte(period)};
        Start(lock, CMD_SET_PERIOD_MIN, nullptr, payload, sizeof payload, period);
    }
}

void ConverterLink::GetResults(InputReading* results) {
    const Lock lock = Acquire();
    Start(lock, CMD_GET_RESULTS, results);
}

void ConverterLink::GetLog(LogBuffer& log, uint8_t command) {
    const Lock lock = Acquire();
    // A peek leaves the converter's memory as it was, so what a failed try
    // received is still there for the next one to complete.  Older firmware
    // empties its memory when it takes a GetLog, so once one is answered it
    // is never sent again (TryRanOut).
    log_.NewTransfer(log, command);
    Start(lock, command, &log);
}

void ConverterLink::FreeLog(LogBuffer& log) {
    {
        const Lock lock = Acquire();
        log_.Release();
    }
    log.count = 0;
    log.records = nullptr;
    LogMessage("FreeLogBuffer(): Ok");
}

// Older firmware has no rain-counter reset and no clear command: the request
// completes at once, nothing is sent and the pending request stays as it was.
void ConverterLink::ResetRainCounter() {
    const Lock lock = Acquire();
    if (version_.HasRainReset())
        Start(lock, CMD_RESET_RAIN, nullptr);
    else
        Post(lock, KX305_STATUS_OK, 100);
}

void ConverterLink::ClearLog() {
    const Lock lock = Acquire();
    if (version_.HasClearLog())
        Start(lock, CMD_CLEAR_LOG, nullptr);
    else
        Post(lock, KX305_STATUS_OK, 100);
}

void ConverterLink::PreparingToSend(const Lock&, const Request& request) {
    if (request.command == CMD_GET_LOG || request.command == CMD_PEEK_LOG)
        log_.Begin(*static_cast<LogBuffer*>(request.output));
}

// A GetLog the converter has begun to answer is not sent again: it goes on
// while its frames still come (a percentage changes only every N/100
// records, which at 9600 baud may take longer than a try), and ends with
// what arrived once they have stopped for a whole try.
FrameLink::TryOutcome ConverterLink::TryRanOut(const Lock& lock, uint32_t& percent) {
    const Request& request = pending(lock);
    if (request.command != CMD_GET_LOG || !log_.Answered()) return TryOutcome::Resend;
    if (log_.Receiving() &&
        std::chrono::steady_clock::now() - lastLogFrame_ < std::chrono::milliseconds(request.timeoutMs)) {
        percent = log_.ProgressPercent();
        return TryOutcome::Running;
    }
    Poster poster(*this, lock);
    log_.Interrupt(version_, *static_cast<LogBuffer*>(request.output), poster);
    return TryOutcome::Ended;
}

void ConverterLink::FrameReceived(const Lock& lock, const Frame& frame) {
    const Request& request = pending(lock);
    // Only the reply to the pending request is handled; a late or stray one
    // leaves the caller's record and the request alone.
    if (frame.command() != request.command) return;
    const uint8_t* p = frame.payload();
    const size_t length = frame.length();

    switch (request.command) {
    case CMD_GET_INFO: {
        if (length < kInfoReplySize) return;
        ConverterInfo& info = *static_cast<ConverterInfo*>(request.output);
        info.versionMajor = p[1];
        info.versionMinor = p[2];
        info.day = static_cast<uint8_t>(FromBcd(p[3]));
        info.month = static_cast<uint8_t>(FromBcd(p[4]));
        info.year = static_cast<uint16_t>(FromBcd4(p[5], p[6]));
        info.serialNumber = static_cast<uint16_t>(p[7] << 8 | p[8]);
        version_ = FirmwareVersion(info.versionMajor, info.versionMinor);
        LogMessage("GetInfo(): Ok (wersja %u.%u (%02u.%02u.%04u), SN %u)", unsigned{info.versionMajor},
                   unsigned{info.versionMinor}, unsigned{info.day}, unsigned{info.month}, unsigned{info.year},
                   unsigned{info.serialNumber});
        break;
    }
    case CMD_SET_SERIAL:
        LogMessage("SetSerialNumber(%u): Ok", unsigned{request.argument});
        break;
    case CMD_GET_TIME: {
        if (length < kTimeReplySize) return;
        ClockRecord& clock = *static_cast<ClockRecord*>(request.output);
        clock.second = static_cast<uint8_t>(FromBcd(p[1]));
        clock.minute = static_cast<uint8_t>(FromBcd(p[2]));
        clock.hour = static_cast<uint8_t>(FromBcd(p[3] & 0x3F));
        clock.day = static_cast<uint8_t>(FromBcd(p[4] & 0x3F));
        clock.month = static_cast<uint8_t>(FromBcd(p[5] & 0x1F));
        LogMessage("GetTime(): Ok (%02u.%02u %02u:%02u:%02u)", unsigned{clock.day}, unsigned{clock.month},
                   unsigned{clock.hour}, unsigned{clock.minute}, unsigned{clock.second});
        break;
    }
    case CMD_SET_TIME: {
        const uint8_t* sent = request.payload;
        LogMessage("SetTime(%02u.%02u %02u:%02u:%02u): Ok", FromBcd(sent[4]), FromBcd(sent[5]), FromBcd(sent[3]),
                   FromBcd(sent[2]), FromBcd(sent[1]));
        break;
    }
    case CMD_GET_PERIOD_MIN: {
        if (length < kPeriodMinReplySize) return;
        uint16_t& period = *static_cast<uint16_t*>(request.output);
        period = p[0];
        LogMessage("GetLogPeriod(): Ok (%u min)", unsigned{period});
        break;
    }
    case CMD_GET_PERIOD_SEC: {
        if (length < kPeriodSecReplySize) return;
        uint16_t& period = *static_cast<uint16_t*>(request.output);
        period = static_cast<uint16_t>(p[0] << 8 | p[1]);
        LogMessage("GetLogPeriod(): Ok (%u sec)", unsigned{period});
        break;
    }
    case CMD_SET_PERIOD_MIN:
        LogMessage("SetLogPeriod(%u min): Ok", unsigned{request.argument});
        break;
    case CMD_SET_PERIOD_SEC:
        LogMessage("SetLogPeriod(%u sec): Ok", unsigned{request.argument});
        break;
    case CMD_GET_RESULTS:
        DecodeResultsBlock(p, length, version_, static_cast<InputReading*>(request.output));
        LogMessage("GetResults(): Ok");
        break;
    case CMD_RESET_RAIN:
        LogMessage("ResetRainCounter(): Ok");
        break;
    case CMD_CLEAR_LOG:
        LogMessage("ClearLogPeriod Ok");
        break;
    case CMD_GET_LOG:
    case CMD_PEEK_LOG: {
        lastLogFrame_ = std::chrono::steady_clock::now();
        Poster poster(*this, lock);
        log_.Receive(frame, version_, *static_cast<LogBuffer*>(request.output), poster);
        return;
    }
    default:
        return;
    }
    Post(lock, KX305_STATUS_OK, 100);
}

}  // namespace kx305
