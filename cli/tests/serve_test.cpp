// kx305cli serve against a real broker: Debian's mosquitto on a free
// loopback port, a subscriber here collecting every message, and the
// converter simulator whose control socket changes what it measures.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <mutex>
#include <set>
#include <sstream>
#include <thread>

#include "mqtt_testing.h"
#include "process.h"
#include "recording/file.h"
#include "recording/registration_file.h"
#include "serve_payloads.h"
#include "sim_process.h"
#include "temporary_directory.h"

namespace kx305cli {
namespace {

using kx305sim::SimProcess;
using testing::Broker;
using testing::FreePort;
using testing::Message;
using testing::Process;
using testing::ProcessResult;
using testing::Subscriber;
namespace fs = std::filesystem;
using namespace std::chrono_literals;

std::string Utf8(const char8_t* text) { return reinterpret_cast<const char*>(text); }

// A strict JSON syntax check: the documents go to other programs.
class JsonCheck {
public:
    static bool Valid(const std::string& text) {
        JsonCheck check(text);
        return check.Value() && (check.Blank(), check.pos_ == text.size());
    }

private:
    explicit JsonCheck(const std::string& text) : s_(text) {}
    void Blank() {
        while (pos_ < s_.size() && std::isspace(static_cast<unsigned char>(s_[pos_]))) ++pos_;
    }
    bool Eat(char c) {
        Blank();
        if (pos_ < s_.size() && s_[pos_] == c) return ++pos_, true;
        return false;
    }
    bool Word(const char* word) {
        const size_t n = std::strlen(word);
        if (s_.compare(pos_, n, word) != 0) return false;
        pos_ += n;
        return true;
    }
    bool String() {
        if (!Eat('"')) return false;
        while (pos_ < s_.size()) {
            const unsigned char c = static_cast<unsigned char>(s_[pos_++]);
            if (c == '"') return true;
            if (c < 0x20) return false;
            if (c == '\\') {
                if (pos_ >= s_.size() || std::string("\"\\/bfnrtu").find(s_[pos_]) == std::string::npos) return false;
                if (s_[pos_++] == 'u') pos_ += 4;
            }
        }
        return false;
    }
    bool Number() {
        const size_t from = pos_;
        if (pos_ < s_.size() && s_[pos_] == '-') ++pos_;
        while (pos_ < s_.size() && (std::isdigit(static_cast<unsigned char>(s_[pos_])) || s_[pos_] == '.')) ++pos_;
        return pos_ > from && std::isdigit(static_cast<unsigned char>(s_[pos_ - 1]));
    }
    bool Value() {
        Blank();
        if (pos_ >= s_.size()) return false;
        const char c = s_[pos_];
        if (c == '"') return String();
        if (c == '{') {
            ++pos_;
            if (Eat('}')) return true;
            do {
                Blank();
                if (!String() || !Eat(':') || !Value()) return false;
            } while (Eat(','));
            return Eat('}');
        }
        if (c == '[') {
            ++pos_;
            if (Eat(']')) return true;
            do {
                if (!Value()) return false;
            } while (Eat(','));
            return Eat(']');
        }
        return Word("null") || Word("true") || Word("false") || Number();
    }
    const std::string& s_;
    size_t pos_ = 0;
};

// The value of "key": "..." in a flat part of a document.
std::string JsonField(const std::string& json, const std::string& key) {
    const std::string head = "\"" + key + "\": \"";
    const size_t at = json.find(head);
    if (at == std::string::npos) return "";
    const size_t from = at + head.size();
    return json.substr(from, json.find('"', from) - from);
}

// What a client coming now gets from the broker: the retained messages.
std::map<std::string, std::string> RetainedNow(int port, const std::string& stateTopic) {
    Subscriber later(port);
    EXPECT_TRUE(later.connected());
    EXPECT_TRUE(later.WaitFor(
        stateTopic, [](const std::string&) { return true; }, 2s));
    std::this_thread::sleep_for(300ms);  // the retained messages come in no set order
    std::map<std::string, std::string> retained;
    for (const Message& m : later.Messages()) {
        EXPECT_TRUE(m.retained) << m.topic;
        retained[m.topic] = m.payload;
    }
    return retained;
}

class ServeTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(directory_.Create("kx305serve_test"));
        dir_ = directory_.path().string();
        kxg_ = dir_ + "/station.kxg";
    }

