// The DDE server of kx305mon.exe against a simulated converter, from a
// DDEML client in the test process: names made of the simulator's
// instruments, requests, hot links following the simulator's values, the
// refused write side, the wildcard initiate, a vanished converter and a
// second copy of the program.
#include "program_fixture.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>

#include "resources/resource.h"

namespace kx305::e2e {
namespace {

using Clock = std::chrono::steady_clock;

// Two thermohygrometers on inputs 1 and 2 of the firmware 1.12 converter.
class DdeService : public ProgramTest {
protected:
    void SetUp() override {
        ProgramTest::SetUp();
        port_ = EnvironmentPort("KX305_PORT_FW112");
        ASSERT_FALSE(port_.empty()) << "run through scripts/wine-sim-run";
        ASSERT_EQ(Simulator(port_, "input 1 kx124,serial=3301,t=21.5,h=40").rfind("ok", 0), 0u);
        ASSERT_EQ(Simulator(port_, "input 2 kx124,serial=3302,t=-3.5,h=60").rfind("ok", 0), 0u);
        ASSERT_TRUE(WriteQuickStart(port_)) << ui::LastError();
        ASSERT_TRUE(Launch());
        ASSERT_TRUE(WaitMainWindow()) << ui::LastError();
        ASSERT_TRUE(WaitLive(port_)) << Panel(IDC_CONVERTER_STATUS);
        dde_ = ui::DdeClient::Create();
        ASSERT_TRUE(dde_);
    }
    void TearDown() override {
        dde_.reset();
        ProgramTest::TearDown();
    }

    // A conversation, once the program has registered the instrument.
    HCONV Connect(const std::string& service, const std::string& topic, Milliseconds timeout = Milliseconds(10000)) {
        HCONV conv = nullptr;
        ui::WaitUntil([&] { return (conv = dde_->Connect(service, topic)) != nullptr; }, timeout);
        return conv;
    }
    std::optional<std::string> Ask(HCONV conv, const std::string& item) {
        auto answer = dde_->Request(conv, item);
        for (int attempt = 1; attempt < 3 && !answer; ++attempt) {
            dde_->Pump(Milliseconds(30));
            answer = dde_->Request(conv, item);
        }
        return answer;
    }
    bool Advise(HCONV conv, const std::string& item) {
        for (int attempt = 0; attempt < 3; ++attempt) {
            if (dde_->StartAdvise(conv, item)) return true;
            dde_->Pump(Milliseconds(30));
        }
        return false;
    }
    // Until the link's last value is `value`; the time it took, or nothing.
    std::optional<Milliseconds> WaitAdvise(HCONV conv, const std::string& item, const std::string& value,
                                           Milliseconds timeout = Milliseconds(10000)) {
        const auto start = Clock::now();
        if (!dde_->PumpUntil([&] { return dde_->LastAdvise(conv, item) == value; }, timeout)) return std::nullopt;
        return std::chrono::duration_cast<Milliseconds>(Clock::now() - start);
    }

