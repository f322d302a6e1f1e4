// The converter core over an injected byte channel: replies as bytes on the
// wire, the firmware's command set, the clock, the rain counter and the
// logging memory with its transfer.
#include <gtest/gtest.h>

#include <map>
#include <random>

#include "encoder.h"
#include "results_block.h"
#include "sim_test_support.h"

namespace kx305sim {
namespace {

using Bytes = std::vector<uint8_t>;

ConverterSettings WithVersion(uint16_t version) {
    ConverterSettings s = Bench::Settings();
    s.version = version;
    return s;
}

TEST(ConverterRequests, GetInfoReplyIsExactOnTheWire) {
    Bench b;  // firmware 1.13 of 15.06.2009, serial 3051 (0x0BEB)
    b.Ask(kCmdGetInfo);
    EXPECT_EQ(b.sink.bytes,
              (Bytes{0x7E, 0x00, 0x00, 0x00, 0x09, 0xAF, 0x00, 0x01, 0x0D, 0x15, 0x06, 0x20, 0x09, 0x0B, 0xEB}));
}

TEST(ConverterRequests, RepliesCarryTheRequestsAddress) {
    Bench b;
    const Bytes wire = Request(kCmdGetTime, {}, 0x42);
    b.converter.Receive(wire.data(), wire.size());
    const auto frames = Frames(b.sink.bytes);
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].address(), 0x42);
    EXPECT_EQ(frames[0].command(), kCmdGetTime);
}

TEST(ConverterRequests, SetSerialIsEscapedOnTheWayBack) {
    Bench b;
    ASSERT_EQ(b.Ask(kCmdSetSerial, {0x7E, 0x7F, 0, 0}).size(), 1u);
    const auto frames = b.Ask(kCmdGetInfo);
    ASSERT_EQ(frames.size(), 1u);
    const Bytes p = Payload(frames[0]);
    EXPECT_EQ(p[7] << 8 | p[8], 0x7E7F);
    // The raw bytes carry both escapes and no 0x7E after the start byte.
    const Bytes& raw = b.sink.bytes;
    EXPECT_EQ(std::count(raw.begin() + 1, raw.end(), 0x7E), 0);
    const Bytes escaped = {0x7F, 0x81, 0x7F, 0x7F};
    EXPECT_NE(std::search(raw.begin(), raw.end(), escaped.begin(), escaped.end()), raw.end());
}

TEST(ConverterRequests, PeriodInSecondsTravelsEscaped) {
    Bench b;
    // The host's request for 126 s: payload 00 7E, the 7E escaped.
    const Bytes request = {0x7E, 0x00, 0x00, 0x0A, 0x02, 0x76, 0x00, 0x7F, 0x81};
    b.converter.Receive(request.data(), request.size());
    EXPECT_EQ(b.sink.bytes, (Bytes{0x7E, 0x00, 0x00, 0x0A, 0x00, 0xF6}));
    EXPECT_EQ(b.converter.periodSeconds(), 126);
    b.Ask(kCmdGetPeriodSec);
    EXPECT_EQ(b.sink.bytes, (Bytes{0x7E, 0x00, 0x00, 0x09, 0x02, 0x77, 0x00, 0x7F, 0x81}));
}

TEST(ConverterRequests, SetCommandsWithShortPayloadsChangeNothingAndGetNoReply) {
    Bench b;
    EXPECT_TRUE(b.Ask(kCmdSetSerial, {0x12}).empty());
    EXPECT_EQ(b.converter.serial(), 3051);
    EXPECT_TRUE(b.Ask(kCmdSetPeriodSec, {0x01}).empty());
    EXPECT_EQ(b.converter.periodSeconds(), 60);
    EXPECT_TRUE(b.Ask(kCmdSetTime, {0, 0x10, 0x10}).empty());
}

TEST(ConverterClock, RunsFromTheComputersUtcTime) {
    Bench b;  // 2024-06-15 12:00:00.000 UTC
    b.time.Advance(61234);
    const auto frames = b.Ask(kCmdGetTime);
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(Payload(frames[0]), (Bytes{0x23, 0x01, 0x01, 0x12, 0x15, 0x06}));
}

TEST(ConverterClock, SetTimeIsKeptAndRunsOnAcrossTheYear) {
    Bench b;
    ASSERT_EQ(b.Ask(kCmdSetTime, {0x00, 0x58, 0x59, 0x23, 0x31, 0x12}).size(), 1u);
    b.time.Advance(3000);
    const auto frames = b.Ask(kCmdGetTime);
    ASSERT_EQ(frames.size(), 1u);
    const Bytes p = Payload(frames[0]);
    EXPECT_EQ(Bytes(p.begin() + 1, p.end()), (Bytes{0x01, 0x00, 0x00, 0x01, 0x01}));
}