    std::map<std::string, std::string> Environment() const {
        return {{"LC_ALL", "C.UTF-8"},
                {"TZ", "CET-1CEST,M3.5.0,M10.5.0/3"},
                {"PATH", "/usr/bin:/bin"},
                {"KX305SIM", kx305sim::SimulatorPath()}};
    }

    std::unique_ptr<Process> Serve(const SimProcess& sim, const std::string& broker, std::vector<std::string> extra) {
        std::vector<std::string> args = {"--decimal", ",", "serve", kxg_, "--port", sim.port(), "--broker", broker};
        args.insert(args.end(), extra.begin(), extra.end());
        return std::make_unique<Process>(KX305CLI_PATH, args, Environment());
    }

    ProcessResult Run(const std::vector<std::string>& args) {
        Process process(KX305CLI_PATH, args, Environment());
        return process.Wait(30000);
    }

    // The ids of the file's records, in file order.
    std::vector<std::string> FileIds() {
        setenv("TZ", "CET-1CEST,M3.5.0,M10.5.0/3", 1);
        tzset();
        std::unique_ptr<kx305mon::FileStream> file = kx305mon::OpenFile(kxg_, kx305mon::FileMode::Reading);
        kx305mon::RecordList records;
        std::vector<int64_t> ends;
        EXPECT_TRUE(file != nullptr && kx305mon::ReadRegistrationFrom(*file, 0, records, ends));
        std::vector<std::string> ids;
        for (const kx305mon::MemoryRecord& record : records) {
            std::string id;
            std::string json;
            EXPECT_TRUE(RecordMessage(3051, record, id, json));
            ids.push_back(id);
        }
        return ids;
    }

    static std::vector<std::string> PublishedIds(Subscriber& subscriber) {
        std::vector<std::string> ids;
        for (const Message& m : subscriber.On("kx305/3051/records")) {
            EXPECT_TRUE(JsonCheck::Valid(m.payload)) << m.payload;
            EXPECT_FALSE(m.retained);
            ids.push_back(JsonField(m.payload, "id"));
        }
        return ids;
    }

    kx305::support::TemporaryDirectory directory_;
    std::string dir_;  // its path
    std::string kxg_;
};

const std::vector<std::string> kStation = {"--no-drift",
                                           "--clock",
                                           "06-01 10:00:00",
                                           "--period",
                                           "0",
                                           "--input",
                                           "1=kx124,t=21.5,h=45.3,serial=5678",
                                           "--input",
                                           "2=none",
                                           "--input",
                                           "3=kx129,serial=77",
                                           "--rain",
                                           "3"};

const std::string kState = "kx305/3051/state";
const std::string kConfigs = "homeassistant/sensor/kx305_3051/";

// The discovery configs among `topics` (the cleared ones left out).
std::map<std::string, std::string> Configs(const std::map<std::string, std::string>& topics) {
    std::map<std::string, std::string> configs;
    for (const auto& [topic, payload] : topics) {
        if (topic.rfind(kConfigs, 0) == 0 && !payload.empty()) configs[topic] = payload;
    }
    return configs;
}

std::set<std::string> UniqueIds(const std::map<std::string, std::string>& configs) {
    std::set<std::string> ids;
    for (const auto& [topic, payload] : configs) ids.insert(JsonField(payload, "unique_id"));
    return ids;
}

std::vector<std::string> With(std::vector<std::string> args, std::initializer_list<std::string> more) {
    args.insert(args.end(), more);
    return args;
}

