#include "converter.h"

#include <algorithm>
#include <cstdio>
#include <ctime>

#include "encoder.h"
#include "text.h"

namespace kx305sim {

using kx305::Frame;

namespace {

int64_t FloorDiv(int64_t a, int64_t b) { return a >= 0 ? a / b : -((-a + b - 1) / b); }

struct BrokenDown {
    int year, month, day, hour, minute, second, hundredths;
};

BrokenDown BreakDown(int64_t ms) {
    const time_t seconds = static_cast<time_t>(FloorDiv(ms, 1000));
    std::tm tm{};
    gmtime_r(&seconds, &tm);
    return {tm.tm_year + 1900,
            tm.tm_mon + 1,
            tm.tm_mday,
            tm.tm_hour,
            tm.tm_min,
            tm.tm_sec,
            int((ms - int64_t(seconds) * 1000) / 10)};
}

// The simulator keeps its own model of the converter's clock and calendar
// rather than the monitoring program's time module: it stands for the
// device, and a fault in the program's arithmetic must not be mirrored in
// the device it is tested against.
bool IsLeap(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

// A packed BCD byte with both digits 0 to 9.
bool FromStrictBcd(uint8_t b, int& value) {
    if ((b >> 4) > 9 || (b & 0x0F) > 9) return false;
    value = static_cast<int>(kx305::FromBcd(b));
    return true;
}

Frame Reply(const Frame& request, const uint8_t* payload, size_t length) {
    Frame frame;
    kx305::BuildFrame(frame, request.address(), request.aux(), request.command(), payload,
                      static_cast<uint8_t>(length));
    return frame;
}

}  // namespace

std::string StoredStampText(const std::vector<uint8_t>& record) {
    // Stored order: hundredths, second, minute, hour, day, month.
    static const int kOrder[6] = {5, 4, 3, 2, 1, 0};
    static const char* const kAfter[6] = {"-", " ", ":", ":", ".", ""};
    std::string text;
    for (int i = 0; i < 6; ++i) {
        int value = 0;
        const size_t at = static_cast<size_t>(kOrder[i]);
        char two[8];
        if (at < record.size() && FromStrictBcd(record[at], value)) {
            std::snprintf(two, sizeof two, "%02d", value);
        } else {
            std::snprintf(two, sizeof two, "??");
        }
        text += two;
        text += kAfter[i];
    }
    return text;
}

bool FirmwareHas(uint16_t version, uint8_t code) {
    switch (code) {
    case kCmdGetInfo:
    case kCmdSetSerial:
    case kCmdGetTime:
    case kCmdSetTime:
    case kCmdGetResults:
    case kCmdGetLog:
        return true;
    case kCmdGetPeriodMin:
    case kCmdSetPeriodMin:
        return PeriodInMinutes(version);
    case kCmdGetPeriodSec:
    case kCmdSetPeriodSec:
        return !PeriodInMinutes(version);
    case kCmdResetRain:
        return version >= kFirstRainResetVersion;
    case kCmdPeekLog:
    case kCmdClearLog:
        return version >= kFirstPeekClearVersion;
    default:
        return false;
    }
}

Converter::Converter(const ConverterSettings& settings, const TimeSource& time, ByteSink& sink,
                     std::function<void(const std::string&)> journal)
    : time_(time),
      transmitter_(time, sink, settings.seed ^ 0x9E3779B9u),
      random_(settings.seed),
      version_(settings.version),
      dateDay_(settings.dateDay),
      dateMonth_(settings.dateMonth),
      dateYear_(settings.dateYear),
      serial_(settings.serial),
      drift_(settings.drift),
      rainImpulses_(settings.rainImpulses),
      rainPerMinute_(settings.rainPerMinute),
      periodSeconds_(settings.periodSeconds),
      memory_(settings.capacity),
      lastStepUs_(time.MonotonicUs()),
      journal_(std::move(journal)) {
    transmitter_.faults() = settings.faults;
    transmitter_.SetPacing(settings.pacing);
    for (int n = 1; n <= 4; ++n) SetInput(n, settings.inputs[n - 1]);
    if (settings.clockGiven) SetClock(settings.clock);
    Fill(settings.prefill);
}

int64_t Converter::DeviceMs() const { return time_.UtcMs() + clockOffsetMs_; }

void Converter::SetVersion(uint16_t version) {
    version_ = version;
    memory_.Clear();
}

void Converter::SetInput(int n, const Instrument& instrument) {
    inputs_[n - 1] = instrument;
    if (drift_) SeedDrift(inputs_[n - 1], random_);
}

bool Converter::ApplyToInput(int n, const std::string& settings, std::string& error) {
    return ApplySettings(inputs_[n - 1], settings, error);
}

ClockTime Converter::Clock() const {
    const BrokenDown t = BreakDown(DeviceMs());
    return {t.month, t.day, t.hour, t.minute, t.second};
}

void Converter::SetClock(const ClockTime& clock) {
    // The converter keeps no year; take the current one, or the next that
    // has a 29 February when that is the date set.
    int year = BreakDown(DeviceMs()).year;
    if (clock.month == 2 && clock.day == 29)
        while (!IsLeap(year)) ++year;
    std::tm tm{};
    tm.tm_year = year - 1900;
    tm.tm_mon = clock.month - 1;
    tm.tm_mday = clock.day;
    tm.tm_hour = clock.hour;
    tm.tm_min = clock.minute;
    tm.tm_sec = clock.second;
    clockOffsetMs_ = int64_t(timegm(&tm)) * 1000 - time_.UtcMs();
    logSlot_ = -1;
}

void Converter::FollowComputerClock() {
    clockOffsetMs_ = 0;
    logSlot_ = -1;
}

void Converter::SetPeriod(uint16_t seconds) {
    periodSeconds_ = seconds;
    logSlot_ = -1;
}

std::vector<uint8_t> Converter::ResultsBlock() const {
    std::vector<uint8_t> block(kMaxResultsBlock);
    block.resize(EncodeResultsBlock(rainImpulses_, inputs_, version_, block.data()));
    return block;
}

bool Converter::Store(int64_t deviceMs, uint32_t rainImpulses, const Instrument inputs[4]) {
    const BrokenDown t = BreakDown(deviceMs);
    uint8_t record[kMaxStoredRecord];
    record[0] = kx305::ToBcd(static_cast<unsigned>(t.hundredths));
    record[1] = kx305::ToBcd(static_cast<unsigned>(t.second));
    record[2] = kx305::ToBcd(static_cast<unsigned>(t.minute));
    record[3] = kx305::ToBcd(static_cast<unsigned>(t.hour));
    record[4] = kx305::ToBcd(static_cast<unsigned>(t.day));
    record[5] = kx305::ToBcd(static_cast<unsigned>(t.month));
    const size_t length = kTimeStampSize + EncodeResultsBlock(rainImpulses, inputs, version_, record + kTimeStampSize);
    const bool stored = memory_.Store(record, length);
    if (!stored) ++recordsLost_;
    if (journal_)
        journal_((stored ? "stored " : "dropped ") +
                 StoredStampText(std::vector<uint8_t>(record, record + kTimeStampSize)));
    return stored;
}

size_t Converter::Fill(size_t count) {
    const int64_t spacingMs = int64_t(periodSeconds_ > 0 ? periodSeconds_ : 60) * 1000;
    const int64_t nowMs = DeviceMs();
    const int64_t newestMs = FloorDiv(nowMs, spacingMs) * spacingMs;
    // The past as the instruments might have lived it: drifting forward
    // from the oldest record, the rain counter lower by what fell since.
    Instrument past[4];
    std::copy(inputs_, inputs_ + 4, past);
    size_t stored = 0;
    for (size_t k = count; k > 0 && !memory_.full(); --k) {
        const int64_t atMs = newestMs - int64_t(k - 1) * spacingMs;
        const double fallen = rainPerMinute_ * double(nowMs - atMs) / 60000.0;
        const uint32_t rain = fallen >= rainImpulses_ ? 0 : rainImpulses_ - static_cast<uint32_t>(fallen);
        if (drift_)
            for (Instrument& in : past) Drift(in, double(spacingMs) / 1000.0, random_);
        if (!Store(atMs, rain, past)) break;
        ++stored;
    }
    return stored;
}

void Converter::Tick() {
    const int64_t nowUs = time_.MonotonicUs();
    const double seconds = double(nowUs - lastStepUs_) / 1e6;
    if (seconds >= 1.0) {
        if (drift_)
            for (Instrument& in : inputs_) Drift(in, seconds, random_);
        rainCarry_ += rainPerMinute_ * seconds / 60.0;
        if (rainCarry_ >= 1.0) {
            const double whole = std::min(rainCarry_, 4.0e9);
            rainImpulses_ += static_cast<uint32_t>(whole);
            rainCarry_ -= static_cast<double>(static_cast<uint32_t>(whole));
        }
        lastStepUs_ = nowUs;
    }
    if (periodSeconds_ > 0) {
        const int64_t nowMs = DeviceMs();
        const int64_t slot = FloorDiv(nowMs, int64_t(periodSeconds_) * 1000);
        if (logSlot_ == -1) {
            logSlot_ = slot;
        } else if (slot != logSlot_) {
            logSlot_ = slot;
            const bool stored = Store(nowMs, rainImpulses_, inputs_);
            if (trace_)
                trace_(stored ? "stored record " + std::to_string(memory_.count())
                              : std::string("memory full: record not stored"));
        }
    }
    transmitter_.Flush();
}

int64_t Converter::NextWakeUs() const {
    int64_t next = lastStepUs_ + 1000000;
    if (!transmitter_.blocked()) next = std::min(next, transmitter_.NextDueUs());
    if (periodSeconds_ > 0) {
        const int64_t periodMs = int64_t(periodSeconds_) * 1000;
        const int64_t nowMs = DeviceMs();
        const int64_t untilMs = (FloorDiv(nowMs, periodMs) + 1) * periodMs - nowMs;
        next = std::min(next, time_.MonotonicUs() + untilMs * 1000);
    }
    return next;
}

void Converter::Receive(const uint8_t* data, size_t length) {
    received_.bytes += length;
    for (size_t i = 0; i < length; ++i) {
        const uint8_t byte = data[i];
        if (byte == kx305::kFrameStart) wire_.clear();
        if (wire_.size() < kx305::kMaxWireFrame) wire_.push_back(byte);
        if (!reader_.Feed(byte)) continue;
        ++received_.frames;
        received_.frameBytes += wire_.size();
        lastRequest_ = reader_.frame();
        lastRequestWire_ = wire_;
        wire_.clear();
        Handle(lastRequest_);
    }
    transmitter_.Flush();
}

void Converter::ResetCounters() {
    received_ = {};
    lastRequest_ = {};
    lastRequestWire_.clear();
    transmitter_.ResetCounters();
}

void Converter::AddLogStream(const Frame& request, std::vector<Frame>& reply) const {
    const size_t count = memory_.count();
    const uint8_t head[4] = {uint8_t(count >> 8), uint8_t(count), uint8_t(memory_.capacity() >> 8),
                             uint8_t(memory_.capacity())};
    reply.push_back(Reply(request, head, sizeof head));
    uint8_t payload[kx305::kMaxPayload];
    for (size_t i = 0; i < count; ++i) {
        // Record numbers count from 1 in the order of storing.
        const size_t number = i + 1;
        const std::vector<uint8_t>& record = memory_.record(i);
        payload[0] = static_cast<uint8_t>(number >> 8);
        payload[1] = static_cast<uint8_t>(number);
        std::copy(record.begin(), record.end(), payload + 2);
        reply.push_back(Reply(request, payload, 2 + record.size()));
    }
}

void Converter::Handle(const Frame& request) {
    const uint8_t code = request.command();
    const uint8_t* p = request.payload();
    const size_t length = request.length();
    ++received_.perCode[code];
    if (!FirmwareHas(version_, code)) {
        if (trace_)
            trace_("request " + std::to_string(code) + ": not a command of firmware " + FormatFirmware(version_) +
                   ", no reply");
        return;
    }
    std::vector<Frame> reply;
    std::string note;
    switch (code) {
    case kCmdGetInfo: {
        const uint8_t info[9] = {0,
                                 uint8_t(version_ >> 8),
                                 uint8_t(version_),
                                 kx305::ToBcd(unsigned(dateDay_)),
                                 kx305::ToBcd(unsigned(dateMonth_)),
                                 kx305::ToBcd(unsigned(dateYear_ / 100)),
                                 kx305::ToBcd(unsigned(dateYear_ % 100)),
                                 uint8_t(serial_ >> 8),
                                 uint8_t(serial_)};
        reply.push_back(Reply(request, info, sizeof info));
        break;
    }
    case kCmdSetSerial:
        if (length < 2) break;
        serial_ = static_cast<uint16_t>(p[0] << 8 | p[1]);
        reply.push_back(Reply(request, nullptr, 0));
        break;
    case kCmdGetTime: {
        const BrokenDown t = BreakDown(DeviceMs());
        const uint8_t clock[6] = {kx305::ToBcd(unsigned(t.hundredths)), kx305::ToBcd(unsigned(t.second)),
                                  kx305::ToBcd(unsigned(t.minute)),     kx305::ToBcd(unsigned(t.hour)),
                                  kx305::ToBcd(unsigned(t.day)),        kx305::ToBcd(unsigned(t.month))};
        reply.push_back(Reply(request, clock, sizeof clock));
        break;
    }
    case kCmdSetTime: {
        ClockTime clock;
        if (length < 6 || !FromStrictBcd(p[1], clock.second) || !FromStrictBcd(p[2], clock.minute) ||
            !FromStrictBcd(p[3], clock.hour) || !FromStrictBcd(p[4], clock.day) || !FromStrictBcd(p[5], clock.month) ||
            !ValidClock(clock)) {
            note = "bad time, not set";
            break;
        }
        SetClock(clock);
        reply.push_back(Reply(request, nullptr, 0));
        break;
    }
    case kCmdGetPeriodMin: {
        const uint8_t minutes = static_cast<uint8_t>(std::min(periodSeconds_ / 60, 255));
        reply.push_back(Reply(request, &minutes, 1));
        break;
    }
    case kCmdSetPeriodMin:
        if (length < 1) break;
        SetPeriod(static_cast<uint16_t>(p[0] * 60));
        reply.push_back(Reply(request, nullptr, 0));
        break;
    case kCmdGetPeriodSec: {
        const uint8_t period[2] = {uint8_t(periodSeconds_ >> 8), uint8_t(periodSeconds_)};
        reply.push_back(Reply(request, period, sizeof period));
        break;
    }
    case kCmdSetPeriodSec:
        if (length < 2) break;
        SetPeriod(static_cast<uint16_t>(p[0] << 8 | p[1]));
        reply.push_back(Reply(request, nullptr, 0));
        break;
    case kCmdGetResults: {
        const std::vector<uint8_t> block = ResultsBlock();
        reply.push_back(Reply(request, block.data(), block.size()));
        break;
    }
    case kCmdGetLog:
        AddLogStream(request, reply);
        memory_.Clear();
        break;
    case kCmdPeekLog:
        AddLogStream(request, reply);
        break;
    case kCmdResetRain:
        rainImpulses_ = 0;
        rainCarry_ = 0;
        reply.push_back(Reply(request, nullptr, 0));
        break;
    case kCmdClearLog:
        memory_.Clear();
        reply.push_back(Reply(request, nullptr, 0));
        break;
    default:
        break;
    }
    if (trace_) {
        std::string line = "request " + std::to_string(code) + " [" + ToHex(request.bytes, 5 + length) + "]: ";
        line += reply.empty() ? (note.empty() ? std::string("payload too short, no reply") : note + ", no reply")
                              : std::to_string(reply.size()) + " reply frame(s)";
        trace_(line);
    }
    transmitter_.SendReply(reply);
}

}  // namespace kx305sim
