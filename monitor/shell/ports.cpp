#include "shell/ports.h"

#include <cstdio>
#include <cstdlib>
#include <mutex>

#include "shell/settings.h"

namespace kx305mon {

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

unsigned ParsePortName(std::string_view name) {
    if (name.size() < 4 || name.substr(0, 3) != "COM") return 0;
    unsigned number = 0;
    for (char c : name.substr(3)) {
        if (!IsDigit(c)) return 0;
        number = number * 10 + static_cast<unsigned>(c - '0');
        if (number >= kPortSlots) return 0;
    }
    return number >= 1 ? number : 0;
}

bool ProbePortsByConfig(PortTable& table, PortDiscovery& discovery, bool probeAll) {
    for (unsigned port = 1; port <= kPortSlots; ++port) {
        std::optional<std::string>& slot = table[port - 1];
        if ((probeAll || !slot) && discovery.HasDefaultConfig(port)) slot = std::string();
    }
    return true;
}

std::string TrimPortDescription(const std::string& description) {
    const size_t open = description.rfind(" (COM");
    if (open == std::string::npos) return description;
    size_t at = open + 5;
    const size_t digits = at;
    while (at < description.size() && IsDigit(description[at])) ++at;
    if (at == digits || at + 1 != description.size() || description[at] != ')') return description;
    return description.substr(0, open);
}

bool BuildPortList(PortDiscovery& discovery, unsigned& count, std::string& text) {
    PortTable table;
    const bool listed = discovery.EnumerateSerialPorts(table);
    ProbePortsByConfig(table, discovery, !listed);

    count = 0;
    size_t size = 1;
    for (const auto& slot : table) {
        if (slot) {
            ++count;
            size += slot->size() + 10;
        }
    }
    text.clear();
    text.reserve(size);
    for (unsigned port = 1; port <= kPortSlots; ++port) {
        const std::optional<std::string>& slot = table[port - 1];
        if (!slot) continue;
        text += "COM" + std::to_string(port);
        if (!slot->empty()) text += ":" + TrimPortDescription(*slot);
        text += "\n";
    }
    return true;
}

std::vector<std::string> PortComboEntries(const std::string& listText) {
    std::vector<std::string> entries;
    size_t start = 0;
    while (start < listText.size()) {
        size_t end = listText.find('\n', start);
        if (end == std::string::npos) end = listText.size();
        std::string entry = listText.substr(start, end - start);
        const size_t colon = entry.find(':');
        if (colon != std::string::npos) entry[colon] = ' ';
        if (entry.size() > kPortEntryLength) entry.resize(kPortEntryLength);
        entries.push_back(std::move(entry));
        start = end + 1;
    }
    return entries;
}

std::vector<std::string> PortComboEntriesFor(AppContext& context, PortDiscovery& discovery) {
    unsigned count = 0;
    std::string text;
    {
        MutexLock guard(context.plumbing.lock);
        if (!BuildPortList(discovery, count, text)) return {};
    }
    return count != 0 ? PortComboEntries(text) : std::vector<std::string>();
}

std::string CurrentPortText(int32_t port) { return port == PORT_NONE ? std::string() : "COM" + std::to_string(port); }

std::optional<int32_t> ParsePortChoice(const char* comboText) {
    long port = 0;
    if (comboText == nullptr || std::sscanf(comboText, "COM%li", &port) != 1) return std::nullopt;
    return static_cast<int32_t>(port);
}

bool ConfirmPortChoice(AppContext& context, const char* comboText, int32_t portAtOpening,
                       const std::function<int(int32_t port)>& portTest, SettingsStore& store) {
    const std::optional<int32_t> port = ParsePortChoice(comboText);
    if (!port) return false;
    if (*port != portAtOpening) {
        if (portTest(*port) == 0) return false;
        SetPort(context, *port);
    }
    SaveSettings(context, store, kSettingsPort);
    return true;
}

}  // namespace kx305mon
