#include "instrument.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

#include "text.h"

namespace kx305sim {
namespace {

enum class KeyKind { kValue, kFlag, kChannelSet };

struct KeyDef {
    const char* name;
    KeyKind kind;
    int slot;
    double initial;     // value in display units, or flag value
    double drift;       // value: how far it wanders around its base
    double lo, hi;      // value: plausible range of the drift; flag: allowed range
    const char* words;  // flag: names of the values 0, 1, 2 ... separated by '|'
};

struct TypeDef {
    int type;
    const char* name;
    const char* help;  // what the keys mean, for --help
    std::vector<KeyDef> keys;
};

KeyDef Value(const char* name, int slot, double initial, double drift, double lo, double hi) {
    return {name, KeyKind::kValue, slot, initial, drift, lo, hi, nullptr};
}
KeyDef Flag(const char* name, int slot, int initial = 0, int lo = 0, int hi = 1, const char* words = nullptr) {
    return {name, KeyKind::kFlag, slot, double(initial), 0, double(lo), double(hi), words};
}
KeyDef Calibration() { return Flag("cal-err", kCalibrationError); }

const std::vector<TypeDef>& Types() {
    static const std::vector<TypeDef> types = {
        {kKX538S,
         "kx538s",
         "KX-538S distance: d=distance unit=m|mm dec=0|1 cal-err d-err",
         {Value("d", kDistance, 25.0, 0.5, 0, 9999.9), Flag("unit", kUnit, 0, 0, 1, "m|mm"), Flag("dec", kDecimals, 1),
          Calibration(), Flag("d-err", kDistanceError)}},
        {kKX124,
         "kx124",
         "KX-124 thermohygrometer: t=degC h=% cal-err t-err h-err",
         {Value("t", kTemperature, 21.0, 2.0, -40, 80), Value("h", kHumidity, 45.0, 5.0, 0, 99.9), Calibration(),
          Flag("t-err", kTemperatureError), Flag("h-err", kHumidityError)}},
        {kKX124T,
         "kx124t",
         "KX-124 temperature only: t=degC dec=1|2 cal-err t-err",
         {Value("t", kTemperature, 21.0, 2.0, -40, 80), Flag("dec", kDecimals, 1, 1, 2), Calibration(),
          Flag("t-err", kTemperatureError)}},
        {kKX125,
         "kx125",
         "KX-125 thermometer: main=degC t1..t8=degC ch=channels present, digits 0-8 "
         "(0 = main reading) or none, dec=1|2 (50 or 59 data bytes) cal-err t-err",
         {{"ch", KeyKind::kChannelSet, kChannels, 0x1F, 0, 0, 0, nullptr},
          Value("main", kChannel0, 20.0, 1.0, -50, 150),
          Value("t1", kChannel0 + 1, 18.0, 1.5, -50, 150),
          Value("t2", kChannel0 + 2, 18.5, 1.5, -50, 150),
          Value("t3", kChannel0 + 3, 19.0, 1.5, -50, 150),
          Value("t4", kChannel0 + 4, 19.5, 1.5, -50, 150),
          Value("t5", kChannel0 + 5, 20.0, 1.5, -50, 150),
          Value("t6", kChannel0 + 6, 20.5, 1.5, -50, 150),
          Value("t7", kChannel0 + 7, 21.0, 1.5, -50, 150),
          Value("t8", kChannel0 + 8, 21.5, 1.5, -50, 150),
          Flag("dec", kDecimals, 1, 1, 2),
          Calibration(),
          Flag("t-err", kTemperatureError)}},
        {kKX129,
         "kx129",
         "KX-129 thermohygrobarometer: t=degC h=% p=hPa cal-err t-err h-err p-err",
         {Value("t", kTemperature, 20.5, 2.0, -40, 80), Value("h", kHumidity, 50.0, 5.0, 0, 99.9),
          Value("p", kPressure, 1013.2, 4.0, 900, 1080), Calibration(), Flag("t-err", kTemperatureError),
          Flag("h-err", kHumidityError), Flag("p-err", kPressureError)}},
        {kKX132,
         "kx132",
         "KX-132 barometer: p=pressure unit=hpa|pa dec=0|1 cal-err p-err",
         {Value("p", kPressure, 1013.2, 4.0, -9999, 99999), Flag("unit", kUnit, 1, 0, 1, "pa|hpa"),
          Flag("dec", kDecimals, 1), Calibration(), Flag("p-err", kPressureError)}},
        {kKX153,
         "kx153",
         "KX-153 anemometer: dir=degrees speed=m/s cal-err dir-err speed-err",
         {Value("dir", kDirection, 225, 40, 0, 359), Value("speed", kSpeed, 3.5, 2.0, 0, 60), Calibration(),
          Flag("dir-err", kDirectionError), Flag("speed-err", kSpeedError)}},
        {kKX261,
         "kx261",
         "KX-261 radiation: i=intensity unit=wm2|klx dec=0|1 cal-err i-err",
         {Value("i", kIntensity, 450, 120, 0, 1400), Flag("unit", kUnit, 0, 0, 1, "wm2|klx"), Flag("dec", kDecimals, 0),
          Calibration(), Flag("i-err", kIntensityError)}},
        {kKX262,
         "kx262",
         "KX-262 radiation: ch=1|2 i1= i2= unit1= unit2=wm2|klx|umol|0-7 dec1= dec2=0|1 "
         "cal-err err1 err2",
         {Flag("ch", kChannels, 2, 1, 2), Value("i1", kIntensity, 450, 120, 0, 1400),
          Value("i2", kIntensity2, 380, 100, 0, 1400), Flag("unit1", kUnit, 0, 0, 7, "wm2|klx|umol"),
          Flag("unit2", kUnit2, 0, 0, 7, "wm2|klx|umol"), Flag("dec1", kDecimals, 0), Flag("dec2", kDecimals2, 0),
          Calibration(), Flag("err1", kIntensityError), Flag("err2", kIntensityError2)}},
        {kKX273,
         "kx273",
         "KX-273 surface resistance: r=ohm cal-err int-err r-err",
         {Value("r", kResistance, 4700, 300, 0, 99999), Calibration(), Flag("int-err", kInternalError),
          Flag("r-err", kResistanceError)}},
    };
    return types;
}

const TypeDef* FindType(int type) {
    for (const TypeDef& def : Types())
        if (def.type == type) return &def;
    return nullptr;
}

const KeyDef* FindKey(const TypeDef& def, const std::string& name) {
    for (const KeyDef& key : def.keys)
        if (name == key.name) return &key;
    return nullptr;
}

std::vector<std::string> Words(const char* words) {
    return words != nullptr ? Split(words, "|") : std::vector<std::string>{};
}

int64_t Pow10(int n) {
    int64_t p = 1;
    while (n-- > 0) p *= 10;
    return p;
}

// dec(k, n): n digits.  sdec(k, n): a sign or leading digit and n digits.
ValueField Unsigned(int decimals, int digits) { return {decimals, 0, Pow10(digits) - 1}; }
ValueField Signed(int decimals, int digits) { return {decimals, -(Pow10(digits) - 1), Pow10(digits + 1) - 1}; }

int64_t Scale(double value, int decimals) {
    return static_cast<int64_t>(std::llround(value * static_cast<double>(Pow10(decimals))));
}

std::string FormatValue(double value, int decimals) {
    char text[48];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

bool ParseChannelSet(const std::string& text, int& mask) {
    if (text == "none" || text == "-") {
        mask = 0;
        return true;
    }
    if (text.empty()) return false;
    int m = 0;
    for (char c : text) {
        if (c < '0' || c > '8') return false;
        m |= 1 << (c - '0');
    }
    mask = m;
    return true;
}

bool ParseFlag(const KeyDef& key, const std::string& text, int& value) {
    const std::vector<std::string> words = Words(key.words);
    for (size_t i = 0; i < words.size(); ++i) {
        if (EqualsIgnoreCase(text, words[i])) {
            value = static_cast<int>(i);
            return true;
        }
    }
    int64_t v = 0;
    if (!ParseInteger(text, key.lo, key.hi, v)) return false;
    value = static_cast<int>(v);
    return true;
}

std::string FlagRangeText(const KeyDef& key) {
    std::string text = std::to_string(int(key.lo)) + " to " + std::to_string(int(key.hi));
    if (key.words != nullptr) text += " or " + std::string(key.words);
    return text;
}

std::string KeyList(const TypeDef& def) {
    std::string list = "serial";
    for (const KeyDef& key : def.keys) list += std::string(" ") + key.name;
    return list;
}

}  // namespace

ValueField FieldOf(const Instrument& instrument, int slot) {
    const int* f = instrument.flags;
    switch (instrument.type) {
    case kKX538S:
    case kKX132:
    case kKX261:
        return Signed(f[kDecimals], 4);
    case kKX124:
        return slot == kHumidity ? Unsigned(1, 3) : Signed(1, 3);
    case kKX124T: {
        // A sign character, then four digits (one decimal) or five (two).
        const int digits = f[kDecimals] == 2 ? 5 : 4;
        return {f[kDecimals] == 2 ? 2 : 1, -(Pow10(digits) - 1), Pow10(digits) - 1};
    }
    case kKX125:
        return f[kDecimals] == 2 ? Signed(2, 5) : Signed(1, 4);
    case kKX129:
        if (slot == kHumidity) return Unsigned(1, 3);
        return slot == kPressure ? Signed(1, 4) : Signed(1, 3);
    case kKX153:
        return slot == kDirection ? Unsigned(0, 3) : Unsigned(1, 4);
    case kKX262:
        return Signed(slot == kIntensity2 ? f[kDecimals2] : f[kDecimals], 4);
    case kKX273:
        return Unsigned(0, 5);
    default:
        return {};
    }
}

int64_t RawValue(const Instrument& instrument, int slot) {
    const ValueField field = FieldOf(instrument, slot);
    const double value = instrument.q[slot].value;
    if (!std::isfinite(value)) return 0;
    return std::clamp(Scale(value, field.decimals), field.rawMin, field.rawMax);
}

bool ApplySettings(Instrument& instrument, const std::string& settings, std::string& error) {
    const TypeDef* def = FindType(instrument.type);
    Instrument next = instrument;
    for (const std::string& token : Split(settings, ", \t")) {
        const size_t eq = token.find('=');
        if (eq == std::string::npos || eq == 0 || eq + 1 == token.size()) {
            error = "'" + token + "' is not KEY=VALUE";
            return false;
        }
        const std::string name = token.substr(0, eq);
        const std::string text = token.substr(eq + 1);
        if (name == "serial") {
            int64_t serial = 0;
            if (!ParseInteger(text, 0, 65535, serial)) {
                error = "serial=" + text + ": expected 0 to 65535";
                return false;
            }
            next.serial = static_cast<uint16_t>(serial);
            continue;
        }
        const KeyDef* key = def != nullptr ? FindKey(*def, name) : nullptr;
        if (key == nullptr) {
            error = std::string(TypeName(instrument.type)) + " has no key '" + name + "'";
            if (def != nullptr) error += " (keys: " + KeyList(*def) + ")";
            return false;
        }
        switch (key->kind) {
        case KeyKind::kValue: {
            Quantity& q = next.q[key->slot];
            if (text == "drift") {
                q.base = q.value;
                q.walk = 0;
                q.pinned = false;
                break;
            }
            double value = 0;
            if (!ParseNumber(text, value)) {
                error = name + "=" + text + ": not a number";
                return false;
            }
            q.base = q.value = value;
            q.walk = 0;
            q.pinned = true;
            break;
        }
        case KeyKind::kFlag:
            if (!ParseFlag(*key, text, next.flags[key->slot])) {
                error = name + "=" + text + ": expected " + FlagRangeText(*key);
                return false;
            }
            break;
        case KeyKind::kChannelSet:
            if (!ParseChannelSet(text, next.flags[key->slot])) {
                error = name + "=" + text + ": expected digits 0 to 8 or none";
                return false;
            }
            break;
        }
    }
    // A value set explicitly must fit its field as it is now configured;
    // drifting values are held inside it when encoded.
    if (def != nullptr) {
        for (const KeyDef& key : def->keys) {
            if (key.kind != KeyKind::kValue || !next.q[key.slot].pinned) continue;
            const ValueField field = FieldOf(next, key.slot);
            const int64_t raw = Scale(next.q[key.slot].value, field.decimals);
            if (raw < field.rawMin || raw > field.rawMax) {
                const double scale = static_cast<double>(Pow10(field.decimals));
                error = std::string(key.name) + "=" + FormatValue(next.q[key.slot].value, field.decimals) +
                        " does not fit " + def->name + " (" + FormatValue(field.rawMin / scale, field.decimals) +
                        " to " + FormatValue(field.rawMax / scale, field.decimals) + ")";
                return false;
            }
        }
    }
    instrument = next;
    return true;
}

bool ParseInstrument(const std::string& form, int input, Instrument& out, std::string& error) {
    const std::vector<std::string> tokens = Split(form, ", \t");
    if (tokens.empty()) {
        error = "empty instrument";
        return false;
    }
    const std::string& name = tokens[0];
    Instrument instrument;
    if (EqualsIgnoreCase(name, "none") || name == "0") {
        if (tokens.size() > 1) {
            error = "'none' takes no settings";
            return false;
        }
        out = instrument;
        return true;
    }
    const TypeDef* def = nullptr;
    int64_t code = 0;
    if (ParseInteger(name, 2, 11, code)) {
        def = FindType(static_cast<int>(code));
    } else {
        for (const TypeDef& d : Types())
            if (EqualsIgnoreCase(name, d.name)) def = &d;
    }
    if (def == nullptr) {
        error = "unknown instrument '" + name +
                "' (kx538s kx124 kx124t kx125 kx129 kx132 kx153 kx261 "
                "kx262 kx273, a type 2 to 11, or none)";
        return false;
    }
    instrument.type = def->type;
    instrument.serial = static_cast<uint16_t>(1000 + 100 * input + def->type);
    for (const KeyDef& key : def->keys) {
        if (key.kind == KeyKind::kValue)
            instrument.q[key.slot].base = instrument.q[key.slot].value = key.initial;
        else
            instrument.flags[key.slot] = static_cast<int>(key.initial);
    }
    std::string settings;
    for (size_t i = 1; i < tokens.size(); ++i) settings += tokens[i] + ",";
    if (!ApplySettings(instrument, settings, error)) return false;
    out = instrument;
    return true;
}

std::string DescribeInstrument(const Instrument& instrument) {
    const TypeDef* def = FindType(instrument.type);
    if (def == nullptr) return TypeName(instrument.type);
    std::string text = std::string(def->name) + ",serial=" + std::to_string(instrument.serial);
    for (const KeyDef& key : def->keys) {
        text += std::string(",") + key.name + "=";
        // Value keys index the quantities, the others the flags.
        const int flag = key.kind == KeyKind::kValue ? 0 : instrument.flags[key.slot];
        switch (key.kind) {
        case KeyKind::kValue: {
            const ValueField field = FieldOf(instrument, key.slot);
            text += FormatValue(
                static_cast<double>(RawValue(instrument, key.slot)) / static_cast<double>(Pow10(field.decimals)),
                field.decimals);
            break;
        }
        case KeyKind::kFlag: {
            const std::vector<std::string> words = Words(key.words);
            text += flag >= 0 && size_t(flag) < words.size() ? words[size_t(flag)] : std::to_string(flag);
            break;
        }
        case KeyKind::kChannelSet: {
            std::string digits;
            for (int c = 0; c <= 8; ++c)
                if (flag & (1 << c)) digits += char('0' + c);
            text += digits.empty() ? "none" : digits;
            break;
        }
        }
    }
    return text;
}

const char* TypeName(int type) {
    if (type == kRainGauge) return "rain";
    const TypeDef* def = FindType(type);
    return def != nullptr ? def->name : "none";
}

std::string KeyHelp() {
    std::string text;
    for (const TypeDef& def : Types()) {
        char line[256];
        std::snprintf(line, sizeof line, "  %-7s (type %2d) %s\n", def.name, def.type, def.help);
        text += line;
    }
    return text;
}

void SeedDrift(Instrument& instrument, std::mt19937& random) {
    std::uniform_real_distribution<double> angle(0.0, 6.283185307179586);
    for (Quantity& q : instrument.q) q.phase = angle(random);
    Drift(instrument, 0, random);
}

void Drift(Instrument& instrument, double seconds, std::mt19937& random) {
    const TypeDef* def = FindType(instrument.type);
    if (def == nullptr || seconds < 0) return;
    constexpr double kTwoPi = 6.283185307179586;
    constexpr double kSwingPeriod = 3600;  // seconds of one slow swing
    constexpr double kWalkMemory = 900;    // seconds for the walk to fade
    std::normal_distribution<double> step(0.0, 1.0);
    const double decay = std::exp(-seconds / kWalkMemory);
    const double spread = std::sqrt(seconds / 60.0);
    for (const KeyDef& key : def->keys) {
        if (key.kind != KeyKind::kValue) continue;
        Quantity& q = instrument.q[key.slot];
        if (q.pinned) continue;
        q.phase = std::fmod(q.phase + seconds * kTwoPi / kSwingPeriod, kTwoPi);
        q.walk = q.walk * decay + step(random) * key.drift * 0.1 * spread;
        q.value = std::clamp(q.base + 0.5 * key.drift * std::sin(q.phase) + q.walk, key.lo, key.hi);
    }
}

}  // namespace kx305sim
