#include "control.h"

#include <cstdio>

#include "text.h"

namespace kx305sim {
namespace {

std::string Error(const std::string& reason) { return "error " + reason; }

std::string Join(const std::vector<std::string>& args, size_t from, const char* separator) {
    std::string text;
    for (size_t i = from; i < args.size(); ++i) {
        if (i > from) text += separator;
        text += args[i];
    }
    return text;
}

std::string Number(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", value);
    return text;
}

bool InputNumber(const std::vector<std::string>& args, int lo, int& n) {
    int64_t v = 0;
    if (args.size() < 2 || !ParseInteger(args[1], lo, 4, v)) return false;
    n = static_cast<int>(v);
    return true;
}

}  // namespace

ControlChannel::ControlChannel(Converter& converter, ControlHooks hooks)
    : converter_(converter), hooks_(std::move(hooks)) {}

std::string ControlChannel::Help() {
    return "  help                      list the commands\n"
           "  state                     firmware, serial, clock, period, records, capacity, rain, port\n"
           "  received [reset]          requests received: frame count per command code, the last\n"
           "                            request (frame bytes and wire bytes); reset zeroes the counts\n"
           "  sent                      reply frames sent, dropped, corrupted, stale, unsolicited\n"
           "  input N [INSTRUMENT]      show or exchange the instrument on input N (1-4), same syntax\n"
           "                            as --input; input 0 shows the rain gauge\n"
           "  set N KEY=VALUE...        change values or flags of input N; VALUE drift lets a value\n"
           "                            drift again; input 0: count=IMPULSES rate=PER_MINUTE\n"
           "  rain N                    add N impulses to the rain counter\n"
           "  clock MM-DD HH:MM:SS|now  set the converter clock (UTC) or follow the computer's again\n"
           "  period SECONDS            log period (0 stops logging)\n"
           "  fill N                    append N records to the logging memory (as many as fit)\n"
           "  clear-log                 empty the logging memory\n"
           "  memory                    the records the logging memory holds: count=N, then the\n"
           "                            time stamp of each, oldest first, as MM-DD HH:MM:SS.hh\n"
           "  capacity N                logging-memory capacity in records (1-65535)\n"
           "  firmware [X.YY]           show or change the firmware version (empties the memory)\n"
           "  fault [NAME ARGS|off]     show or set a fault: drop SHARE, corrupt SHARE\n"
           "                            [checksum|escape|truncate|any], delay MS, silent on|off,\n"
           "                            stale SHARE, unsolicited SHARE; SHARE 0-1, N% or on/off;\n"
           "                            drop-reply CODE POS,... leaves out these frames of the next\n"
           "                            reply to CODE (0 the first, -1 the last); silent-from CODE\n"
           "                            goes silent with the reply to the next request CODE\n"
           "  pace on|off               send at the 9600-baud byte rate\n"
           "  vanish SECONDS            close the port and remove the link, come back after SECONDS\n"
           "  send-frame CODE [HEX]     send a frame (address 0) with this code and payload now\n"
           "  send-raw HEX              send these bytes now\n";
}

std::string ControlChannel::Handle(const std::string& rawLine) {
    std::string line = rawLine;
    while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.pop_back();
    const Args args = Split(line, " \t");
    if (args.empty()) return Error("empty command");
    const std::string& name = args[0];
    if (name == "help")
        return "ok help state received sent input set rain clock period fill clear-log memory capacity firmware "
               "fault pace vanish send-frame send-raw";
    if (name == "state") return State();
    if (name == "received") return Received(args);
    if (name == "sent") return Sent();
    if (name == "input") return Input(args);
    if (name == "set") return Set(args);
    if (name == "rain") return Rain(args);
    if (name == "clock") return SetClock(args);
    if (name == "period") return Period(args);
    if (name == "fill") return Fill(args);
    if (name == "clear-log") {
        converter_.memory().Clear();
        return "ok records=0";
    }
    if (name == "memory") return Memory(args);
    if (name == "capacity") return Capacity(args);
    if (name == "firmware") return Firmware(args);
    if (name == "fault") return Fault(args);
    if (name == "pace") return Pace(args);
    if (name == "vanish") return Vanish(args);
    if (name == "send-frame") return SendFrame(args);
    if (name == "send-raw") return SendRaw(args);
    return Error("unknown command '" + name + "' (try help)");
}

std::string ControlChannel::State() const {
    const LogMemory& memory = converter_.memory();
    return "ok firmware=" + FormatFirmware(converter_.version()) + " serial=" + std::to_string(converter_.serial()) +
           " clock=" + FormatClock(converter_.Clock()) + " period=" + std::to_string(converter_.periodSeconds()) +
           " records=" + std::to_string(memory.count()) + " capacity=" + std::to_string(memory.capacity()) +
           " lost=" + std::to_string(converter_.recordsLost()) + " rain=" + std::to_string(converter_.rainImpulses()) +
           " rain-rate=" + Number(converter_.rainPerMinute()) +
           " pace=" + (converter_.transmitter().pacing() ? "on" : "off") +
           " port=" + (hooks_.portState ? hooks_.portState() : std::string("up"));
}

std::string ControlChannel::Received(const Args& args) {
    if (args.size() == 2 && args[1] == "reset") {
        converter_.ResetCounters();
        return "ok";
    }
    if (args.size() > 1) return Error("received: expected nothing or reset");
    const ReceiveCounters& r = converter_.received();
    std::string codes;
    for (int code = 0; code < 256; ++code) {
        if (r.perCode[code] == 0) continue;
        if (!codes.empty()) codes += ",";
        codes += std::to_string(code) + ":" + std::to_string(r.perCode[code]);
    }
    std::string text = "ok frames=" + std::to_string(r.frames) + " bytes=" + std::to_string(r.bytes) +
                       " garbage=" + std::to_string(r.bytes - r.frameBytes) +
                       " codes=" + (codes.empty() ? "none" : codes);
    if (r.frames == 0) return text + " last=none wire=none";
    const kx305::Frame& last = converter_.lastRequest();
    const std::vector<uint8_t>& wire = converter_.lastRequestWire();
    return text + " last=" + ToHex(last.bytes, kx305::kHeaderSize + last.length()) +
           " wire=" + ToHex(wire.data(), wire.size());
}

std::string ControlChannel::Sent() const {
    const TransmitCounters& c = converter_.transmitter().counters();
    return "ok frames=" + std::to_string(c.frames) + " dropped=" + std::to_string(c.dropped) +
           " corrupted=" + std::to_string(c.corrupted) + " stale=" + std::to_string(c.stale) +
           " unsolicited=" + std::to_string(c.unsolicited) + " silenced=" + std::to_string(c.silenced) +
           " queued=" + std::to_string(converter_.transmitter().queuedBytes());
}

std::string ControlChannel::RainState() const {
    return "ok rain,count=" + std::to_string(converter_.rainImpulses()) + ",rate=" + Number(converter_.rainPerMinute());
}

std::string ControlChannel::Input(const Args& args) {
    int n = 0;
    if (!InputNumber(args, 0, n)) return Error("input: expected an input number 0 to 4");
    if (args.size() == 2) return n == 0 ? RainState() : "ok " + DescribeInstrument(converter_.input(n));
    if (n == 0) return Error("input 0 is the rain gauge; use set 0 or rain");
    Instrument instrument;
    std::string error;
    if (!ParseInstrument(Join(args, 2, ","), n, instrument, error)) return Error(error);
    converter_.SetInput(n, instrument);
    return "ok " + DescribeInstrument(converter_.input(n));
}

std::string ControlChannel::Set(const Args& args) {
    int n = 0;
    if (!InputNumber(args, 0, n) || args.size() < 3) return Error("set: expected N KEY=VALUE... with N 0 to 4");
    std::string error;
    if (n > 0) {
        if (converter_.input(n).type == kNoInstrument) return Error("input " + args[1] + " has no instrument");
        if (!converter_.ApplyToInput(n, Join(args, 2, ","), error)) return Error(error);
        return "ok " + DescribeInstrument(converter_.input(n));
    }
    // The rain gauge: check every setting before applying any.
    bool haveCount = false;
    bool haveRate = false;
    int64_t count = 0;
    double rate = 0;
    for (const std::string& token : Split(Join(args, 2, ","), ",")) {
        const size_t eq = token.find('=');
        const std::string key = token.substr(0, eq);
        const std::string value = eq == std::string::npos ? "" : token.substr(eq + 1);
        if (key == "count" && ParseInteger(value, 0, 4294967295.0, count)) {
            haveCount = true;
        } else if (key == "rate" && ParseNumber(value, rate) && rate >= 0 && rate <= 60000) {
            haveRate = true;
        } else {
            return Error("set 0: '" + token + "' is not count=0..4294967295 or rate=0..60000");
        }
    }
    if (haveCount) converter_.SetRainImpulses(static_cast<uint32_t>(count));
    if (haveRate) converter_.SetRainPerMinute(rate);
    return RainState();
}

std::string ControlChannel::Rain(const Args& args) {
    int64_t impulses = 0;
    if (args.size() != 2 || !ParseInteger(args[1], 0, 4294967295.0, impulses))
        return Error("rain: expected a number of impulses 0 to 4294967295");
    converter_.AddRainImpulses(static_cast<uint32_t>(impulses));
    return "ok count=" + std::to_string(converter_.rainImpulses());
}

std::string ControlChannel::SetClock(const Args& args) {
    if (args.size() == 2 && args[1] == "now") {
        converter_.FollowComputerClock();
    } else {
        ClockTime clock;
        if (args.size() < 2 || !ParseClock(Join(args, 1, " "), clock))
            return Error("clock: expected MM-DD HH:MM:SS (a valid UTC time) or now");
        converter_.SetClock(clock);
    }
    return "ok clock=" + FormatClock(converter_.Clock());
}

std::string ControlChannel::Period(const Args& args) {
    int64_t seconds = 0;
    if (args.size() != 2 || !ParseInteger(args[1], 0, 65535, seconds))
        return Error("period: expected seconds 0 to 65535");
    if (PeriodInMinutes(converter_.version()) && (seconds % 60 != 0 || seconds > 255 * 60))
        return Error("firmware " + FormatFirmware(converter_.version()) +
                     " keeps the period in minutes: expected a multiple of 60 up to 15300");
    converter_.SetPeriod(static_cast<uint16_t>(seconds));
    return "ok period=" + std::to_string(seconds);
}

std::string ControlChannel::Fill(const Args& args) {
    int64_t count = 0;
    if (args.size() != 2 || !ParseInteger(args[1], 0, 65535, count))
        return Error("fill: expected a number of records 0 to 65535");
    const size_t stored = converter_.Fill(static_cast<size_t>(count));
    const LogMemory& memory = converter_.memory();
    return "ok stored=" + std::to_string(stored) + " records=" + std::to_string(memory.count()) +
           (memory.full() ? " full" : "");
}

std::string ControlChannel::Memory(const Args& args) const {
    if (args.size() != 1) return Error("memory: expected no arguments");
    const LogMemory& memory = converter_.memory();
    std::string text = "ok count=" + std::to_string(memory.count());
    for (size_t i = 0; i < memory.count(); ++i) text += " " + StoredStampText(memory.record(i));
    return text;
}

std::string ControlChannel::Capacity(const Args& args) {
    int64_t capacity = 0;
    if (args.size() != 2 || !ParseInteger(args[1], 1, 65535, capacity))
        return Error("capacity: expected records 1 to 65535");
    converter_.memory().SetCapacity(static_cast<uint16_t>(capacity));
    return "ok capacity=" + std::to_string(capacity) + " records=" + std::to_string(converter_.memory().count());
}

std::string ControlChannel::Firmware(const Args& args) {
    if (args.size() == 1) return "ok firmware=" + FormatFirmware(converter_.version());
    uint16_t version = 0;
    if (args.size() != 2 || !ParseFirmware(args[1], version))
        return Error("firmware: expected MAJOR.MINOR such as 1.05");
    converter_.SetVersion(version);
    return "ok firmware=" + FormatFirmware(version) + " records=0";
}

std::string ControlChannel::Fault(const Args& args) {
    Faults& faults = converter_.transmitter().faults();
    if (args.size() > 1) {
        std::string error;
        if (!ApplyFault(faults, Args(args.begin() + 1, args.end()), error)) return Error(error);
    }
    return "ok " + DescribeFaults(faults);
}

std::string ControlChannel::Pace(const Args& args) {
    bool on = false;
    if (args.size() != 2 || !ParseSwitch(args[1], on)) return Error("pace: expected on or off");
    converter_.transmitter().SetPacing(on);
    return std::string("ok pace=") + (on ? "on" : "off");
}

std::string ControlChannel::Vanish(const Args& args) {
    double seconds = 0;
    if (args.size() != 2 || !ParseNumber(args[1], seconds) || seconds <= 0 || seconds > 3600)
        return Error("vanish: expected seconds above 0 and up to 3600");
    if (!hooks_.vanish) return Error("vanish: this simulator has no port to take away");
    const std::string error = hooks_.vanish(seconds);
    if (!error.empty()) return Error(error);
    return "ok back in " + Number(seconds) + " s";
}

std::string ControlChannel::SendFrame(const Args& args) {
    int64_t code = 0;
    std::vector<uint8_t> payload;
    if (args.size() < 2 || !ParseInteger(args[1], 0, 255, code) || !ParseHex(Join(args, 2, ""), payload) ||
        payload.size() > kx305::kMaxPayload)
        return Error("send-frame: expected CODE 0-255 and up to 255 payload bytes in hex");
    kx305::Frame frame;
    kx305::BuildFrame(frame, 0, 0, static_cast<uint8_t>(code), payload.data(), static_cast<uint8_t>(payload.size()));
    converter_.transmitter().SendFrame(frame);
    converter_.transmitter().Flush();
    return "ok";
}

std::string ControlChannel::SendRaw(const Args& args) {
    std::vector<uint8_t> bytes;
    if (args.size() < 2 || !ParseHex(Join(args, 1, ""), bytes) || bytes.empty())
        return Error("send-raw: expected bytes in hex");
    converter_.transmitter().SendRaw(bytes.data(), bytes.size());
    converter_.transmitter().Flush();
    return "ok bytes=" + std::to_string(bytes.size());
}

}  // namespace kx305sim