TEST_F(ServeTest, PublishesTheLiveReadingsDiscoveryAndEveryRecordOnce) {
    Broker broker(dir_, FreePort());
    ASSERT_TRUE(broker.Start());
    Subscriber subscriber(broker.port());
    ASSERT_TRUE(subscriber.connected());
    auto sim = SimProcess::Start(With(kStation, {"--prefill", "4"}));
    ASSERT_NE(sim, nullptr);

    auto serve = Serve(*sim, broker.url(), {"--duration", "5"});
    const std::string temperature = "kx305/3051/KX124/Temperatura/5678/Pomiar";
    ASSERT_TRUE(subscriber.WaitFor(
        temperature, [](const std::string&) { return true; }, 5s));
    EXPECT_EQ(subscriber.On("kx305/3051/status").back().payload, "online");

    // A change in the converter arrives within a cycle or two.
    const auto changed = std::chrono::steady_clock::now();
    ASSERT_EQ(sim->Control("set 1 t=25.5").rfind("ok", 0), 0u);
    EXPECT_TRUE(subscriber.WaitFor(
        temperature, [](const std::string& p) { return p.rfind("25,5", 0) == 0; }, 2s));
    EXPECT_LT(std::chrono::steady_clock::now() - changed, 1500ms);
    EXPECT_TRUE(subscriber.WaitFor(
        "kx305/3051/state", [](const std::string& p) { return p.find("\"Temperatura\": 25.5") != std::string::npos; },
        2s));

    const ProcessResult r = serve->Wait(30000);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.err, "kx305cli: connected to " + broker.url() + "\n");
    ASSERT_TRUE(subscriber.WaitFor(
        "kx305/3051/status", [](const std::string& p) { return p == "offline"; }, 5s));

    // The value topics carry what `read` shows of the same instruments.
    const ProcessResult read = Run({"--decimal", ",", "read", "--port", sim->port(), "--count", "1"});
    ASSERT_EQ(read.exitCode, 0) << read.err;
    std::map<std::string, std::string> last;
    for (const Message& m : subscriber.Messages()) last[m.topic] = m.payload;
    int pomiar = 0;
    for (const auto& [topic, payload] : last) {
        if (topic.size() < 7 || topic.substr(topic.size() - 7) != "/Pomiar") continue;
        ++pomiar;
        // The panel names the rain amount in full, the DDE topic shortly.
        EXPECT_NE(read.out.find(": " + payload), std::string::npos) << topic << " " << payload << "\n" << read.out;
    }
    EXPECT_EQ(pomiar, 1 + 2 + 3);  // rain gauge, KX-124, KX-129
    EXPECT_EQ(last["kx305/3051/KX124/Temperatura/5678/Status"], "Pomiar --> OK");
    EXPECT_EQ(last["kx305/3051/KX124/Temperatura/5678/Wynik"].rfind("25,5", 0), 0u);
    const std::string state = last["kx305/3051/state"];
    EXPECT_TRUE(JsonCheck::Valid(state)) << state;
    EXPECT_NE(state.find(Utf8(u8"{\"input\": 1, \"type\": 3, \"name\": \"Termohigrometr KX-124\", \"serial\": 5678, "
                              u8"\"status\": \"Pomiar --> OK\", \"values\": {\"Temperatura\": 25.5, "
                              u8"\"Wilgotność\": 45.3}}")),
              std::string::npos)
        << state;
    EXPECT_NE(state.find("\"values\": {\"Opad\": 3}"), std::string::npos) << state;

    // Discovery: one valid, retained config per quantity, ids unique; a
    // client that comes later gets them from the broker.
    const std::map<std::string, std::string> configs = Configs(RetainedNow(broker.port(), kState));
    for (const auto& [topic, payload] : configs) {
        EXPECT_TRUE(JsonCheck::Valid(payload)) << payload;
        for (const char* key : {"\"name\"", "\"unique_id\"", "\"state_topic\": \"kx305/3051/state\"",
                                "\"value_template\"", "\"availability_topic\": \"kx305/3051/status\"",
                                "\"identifiers\": [\"kx305_3051\"]", "\"model\": \"KX-305\"", "\"state_class\""}) {
            EXPECT_NE(payload.find(key), std::string::npos) << key << " in " << payload;
        }
    }
    EXPECT_EQ(configs.size(), 1u + 2 + 3);
    EXPECT_EQ(UniqueIds(configs).size(), configs.size());
    EXPECT_NE(last["homeassistant/sensor/kx305_3051/1_wilgotnosc/config"].find("\"device_class\": \"humidity\""),
              std::string::npos);
    EXPECT_NE(last["homeassistant/sensor/kx305_3051/0_opad/config"].find("\"state_class\": \"total_increasing\""),
              std::string::npos);

    // Every record of the file once, in file order.
    const std::vector<std::string> ids = FileIds();
    EXPECT_GE(ids.size(), 4u);
    EXPECT_EQ(PublishedIds(subscriber), ids);
}