TEST(ConverterClock, InvalidTimesAreRefusedWithoutReply) {
    Bench b;
    for (const Bytes& payload : {Bytes{0, 0x00, 0x00, 0x12, 0x15, 0x13}, Bytes{0, 0x60, 0x00, 0x12, 0x15, 0x06},
                                 Bytes{0, 0x00, 0x00, 0x24, 0x15, 0x06}, Bytes{0, 0x0A, 0x00, 0x12, 0x15, 0x06},
                                 Bytes{0, 0x00, 0x00, 0x12, 0x31, 0x04}, Bytes{0, 0x00, 0x00, 0x12, 0x00, 0x06}}) {
        EXPECT_TRUE(b.Ask(kCmdSetTime, payload).empty());
    }
    const ClockTime c = b.converter.Clock();
    EXPECT_EQ(FormatClock(c), "06-15T12:00:00");
}

TEST(ConverterFirmware, AnswersExactlyTheCommandsOfItsVersion) {
    const std::map<int, Bytes> payloads = {
        {kCmdSetSerial, {0, 1, 0, 0}},
        {kCmdSetTime, {0, 0, 0, 0x12, 0x15, 0x06}},
        {kCmdSetPeriodMin, {1}},
        {kCmdSetPeriodSec, {0, 60}},
    };
    for (uint16_t version : {0x0101, 0x0102, 0x0104, 0x0105, 0x010C, 0x010D}) {
        for (int code = 0; code < 256; ++code) {
            bool expected = code == 0 || code == 1 || code == 3 || code == 4 || code == 7 || code == 8;
            if (code == 5 || code == 6) expected = version <= 0x0101;
            if (code == 9 || code == 10) expected = version >= 0x0102;
            if (code == 11) expected = version >= 0x0105;
            if (code == 14 || code == 15) expected = version >= 0x010D;
            Bench b(WithVersion(version));
            const auto it = payloads.find(code);
            const auto frames = b.Ask(static_cast<uint8_t>(code), it == payloads.end() ? Bytes{} : it->second);
            EXPECT_EQ(!frames.empty(), expected) << "firmware " << std::hex << version << ", code " << std::dec << code;
            for (const kx305::Frame& f : frames) EXPECT_EQ(f.command(), code);
            EXPECT_EQ(b.converter.received().perCode[code], 1u);
        }
    }
}

TEST(ConverterFirmware, MinuteFirmwareKeepsThePeriodInMinutes) {
    Bench b(WithVersion(0x0101));
    ASSERT_EQ(b.Ask(kCmdSetPeriodMin, {2}).size(), 1u);
    EXPECT_EQ(b.converter.periodSeconds(), 120);
    const auto frames = b.Ask(kCmdGetPeriodMin);
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(Payload(frames[0]), Bytes{2});
}

TEST(ConverterResults, ReplyDecodesToTheInstrumentsInTheFirmwaresLayout) {
    for (uint16_t version : {0x0104, 0x0105}) {
        ConverterSettings s = WithVersion(version);
        s.rainImpulses = 77;
        std::string error;
        ASSERT_TRUE(ParseInputOption("4=kx153,dir=10,speed=2.5", s.inputs, error)) << error;
        Bench b(s);
        const auto frames = b.Ask(kCmdGetResults);
        ASSERT_EQ(frames.size(), 1u);
        InputReading r[KX305_INPUTS] = {};
        kx305::DecodeResultsBlock(frames[0].payload(), frames[0].length(), version, r);
        EXPECT_EQ(r[0].type, version > 0x0104 ? 1u : 0u);
        if (version > 0x0104) {
            EXPECT_EQ(r[0].data[0], 77);
        }
        EXPECT_EQ(r[1].type, 3u);
        EXPECT_EQ(r[2].type, 5u);
        EXPECT_EQ(r[3].type, 6u);
        EXPECT_EQ(r[4].type, 8u);
        EXPECT_EQ(r[4].data[4], 10);
        EXPECT_EQ(r[4].data[5], 25);
    }
}

TEST(ConverterRain, CountsImpulsesAtItsRateAndResets) {
    ConverterSettings s = Bench::Settings();
    s.rainPerMinute = 30;
    Bench b(s);
    for (int i = 0; i < 10; ++i) {
        b.time.Advance(1000);
        b.converter.Tick();
    }
    EXPECT_EQ(b.converter.rainImpulses(), 5u);
    ASSERT_EQ(b.Ask(kCmdResetRain).size(), 1u);
    const auto frames = b.Ask(kCmdGetResults);
    InputReading r[KX305_INPUTS] = {};
    kx305::DecodeResultsBlock(frames[0].payload(), frames[0].length(), 0x010D, r);
    EXPECT_EQ(r[0].data[0], 0);
}

