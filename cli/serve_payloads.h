// What `kx305cli serve` publishes, as texts: the broker address taken from
// its URL, the topic names, the DDE item texts per topic, the state and
// record documents, the Home Assistant discovery configurations and the
// cursor of the records the broker has acknowledged.  Pure functions of
// their arguments (and of the locale for the DDE texts); the network side
// lives in mqtt_link.cpp and the command in serve.cpp.  Every text built
// here is UTF-8.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "kx305.h"
#include "recording/registration_file.h"

namespace kx305cli {

struct BrokerAddress {
    bool tls = false;
    std::string host;
    int port = 0;
    std::string user;  // "" = none in the URL
};

// mqtt://[USER@]HOST[:PORT][/] or mqtts://...; HOST may be an IPv6 address
// in brackets.  A password in the URL is refused: it would be on the
// command line.  False with the complaint in `error`.
bool ParseBrokerUrl(const std::string& url, BrokerAddress& address, std::string& error);

// A code page 1250 text in UTF-8.
std::string Utf8FromCp1250(const std::string& text);

// A JSON string literal of a UTF-8 text, quotes included.
std::string JsonString(const std::string& text);

// The live state of the converter that the topics are made of.
struct LiveInputs {
    uint32_t serial = 0;  // the converter's
    InputReading inputs[KX305_INPUTS] = {};
};

// Retained topic -> payload.  An empty payload clears a retained message.
using TopicMap = std::map<std::string, std::string>;

// The DDE names of every present input as topics
// PREFIX/<c>/<service>/<quantity>/<serial>/<item>, each with its item text.
TopicMap ValueTopics(const std::string& prefix, const LiveInputs& live);

// PREFIX/<c>/...
std::string ConverterTopic(const std::string& prefix, uint32_t serial, const std::string& leaf);

// "YYYY-MM-DDTHH:MM:SSZ"; "YYYYMMDDTHHMMSSZ" when `compact`.
std::string IsoUtc(const kx305mon::CalendarTime& utc, bool compact = false);

// {"time": ..., "inputs": [...]} of the live readings; `clockUtc` is the
// converter's clock.
std::string StateJson(const kx305mon::CalendarTime& clockUtc, const LiveInputs& live);

struct DiscoveryOptions {
    std::string discoveryPrefix = "homeassistant";
    std::string topicPrefix = "kx305";
    std::string firmware;  // "1.13"
};

// The discovery configuration of every quantity of every present
// instrument, keyed by its config topic.
TopicMap DiscoveryConfigs(const DiscoveryOptions& options, const LiveInputs& live);

// A quantity name folded to a topic-safe ASCII slug ("Wilgotność" ->
// "wilgotnosc").
std::string QuantitySlug(const std::string& utf8Name);

// The record as published: its stable id and the JSON document.  False when
// the record's local time stamp has no UTC time.
bool RecordMessage(uint32_t converterSerial, const kx305mon::MemoryRecord& record, std::string& id, std::string& json);

// The records acknowledged so far: the file offset just past the last one
// and its id.  "offset id\n" in FILE.published.
struct RecordCursor {
    int64_t end = 0;
    std::string id;
};
std::string CursorPath(const std::string& registrationFile);
// False when there is no cursor file or it cannot be understood.
bool LoadCursor(const std::string& path, RecordCursor& cursor);
// Written to a temporary file and renamed over the cursor, so that a crash
// leaves the old cursor or the new one.  False with errno set.
bool SaveCursor(const std::string& path, const RecordCursor& cursor);

}  // namespace kx305cli