TEST_F(ServeTest, RecordsStoredWhileTheBrokerIsDownArriveLaterInOrder) {
    const int port = FreePort();
    auto sim = SimProcess::Start(With(kStation, {"--prefill", "3"}));
    ASSERT_NE(sim, nullptr);
    std::vector<std::string> before;
    {
        Broker broker(dir_, port);
        ASSERT_TRUE(broker.Start());
        const ProcessResult r = Serve(*sim, broker.url(), {"--duration", "2"})->Wait(30000);
        ASSERT_EQ(r.exitCode, 0) << r.err;
        before = FileIds();
        ASSERT_EQ(before.size(), 3u);
    }
    // No broker: the recording goes on, and says once why nothing is published.
    ASSERT_EQ(sim->Control("clock 06-01 11:00:00").rfind("ok", 0), 0u);
    ASSERT_EQ(sim->Control("fill 4").rfind("ok", 0), 0u);
    const std::string url = "mqtt://127.0.0.1:" + std::to_string(port);
    ProcessResult r = Serve(*sim, url, {"--duration", "3"})->Wait(30000);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.err, "kx305cli: " + url + ": Connection refused\n");
    const std::vector<std::string> all = FileIds();
    ASSERT_EQ(all.size(), 7u);

    Broker broker(dir_, port);
    ASSERT_TRUE(broker.Start());
    Subscriber subscriber(port);
    ASSERT_TRUE(subscriber.connected());
    r = Serve(*sim, url, {"--duration", "2"})->Wait(30000);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(PublishedIds(subscriber), std::vector<std::string>(all.begin() + 3, all.end()));
}

TEST_F(ServeTest, WillSaysOfflineWhenTheProcessIsKilled) {
    Broker broker(dir_, FreePort());
    ASSERT_TRUE(broker.Start());
    Subscriber subscriber(broker.port());
    ASSERT_TRUE(subscriber.connected());
    auto sim = SimProcess::Start(kStation);
    ASSERT_NE(sim, nullptr);
    auto serve = Serve(*sim, broker.url(), {});
    ASSERT_TRUE(subscriber.WaitFor(
        "kx305/3051/status", [](const std::string& p) { return p == "online"; }, 5s));
    serve->Signal(SIGKILL);
    serve->Wait(5000);
    EXPECT_TRUE(subscriber.WaitFor(
        "kx305/3051/status", [](const std::string& p) { return p == "offline"; }, 5s));
}