// Runs the converter for `seconds` in one-second steps.
void RunFor(Bench& b, int seconds) {
    for (int i = 0; i < seconds; ++i) {
        b.time.Advance(1000);
        b.converter.Tick();
    }
}

TEST(ConverterLogging, StoresARecordAtEveryPeriodBoundary) {
    Bench b;  // 12:00:00, period 60 s
    RunFor(b, 185);
    const LogMemory& m = b.converter.memory();
    ASSERT_EQ(m.count(), 3u);
    for (size_t i = 0; i < 3; ++i) {
        const Bytes& rec = m.record(i);
        // sub-second, second, minute, hour, day, month in BCD
        EXPECT_EQ(Bytes(rec.begin() + 1, rec.begin() + 6), (Bytes{0x00, uint8_t(0x01 + i), 0x12, 0x15, 0x06}));
        InputReading r[KX305_INPUTS] = {};
        kx305::DecodeResultsBlock(rec.data() + 6, rec.size() - 6, 0x010D, r);
        EXPECT_EQ(r[0].type, 1u);
        EXPECT_EQ(r[1].type, 3u);
    }
}

TEST(ConverterLogging, NewPeriodAndZeroPeriod) {
    Bench b;
    ASSERT_EQ(b.Ask(kCmdSetPeriodSec, {0, 10}).size(), 1u);
    RunFor(b, 35);
    EXPECT_EQ(b.converter.memory().count(), 3u);
    EXPECT_EQ(b.converter.memory().record(0)[1], 0x10);
    ASSERT_EQ(b.Ask(kCmdSetPeriodSec, {0, 0}).size(), 1u);
    RunFor(b, 100);
    EXPECT_EQ(b.converter.memory().count(), 3u);
}

TEST(ConverterLogging, FullMemoryStoresNothingMore) {
    ConverterSettings s = Bench::Settings();
    s.capacity = 2;
    Bench b(s);
    RunFor(b, 4 * 60);
    EXPECT_EQ(b.converter.memory().count(), 2u);
    EXPECT_EQ(b.converter.recordsLost(), 2u);
    EXPECT_EQ(b.converter.memory().record(1)[2], 0x02);  // the two oldest are kept
}

// The journal tells every logged record with its stored time stamp, also
// those stored at start and those a full memory refused.
TEST(ConverterLogging, JournalTellsEveryStoredAndDroppedRecord) {
    ConverterSettings s = Bench::Settings();  // 12:00:00, period 60 s
    s.prefill = 2;
    s.capacity = 3;
    FakeTime time;
    BufferSink sink;
    std::vector<std::string> journal;
    Converter converter(s, time, sink, [&](const std::string& line) { journal.push_back(line); });
    for (int i = 0; i < 125; ++i) {
        time.Advance(1000);
        converter.Tick();
    }
    EXPECT_EQ(journal, (std::vector<std::string>{"stored 06-15 11:59:00.00", "stored 06-15 12:00:00.00",
                                                 "stored 06-15 12:01:00.00", "dropped 06-15 12:02:00.00"}));
    ASSERT_EQ(converter.memory().count(), 3u);
    EXPECT_EQ(StoredStampText(converter.memory().record(2)), "06-15 12:01:00.00");
    EXPECT_EQ(StoredStampText({0x99, 0x59, 0x7A, 0x23, 0x31, 0x12}), "12-31 23:??:59.99");
}

// The frames of a log transfer: count frame, then numbered records.
void ExpectLogStream(const std::vector<kx305::Frame>& frames, uint8_t code, const LogMemory& before) {
    ASSERT_EQ(frames.size(), 1 + before.count());
    EXPECT_EQ(Payload(frames[0]),
              (Bytes{0, uint8_t(before.count()), uint8_t(before.capacity() >> 8), uint8_t(before.capacity())}));
    for (size_t i = 0; i < before.count(); ++i) {
        const kx305::Frame& f = frames[1 + i];
        EXPECT_EQ(f.command(), code);
        const Bytes p = Payload(f);
        EXPECT_EQ(p[0] << 8 | p[1], int(i + 1));
        EXPECT_EQ(Bytes(p.begin() + 2, p.end()), before.record(i));
    }
}

TEST(ConverterLogging, GetLogSendsEveryRecordAndEmptiesTheMemory) {
    ConverterSettings s = Bench::Settings();
    s.prefill = 4;
    Bench b(s);
    const LogMemory before = b.converter.memory();
    ASSERT_EQ(before.count(), 4u);
    ExpectLogStream(b.Ask(kCmdGetLog), kCmdGetLog, before);
    EXPECT_EQ(b.converter.memory().count(), 0u);
    const auto again = b.Ask(kCmdGetLog);
    ASSERT_EQ(again.size(), 1u);
    EXPECT_EQ(Payload(again[0]), (Bytes{0, 0, 0x03, 0xE8}));
}

