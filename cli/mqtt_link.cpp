#include "mqtt_link.h"

#include <mosquitto.h>
#include <poll.h>

#include <cerrno>
#include <cstring>
#include <mutex>

namespace kx305cli {

namespace {

std::once_flag g_libraryStarted;

}  // namespace

std::unique_ptr<MqttLink> MqttLink::Create(const LinkSettings& settings, LinkCallbacks callbacks, std::string& error) {
    std::call_once(g_libraryStarted, [] { mosquitto_lib_init(); });
    std::unique_ptr<MqttLink> link(new MqttLink());
    link->settings_ = settings;
    link->callbacks_ = std::move(callbacks);
    link->mosq_ = mosquitto_new(settings.clientId.c_str(), true, link.get());
    if (link->mosq_ == nullptr) {
        error = "the MQTT client cannot be made (" + std::string(std::strerror(errno)) + ")";
        return nullptr;
    }
    mosquitto_int_option(link->mosq_, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311);
    mosquitto_int_option(link->mosq_, MOSQ_OPT_SEND_MAXIMUM, kMaxInFlight);
    mosquitto_log_callback_set(link->mosq_, [](struct mosquitto*, void* self, int level, const char* text) {
        if ((level & MOSQ_LOG_ERR) != 0 && text != nullptr) static_cast<MqttLink*>(self)->lastLogError_ = text;
    });
    mosquitto_connect_callback_set(link->mosq_, [](struct mosquitto*, void* self, int rc) {
        MqttLink* me = static_cast<MqttLink*>(self);
        if (me->callbacks_.connected) me->callbacks_.connected(rc, rc == 0 ? "" : mosquitto_connack_string(rc));
    });
    mosquitto_publish_callback_set(link->mosq_, [](struct mosquitto*, void* self, int mid) {
        MqttLink* me = static_cast<MqttLink*>(self);
        if (me->callbacks_.acknowledged) me->callbacks_.acknowledged(mid);
    });
    mosquitto_message_callback_set(
        link->mosq_, [](struct mosquitto*, void* self, const struct mosquitto_message* message) {
            MqttLink* me = static_cast<MqttLink*>(self);
            if (!me->callbacks_.message || message == nullptr || message->topic == nullptr) return;
            const std::string payload(static_cast<const char*>(message->payload),
                                      message->payload == nullptr ? 0 : static_cast<size_t>(message->payloadlen));
            me->callbacks_.message(message->topic, payload);
        });
    int rc = MOSQ_ERR_SUCCESS;
    if (!settings.user.empty()) {
        rc = mosquitto_username_pw_set(link->mosq_, settings.user.c_str(),
                                       settings.hasPassword ? settings.password.c_str() : nullptr);
    }
    if (rc == MOSQ_ERR_SUCCESS && !settings.willTopic.empty()) {
        rc = mosquitto_will_set(link->mosq_, settings.willTopic.c_str(), static_cast<int>(settings.willPayload.size()),
                                settings.willPayload.data(), 1, true);
    }
    if (rc == MOSQ_ERR_SUCCESS && settings.address.tls) {
        if (settings.cafile.empty()) {
            rc = mosquitto_int_option(link->mosq_, MOSQ_OPT_TLS_USE_OS_CERTS, 1);
        } else {
            rc = mosquitto_tls_set(link->mosq_, settings.cafile.c_str(), nullptr,
                                   settings.certfile.empty() ? nullptr : settings.certfile.c_str(),
                                   settings.keyfile.empty() ? nullptr : settings.keyfile.c_str(), nullptr);
        }
    }
    if (rc != MOSQ_ERR_SUCCESS) {
        error = rc == MOSQ_ERR_INVAL && settings.address.tls
                    ? "the TLS files cannot be used (" + std::string(mosquitto_strerror(rc)) + ")"
                    : std::string(mosquitto_strerror(rc));
        return nullptr;
    }
    return link;
}

MqttLink::~MqttLink() {
    if (mosq_ != nullptr) mosquitto_destroy(mosq_);
}

std::string MqttLink::Failure(int rc) {
    const std::string tlsReason = lastLogError_;
    lastLogError_.clear();
    if (settings_.address.tls && (rc == MOSQ_ERR_TLS || tlsReason.find("SSL") != std::string::npos)) {
        return "TLS failure: " + (tlsReason.empty() ? std::string(mosquitto_strerror(rc)) : tlsReason);
    }
    switch (rc) {
    case MOSQ_ERR_ERRNO:
        return std::strerror(errno);
    case MOSQ_ERR_EAI:
        return "the host name cannot be resolved";
    case MOSQ_ERR_CONN_LOST:
        return "the connection was lost";
    default:
        return mosquitto_strerror(rc);
    }
}

std::string MqttLink::Connect() {
    lastLogError_.clear();
    errno = 0;
    const int rc = mosquitto_connect(mosq_, settings_.address.host.c_str(), settings_.address.port, 30);
    return rc == MOSQ_ERR_SUCCESS ? "" : Failure(rc);
}

std::string MqttLink::Step(int wakeFd, int timeoutMs) {
    const int sock = mosquitto_socket(mosq_);
    if (sock < 0) return Failure(MOSQ_ERR_NO_CONN);
    pollfd fds[2] = {};
    fds[0].fd = sock;
    fds[0].events = POLLIN;
    if (mosquitto_want_write(mosq_)) fds[0].events |= POLLOUT;
    fds[1].fd = wakeFd;
    fds[1].events = POLLIN;
    if (poll(fds, 2, timeoutMs) < 0 && errno != EINTR) return std::strerror(errno);
    errno = 0;
    int rc = MOSQ_ERR_SUCCESS;
    if ((fds[0].revents & (POLLIN | POLLHUP | POLLERR)) != 0) rc = mosquitto_loop_read(mosq_, 1);
    if (rc == MOSQ_ERR_SUCCESS && mosquitto_want_write(mosq_)) rc = mosquitto_loop_write(mosq_, 1);
    if (rc == MOSQ_ERR_SUCCESS) rc = mosquitto_loop_misc(mosq_);
    if (rc == MOSQ_ERR_SUCCESS) return "";
    const std::string failure = Failure(rc);
    mosquitto_disconnect(mosq_);
    return failure;
}

int MqttLink::Publish(const std::string& topic, const std::string& payload, int qos, bool retain, int* mid) {
    const int rc = mosquitto_publish(mosq_, mid, topic.c_str(), static_cast<int>(payload.size()),
                                     payload.empty() ? nullptr : payload.data(), qos, retain);
    // Written at once rather than at the next step: a state message leaves
    // as soon as the cycle ends.
    if (rc == MOSQ_ERR_SUCCESS && mosquitto_want_write(mosq_)) mosquitto_loop_write(mosq_, 1);
    return rc;
}

int MqttLink::Subscribe(const std::string& topic, int qos) {
    return mosquitto_subscribe(mosq_, nullptr, topic.c_str(), qos);
}

void MqttLink::Disconnect() {
    mosquitto_disconnect(mosq_);
    // The DISCONNECT packet goes out before the socket closes.
    mosquitto_loop_write(mosq_, 1);
}

}  // namespace kx305cli