// Another instrument is another sensor: its configs replace the old ones
// (cleared first), and one taken away leaves nothing retained behind.
TEST_F(ServeTest, DiscoveryAndValuesFollowTheInstruments) {
    Broker broker(dir_, FreePort());
    ASSERT_TRUE(broker.Start());
    Subscriber subscriber(broker.port());
    ASSERT_TRUE(subscriber.connected());
    auto sim = SimProcess::Start(kStation);
    ASSERT_NE(sim, nullptr);
    auto serve = Serve(*sim, broker.url(), {});
    const auto configsOf = [&subscriber](const std::string& serial) {
        return subscriber.WaitFor(
            kConfigs + "1_temperatura/config",
            [&](const std::string& p) { return p.find("_" + serial + "_") != std::string::npos; }, 5s);
    };
    ASSERT_TRUE(configsOf("5678"));
    ASSERT_TRUE(subscriber.WaitFor(
        kConfigs + "3_cisnienie/config", [](const std::string&) { return true; }, 2s));
    std::this_thread::sleep_for(300ms);
    const std::map<std::string, std::string> before = Configs(RetainedNow(broker.port(), kState));
    ASSERT_EQ(before.size(), 1u + 2 + 3);
    const size_t changedAt = subscriber.Messages().size();

    // The same type with another serial on input 1, another type on input 3.
    ASSERT_EQ(sim->Control("input 1 kx124,t=21.5,h=45.3,serial=9999").rfind("ok", 0), 0u);
    ASSERT_EQ(sim->Control("input 3 kx132,serial=88").rfind("ok", 0), 0u);
    ASSERT_TRUE(configsOf("9999"));
    ASSERT_TRUE(subscriber.WaitFor(
        kState, [](const std::string& p) { return p.find("\"serial\": 88") != std::string::npos; }, 2s));
    std::this_thread::sleep_for(300ms);
    const std::vector<Message> messages = subscriber.Messages();
    const std::set<std::string> oldIds = UniqueIds(before);
    for (const auto& [topic, payload] : before) {
        if (topic.find("/0_") != std::string::npos) continue;  // the rain gauge stays
        std::vector<std::string> after;
        for (size_t k = changedAt; k < messages.size(); ++k) {
            if (messages[k].topic == topic) after.push_back(messages[k].payload);
        }
        // Cleared, and what comes after the clear is another sensor's.
        ASSERT_FALSE(after.empty()) << topic;
        EXPECT_TRUE(std::find(after.begin(), after.end(), "") != after.end()) << topic;
        EXPECT_TRUE(after.back().empty() || oldIds.count(JsonField(after.back(), "unique_id")) == 0) << after.back();
    }
    std::map<std::string, std::string> retained = RetainedNow(broker.port(), kState);
    std::map<std::string, std::string> configs = Configs(retained);
    EXPECT_EQ(configs.size(), 1u + 2 + 1);
    EXPECT_EQ(UniqueIds(configs).size(), configs.size());
    EXPECT_NE(configs[kConfigs + "1_wilgotnosc/config"].find("\"unique_id\": \"kx305_3051_1_9999_wilgotnosc\""),
              std::string::npos);
    for (const auto& [topic, payload] : retained) {
        EXPECT_EQ(topic.find("/5678/"), std::string::npos) << topic;
        EXPECT_EQ(topic.find("/77/"), std::string::npos) << topic;
    }

    // Input 3 taken away: its configs, values and state go.
    ASSERT_EQ(sim->Control("input 3 none").rfind("ok", 0), 0u);
    ASSERT_TRUE(subscriber.WaitFor(
        kState, [](const std::string& p) { return p.find("\"input\": 3") == std::string::npos; }, 2s));
    std::this_thread::sleep_for(300ms);
    retained = RetainedNow(broker.port(), kState);
    configs = Configs(retained);
    EXPECT_EQ(configs.size(), 1u + 2);
    for (const auto& [topic, payload] : configs) EXPECT_EQ(topic.find("/3_"), std::string::npos) << topic;
    int values = 0;
    for (const auto& [topic, payload] : retained) {
        EXPECT_EQ(topic.find("/88/"), std::string::npos) << topic;
        if (topic.rfind("kx305/3051/KX", 0) == 0) ++values;
    }
    EXPECT_EQ(values, (1 + 2) * 3);  // the rain gauge and the KX-124, three items each
    EXPECT_EQ(retained[kState].find("\"input\": 3"), std::string::npos) << retained[kState];
    int cleared = 0;
    for (const Message& m : subscriber.Messages())
        cleared += m.topic.find("/88/") != std::string::npos && m.payload.empty();
    EXPECT_EQ(cleared, 3);  // the KX-132's one quantity

    serve->Signal(SIGTERM);
    EXPECT_EQ(serve->Wait(10000).exitCode, 0);
}

