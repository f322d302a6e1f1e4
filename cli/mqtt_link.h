// One MQTT client connection through libmosquitto, driven by the caller's
// own thread (no library thread): connect, one step of the network at a
// time, publish.  Every call and every callback happens on that thread.
// Failures come back as one line of text fit for the user.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "serve_payloads.h"

struct mosquitto;

namespace kx305cli {

// QoS 1 messages sent and not yet acknowledged, at most; more wait in the
// library until acknowledgements come.
constexpr int kMaxInFlight = 100;

struct LinkSettings {
    BrokerAddress address;
    std::string clientId;
    std::string user;
    std::string password;
    bool hasPassword = false;
    std::string cafile;    // TLS: the authorities to trust; "" = the system's
    std::string certfile;  // TLS: a client certificate, with keyfile
    std::string keyfile;
    std::string willTopic;  // retained, QoS 1
    std::string willPayload;
};

struct LinkCallbacks {
    // The broker's answer to the connection: 0 = accepted, else its refusal
    // as text.
    std::function<void(int code, const std::string& refusal)> connected;
    std::function<void(int mid)> acknowledged;
    std::function<void(const std::string& topic, const std::string& payload)> message;
};

class MqttLink {
public:
    // Null with the reason in `error` (the library refused the settings,
    // e.g. an unreadable CA file).
    static std::unique_ptr<MqttLink> Create(const LinkSettings& settings, LinkCallbacks callbacks, std::string& error);
    ~MqttLink();
    MqttLink(const MqttLink&) = delete;
    MqttLink& operator=(const MqttLink&) = delete;

    // Opens the connection and sends CONNECT (blocks for the name look-up,
    // the TCP connection and TLS).  "" or the failure.
    std::string Connect();
    // Waits up to `timeoutMs` for the socket or for `wakeFd` to be
    // readable, then reads, writes and keeps alive.  "" or why the
    // connection is gone.
    std::string Step(int wakeFd, int timeoutMs);
    // 0 or the library's error code; `mid` gets the message id.
    int Publish(const std::string& topic, const std::string& payload, int qos, bool retain, int* mid = nullptr);
    int Subscribe(const std::string& topic, int qos);
    void Disconnect();

private:
    MqttLink() = default;
    std::string Failure(int rc);

    struct mosquitto* mosq_ = nullptr;
    LinkSettings settings_;
    LinkCallbacks callbacks_;
    std::string lastLogError_;  // the library's last error-level log line (OpenSSL's reasons)
};

}  // namespace kx305cli
