#include "serve_payloads.h"

#include <fcntl.h>
#include <iconv.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <set>

#include "console.h"
#include "dde/dde_names.h"
#include "instruments/catalogue.h"
#include "instruments/quantity.h"
#include "time/local_time.h"

namespace kx305cli {

using namespace kx305mon;

bool ParseBrokerUrl(const std::string& url, BrokerAddress& address, std::string& error) {
    address = BrokerAddress{};
    std::string rest;
    if (url.rfind("mqtt://", 0) == 0) {
        rest = url.substr(7);
        address.port = 1883;
    } else if (url.rfind("mqtts://", 0) == 0) {
        rest = url.substr(8);
        address.tls = true;
        address.port = 8883;
    } else {
        error = "'" + url + "' is not mqtt://HOST[:PORT] or mqtts://HOST[:PORT]";
        return false;
    }
    if (!rest.empty() && rest.back() == '/') rest.pop_back();
    if (rest.find('/') != std::string::npos) {
        error = "'" + url + "' has a path; only mqtt://HOST[:PORT] or mqtts://HOST[:PORT] is taken";
        return false;
    }
    if (const size_t at = rest.rfind('@'); at != std::string::npos) {
        address.user = rest.substr(0, at);
        rest = rest.substr(at + 1);
        if (address.user.find(':') != std::string::npos) {
            error = "a password in the URL would be on the command line; use --password-file or KX305_MQTT_PASSWORD";
            return false;
        }
        if (address.user.empty()) {
            error = "'" + url + "' has an empty user name";
            return false;
        }
    }
    std::string port;
    if (!rest.empty() && rest[0] == '[') {
        const size_t close = rest.find(']');
        if (close == std::string::npos) {
            error = "'" + url + "' has an unclosed '['";
            return false;
        }
        address.host = rest.substr(1, close - 1);
        const std::string after = rest.substr(close + 1);
        if (!after.empty()) {
            if (after[0] != ':') {
                error = "'" + url + "' has text after the host";
                return false;
            }
            port = after.substr(1);
            if (port.empty()) port = "-";
        }
    } else {
        const size_t colon = rest.find(':');
        address.host = rest.substr(0, colon);
        if (colon != std::string::npos) {
            port = rest.substr(colon + 1);
            if (port.empty()) port = "-";
        }
    }
    if (address.host.empty()) {
        error = "'" + url + "' names no host";
        return false;
    }
    if (!port.empty()) {
        int value = 0;
        for (char c : port) {
            if (c < '0' || c > '9' || value > 65535) {
                value = -1;
                break;
            }
            value = value * 10 + (c - '0');
        }
        if (value < 1 || value > 65535) {
            error = "'" + url + "' has no port 1 to 65535";
            return false;
        }
        address.port = value;
    }
    return true;
}

std::string Utf8FromCp1250(const std::string& text) {
    static const iconv_t converter = iconv_open("UTF-8", "CP1250");
    static std::mutex lock;
    std::lock_guard<std::mutex> guard(lock);
    // The few bytes code page 1250 leaves undefined become U+FFFD.
    return ConvertText(converter, text, "\xEF\xBF\xBD");
}

std::string JsonString(const std::string& text) {
    std::string out = "\"";
    for (unsigned char c : text) {
        switch (c) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            if (c < 0x20) {
                char escaped[8];
                std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
                out += escaped;
            } else {
                out += static_cast<char>(c);
            }
        }
    }
    return out + "\"";
}