// Home Assistant's return asks for every config again; nothing else that
// comes over MQTT does anything, to the converter or to the files least.
TEST_F(ServeTest, OnlyHomeAssistantsReturnIsHeard) {
    Broker broker(dir_, FreePort());
    ASSERT_TRUE(broker.Start());
    Subscriber subscriber(broker.port());
    ASSERT_TRUE(subscriber.connected());
    auto sim = SimProcess::Start(With(kStation, {"--prefill", "2"}));
    ASSERT_NE(sim, nullptr);
    auto serve = Serve(*sim, broker.url(), {});
    ASSERT_TRUE(subscriber.WaitFor(
        kConfigs + "3_cisnienie/config", [](const std::string&) { return true; }, 5s));
    for (int i = 0; i < 40 && subscriber.On("kx305/3051/records").size() < 2; ++i) std::this_thread::sleep_for(100ms);
    ASSERT_EQ(subscriber.On("kx305/3051/records").size(), 2u);
    std::this_thread::sleep_for(300ms);

    const auto slurp = [](const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    };
    // The converter as it is, its clock's time of day left out.
    const auto converter = [&sim] {
        std::string state = sim->Control("state");
        const size_t clock = state.find("clock=");
        if (clock != std::string::npos) state.erase(clock + 11, 9);
        return state + "\n" + sim->Control("memory");
    };
    const std::string file = slurp(kxg_);
    const std::string cursor = slurp(CursorPath(kxg_));
    const std::string device = converter();
    ASSERT_NE(file, "");
    ASSERT_NE(cursor, "");
    // The config topics sent from the `from`th message on.
    const auto configsSent = [&subscriber](size_t from) {
        const std::vector<Message> messages = subscriber.Messages();
        std::multiset<std::string> topics;
        for (size_t k = from; k < messages.size(); ++k) {
            if (messages[k].topic.rfind(kConfigs, 0) == 0 && !messages[k].payload.empty())
                topics.insert(messages[k].topic);
        }
        return topics;
    };
    const std::multiset<std::string> sent = configsSent(0);
    ASSERT_EQ(sent.size(), 1u + 2 + 3);
    const size_t junkAt = subscriber.Messages().size();

    for (const auto& [topic, payload] :
         std::vector<std::pair<std::string, std::string>>{{"homeassistant/status", "offline"},
                                                          {"homeassistant/status", std::string("\0\xff{\"", 4)},
                                                          {"homeassistant/status", std::string(100000, 'x')},
                                                          {"kx305/3051/records", "{\"id\": \"3051-x\"}"},
                                                          {"kx305/3051/set", "period 0"},
                                                          {"kx305/3051/KX124/Temperatura/5678/Pomiar", "99"},
                                                          {kConfigs + "1_temperatura/config", ""}}) {
        ASSERT_TRUE(subscriber.Publish(topic, payload)) << topic;
    }
    std::this_thread::sleep_for(500ms);
    EXPECT_TRUE(configsSent(junkAt).empty());

    const size_t onlineAt = subscriber.Messages().size();
    ASSERT_TRUE(subscriber.Publish("homeassistant/status", "online"));
    for (int i = 0; i < 20 && configsSent(onlineAt).size() < sent.size(); ++i) std::this_thread::sleep_for(100ms);
    EXPECT_EQ(configsSent(onlineAt), sent);

    EXPECT_EQ(slurp(kxg_), file);
    EXPECT_EQ(slurp(CursorPath(kxg_)), cursor);
    EXPECT_EQ(converter(), device);
    serve->Signal(SIGTERM);
    const ProcessResult r = serve->Wait(10000);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.err, "kx305cli: connected to " + broker.url() + "\n");
}

// The service's example configuration with every key set, commented out
// or not; each key of `values` must be one of the file's.
std::string ServiceConfiguration(const std::map<std::string, std::string>& values) {
    std::ifstream in(KX305_SERVE_INI);
    EXPECT_TRUE(in.good()) << KX305_SERVE_INI;
    std::set<std::string> seen;
    std::string out;
    for (std::string line; std::getline(in, line);) {
        const size_t assign = line.find(" = ");
        const std::string key = line.substr(line[0] == ';' ? 1 : 0, assign - (line[0] == ';' ? 1 : 0));
        if (assign == std::string::npos || key.find_first_not_of("abcdefghijklmnopqrstuvwxyz-") != std::string::npos) {
            out += line + "\n";
            continue;
        }
        const auto value = values.find(key);
        EXPECT_NE(value, values.end()) << "a key the test does not know: " << line;
        if (value == values.end()) continue;
        seen.insert(key);
        out += key + " = " + value->second + "\n";
    }
    for (const auto& [key, value] : values) EXPECT_EQ(seen.count(key), 1u) << key << " is not in the configuration";
    return out;
}

