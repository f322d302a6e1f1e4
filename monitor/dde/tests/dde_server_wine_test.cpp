// The DDE server under Wine: this thread serves, as the program's UI thread
// does (messages pumped, the advises of every polling cycle posted), and a
// client thread talks to it through DDEML with the UI driver's client.
#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <chrono>
#include <deque>
#include <functional>
#include <map>
#include <future>
#include <algorithm>
#include <memory>
#include <mutex>
#include <optional>
#include <cstdio>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "acquisition/app_context.h"
#include "dde/dde_names.h"
#include "dde/dde_server.h"
#include "instruments/catalogue.h"
#include "uidriver.h"

namespace kx305mon {
namespace {

using kx305::ui::DdeClient;
using kx305::ui::DdeInitiate;
using kx305::ui::DdePair;
using kx305::ui::Milliseconds;
using Clock = std::chrono::steady_clock;

constexpr Milliseconds kCycle{250};  // the polling worker's pause
constexpr Milliseconds kWait{6000};  // generous: six helpers share two cores

InputReading Reading(uint32_t type, std::initializer_list<std::pair<int, int32_t>> words = {}) {
    InputReading reading = {};
    reading.type = type;
    for (const auto& [word, value] : words) reading.data[word] = value;
    return reading;
}

InputReading Thermohygrometer(int32_t serial, int32_t tenthsCelsius) {
    return Reading(kTypeKX124, {{3, serial}, {4, 452}, {5, tenthsCelsius}});
}

// KX-125 with channels 1 and 2 present (presence words 6 and 7, values in
// words 14 and 15, hundredths).
InputReading Thermometer(int32_t serial, int32_t first, int32_t second) {
    return Reading(kTypeKX125, {{3, serial}, {6, 1}, {7, 1}, {14, first}, {15, second}});
}

// Wine's client may refuse a synchronous transaction while advise data of
// the same conversation is still arriving (DMLERR 0x4009): try up to three
// times, pumping messages in between, as a patient client does.
template <typename Call>
auto Patiently(DdeClient& dde, Call call) {
    auto result = call();
    for (int attempt = 1; attempt < 3 && !result; ++attempt) {
        dde.Pump(Milliseconds(30));
        result = call();
    }
    return result;
}

std::optional<std::string> Ask(DdeClient& dde, HCONV conv, const std::string& item) {
    return Patiently(dde, [&] { return dde.Request(conv, item); });
}

class DdeServerTest : public ::testing::Test {
protected:
    void SetUp() override {
        ResetRainGaugeSettings();
        serverThread_ = GetCurrentThreadId();
        ASSERT_TRUE(DdeServerStart(context_));
    }
    void TearDown() override {
        for (int i = 0; i < kDdeInputs; ++i) DdeInputUnregister(i);
        DdeServerStop();
        DdeSetAdviseRule(DdeAdviseRule::Detect);
        ResetRainGaugeSettings();
    }

    // What the polling worker does: a new reading under the lock.
    void SetInput(int input, const InputReading& reading) {
        MutexLock hold(context_.plumbing.lock);
        context_.inputs[input] = reading;
    }
    // What the main window does on an input's change: unregister, register.
    void Reregister(int input) {
        DdeInputUnregister(input);
        DdeInputRegister(input);
    }
    void Publish(int input, const InputReading& reading) {
        SetInput(input, reading);
        Reregister(input);
    }

    // From the client thread: runs `task` on the serving thread and waits.
    void OnServer(std::function<void()> task) {
        std::packaged_task<void()> job(std::move(task));
        std::future<void> done = job.get_future();
        {
            std::lock_guard<std::mutex> hold(tasksLock_);
            tasks_.push_back(std::move(job));
        }
        PostThreadMessageA(serverThread_, WM_NULL, 0, 0);
        done.wait();
    }
    int Cycles() const { return cycles_.load(); }
    // The advise requests that polling cycle `cycle` (counted from 0) cost.
    unsigned long RequestsOfCycle(int cycle) {
        std::lock_guard<std::mutex> hold(tasksLock_);
        return cycle < static_cast<int>(requestsPerCycle_.size()) ? requestsPerCycle_[cycle] : 0;
    }