namespace {

// A plain value text as a JSON number, or null (the invalid value's
// question marks, a damaged text in a file).
std::string JsonNumber(const std::string& text) {
    size_t i = 0;
    if (i < text.size() && text[i] == '-') ++i;
    const size_t digitsFrom = i;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9') ++i;
    if (i == digitsFrom || (text[digitsFrom] == '0' && i - digitsFrom > 1)) return "null";
    if (i < text.size() && text[i] == '.') {
        const size_t fraction = ++i;
        while (i < text.size() && text[i] >= '0' && text[i] <= '9') ++i;
        if (i == fraction) return "null";
    }
    return i == text.size() ? text : "null";
}

std::string Cp1250Text(int stringId) { return Utf8FromCp1250(StringText(stringId)); }

std::string Trimmed(const char* text) {
    std::string s = text;
    while (!s.empty() && s.front() == ' ') s.erase(s.begin());
    while (!s.empty() && s.back() == ' ') s.pop_back();
    return s;
}

// The present instruments' inputs; type 0 and unknown codes are no
// instrument.
bool Present(const InputReading& reading) { return InstrumentStatus(reading.type, reading) != 0; }

std::string SerialJson(int32_t serial) { return serial == INVALID_VALUE ? "null" : std::to_string(serial); }

std::string LongName(uint32_t type) {
    char name[200];
    InstrumentName(type, name, sizeof name, true);
    return Utf8FromCp1250(name);
}

// "values": {name: number, ...} of one live input.
std::string LiveValues(const InputReading& reading) {
    std::string out = "{";
    for (int q = 0;; ++q) {
        char value[64];
        const int nameId = QuantityValue(reading.type, reading, q, value, sizeof value, false, true);
        if (nameId == 0) break;
        if (q > 0) out += ", ";
        out += JsonString(Cp1250Text(nameId)) + ": " + JsonNumber(value);
    }
    return out + "}";
}

std::string InputJson(int input, uint32_t type, const std::string& serial, int status, const std::string& values) {
    std::string out = "{";
    if (input >= 0) out += "\"input\": " + std::to_string(input) + ", ";
    out += "\"type\": " + std::to_string(type) + ", \"name\": " + JsonString(LongName(type)) +
           ", \"serial\": " + serial + ", \"status\": " + JsonString(Cp1250Text(status)) + ", \"values\": " + values;
    return out + "}";
}

// What Home Assistant calls a quantity measured in `unit` (UTF-8, trimmed).
struct HomeAssistantKind {
    const char* deviceClass = nullptr;
    std::string unit;
    bool total = false;  // an amount that only grows
};

HomeAssistantKind KindOf(uint32_t type, const std::string& unit) {
    HomeAssistantKind kind;
    kind.unit = unit;
    if (type == kTypeRainGauge) {
        kind.deviceClass = "precipitation";
        kind.total = true;
    } else if (unit ==
               "\xC2\xB0"
               "C") {
        kind.deviceClass = "temperature";
    } else if (unit == "%") {
        kind.deviceClass = "humidity";
    } else if (unit == "hPa" || unit == "Pa") {
        kind.deviceClass = "atmospheric_pressure";
    } else if (unit == "m/s") {
        kind.deviceClass = "wind_speed";
    } else if (unit == "W/m2") {
        kind.deviceClass = "irradiance";
        kind.unit = "W/m\xC2\xB2";  // the spelling Home Assistant checks
    } else if (unit == "lx") {
        kind.deviceClass = "illuminance";
    } else if (unit == "m" || unit == "mm" || unit == "cm") {
        kind.deviceClass = "distance";
    }
    return kind;
}

}  // namespace

std::string ConverterTopic(const std::string& prefix, uint32_t serial, const std::string& leaf) {
    return prefix + "/" + std::to_string(serial) + "/" + leaf;
}

TopicMap ValueTopics(const std::string& prefix, const LiveInputs& live) {
    TopicMap topics;
    for (int input = 0; input < KX305_INPUTS && input < kDdeInputs; ++input) {
        const InputReading& reading = live.inputs[input];
        const DdeInputTexts names = BuildDdeInputTexts(reading.type, reading);
        for (size_t q = 0; q < names.topics.size(); ++q) {
            std::string topic = names.topics[q];
            for (char& c : topic) {
                if (c == '#') c = '/';
            }
            const std::string base =
                ConverterTopic(prefix, live.serial, Utf8FromCp1250(names.service) + "/" + Utf8FromCp1250(topic));
            for (int item = 0; item < kDdeItems; ++item) {
                topics[base + "/" + kDdeItemNames[item]] =
                    Utf8FromCp1250(BuildDdeAnswer(reading.type, reading, static_cast<int>(q), item));
            }
        }
    }
    return topics;
}