// Each a single clear line on stderr; the recording goes on regardless.
// The right settings, given as options or in the service's configuration,
// connect over TLS with a password, and the values arrive.
TEST_F(ServeTest, BrokerFailuresAreOneClearLineEach) {
    const int port = FreePort();
    std::ofstream(dir_ + "/passwords") << "station:secret\n";
    ASSERT_EQ(std::system(("mosquitto_passwd -U " + dir_ + "/passwords").c_str()), 0);
    std::ofstream(dir_ + "/password") << "secret\n";
    std::ofstream(dir_ + "/wrong-password") << "guessed\n";
    const std::string openssl = "openssl req -x509 -newkey rsa:2048 -nodes -days 1 -subj /CN=127.0.0.1 -keyout ";
    ASSERT_EQ(std::system((openssl + dir_ + "/server.key -out " + dir_ + "/server.pem 2>/dev/null").c_str()), 0);
    ASSERT_EQ(std::system((openssl + dir_ + "/other.key -out " + dir_ + "/other.pem 2>/dev/null").c_str()), 0);
    // mosquitto started by root runs as its own user, who reads these.
    fs::permissions(dir_, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                              fs::perms::others_read | fs::perms::others_exec);
    for (const char* name : {"/passwords", "/server.key", "/server.pem"}) {
        fs::permissions(dir_ + name, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read |
                                         fs::perms::others_read);
    }
    const int tlsPort = FreePort();
    Broker broker(dir_, port,
                  "allow_anonymous false\npassword_file " + dir_ + "/passwords\nlistener " + std::to_string(tlsPort) +
                      " 127.0.0.1\ncertfile " + dir_ + "/server.pem\nkeyfile " + dir_ + "/server.key\n");
    ASSERT_TRUE(broker.Start());
    auto sim = SimProcess::Start(kStation);
    ASSERT_NE(sim, nullptr);
    Subscriber subscriber(port, "#", "station", "secret");
    ASSERT_TRUE(subscriber.connected());

    struct Case {
        std::vector<std::string> args;
        std::string error;
        int exitCode;
        std::string publishesUnder = "";  // the topic prefix values arrive under
    };
    const std::string tls = "mqtts://127.0.0.1:" + std::to_string(tlsPort);
    const std::string configuration = dir_ + "/serve.ini";
    std::ofstream(configuration) << ServiceConfiguration({{"port", sim->port()},
                                                          {"file", kxg_},
                                                          {"broker", tls},
                                                          {"user", "station"},
                                                          {"password-file", dir_ + "/password"},
                                                          {"cafile", dir_ + "/server.pem"},
                                                          {"client-id", "station-by-file"},
                                                          {"topic-prefix", "station/one"},
                                                          {"discovery-prefix", "ha"}});
    const std::vector<Case> cases = {
        {{"--broker", "http://127.0.0.1"},
         "kx305cli: --broker: 'http://127.0.0.1' is not mqtt://HOST[:PORT] or mqtts://HOST[:PORT]\n",
         2},
        {{"--broker", "mqtt://u:p@127.0.0.1"},
         "kx305cli: --broker: a password in the URL would be on the command line; use --password-file or KX305_MQTT_PASSWORD\n",
         2},
        {{"--broker", "mqtt://127.0.0.1:" + std::to_string(FreePort())}, ": Connection refused\n", 0},
        {{"--broker", "mqtt://station@127.0.0.1:" + std::to_string(port), "--password-file", dir_ + "/wrong-password"},
         ": the broker refused the connection: Connection Refused: not authorised\n",
         0},
        {{"--broker", tls, "--cafile", dir_ + "/other.pem"}, ": TLS failure: ", 0},
        {{"--broker", "mqtts://station@127.0.0.1:" + std::to_string(tlsPort), "--password-file", dir_ + "/password",
          "--cafile", dir_ + "/server.pem"},
         "kx305cli: connected to " + tls + "\n",
         0,
         "kx305"},
        {{"--config", configuration}, "kx305cli: connected to " + tls + "\n", 0, "station/one"},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args = {"serve", "--duration", "2.5"};
        if (c.args[0] != "--config") args.insert(args.end(), {kxg_, "--port", sim->port()});
        args.insert(args.end(), c.args.begin(), c.args.end());
        const ProcessResult r = Run(args);
        EXPECT_EQ(r.exitCode, c.exitCode) << c.args[1] << "\n" << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
        EXPECT_NE(r.err.find(c.error), std::string::npos) << r.err;
        if (c.exitCode == 0) {
            EXPECT_NE(r.out.find("Downloads: "), std::string::npos) << r.out;
        }
        const std::string value = c.publishesUnder + "/3051/KX124/Temperatura/5678/Pomiar";
        EXPECT_EQ(!c.publishesUnder.empty(), !subscriber.On(value).empty()) << c.args[1];
    }
    EXPECT_FALSE(subscriber.On("ha/sensor/kx305_3051/1_temperatura/config").empty());
    std::ifstream log(dir_ + "/mosquitto.log");
    EXPECT_NE(std::string(std::istreambuf_iterator<char>(log), {}).find(" as station-by-file "), std::string::npos);
}

}  // namespace
}  // namespace kx305cli
