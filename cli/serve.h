// kx305cli serve: a recording (exactly as `record` makes it) whose live
// readings, records and Home Assistant discovery are published to an MQTT
// broker.  The network never holds up the converter: the recording only
// hands texts over, and a thread of its own talks to the broker.
#pragma once

#include "device_session.h"
#include "mqtt_link.h"

namespace kx305cli {

struct ServeOptions {
    LinkSettings link;  // address, credentials, TLS; client id "" = kx305-<converter serial>
    std::string topicPrefix = "kx305";
    std::string discoveryPrefix = "homeassistant";
    bool discovery = true;
};

int RunServe(const DeviceOptions& device, const RecordOptions& record, const ServeOptions& serve);

}  // namespace kx305cli