std::string IsoUtc(const CalendarTime& utc, bool compact) {
    char text[32];
    std::snprintf(text, sizeof text, compact ? "%04d%02d%02dT%02d%02d%02dZ" : "%04d-%02d-%02dT%02d:%02d:%02dZ",
                  utc.year, utc.month, utc.day, utc.hour, utc.minute, utc.second);
    return text;
}

std::string StateJson(const CalendarTime& clockUtc, const LiveInputs& live) {
    std::string out = "{\"time\": " + JsonString(IsoUtc(clockUtc)) + ", \"inputs\": [";
    bool first = true;
    for (int input = 0; input < KX305_INPUTS; ++input) {
        const InputReading& reading = live.inputs[input];
        if (!Present(reading)) continue;
        if (!first) out += ", ";
        first = false;
        out += InputJson(input, reading.type, SerialJson(InstrumentSerial(reading.type, reading)),
                         InstrumentStatus(reading.type, reading), LiveValues(reading));
    }
    return out + "]}";
}

std::string QuantitySlug(const std::string& utf8Name) {
    // The Polish letters' two-byte UTF-8 forms and their ASCII base letters.
    static const std::pair<const char*, char> kFolded[] = {
        {"\xC4\x85", 'a'}, {"\xC4\x84", 'a'}, {"\xC4\x87", 'c'}, {"\xC4\x86", 'c'}, {"\xC4\x99", 'e'},
        {"\xC4\x98", 'e'}, {"\xC5\x82", 'l'}, {"\xC5\x81", 'l'}, {"\xC5\x84", 'n'}, {"\xC5\x83", 'n'},
        {"\xC3\xB3", 'o'}, {"\xC3\x93", 'o'}, {"\xC5\x9B", 's'}, {"\xC5\x9A", 's'}, {"\xC5\xBA", 'z'},
        {"\xC5\xB9", 'z'}, {"\xC5\xBC", 'z'}, {"\xC5\xBB", 'z'},
    };
    std::string slug;
    for (size_t i = 0; i < utf8Name.size();) {
        const unsigned char c = static_cast<unsigned char>(utf8Name[i]);
        if ((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')) {
            slug += static_cast<char>(c);
            ++i;
            continue;
        }
        if (c >= 'A' && c <= 'Z') {
            slug += static_cast<char>(c - 'A' + 'a');
            ++i;
            continue;
        }
        char folded = '_';
        size_t length = 1;
        for (const auto& [letter, base] : kFolded) {
            if (utf8Name.compare(i, 2, letter) == 0) {
                folded = base;
                length = 2;
                break;
            }
        }
        if (folded == '_') {
            // Any other character, whole: its continuation bytes too.
            while (i + length < utf8Name.size() && (static_cast<unsigned char>(utf8Name[i + length]) & 0xC0) == 0x80)
                ++length;
            if (!slug.empty() && slug.back() == '_') folded = 0;
        }
        if (folded != 0) slug += folded;
        i += length;
    }
    return slug;
}

TopicMap DiscoveryConfigs(const DiscoveryOptions& options, const LiveInputs& live) {
    TopicMap configs;
    const std::string converter = "kx305_" + std::to_string(live.serial);
    const std::string device =
        "{\"identifiers\": [" + JsonString(converter) +
        "], \"name\": " + JsonString("KX-305 " + std::to_string(live.serial)) +
        ", \"manufacturer\": \"KX\", \"model\": \"KX-305\", \"sw_version\": " + JsonString(options.firmware) + "}";
    const std::string stateTopic = ConverterTopic(options.topicPrefix, live.serial, "state");
    const std::string statusTopic = ConverterTopic(options.topicPrefix, live.serial, "status");
    for (int input = 0; input < KX305_INPUTS; ++input) {
        const InputReading& reading = live.inputs[input];
        if (!Present(reading)) continue;
        const std::string instrument = LongName(reading.type);
        for (int q = 0;; ++q) {
            Quantity quantity;
            if (!FindQuantity(reading.type, reading, q, quantity)) break;
            const std::string name = Cp1250Text(quantity.nameId);
            const std::string slug = std::to_string(input) + "_" + QuantitySlug(name);
            const HomeAssistantKind kind = KindOf(reading.type, Utf8FromCp1250(Trimmed(quantity.unit)));
            // Jinja's x.values is the dict method: the key is subscripted.
            const std::string valueTemplate = "{% for i in value_json.inputs if i.input == " + std::to_string(input) +
                                              " %}{{ i['values']['" + name + "'] }}{% endfor %}";
            // Another instrument on the input is another sensor to Home
            // Assistant (its history must not run on); the entity id, made
            // of the object id, stays that of the input.
            const int32_t serial = InstrumentSerial(reading.type, reading);
            const std::string uniqueId = converter + "_" + std::to_string(input) + "_" +
                                         (serial == INVALID_VALUE ? "" : std::to_string(serial) + "_") +
                                         QuantitySlug(name);
            std::string config =
                "{\"name\": " + JsonString(instrument + " " + std::to_string(input) + " " + name) +
                ", \"unique_id\": " + JsonString(uniqueId) + ", \"object_id\": " + JsonString(converter + "_" + slug) +
                ", \"state_topic\": " + JsonString(stateTopic) + ", \"value_template\": " + JsonString(valueTemplate) +
                ", \"availability_topic\": " + JsonString(statusTopic);
            if (!kind.unit.empty()) config += ", \"unit_of_measurement\": " + JsonString(kind.unit);
            if (kind.deviceClass != nullptr) config += ", \"device_class\": " + JsonString(kind.deviceClass);
            config += std::string(", \"state_class\": ") + (kind.total ? "\"total_increasing\"" : "\"measurement\"");
            config += ", \"device\": " + device + "}";
            configs[options.discoveryPrefix + "/sensor/" + converter + "/" + slug + "/config"] = config;
        }
    }
    return configs;
}

bool RecordMessage(uint32_t converterSerial, const MemoryRecord& record, std::string& id, std::string& json) {
    CalendarTime utc;
    if (!LocalToUtc(record.time, utc)) return false;
    id = std::to_string(converterSerial) + "-" + IsoUtc(utc, true);
    json = "{\"id\": " + JsonString(id) + ", \"time\": " + JsonString(IsoUtc(utc)) + ", \"inputs\": [";
    // The file keeps lines, not inputs: an instrument's lines follow each
    // other with its type and serial, and a quantity seen again begins the
    // next instrument.
    size_t k = 0;
    bool first = true;
    while (k < record.entries.size()) {
        const MemoryEntry& head = record.entries[k];
        std::set<int32_t> seen;
        std::string values = "{";
        size_t end = k;
        for (; end < record.entries.size(); ++end) {
            const MemoryEntry& entry = record.entries[end];
            if (entry.type != head.type || entry.serial != head.serial || !seen.insert(entry.quantity).second) break;
            if (end > k) values += ", ";
            values += JsonString(Cp1250Text(entry.quantity)) + ": " +
                      JsonNumber(std::string(entry.value, strnlen(entry.value, kEntryValueSize)));
        }
        if (!first) json += ", ";
        first = false;
        json += InputJson(-1, static_cast<uint32_t>(head.type), std::to_string(head.serial), head.status, values + "}");
        k = end;
    }
    json += "]}";
    return true;
}

std::string CursorPath(const std::string& registrationFile) { return registrationFile + ".published"; }

bool LoadCursor(const std::string& path, RecordCursor& cursor) {
    FILE* file = std::fopen(path.c_str(), "r");
    if (file == nullptr) return false;
    long long end = -1;
    char id[128] = {};
    const int got = std::fscanf(file, "%lld %127s", &end, id);
    std::fclose(file);
    if (got != 2 || end <= 0) return false;
    cursor.end = end;
    cursor.id = id;
    return true;
}

bool SaveCursor(const std::string& path, const RecordCursor& cursor) {
    const std::string temporary = path + ".tmp";
    const int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    const std::string text = std::to_string(cursor.end) + " " + cursor.id + "\n";
    const bool written = write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size()) && fsync(fd) == 0;
    const int error = errno;
    close(fd);
    if (!written || rename(temporary.c_str(), path.c_str()) != 0) {
        const int failure = written ? errno : error;
        unlink(temporary.c_str());
        errno = failure;
        return false;
    }
    return true;
}

}  // namespace kx305cli
