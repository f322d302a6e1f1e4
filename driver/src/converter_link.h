// ConverterLink: the device layer on top of FrameLink.  Each request
// function starts one command (4 tries of 2500 ms unless a test set another
// RequestTiming; address 0, aux 0) and
// returns at once; the reply handlers decode into the caller's record, write
// the diagnostic line and complete the request.  The firmware version word
// learned by the last info reply selects the command variants.
#pragma once

#include <chrono>

#include "frame_link.h"
#include "log_transfer.h"

namespace kx305 {

class ConverterLink final : public FrameLink {
public:
    ConverterLink() = default;
    ~ConverterLink() override;

    // Opens the port at 9600 baud and starts the threads: 0, 6 or 8.  Logs
    // the outcome.
    KX305Status Open(const char* portPath);
    // Stops the threads and closes the port; logs it.
    void Close();
    // Process exit: see FrameLink::AbandonLink.
    void Abandon() { AbandonLink(); }

    void GetInfo(ConverterInfo& info);
    void SetSerialNumber(uint16_t serialNumber);
    void GetTime(ClockRecord& clock);
    void SetTime(const ClockRecord& clock);
    void GetLogPeriod(uint16_t& period);
    void SetLogPeriod(uint16_t period);
    void GetResults(InputReading* results);
    // CMD_GET_LOG or CMD_PEEK_LOG; releases the previous records first.
    void GetLog(LogBuffer& log, uint8_t command);
    void FreeLog(LogBuffer& log);
    void ResetRainCounter();
    void ClearLog();

private:
    void Start(const Lock& lock, uint8_t command, void* output, const uint8_t* payload = nullptr, uint8_t length = 0,
               uint16_t argument = 0);
    void FrameReceived(const Lock& lock, const Frame& frame) override;
    void PreparingToSend(const Lock& lock, const Request& request) override;
    TryOutcome TryRanOut(const Lock& lock, uint32_t& percent) override;

    // The log transfer's posts, as the link's.
    class Poster;

    // 0 until the first info reply: the oldest command variants.
    FirmwareVersion version_;
    LogTransfer log_;
    // When the last reply frame of a log transfer arrived.
    std::chrono::steady_clock::time_point lastLogFrame_;
};

}  // namespace kx305
