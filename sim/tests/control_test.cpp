// The control channel: what each command changes in the running converter,
// and that bad commands get an "error" reply and change nothing.
#include <gtest/gtest.h>

#include "control.h"
#include "results_block.h"
#include "sim_test_support.h"

namespace kx305sim {
namespace {

bool Ok(const std::string& reply) { return reply.rfind("ok", 0) == 0; }

// The current results as the host decodes them.
void Decode(Bench& b, InputReading r[KX305_INPUTS]) {
    const std::vector<uint8_t> block = b.converter.ResultsBlock();
    kx305::DecodeResultsBlock(block.data(), block.size(), b.converter.version(), r);
}

TEST(Control, BadCommandsAreRefusedAndChangeNothing) {
    Bench b;
    ControlChannel control(b.converter);
    const std::string stateBefore = control.Handle("state");
    const std::string input1Before = control.Handle("input 1");
    const char* const bad[] = {
        "",
        "   ",
        "bogus",
        "input",
        "input 5",
        "input 1 kx999",
        "input 1 kx124,t=abc",
        "input 1 kx124,wind=3",
        "input 1 none,t=1",
        "input 0 kx124",
        "set",
        "set 1",
        "set 9 t=1",
        "set 1 t=21,h=150",
        "set 1 t=1e400",
        "set 1 t=nan",
        "set 1 serial=70000",
        "set 1 t",
        "set 4 t=1",  // input 4 has no instrument
        "set 0 count=-1",
        "set 0 level=3",
        "rain",
        "rain -1",
        "rain 1 2",
        "clock 13-01 00:00:00",
        "clock 02-30 00:00:00",
        "clock 06-15 24:00:00",
        "clock tomorrow",
        "period 65536",
        "period -1",
        "fill -1",
        "fill 70000",
        "capacity 0",
        "memory 3",
        "firmware one",
        "firmware 1.256",
        "fault drop 2",
        "fault corrupt 0.5 bits",
        "fault nonsense",
        "pace maybe",
        "vanish 1",  // no port here to take away
        "vanish 0",
        "send-frame 300",
        "send-frame 7 zz",
        "send-frame 7 123",
        "send-raw",
        "received everything",
    };
    for (const char* line : bad) {
        const std::string reply = control.Handle(line);
        EXPECT_EQ(reply.rfind("error ", 0), 0u) << "'" << line << "' gave '" << reply << "'";
        EXPECT_GT(reply.size(), 6u) << line;
    }
    EXPECT_EQ(control.Handle("state"), stateBefore);
    EXPECT_EQ(control.Handle("input 1"), input1Before);
    EXPECT_TRUE(b.sink.bytes.empty());
}

TEST(Control, ExchangedAndChangedInstrumentsReachTheResults) {
    Bench b;
    ControlChannel control(b.converter);
    EXPECT_TRUE(Ok(control.Handle("input 4 kx262,ch=1,i1=55.5,dec1=1,serial=4242")));
    EXPECT_TRUE(Ok(control.Handle("input 2 none")));
    EXPECT_TRUE(Ok(control.Handle("set 1 t=-12.3 h-err=1")));
    EXPECT_TRUE(Ok(control.Handle("set 3 p=999.0,cal-err=1")));
    InputReading r[KX305_INPUTS] = {};
    Decode(b, r);
    EXPECT_EQ(r[1].type, 3u);
    EXPECT_EQ(r[1].data[5], -123);
    EXPECT_EQ(r[1].data[2], 1);
    EXPECT_EQ(r[2].type, 0u);
    EXPECT_EQ(r[3].data[0], 1);
    EXPECT_EQ(r[3].data[5], 9990);
    EXPECT_EQ(r[4].type, 10u);
    EXPECT_EQ(r[4].data[0], 0);
    EXPECT_EQ(r[4].data[9], 555);
    EXPECT_EQ(uint16_t(r[4].data[8]), 4242);
    EXPECT_EQ(control.Handle("input 4"),
              "ok kx262,serial=4242,ch=1,i1=55.5,i2=380,unit1=wm2,unit2=wm2,dec1=1,dec2=0,cal-err=0,err1=0,err2=0");
}

TEST(Control, RainClockPeriodAndMemory) {
    Bench b;
    ControlChannel control(b.converter);
    EXPECT_EQ(control.Handle("rain 5"), "ok count=5");
    EXPECT_EQ(control.Handle("rain 7"), "ok count=12");
    EXPECT_EQ(control.Handle("set 0 count=3,rate=1.5"), "ok rain,count=3,rate=1.5");
    EXPECT_EQ(control.Handle("input 0"), "ok rain,count=3,rate=1.5");
    EXPECT_EQ(control.Handle("clock 12-31 23:59:30"), "ok clock=12-31T23:59:30");
    EXPECT_EQ(FormatClock(b.converter.Clock()), "12-31T23:59:30");
    EXPECT_TRUE(Ok(control.Handle("clock now")));
    EXPECT_EQ(FormatClock(b.converter.Clock()), "06-15T12:00:00");
    EXPECT_EQ(control.Handle("period 300"), "ok period=300");
    EXPECT_EQ(b.converter.periodSeconds(), 300);
    EXPECT_EQ(control.Handle("capacity 5"), "ok capacity=5 records=0");
    EXPECT_EQ(control.Handle("fill 3"), "ok stored=3 records=3");
    EXPECT_EQ(control.Handle("memory"), "ok count=3 06-15 11:50:00.00 06-15 11:55:00.00 06-15 12:00:00.00");
    EXPECT_EQ(control.Handle("fill 3"), "ok stored=2 records=5 full");
    EXPECT_EQ(control.Handle("clear-log"), "ok records=0");
    EXPECT_EQ(control.Handle("memory"), "ok count=0");
    EXPECT_EQ(b.converter.memory().count(), 0u);
}

TEST(Control, FirmwareChangesTheCommandSetAndEmptiesTheMemory) {
    Bench b;
    ControlChannel control(b.converter);
    control.Handle("fill 2");
    EXPECT_EQ(control.Handle("firmware 1.01"), "ok firmware=1.01 records=0");
    EXPECT_EQ(control.Handle("firmware"), "ok firmware=1.01");
    EXPECT_TRUE(b.Ask(kCmdGetPeriodSec).empty());
    EXPECT_EQ(b.Ask(kCmdGetPeriodMin).size(), 1u);
    // Minute firmware keeps whole minutes only.
    EXPECT_EQ(control.Handle("period 90").rfind("error", 0), 0u);
    EXPECT_EQ(control.Handle("period 120"), "ok period=120");
}

TEST(Control, FaultsAndPacingAreSwitchedOnAndOff) {
    Bench b;
    ControlChannel control(b.converter);
    EXPECT_EQ(control.Handle("fault silent on"),
              "ok drop=0 corrupt=0 corruption=any delay=0 silent=on stale=0 unsolicited=0");
    EXPECT_TRUE(b.Ask(kCmdGetInfo).empty());
    EXPECT_TRUE(Ok(control.Handle("fault off")));
    EXPECT_EQ(b.Ask(kCmdGetInfo).size(), 1u);
    EXPECT_EQ(control.Handle("fault corrupt 50% truncate"),
              "ok drop=0 corrupt=0.5 corruption=truncate delay=0 silent=off stale=0 unsolicited=0");
    EXPECT_EQ(control.Handle("pace on"), "ok pace=on");
    EXPECT_TRUE(b.converter.transmitter().pacing());
    EXPECT_EQ(control.Handle("pace off"), "ok pace=off");
}

TEST(Control, ReceivedReportsCountsAndTheLastRequest) {
    Bench b;
    ControlChannel control(b.converter);
    EXPECT_EQ(control.Handle("received"), "ok frames=0 bytes=0 garbage=0 codes=none last=none wire=none");
    const std::vector<uint8_t> junk = {0x01, 0x02, 0x7E, 0x00};
    b.converter.Receive(junk.data(), junk.size());
    b.Ask(kCmdGetTime);
    b.Ask(kCmdGetTime);
    b.Ask(kCmdSetPeriodSec, {0x00, 0x7E});
    b.Ask(12);
    EXPECT_EQ(control.Handle("received"),
              "ok frames=4 bytes=31 garbage=4 codes=3:2,10:1,12:1 last=00000c00f4 wire=7e00000c00f4");
    EXPECT_EQ(control.Handle("received reset"), "ok");
    b.Ask(kCmdSetPeriodSec, {0x00, 0x7E});
    EXPECT_EQ(control.Handle("received"),
              "ok frames=1 bytes=9 garbage=0 codes=10:1 last=00000a0276007e wire=7e00000a027600"
              "7f81");
}

TEST(Control, SendFrameAndSendRawGoStraightToTheHost) {
    Bench b;
    ControlChannel control(b.converter);
    b.converter.transmitter().faults().silent = true;  // replies only: these are no replies
    EXPECT_EQ(control.Handle("send-frame 7 01 02"), "ok");
    EXPECT_EQ(b.sink.bytes, (std::vector<uint8_t>{0x7E, 0x00, 0x00, 0x07, 0x02, 0xF4, 0x01, 0x02}));
    b.sink.bytes.clear();
    EXPECT_EQ(control.Handle("send-raw 7e7f00"), "ok bytes=3");
    EXPECT_EQ(b.sink.bytes, (std::vector<uint8_t>{0x7E, 0x7F, 0x00}));
}

TEST(Control, VanishGoesToTheProgramsHook) {
    Bench b;
    double asked = 0;
    ControlHooks hooks;
    hooks.vanish = [&](double seconds) {
        asked = seconds;
        return std::string();
    };
    hooks.portState = [] { return std::string("vanished"); };
    ControlChannel control(b.converter, hooks);
    EXPECT_EQ(control.Handle("vanish 2.5"), "ok back in 2.5 s");
    EXPECT_DOUBLE_EQ(asked, 2.5);
    EXPECT_NE(control.Handle("state").find(" port=vanished"), std::string::npos);
    hooks.vanish = [](double) { return std::string("the port is away already"); };
    ControlChannel refusing(b.converter, hooks);
    EXPECT_EQ(refusing.Handle("vanish 1"), "error the port is away already");
}

TEST(Control, StateTellsFirmwarePeriodAndRecords) {
    Bench b;
    ControlChannel control(b.converter);
    control.Handle("fill 2");
    EXPECT_EQ(control.Handle("state\r"),
              "ok firmware=1.13 serial=3051 clock=06-15T12:00:00 period=60 records=2 capacity=1000 lost=0 "
              "rain=0 rain-rate=0 pace=off port=up");
}

}  // namespace
}  // namespace kx305sim
