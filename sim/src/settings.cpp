#include "settings.h"

#include <cctype>
#include <cstdio>

#include "text.h"

namespace kx305sim {

void DefaultInputs(Instrument inputs[4]) {
    static const char* const kDefaults[4] = {"kx124", "kx125", "kx129", "none"};
    for (int i = 0; i < 4; ++i) {
        std::string error;
        ParseInstrument(kDefaults[i], i + 1, inputs[i], error);
    }
}

bool ParseFirmware(const std::string& text, uint16_t& version) {
    const size_t dot = text.find('.');
    if (dot == std::string::npos) return false;
    int64_t major = 0;
    int64_t minor = 0;
    if (!ParseInteger(text.substr(0, dot), 0, 255, major) || !ParseInteger(text.substr(dot + 1), 0, 255, minor))
        return false;
    version = static_cast<uint16_t>(major << 8 | minor);
    return true;
}

std::string FormatFirmware(uint16_t version) {
    char text[16];
    std::snprintf(text, sizeof text, "%u.%02u", unsigned(version >> 8), unsigned(version & 0xFF));
    return text;
}

namespace {

// Fields of a fixed pattern such as "YYYY-MM-DD": digits where the pattern
// has a letter, the pattern's own character elsewhere.
bool ParsePattern(const std::string& text, const std::string& pattern, std::vector<int>& fields) {
    if (text.size() != pattern.size()) return false;
    fields.clear();
    int value = -1;
    for (size_t i = 0; i < text.size(); ++i) {
        const bool digit = text[i] >= '0' && text[i] <= '9';
        if (std::isalpha(static_cast<unsigned char>(pattern[i]))) {
            if (!digit) return false;
            value = (value < 0 ? 0 : value * 10) + (text[i] - '0');
            continue;
        }
        if (text[i] != pattern[i]) return false;
        if (value >= 0) fields.push_back(value);
        value = -1;
    }
    if (value >= 0) fields.push_back(value);
    return true;
}

int DaysInMonth(int month) {
    static const int kDays[12] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month >= 1 && month <= 12 ? kDays[month - 1] : 0;
}

bool ParseShareArg(const std::vector<std::string>& args, size_t i, double& share, std::string& error) {
    bool on = false;
    if (i < args.size()) {
        if (ParseShare(args[i], share)) return true;
        if (ParseSwitch(args[i], on)) {
            share = on ? 1 : 0;
            return true;
        }
    }
    error = "fault " + args[0] + ": expected a share 0 to 1, a percentage, on or off";
    return false;
}

}  // namespace

bool ParseDate(const std::string& text, int& year, int& month, int& day) {
    std::vector<int> f;
    if (!ParsePattern(text, "YYYY-MM-DD", f) || f[1] < 1 || f[1] > 12 || f[2] < 1 || f[2] > DaysInMonth(f[1]))
        return false;
    const bool leap = (f[0] % 4 == 0 && f[0] % 100 != 0) || f[0] % 400 == 0;
    if (f[1] == 2 && f[2] == 29 && !leap) return false;
    year = f[0];
    month = f[1];
    day = f[2];
    return true;
}

bool ValidClock(const ClockTime& c) {
    return c.month >= 1 && c.month <= 12 && c.day >= 1 && c.day <= DaysInMonth(c.month) && c.hour >= 0 &&
           c.hour <= 23 && c.minute >= 0 && c.minute <= 59 && c.second >= 0 && c.second <= 59;
}

bool ParseClock(const std::string& text, ClockTime& clock) {
    std::vector<int> f;
    std::string t = text;
    if (t.size() == 14 && t[5] == 'T') t[5] = ' ';
    if (!ParsePattern(t, "MM-DD hh:mm:ss", f)) return false;
    const ClockTime c{f[0], f[1], f[2], f[3], f[4]};
    if (!ValidClock(c)) return false;
    clock = c;
    return true;
}

std::string FormatClock(const ClockTime& c) {
    char text[32];
    std::snprintf(text, sizeof text, "%02d-%02dT%02d:%02d:%02d", c.month, c.day, c.hour, c.minute, c.second);
    return text;
}

bool ParseInputOption(const std::string& text, Instrument inputs[4], std::string& error) {
    const size_t eq = text.find('=');
    int64_t input = 0;
    if (eq == std::string::npos || !ParseInteger(text.substr(0, eq), 1, 4, input)) {
        error = "'" + text + "': expected N=INSTRUMENT with N 1 to 4";
        return false;
    }
    Instrument instrument;
    if (!ParseInstrument(text.substr(eq + 1), static_cast<int>(input), instrument, error)) {
        error = "input " + std::to_string(input) + ": " + error;
        return false;
    }
    inputs[input - 1] = instrument;
    return true;
}

bool ApplyFault(Faults& faults, const std::vector<std::string>& args, std::string& error) {
    if (args.empty()) {
        error = "fault: expected drop, corrupt, delay, silent, stale, unsolicited or off";
        return false;
    }
    Faults next = faults;
    const std::string& name = args[0];
    size_t used = 1;
    if (name == "off" || name == "none") {
        next = Faults{};
    } else if (name == "drop") {
        if (!ParseShareArg(args, 1, next.drop, error)) return false;
        used = 2;
    } else if (name == "stale") {
        if (!ParseShareArg(args, 1, next.stale, error)) return false;
        used = 2;
    } else if (name == "unsolicited") {
        if (!ParseShareArg(args, 1, next.unsolicited, error)) return false;
        used = 2;
    } else if (name == "corrupt") {
        if (!ParseShareArg(args, 1, next.corrupt, error)) return false;
        used = 2;
        if (args.size() > 2) {
            if (!ParseCorruption(args[2], next.corruption)) {
                error = "fault corrupt: kind '" + args[2] + "' is not checksum, escape, truncate or any";
                return false;
            }
            used = 3;
        }
    } else if (name == "drop-reply") {
        int64_t code = 0;
        std::vector<int> frames;
        bool ok = args.size() >= 3 && ParseInteger(args[1], 0, 255, code);
        for (const std::string& item : ok ? Split(args[2], ",") : std::vector<std::string>{}) {
            int64_t at = 0;
            ok = ok && ParseInteger(item, -65536, 65535, at);
            frames.push_back(static_cast<int>(at));
        }
        if (!ok || frames.empty()) {
            error = "fault drop-reply: expected CODE 0-255 and frame positions such as 0,3,-1 (-1 the last)";
            return false;
        }
        next.dropReplyCode = static_cast<int>(code);
        next.dropReplyFrames = frames;
        used = 3;
    } else if (name == "delay") {
        int64_t ms = 0;
        if (args.size() < 2 || !ParseInteger(args[1], 0, 600000, ms)) {
            error = "fault delay: expected milliseconds 0 to 600000";
            return false;
        }
        next.delayMs = static_cast<int>(ms);
        used = 2;
    } else if (name == "silent") {
        if (args.size() < 2 || !ParseSwitch(args[1], next.silent)) {
            error = "fault silent: expected on or off";
            return false;
        }
        used = 2;
    } else if (name == "silent-from") {
        int64_t code = 0;
        if (args.size() < 2 || !ParseInteger(args[1], 0, 255, code)) {
            error = "fault silent-from: expected CODE 0-255";
            return false;
        }
        next.silentFromCode = static_cast<int>(code);
        used = 2;
    } else {
        error = "unknown fault '" + name + "' (drop drop-reply corrupt delay silent silent-from stale unsolicited off)";
        return false;
    }
    if (args.size() > used) {
        error = "fault " + name + ": unexpected '" + args[used] + "'";
        return false;
    }
    faults = next;
    return true;
}

std::string DescribeFaults(const Faults& f) {
    char text[200];
    std::snprintf(text, sizeof text, "drop=%g corrupt=%g corruption=%s delay=%d silent=%s stale=%g unsolicited=%g",
                  f.drop, f.corrupt, CorruptionName(f.corruption), f.delayMs, f.silent ? "on" : "off", f.stale,
                  f.unsolicited);
    std::string description = text;
    if (f.dropReplyCode >= 0) {
        description += " drop-reply=" + std::to_string(f.dropReplyCode) + ":";
        for (size_t i = 0; i < f.dropReplyFrames.size(); ++i)
            description += (i > 0 ? "," : "") + std::to_string(f.dropReplyFrames[i]);
    }
    if (f.silentFromCode >= 0) description += " silent-from=" + std::to_string(f.silentFromCode);
    return description;
}

}  // namespace kx305sim