    // Runs `body` with a DDE client on its own thread while this thread
    // serves: pumps its messages, runs the tasks of OnServer and posts the
    // advises of every input once per polling cycle.
    void WithClient(const std::function<void(DdeClient&)>& body) {
        std::atomic<bool> finished{false};
        std::thread client([&] {
            if (auto dde = DdeClient::Create())
                body(*dde);
            else
                ADD_FAILURE() << "no DDE client";
            finished = true;
            PostThreadMessageA(serverThread_, WM_NULL, 0, 0);
        });
        auto nextCycle = Clock::now() + kCycle;
        while (!finished) {
            MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
            MSG message;
            while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
                TranslateMessage(&message);
                DispatchMessageA(&message);
            }
            RunTasks();
            if (Clock::now() >= nextCycle) {
                const unsigned long before = DdeAdviseRequestCount();
                for (int i = 0; i < kDdeInputs; ++i) DdeInputAdvise(i);
                {
                    std::lock_guard<std::mutex> hold(tasksLock_);
                    requestsPerCycle_.push_back(DdeAdviseRequestCount() - before);
                }
                ++cycles_;
                nextCycle += kCycle;
            }
        }
        client.join();
        RunTasks();
    }

    AppContext context_;

private:
    void RunTasks() {
        for (;;) {
            std::packaged_task<void()> job;
            {
                std::lock_guard<std::mutex> hold(tasksLock_);
                if (tasks_.empty()) return;
                job = std::move(tasks_.front());
                tasks_.pop_front();
            }
            job();
        }
    }

