#include "mqtt_testing.h"

#include <mosquitto.h>
#include <netinet/in.h>
#include <signal.h>
#include <stdio.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <thread>

namespace kx305cli::testing {

namespace {

sockaddr_in Loopback(int port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<uint16_t>(port));
    return address;
}

}  // namespace

int FreePort() {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0) return -1;
    sockaddr_in address = Loopback(0);
    socklen_t length = sizeof address;
    int port = -1;
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
        port = ntohs(address.sin_port);
    }
    close(fd);
    return port;
}

Broker::Broker(std::string dir, int port, std::string extra)
    : dir_(std::move(dir)), port_(port), extra_(std::move(extra)) {}

Broker::~Broker() { Stop(); }

bool Broker::Start() {
    const std::string conf = dir_ + "/mosquitto.conf";
    std::ofstream(conf) << "listener " << port_ << " 127.0.0.1\npersistence false\n"
                        << (extra_.find("allow_anonymous") == std::string::npos ? "allow_anonymous true\n" : "")
                        << extra_;
    pid_ = fork();
    if (pid_ < 0) return false;
    if (pid_ == 0) {
        const std::string log = dir_ + "/mosquitto.log";
        if (freopen(log.c_str(), "a", stderr) == nullptr || freopen(log.c_str(), "a", stdout) == nullptr) _exit(126);
        execl("/usr/sbin/mosquitto", "mosquitto", "-c", conf.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    for (int i = 0; i < 100; ++i) {
        const int fd = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address = Loopback(port_);
        const bool up = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
        close(fd);
        if (up) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
}

void Broker::Stop() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
}

Subscriber::Subscriber(int port, const std::string& filter, const std::string& user, const std::string& password) {
    mosquitto_lib_init();
    mosq_ = mosquitto_new(nullptr, true, this);
    if (mosq_ == nullptr) return;
    if (!user.empty()) mosquitto_username_pw_set(mosq_, user.c_str(), password.c_str());
    mosquitto_message_callback_set(mosq_, &Subscriber::OnMessage);
    connected_ = mosquitto_connect(mosq_, "127.0.0.1", port, 30) == MOSQ_ERR_SUCCESS &&
                 mosquitto_subscribe(mosq_, nullptr, filter.c_str(), 1) == MOSQ_ERR_SUCCESS &&
                 mosquitto_loop_start(mosq_) == MOSQ_ERR_SUCCESS;
}

Subscriber::~Subscriber() {
    if (mosq_ == nullptr) return;
    mosquitto_disconnect(mosq_);
    mosquitto_loop_stop(mosq_, true);
    mosquitto_destroy(mosq_);
}

void Subscriber::OnMessage(struct mosquitto*, void* self, const ::mosquitto_message* m) {
    const auto received = std::chrono::steady_clock::now();
    auto* me = static_cast<Subscriber*>(self);
    {
        std::lock_guard<std::mutex> guard(me->mutex_);
        me->messages_.push_back({m->topic,
                                 std::string(static_cast<const char*>(m->payload), static_cast<size_t>(m->payloadlen)),
                                 m->retain, received});
    }
    me->added_.notify_all();
}

bool Subscriber::Publish(const std::string& topic, const std::string& payload) {
    int mid = 0;
    if (mosquitto_publish(mosq_, &mid, topic.c_str(), static_cast<int>(payload.size()), payload.data(), 1, false) !=
        MOSQ_ERR_SUCCESS) {
        return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    return true;
}

std::vector<Message> Subscriber::Messages() {
    std::lock_guard<std::mutex> guard(mutex_);
    return messages_;
}

std::vector<Message> Subscriber::On(const std::string& topic) {
    std::vector<Message> found;
    for (const Message& m : Messages()) {
        if (m.topic == topic) found.push_back(m);
    }
    return found;
}

bool Subscriber::WaitFor(const std::string& topic, const std::function<bool(const std::string&)>& accept,
                         std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> guard(mutex_);
    return added_.wait_for(guard, timeout, [&] {
        for (auto it = messages_.rbegin(); it != messages_.rend(); ++it) {
            if (it->topic == topic) return accept(it->payload);
        }
        return false;
    });
}

bool Subscriber::WaitForCount(const std::string& topic, size_t count, std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> guard(mutex_);
    return added_.wait_for(guard, timeout, [&] {
        return static_cast<size_t>(std::count_if(messages_.begin(), messages_.end(),
                                                 [&](const Message& m) { return m.topic == topic; })) >= count;
    });
}

}  // namespace kx305cli::testing