TEST(ConverterLogging, PeekLogKeepsTheMemoryAndClearLogEmptiesIt) {
    ConverterSettings s = Bench::Settings();
    s.prefill = 3;
    Bench b(s);
    const LogMemory before = b.converter.memory();
    ExpectLogStream(b.Ask(kCmdPeekLog), kCmdPeekLog, before);
    ExpectLogStream(b.Ask(kCmdPeekLog), kCmdPeekLog, before);
    const auto cleared = b.Ask(kCmdClearLog);
    ASSERT_EQ(cleared.size(), 1u);
    EXPECT_EQ(cleared[0].length(), 0);
    EXPECT_EQ(b.converter.memory().count(), 0u);
}

TEST(ConverterLogging, FilledRecordsEndAtTheLastBoundaryAPeriodApart) {
    ConverterSettings s = Bench::Settings();
    s.rainPerMinute = 2;
    s.rainImpulses = 100;
    Bench b(s);
    b.time.Advance(30000);  // 12:00:30
    EXPECT_EQ(b.converter.Fill(3), 3u);
    const LogMemory& m = b.converter.memory();
    ASSERT_EQ(m.count(), 3u);
    const uint8_t minutes[3] = {0x58, 0x59, 0x00};
    const uint8_t hours[3] = {0x11, 0x11, 0x12};
    uint32_t previousRain = 0;
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(m.record(i)[1], 0x00);
        EXPECT_EQ(m.record(i)[2], minutes[i]);
        EXPECT_EQ(m.record(i)[3], hours[i]);
        InputReading r[KX305_INPUTS] = {};
        kx305::DecodeResultsBlock(m.record(i).data() + 6, m.record(i).size() - 6, 0x010D, r);
        EXPECT_GE(uint32_t(r[0].data[0]), previousRain);
        previousRain = uint32_t(r[0].data[0]);
    }
    EXPECT_EQ(previousRain, 99u);  // half a minute of rain before now
}

TEST(ConverterLogging, OldFirmwareStoresTheOldLayout) {
    ConverterSettings s = WithVersion(0x0104);
    s.prefill = 1;
    Bench b(s);
    const Bytes& rec = b.converter.memory().record(0);
    InputReading r[KX305_INPUTS] = {};
    kx305::DecodeResultsBlock(rec.data() + 6, rec.size() - 6, 0x0104, r);
    EXPECT_EQ(r[0].type, 0u);
    EXPECT_EQ(r[1].type, 3u);
    EXPECT_EQ(r[3].type, 6u);
}

// Whatever the host sends, the converter keeps running and still answers a
// good request afterwards.
TEST(ConverterRobustness, GarbageFromTheHostCannotBreakIt) {
    Bench b;
    std::mt19937 random(12345);
    std::uniform_int_distribution<int> byte(0, 255);
    std::uniform_int_distribution<int> chunk(1, 300);
    Bytes garbage;
    for (int i = 0; i < 200000; ++i) garbage.push_back(static_cast<uint8_t>(byte(random)));
    for (size_t at = 0; at < garbage.size();) {
        const size_t n = std::min<size_t>(static_cast<size_t>(chunk(random)), garbage.size() - at);
        b.converter.Receive(garbage.data() + at, n);
        at += n;
    }
    // Well-formed frames with any code and any payload.
    for (int i = 0; i < 20000; ++i) {
        Bytes payload(static_cast<size_t>(byte(random)));
        for (uint8_t& p : payload) p = static_cast<uint8_t>(byte(random));
        const Bytes wire = Request(static_cast<uint8_t>(byte(random)), payload, static_cast<uint8_t>(byte(random)));
        b.converter.Receive(wire.data(), wire.size());
        b.converter.Tick();
    }
    // Every byte it sent belongs to a valid frame.
    size_t frameBytes = 0;
    kx305::FrameReader reader;
    size_t since = 0;
    for (size_t i = 0; i < b.sink.bytes.size(); ++i) {
        if (b.sink.bytes[i] == kx305::kFrameStart) since = i;
        if (reader.Feed(b.sink.bytes[i])) frameBytes += i + 1 - since;
    }
    EXPECT_EQ(frameBytes, b.sink.bytes.size());
    b.sink.bytes.clear();
    const Bytes flushStart = {0x7E};
    b.converter.Receive(flushStart.data(), flushStart.size());
    const auto frames = b.Ask(kCmdGetInfo);
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].length(), 9);
}

}  // namespace
}  // namespace kx305sim