    DWORD serverThread_ = 0;
    std::mutex tasksLock_;
    std::deque<std::packaged_task<void()>> tasks_;
    std::atomic<int> cycles_{0};
    std::vector<unsigned long> requestsPerCycle_;
};

TEST_F(DdeServerTest, RequestsGiveTheThreeItemsOfEveryTopic) {
    Publish(1, Thermohygrometer(1234, 215));
    WithClient([&](DdeClient& dde) {
        const HCONV temperature = dde.Connect("KX124", "Temperatura#1234");
        ASSERT_NE(temperature, nullptr) << dde.LastDdeError();
        EXPECT_EQ(Ask(dde, temperature, "Wynik"), "21,5 ");
        EXPECT_EQ(Ask(dde, temperature, "Pomiar"), "21,5 °C");
        EXPECT_EQ(Ask(dde, temperature, "status"), "Pomiar --> OK");
        EXPECT_EQ(Ask(dde, temperature, "Wartosc"), std::nullopt);
        const HCONV humidity = dde.Connect("kx124", "WILGOTNOść#1234");
        ASSERT_NE(humidity, nullptr) << dde.LastDdeError();
        EXPECT_EQ(Ask(dde, humidity, "Pomiar"), "45,2  %");
        EXPECT_EQ(dde.Connect("KX124", "Temperatura#1235"), nullptr);
        EXPECT_EQ(dde.Connect("KX129", "Temperatura#1234"), nullptr);
        dde.Disconnect(temperature);
        dde.Disconnect(humidity);
    });
}

TEST_F(DdeServerTest, HotLinkGetsTheValueAtOnceAndEveryChangeWithinTwoCycles) {
    Publish(1, Thermohygrometer(1234, 215));
    WithClient([&](DdeClient& dde) {
        const HCONV conv = dde.Connect("KX124", "Temperatura#1234");
        ASSERT_NE(conv, nullptr) << dde.LastDdeError();
        const int before = Cycles();
        ASSERT_TRUE(dde.StartAdvise(conv, "Pomiar")) << dde.LastDdeError();
        EXPECT_TRUE(dde.PumpUntil([&] { return dde.AdviseCount(conv, "Pomiar") > 0; }, kWait));
        EXPECT_EQ(dde.LastAdvise(conv, "Pomiar"), "21,5 °C");
        EXPECT_EQ(Cycles(), before) << "the first value came with a cycle, not at once";

        SetInput(1, Thermohygrometer(1234, -37));
        const int changed = Cycles();
        EXPECT_TRUE(dde.PumpUntil([&] { return dde.LastAdvise(conv, "Pomiar") == "-3,7 °C"; }, kWait));
        EXPECT_LE(Cycles() - changed, 2);

        // Every cycle notifies the link, changed or not.
        const int count = dde.AdviseCount(conv, "Pomiar");
        EXPECT_TRUE(dde.PumpUntil([&] { return dde.AdviseCount(conv, "Pomiar") >= count + 2; }, kWait));
        // Between two cycles' data: Wine's client can lose the answer of a
        // transaction that crosses arriving advise data.
        const int last = dde.AdviseCount(conv, "Pomiar");
        dde.PumpUntil([&] { return dde.AdviseCount(conv, "Pomiar") > last; }, kWait);
        dde.Pump(Milliseconds(30));
        ASSERT_TRUE(Patiently(dde, [&] { return dde.StopAdvise(conv, "Pomiar", Milliseconds(1000)); }))
            << dde.LastDdeError();
        const int stopped = dde.AdviseCount(conv, "Pomiar");
        dde.Pump(3 * kCycle);
        EXPECT_EQ(dde.AdviseCount(conv, "Pomiar"), stopped);
        EXPECT_FALSE(Patiently(dde, [&] { return dde.StartAdvise(conv, "Wartosc"); }));
        dde.Disconnect(conv);
    });
}

// Two instruments behind one service, and several topics of one
// instrument: each link receives its own topic's value, once per cycle.
TEST_F(DdeServerTest, EveryLinkGetsItsOwnTopicsValue) {
    Publish(1, Thermohygrometer(1, 215));
    Publish(2, Thermohygrometer(2, 300));
    Publish(3, Thermometer(9, 2150, 2275));
    struct Link {
        const char* service;
        const char* topic;
        const char* item;
        const char* value;
        HCONV conv = nullptr;
    };
    Link links[] = {
        {"KX124", "Temperatura#1", "Wynik", "21,5 "},   {"KX124", "Temperatura#2", "Wynik", "30,0 "},
        {"KX124", "Wilgotność#2", "Wynik", "45,2 "},    {"KX125", "Temperatura#9", "Wynik", "22,12 "},
        {"KX125", "Temperatura1#9", "Wynik", "21,50 "}, {"KX125", "Temperatura2#9", "Wynik", "22,75 "},
        {"KX125", "Temperatura3#9", "Wynik", "????? "}, {"KX125", "Temperatura2#9", "Pomiar", "22,75 °C"},
    };
    WithClient([&](DdeClient& dde) {
        // One conversation per topic, several items on it, as a spreadsheet
        // holds them; every conversation opened before the first link.
        std::map<std::string, HCONV> conversations;
        for (Link& link : links) {
            SCOPED_TRACE(link.topic);
            HCONV& conv = conversations[link.topic];
            if (!conv) conv = dde.Connect(link.service, link.topic);
            ASSERT_NE(conv, nullptr) << dde.LastDdeError();
            link.conv = conv;
        }
        for (Link& link : links) {
            SCOPED_TRACE(link.topic);
            EXPECT_EQ(Ask(dde, link.conv, link.item), link.value);
            ASSERT_TRUE(Patiently(dde, [&] { return dde.StartAdvise(link.conv, link.item); })) << dde.LastDdeError();
        }
        for (const Link& link : links) {
            SCOPED_TRACE(std::string(link.topic) + " " + link.item);
            EXPECT_TRUE(dde.PumpUntil([&] { return dde.LastAdvise(link.conv, link.item) == link.value; }, kWait))
                << dde.LastAdvise(link.conv, link.item);
        }
        // New values: every link moves to its own topic's new value.
        SetInput(1, Thermohygrometer(1, 216));
        SetInput(2, Thermohygrometer(2, 301));
        SetInput(3, Thermometer(9, 2000, 2100));
        const char* changed[] = {"21,6 ", "30,1 ", "45,2 ", "20,50 ", "20,00 ", "21,00 ", "????? ", "21,00 °C"};
        const int start = Cycles();
        for (size_t i = 0; i < std::size(links); ++i) {
            const Link& link = links[i];
            SCOPED_TRACE(std::string(link.topic) + " " + link.item);
            EXPECT_TRUE(dde.PumpUntil([&] { return dde.LastAdvise(link.conv, link.item) == changed[i]; }, kWait))
                << dde.LastAdvise(link.conv, link.item);
        }
        std::printf("all %zu links had their new values after %d polling cycles\n", std::size(links), Cycles() - start);
        // One value per link and cycle, however many topics share the item.
        std::vector<int> before;
        for (const Link& link : links) before.push_back(dde.AdviseCount(link.conv, link.item));
        const int first = Cycles();
        EXPECT_TRUE(dde.PumpUntil([&] { return Cycles() >= first + 4; }, kWait));
        dde.Pump(Milliseconds(50));
        const int cycles = Cycles() - first;
        for (size_t i = 0; i < std::size(links); ++i) {
            SCOPED_TRACE(std::string(links[i].topic) + " " + links[i].item);
            const int values = dde.AdviseCount(links[i].conv, links[i].item) - before[i];
            EXPECT_GE(values, cycles - 1);
            EXPECT_LE(values, cycles + 1);
        }
        for (const auto& [topic, conv] : conversations) dde.Disconnect(conv);
    });
}

// A client program of its own: a DDE client on its own thread that holds
// hot links for `items` of one topic until it is destroyed.  (Wine admits
// one conversation per client instance and topic.)
class LinkHolder {
public:
    LinkHolder(const char* service, const char* topic, std::vector<const char*> items)
        : thread_([this, service, topic, items] { Run(service, topic, items); }) {}
    ~LinkHolder() {
        stop_ = true;
        thread_.join();
    }
    // True once every link has received its first value.  `pump` keeps the
    // waiting thread's DDE windows answering the connect's broadcast.
    bool Linked(DdeClient& pump) {
        std::future<bool> linked = linked_.get_future();
        pump.PumpUntil([&] { return linked.wait_for(std::chrono::seconds(0)) == std::future_status::ready; },
                       2 * kWait);
        return linked.wait_for(std::chrono::seconds(0)) == std::future_status::ready && linked.get();
    }

private:
    void Run(const char* service, const char* topic, const std::vector<const char*>& items) {
        auto dde = DdeClient::Create();
        const HCONV conv = dde ? dde->Connect(service, topic) : nullptr;
        bool linked = conv != nullptr;
        for (const char* item : items) {
            linked = linked && Patiently(*dde, [&] { return dde->StartAdvise(conv, item); });
            linked = linked && dde->PumpUntil([&] { return dde->AdviseCount(conv, item) > 0; }, kWait);
        }
        linked_.set_value(linked);
        if (dde) dde->PumpUntil([&] { return stop_.load(); }, Milliseconds(600000));
        if (conv) dde->Disconnect(conv);
    }

