#include "dde/dde_names.h"

#include <cstdio>
#include <cstring>

#include "instruments/catalogue.h"

namespace kx305mon {

const char* const kDdeItemNames[kDdeItems] = {"Wynik", "Pomiar", "Status"};

DdeInputTexts BuildDdeInputTexts(uint32_t type, const InputReading& reading) {
    DdeInputTexts texts;
    if (type == kTypeNone) return texts;
    char buffer[kDdeTextSize];
    InstrumentName(type, buffer, sizeof buffer, false);
    texts.service = buffer;
    const long serial = InstrumentSerial(type, reading);
    for (int q = 0; q < kDdeMaxTopics; ++q) {
        const int nameId = QuantityValue(type, reading, q, nullptr, 0, false, false);
        if (nameId == 0) break;
        std::snprintf(buffer, sizeof buffer, "%s#%li", StringText(nameId), serial);
        texts.topics.emplace_back(buffer);
    }
    return texts;
}

std::string BuildDdeAnswer(uint32_t type, const InputReading& reading, int quantity, int item) {
    char buffer[kDdeTextSize] = "";
    if (item == 0 || item == 1) {
        QuantityValue(type, reading, quantity, buffer, sizeof buffer, item == 1, false);
    } else if (item == 2) {
        const int status = QuantityStatusText(type, reading, quantity, buffer, sizeof buffer, false);
        std::snprintf(buffer, sizeof buffer, "%s", StringText(status));
    }
    return buffer;
}

namespace {

int TopicIndex(const DdeInputNames& input, DdeName topic) {
    for (int q = 0; q < input.topicCount; ++q)
        if (input.topics[q] == topic) return q;
    return -1;
}

int ItemIndex(const DdeNameTable& table, DdeName item) {
    for (int i = 0; i < kDdeItems; ++i)
        if (item != 0 && table.items[i] == item) return i;
    return -1;
}

}  // namespace

DdeMatch MatchDdeRequest(const DdeNameTable& table, bool textFormat, DdeName topic, DdeName item) {
    DdeMatch match;
    const int itemIndex = ItemIndex(table, item);
    if (!textFormat || topic == 0 || itemIndex < 0) return match;
    for (int i = 0; i < kDdeInputs; ++i) {
        const int q = TopicIndex(table.inputs[i], topic);
        if (q >= 0) return DdeMatch{i, q, itemIndex};
    }
    return match;
}

bool MatchDdeConnect(const DdeNameTable& table, DdeName topic, DdeName service) {
    if (topic == 0 || service == 0) return false;
    for (const DdeInputNames& input : table.inputs)
        if (input.topicCount > 0 && input.service == service && TopicIndex(input, topic) >= 0) return true;
    return false;
}

std::vector<std::pair<DdeName, DdeName>> DdeWildcardPairs(const DdeNameTable& table, DdeName topic, DdeName service) {
    std::vector<std::pair<DdeName, DdeName>> pairs;
    for (const DdeInputNames& input : table.inputs) {
        if (service != 0 && input.service != service) continue;
        for (int q = 0; q < input.topicCount; ++q)
            if (topic == 0 || input.topics[q] == topic) pairs.emplace_back(input.service, input.topics[q]);
    }
    return pairs;
}

bool DdeServiceShared(const DdeNameTable& table, int input) {
    const DdeName service = table.inputs[input].service;
    for (int i = 0; i < kDdeInputs; ++i)
        if (i != input && table.inputs[i].topicCount > 0 && table.inputs[i].service == service) return true;
    return false;
}

}  // namespace kx305mon
