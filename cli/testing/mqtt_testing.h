// An MQTT broker and a subscriber for tests and benchmarks of kx305cli
// serve: Debian's mosquitto on a free port of 127.0.0.1 only, with a
// configuration of the caller's, and a client that takes every topic and
// keeps what came, with when it came.  Native only.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

struct mosquitto;
struct mosquitto_message;

namespace kx305cli::testing {

// A TCP port of 127.0.0.1 that nobody listens on just now.
int FreePort();

class Broker {
public:
    // `dir` receives the configuration and the broker's log; `extra` is
    // appended to the configuration (listeners, passwords, TLS).
    Broker(std::string dir, int port, std::string extra = "");
    ~Broker();
    Broker(const Broker&) = delete;
    Broker& operator=(const Broker&) = delete;

    // Starts mosquitto and waits until it takes connections.
    bool Start();
    void Stop();

    int port() const { return port_; }
    std::string url() const { return "mqtt://127.0.0.1:" + std::to_string(port_); }

private:
    std::string dir_;
    int port_;
    std::string extra_;
    pid_t pid_ = -1;
};

struct Message {
    std::string topic;
    std::string payload;
    bool retained = false;
    std::chrono::steady_clock::time_point received;
};

class Subscriber {
public:
    // Subscribes to `filter` at QoS 1 on the broker of 127.0.0.1:`port`,
    // with a user name and password when `user` is not empty.
    explicit Subscriber(int port, const std::string& filter = "#", const std::string& user = "",
                        const std::string& password = "");
    ~Subscriber();
    Subscriber(const Subscriber&) = delete;
    Subscriber& operator=(const Subscriber&) = delete;

    bool connected() const { return connected_; }

    // QoS 1, not retained, with a moment for the broker to pass it on.
    bool Publish(const std::string& topic, const std::string& payload);

    std::vector<Message> Messages();
    std::vector<Message> On(const std::string& topic);
    // True once the latest payload of `topic` satisfies `accept`.
    bool WaitFor(const std::string& topic, const std::function<bool(const std::string&)>& accept,
                 std::chrono::milliseconds timeout);
    // True once `count` messages of `topic` have come.
    bool WaitForCount(const std::string& topic, size_t count, std::chrono::milliseconds timeout);

private:
    static void OnMessage(struct mosquitto*, void* self, const ::mosquitto_message* message);

    struct mosquitto* mosq_ = nullptr;
    bool connected_ = false;
    std::mutex mutex_;
    std::condition_variable added_;
    std::vector<Message> messages_;
};

}  // namespace kx305cli::testing