    std::atomic<bool> stop_{false};
    std::promise<bool> linked_;
    std::thread thread_;
};

// Windows' DDEML answers one advise with a request for every link on its
// topic and item, so the server posts one advise per (topic, item): a
// cycle costs one request per link, however many links share the item.
// Windows' grouping is forced here; Wine wakes the links of an item on any
// topic, so the links share one topic.
TEST_F(DdeServerTest, WindowsAdvisesCostOneRequestPerLinkAndCycle) {
    DdeSetAdviseRule(DdeAdviseRule::TopicAndItem);
    Publish(1, Thermohygrometer(1234, 215));
    WithClient([&](DdeClient& pump) {
        std::vector<std::unique_ptr<LinkHolder>> holders;
        // Two "Pomiar" links beside a growing number of "Wynik" links.
        for (size_t wynik : {1, 4, 7}) {
            SCOPED_TRACE(wynik);
            while (holders.size() < wynik) {
                std::vector<const char*> items{"Wynik"};
                if (holders.size() < 2) items.push_back("Pomiar");
                holders.push_back(std::make_unique<LinkHolder>("KX124", "Temperatura#1234", items));
                ASSERT_TRUE(holders.back()->Linked(pump)) << "client " << holders.size();
            }
            const size_t pomiar = std::min<size_t>(wynik, 2);
            const int first = Cycles() + 1;
            EXPECT_TRUE(pump.PumpUntil([&] { return Cycles() >= first + 3; }, kWait));
            for (int cycle = first; cycle < first + 3; ++cycle)
                EXPECT_EQ(RequestsOfCycle(cycle), wynik + pomiar) << "cycle " << cycle;
        }
    });
}

TEST_F(DdeServerTest, NamesFollowRegistrationAndTheFullReset) {
    rainGaugeSettings().serial = 12;
    Publish(0, Reading(kTypeRainGauge, {{0, 15}}));
    Publish(1, Reading(kTypeKX262, {{0, 0}, {8, 44}}));
    Publish(2, Reading(kTypeNone));
    Publish(3, Reading(12, {{3, 5}, {4, 5}}));
    WithClient([&](DdeClient& dde) {
        HCONV conv = dde.Connect("KX305", "Opad#12");
        ASSERT_NE(conv, nullptr) << dde.LastDdeError();
        EXPECT_EQ(Ask(dde, conv, "Pomiar"), "15,0 mm");
        dde.Disconnect(conv);
        EXPECT_EQ(dde.Connect("KX???", ""), nullptr);

        // A new serial in the rain-gauge settings re-registers input 0.
        OnServer([&] {
            rainGaugeSettings().serial = 13;
            Reregister(0);
        });
        EXPECT_EQ(dde.Connect("KX305", "Opad#12"), nullptr);
        conv = dde.Connect("KX305", "Opad#13");
        EXPECT_NE(conv, nullptr) << dde.LastDdeError();
        dde.Disconnect(conv);

        // A second channel seen after registration waits for a new registration.
        SetInput(1, Reading(kTypeKX262, {{0, 1}, {8, 44}}));
        EXPECT_EQ(dde.Connect("KX262", "Natężenie2#44"), nullptr);
        OnServer([&] { Reregister(1); });
        conv = dde.Connect("KX262", "Natężenie2#44");
        EXPECT_NE(conv, nullptr) << dde.LastDdeError();
        dde.Disconnect(conv);

        // Two thermohygrometers share one service: it stays while either is there.
        OnServer([&] {
            Publish(2, Thermohygrometer(5, 215));
            Publish(4, Thermohygrometer(6, 300));
            DdeInputUnregister(2);
        });
        EXPECT_EQ(dde.Connect("KX124", "Temperatura#5"), nullptr);
        conv = dde.Connect("KX124", "Temperatura#6");
        ASSERT_NE(conv, nullptr) << dde.LastDdeError();
        EXPECT_EQ(Ask(dde, conv, "Wynik"), "30,0 ");
        dde.Disconnect(conv);

        // The converter lost: every input unregistered, the server restarted.
        OnServer([&] {
            for (int i = 0; i < kDdeInputs; ++i) DdeInputUnregister(i);
            DdeServerStop();
            EXPECT_TRUE(DdeServerStart(context_));
            EXPECT_FALSE(DdeServerStart(context_));
        });
        EXPECT_EQ(dde.Connect("KX305", "Opad#13"), nullptr);
        EXPECT_EQ(dde.Connect("KX262", "Natężenie#44"), nullptr);
        auto none = DdeInitiate("KX305", "");
        ASSERT_TRUE(none);
        EXPECT_TRUE(none->empty());
        // ... until the instruments are seen again.
        OnServer([&] { Reregister(0); });
        conv = dde.Connect("KX305", "Opad#13");
        ASSERT_NE(conv, nullptr) << dde.LastDdeError();
        EXPECT_EQ(Ask(dde, conv, "Wynik"), "15,0 ");
        dde.Disconnect(conv);
    });
}

TEST_F(DdeServerTest, PokesAndExecutesAreRefused) {
    Publish(1, Thermohygrometer(1234, 215));
    WithClient([&](DdeClient& dde) {
        const HCONV conv = dde.Connect("KX124", "Temperatura#1234");
        ASSERT_NE(conv, nullptr) << dde.LastDdeError();
        EXPECT_FALSE(dde.Poke(conv, "Wynik", "99").Accepted());
        EXPECT_FALSE(dde.Execute(conv, "[Reset]"));
        EXPECT_EQ(Ask(dde, conv, "Wynik"), "21,5 ");
        dde.Disconnect(conv);
    });
}

TEST_F(DdeServerTest, WildcardInitiateListsTheOfferedPairs) {
    using Pairs = std::vector<DdePair>;
    Publish(1, Thermohygrometer(1, 215));
    Publish(3, Reading(kTypeKX132, {{4, 7}}));
    WithClient([&](DdeClient&) {
        struct Case {
            const char* service;
            const char* topic;
            Pairs expected;
        };
        const Case cases[] = {
            {"", "", {{"KX124", "Temperatura#1"}, {"KX124", "Wilgotność#1"}, {"KX132", "Ciśnienie#7"}}},
            {"KX132", "", {{"KX132", "Ciśnienie#7"}}},
            {"", "Wilgotność#1", {{"KX124", "Wilgotność#1"}}},
            {"KX124", "Ciśnienie#7", {}},
        };
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(c.service) + "|" + c.topic);
            const auto pairs = DdeInitiate(c.service, c.topic);
            ASSERT_TRUE(pairs);
            // Each registered service's window answers a broadcast: the
            // same pair may come more than once.
            Pairs ours;
            for (const DdePair& pair : *pairs)
                if (std::find(ours.begin(), ours.end(), pair) == ours.end()) ours.push_back(pair);
            EXPECT_EQ(ours.size(), c.expected.size());
            for (const DdePair& pair : c.expected)
                EXPECT_NE(std::find(ours.begin(), ours.end(), pair), ours.end()) << pair.service << "|" << pair.topic;
        }
    });
}

}  // namespace
}  // namespace kx305mon
