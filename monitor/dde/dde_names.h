// What the DDE server publishes, without the DDE library: the names of an
// input's service and topics, the texts of the three items, and the rules
// that map a conversation's names back to an input.  The Windows server
// keeps its string handles in a DdeNameTable and asks these functions; the
// tests use any numbering of names they like.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "kx305.h"

namespace kx305mon {

constexpr int kDdeInputs = 5;     // inputs 0..4 get a service
constexpr int kDdeMaxTopics = 9;  // the most quantities of any instrument (KX-125)
constexpr int kDdeItems = 3;
constexpr size_t kDdeTextSize = 200;  // every name and answer fits with its zero

// Item names in item order: bare value, value with unit, status text.
extern const char* const kDdeItemNames[kDdeItems];

// The names of one input as texts (code page 1250).  No topics: the input
// is not registered.
struct DdeInputTexts {
    std::string service;
    std::vector<std::string> topics;
};

// Service = the instrument's short tag; topics = each quantity's name, "#"
// and the serial number, in quantity order.  Type 0 gives no names at all.
DdeInputTexts BuildDdeInputTexts(uint32_t type, const InputReading& reading);

// The text of item `item` (0..2) of quantity `quantity`: at most 199
// characters; an unknown item gives "".
std::string BuildDdeAnswer(uint32_t type, const InputReading& reading, int quantity, int item);

// A name as the DDE library hands it out; 0 = none.  Equal names (compared
// without regard to case) have equal handles.
using DdeName = uintptr_t;

struct DdeInputNames {
    DdeName service = 0;
    DdeName topics[kDdeMaxTopics] = {};
    int topicCount = 0;  // 0 = not registered
};

struct DdeNameTable {
    DdeName items[kDdeItems] = {};
    DdeInputNames inputs[kDdeInputs];
};

// Where a (topic, item) request goes: the first input 0..4 that offers the
// topic, with the topic's quantity and the item's index.
struct DdeMatch {
    int input = -1;
    int quantity = -1;
    int item = -1;
    bool Found() const { return input >= 0; }
};

// Nothing matches unless `textFormat` (CF_TEXT) holds.
DdeMatch MatchDdeRequest(const DdeNameTable& table, bool textFormat, DdeName topic, DdeName item);

// A connect: some registered input has this service and this topic.
bool MatchDdeConnect(const DdeNameTable& table, DdeName topic, DdeName service);

// A wildcard connect: every (service, topic) of the registered inputs, in
// input and quantity order, restricted to `service` and `topic` where they
// are not 0.  Without the closing pair of zeros.
std::vector<std::pair<DdeName, DdeName>> DdeWildcardPairs(const DdeNameTable& table, DdeName topic, DdeName service);

// Another registered input publishes the same service as `input` (two
// thermohygrometers, say).  The library knows a service name once: it is
// registered by the first of its inputs and unregistered with the last.
bool DdeServiceShared(const DdeNameTable& table, int input);

}  // namespace kx305mon