    std::string port_;
    std::unique_ptr<ui::DdeClient> dde_;
};

TEST_F(DdeService, TwoThermohygrometersAnswerWithTheirOwnValues) {
    const HCONV first = Connect("KX124", "Temperatura#3301");
    ASSERT_NE(first, nullptr) << dde_->LastDdeError();
    const HCONV second = Connect("KX124", "Temperatura#3302");
    ASSERT_NE(second, nullptr) << dde_->LastDdeError();
    const HCONV humidity = Connect("KX124", "Wilgotność#3302");
    ASSERT_NE(humidity, nullptr) << dde_->LastDdeError();
    EXPECT_EQ(Ask(first, "Wynik"), "21,5 ");
    EXPECT_EQ(Ask(first, "Pomiar"), "21,5 °C");
    EXPECT_EQ(Ask(first, "Status"), "Pomiar --> OK");
    EXPECT_EQ(Ask(second, "Pomiar"), "-3,5 °C");
    EXPECT_EQ(Ask(humidity, "Pomiar"), "60,0  %");
    EXPECT_EQ(Ask(first, "Wartosc"), std::nullopt);
    EXPECT_EQ(dde_->Connect("KX124", "Temperatura#3303"), nullptr);

    // Hot links on three topics of one service: a change on input 1 reaches
    // its link within two polling cycles, the others keep their own values.
    ASSERT_TRUE(Advise(first, "Wynik")) << dde_->LastDdeError();
    ASSERT_TRUE(Advise(second, "Wynik")) << dde_->LastDdeError();
    ASSERT_TRUE(Advise(humidity, "Wynik")) << dde_->LastDdeError();
    EXPECT_TRUE(WaitAdvise(first, "Wynik", "21,5 "));
    EXPECT_TRUE(WaitAdvise(second, "Wynik", "-3,5 "));
    EXPECT_TRUE(WaitAdvise(humidity, "Wynik", "60,0 "));
    const auto changedAt = Clock::now();
    ASSERT_EQ(Simulator(port_, "set 1 t=12.5").rfind("ok", 0), 0u);
    const auto seen = WaitAdvise(first, "Wynik", "12,5 ");
    ASSERT_TRUE(seen) << dde_->LastAdvise(first, "Wynik");
    const auto latency = std::chrono::duration_cast<Milliseconds>(Clock::now() - changedAt);
    std::printf("value change in the simulator to the client's callback: %lld ms\n",
                static_cast<long long>(latency.count()));
    // Two cycles: 2 x (250 ms pause + the cycle's own exchange), with room
    // for a loaded machine.
    EXPECT_LT(latency.count(), 2000);
    const int before = dde_->AdviseCount(second, "Wynik");
    dde_->PumpUntil([&] { return dde_->AdviseCount(second, "Wynik") >= before + 3; }, Milliseconds(5000));
    EXPECT_EQ(dde_->LastAdvise(second, "Wynik"), "-3,5 ");
    EXPECT_EQ(dde_->LastAdvise(humidity, "Wynik"), "60,0 ");
    EXPECT_EQ(dde_->LastAdvise(first, "Wynik"), "12,5 ");

    // No write side.
    EXPECT_FALSE(dde_->Poke(first, "Wynik", "99").Accepted());
    EXPECT_FALSE(dde_->Execute(first, "[Reset]"));

    // The wildcard initiate lists both instruments' topics.
    const auto pairs = ui::DdeInitiate("KX124", "");
    ASSERT_TRUE(pairs);
    for (const char* topic : {"Temperatura#3301", "Wilgotność#3301", "Temperatura#3302", "Wilgotność#3302"}) {
        const ui::DdePair pair{"KX124", topic};
        EXPECT_NE(std::find(pairs->begin(), pairs->end(), pair), pairs->end()) << topic;
    }
    for (HCONV conv : {first, second, humidity}) dde_->Disconnect(conv);
    EXPECT_EQ(Close(), std::optional<DWORD>(0));
}

TEST_F(DdeService, NoServiceWhileTheConverterIsGone) {
    HCONV conv = Connect("KX124", "Temperatura#3301");
    ASSERT_NE(conv, nullptr) << dde_->LastDdeError();
    dde_->Disconnect(conv);
    ASSERT_EQ(Simulator(port_, "vanish 6").rfind("ok", 0), 0u);
    EXPECT_TRUE(ui::WaitUntil(
        [&] {
            const HCONV c = dde_->Connect("KX124", "Temperatura#3301");
            if (c) dde_->Disconnect(c);
            return c == nullptr;
        },
        Milliseconds(5000)));
    const auto none = ui::DdeInitiate("", "");
    ASSERT_TRUE(none);
    for (const ui::DdePair& pair : *none)
        EXPECT_NE(pair.service.rfind("KX", 0), 0u) << pair.service << "|" << pair.topic;
    // Back: the worker reopens the port and the instruments are registered again.
    conv = Connect("KX124", "Temperatura#3301", Milliseconds(20000));
    ASSERT_NE(conv, nullptr) << dde_->LastDdeError();
    EXPECT_EQ(Ask(conv, "Wynik"), "21,5 ");
    dde_->Disconnect(conv);
    EXPECT_EQ(Close(), std::optional<DWORD>(0));
}

// A second copy on another converter publishes its own instruments beside
// the first one's; the first copy's links go on, also after the second
// copy has ended.
TEST_F(DdeService, SecondCopyLeavesTheFirstCopysLinks) {
    const HWND first = main();
    const HCONV conv = Connect("KX124", "Temperatura#3301");
    ASSERT_NE(conv, nullptr) << dde_->LastDdeError();
    ASSERT_TRUE(Advise(conv, "Pomiar")) << dde_->LastDdeError();
    EXPECT_TRUE(WaitAdvise(conv, "Pomiar", "21,5 °C"));

    const std::string other = EnvironmentPort("KX305_PORT_FW113");
    const std::string kx124 = Simulator(other, "input 1");
    const std::string serial = ReplyField(kx124, "serial");
    ASSERT_FALSE(serial.empty()) << kx124;
    Settings second = QuickStartSettings(other);
    second.logfile = TempFile("druga.kxg");
    ASSERT_TRUE(WriteSettings(second));
    ASSERT_TRUE(Launch());
    ASSERT_TRUE(WaitMainWindow());
    ASSERT_NE(main(), first);
    const HCONV theirs = Connect("KX124", "Temperatura#" + serial, Milliseconds(20000));
    ASSERT_NE(theirs, nullptr) << dde_->LastDdeError();
    EXPECT_TRUE(Ask(theirs, "Pomiar").has_value());
    dde_->Disconnect(theirs);

    ASSERT_EQ(Simulator(port_, "set 1 t=18.5").rfind("ok", 0), 0u);
    EXPECT_TRUE(WaitAdvise(conv, "Pomiar", "18,5 °C")) << dde_->LastAdvise(conv, "Pomiar");
    EXPECT_EQ(Close(), std::optional<DWORD>(0));  // the second copy
    ASSERT_EQ(Simulator(port_, "set 1 t=17.5").rfind("ok", 0), 0u);
    EXPECT_TRUE(WaitAdvise(conv, "Pomiar", "17,5 °C")) << dde_->LastAdvise(conv, "Pomiar");
    dde_->Disconnect(conv);
    PostMessageA(first, WM_CLOSE, 0, 0);
}

}  // namespace
}  // namespace kx305::e2e
