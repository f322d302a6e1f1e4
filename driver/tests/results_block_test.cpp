#include "results_block.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace kx305 {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes Text(const std::string& s) { return Bytes(s.begin(), s.end()); }

Bytes Cat(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// A reading whose words all hold a marker, so that unwritten words show.
InputReading Marked() {
    InputReading r{};
    r.type = 99;
    for (auto& w : r.data) w = 0x55AA55AA;
    return r;
}

InputReading Decode(const Bytes& d) {
    InputReading r = Marked();
    DecodeInput(d.data(), d.size(), r);
    return r;
}

constexpr int32_t kMark = 0x55AA55AA;
// A 16-bit code fills only the low half of its word.
int32_t Code(uint16_t code) { return static_cast<int32_t>((0x55AA0000u) | code); }

void ExpectUntouchedFrom(const InputReading& r, size_t first) {
    for (size_t i = first; i < 22; ++i) EXPECT_EQ(r.data[i], kMark) << "data word " << i;
}

TEST(InstrumentCharacters, SignedDecimalAndHexExamples) {
    // sdec(8, 4) and hex4(4) of a KX-538S: d[0]=1, d[1]=0, d[2]=12, d[3] status.
    auto r = Decode(Cat(Bytes{1, 0, 12, 0x08}, Text("1234-0123")));
    EXPECT_EQ(r.type, 2u);
    EXPECT_EQ(r.data[4], Code(0x3412));
    EXPECT_EQ(r.data[5], -123);
    r = Decode(Cat(Bytes{1, 0, 12, 0x08}, Text("?0??10123")));
    EXPECT_EQ(r.data[4], Code(0xFFF0));
    EXPECT_EQ(r.data[5], 10123);
}

TEST(InstrumentTypes, LengthsAndMarkersSelectTheType) {
    EXPECT_EQ(Decode({}).type, 0u);
    // The length rule comes before the d[0] = 1 rule.
    auto rain = Decode({1, 0x02, 0x03, 0x04});
    EXPECT_EQ(rain.type, 1u);
    EXPECT_EQ(rain.data[0], 0x04030201);
    ExpectUntouchedFrom(rain, 1);
    // d[0] = 1 with d[1] not 0, or an unknown d[2]: type 0, nothing written.
    auto none = Decode(Cat(Bytes{1, 1, 12, 0}, Text("123456789")));
    EXPECT_EQ(none.type, 0u);
    ExpectUntouchedFrom(none, 0);
    EXPECT_EQ(Decode(Cat(Bytes{1, 0, 5, 0}, Text("123456789"))).type, 0u);
    // Unknown lengths.
    EXPECT_EQ(Decode(Text("12345678901")).type, 0u);
}

TEST(InstrumentTypes, KX538SandKX261ShareTheirLayout) {
    for (uint8_t marker : {uint8_t{12}, uint8_t{3}}) {
        // status 0b0101: bit3 clear -> word0 = 1; bit2 = 1; bit0 = 1; bit1 = 0.
        auto r = Decode(Cat(Bytes{1, 0, marker, 0x05}, Text("0102 0456")));
        EXPECT_EQ(r.type, marker == 12 ? 2u : 9u);
        EXPECT_EQ(r.data[0], 1);
        EXPECT_EQ(r.data[1], 1);
        EXPECT_EQ(r.data[2], 1);
        EXPECT_EQ(r.data[3], 0);
        EXPECT_EQ(r.data[4], Code(0x0201));
        // d[8] = ' ' is neither minus nor a digit: (0x20 - 0x30) * 10^4 + 456.
        EXPECT_EQ(r.data[5], static_cast<int32_t>(0u - 16u * 10000u + 456u));
        ExpectUntouchedFrom(r, 6);
    }
}

TEST(InstrumentTypes, KX124ShortAndKX153SplitOnBit3) {
    // d[0] = 0x37: bits 2,1,0 set, bit 3 clear.
    auto r = Decode(Text("7A1B2345-12"));
    ASSERT_EQ(r.type, 0u) << "11 bytes is no instrument";
    r = Decode(Cat(Bytes{0x37}, Text("1020345-012")));
    EXPECT_EQ(r.type, 3u);
    EXPECT_EQ(r.data[0], 1);
    EXPECT_EQ(r.data[1], 1);
    EXPECT_EQ(r.data[2], 1);
    EXPECT_EQ(r.data[3], Code(0x2010));
    EXPECT_EQ(r.data[4], 345);
    EXPECT_EQ(r.data[5], -12);
    ExpectUntouchedFrom(r, 6);

    r = Decode(Cat(Bytes{0x3A}, Text("10207891234")));
    EXPECT_EQ(r.type, 8u);
    EXPECT_EQ(r.data[0], 0);
    EXPECT_EQ(r.data[1], 1);
    EXPECT_EQ(r.data[2], 0);
    EXPECT_EQ(r.data[3], Code(0x2010));
    EXPECT_EQ(r.data[4], 789);
    EXPECT_EQ(r.data[5], 1234);
    ExpectUntouchedFrom(r, 6);
}

TEST(InstrumentTypes, KX124WithFourOrFiveDigits) {
    // Bit 0 of d[3] clear: four digits from d[9]; d[8] '-' negates.
    auto r = Decode(Cat(Bytes{1, 0, 9, 0x06}, Text("4321-0567")));
    EXPECT_EQ(r.type, 4u);
    EXPECT_EQ(r.data[0], 0);
    EXPECT_EQ(r.data[1], 1);
    EXPECT_EQ(r.data[2], 1);
    EXPECT_EQ(r.data[3], Code(0x2143));
    EXPECT_EQ(r.data[4], -567);
    ExpectUntouchedFrom(r, 5);
    // Bit 0 set: five digits; a '+' in d[8] leaves the value positive.
    r = Decode(Cat(Bytes{1, 0, 9, 0x01}, Text("4321+12345")));
    EXPECT_EQ(r.type, 4u);
    EXPECT_EQ(r.data[0], 1);
    EXPECT_EQ(r.data[4], 12345);
    // Five digits need 14 bytes.
    EXPECT_EQ(Decode(Cat(Bytes{1, 0, 9, 0x01}, Text("4321+1234"))).type, 0u);
}

TEST(InstrumentTypes, KX125MainValueAndChannelsInBothWidths) {
    // L = 50: status, hex4(1), main value at 5, eight 5-character channels from 10.
    std::string d50 = std::string(1, '\x36') + "0001" + "-0150" + "00123" + "?????" + "-0007" + "?????" + "?????" +
                      "?????" + "?????" + "10000";
    ASSERT_EQ(d50.size(), 50u);
    auto r = Decode(Text(d50));
    EXPECT_EQ(r.type, 5u);
    EXPECT_EQ(r.data[0], 1);
    EXPECT_EQ(r.data[1], 1);
    EXPECT_EQ(r.data[2], 1);
    EXPECT_EQ(r.data[3], Code(0x0100));
    EXPECT_EQ(r.data[4], 1);
    EXPECT_EQ(r.data[5], -150);
    const int32_t flags[8] = {1, 0, 1, 0, 0, 0, 0, 1};
    for (int c = 0; c < 8; ++c) EXPECT_EQ(r.data[6 + c], flags[c]) << c;
    EXPECT_EQ(r.data[14], 123);
    EXPECT_EQ(r.data[15], kMark);  // a "?" channel leaves its value word alone
    EXPECT_EQ(r.data[16], -7);
    EXPECT_EQ(r.data[21], 10000);

    // L = 59: main value of 5 digits at 5, 6-character channels from 11.
    std::string d59 = std::string(1, '\x30') + "0000" + "?????" + "?" + "-00042";
    for (int c = 1; c < 8; ++c) d59 += "?xxxxx";
    ASSERT_EQ(d59.size(), 59u);
    r = Decode(Text(d59));
    EXPECT_EQ(r.type, 5u);
    EXPECT_EQ(r.data[2], 2);
    EXPECT_EQ(r.data[4], 0);
    EXPECT_EQ(r.data[5], kMark);
    EXPECT_EQ(r.data[6], 1);
    EXPECT_EQ(r.data[14], -42);
    for (int c = 1; c < 8; ++c) EXPECT_EQ(r.data[6 + c], 0);
}

TEST(InstrumentTypes, KX129) {
    // d[0] = 0x3D: bits 3, 2, 0 set.
    auto r = Decode(Cat(Bytes{0x3D}, Text(std::string("9900") + "045" + "-020" + "01013")));
    EXPECT_EQ(r.type, 6u);
    EXPECT_EQ(r.data[0], 1);
    EXPECT_EQ(r.data[1], 1);
    EXPECT_EQ(r.data[2], 0);
    EXPECT_EQ(r.data[3], 1);
    EXPECT_EQ(r.data[4], Code(0x0099));
    EXPECT_EQ(r.data[5], 1013);
    EXPECT_EQ(r.data[6], 45);
    EXPECT_EQ(r.data[7], -20);
    ExpectUntouchedFrom(r, 8);
}

TEST(InstrumentTypes, KX132) {
    // d[0] = 0x35: bit3 clear -> 1; bit2 set; bit1 clear -> 1; bit0 set.
    auto r = Decode(Cat(Bytes{0x35}, Text(std::string("1234") + "09876")));
    EXPECT_EQ(r.type, 7u);
    EXPECT_EQ(r.data[0], 1);
    EXPECT_EQ(r.data[1], 1);
    EXPECT_EQ(r.data[2], 1);
    EXPECT_EQ(r.data[3], 1);
    EXPECT_EQ(r.data[4], Code(0x3412));
    EXPECT_EQ(r.data[5], 9876);
    ExpectUntouchedFrom(r, 6);
}

TEST(InstrumentTypes, KX262) {
    // d[3] = 0x0D (bits 3, 2, 0), d[4] = 0x0A (bit 3, low bits 2), d[5] = 0x03.
    auto r = Decode(Cat(Bytes{1, 0, 8, 0x0D, 0x0A, 0x03}, Text(std::string("5678") + "01234" + "-0056")));
    EXPECT_EQ(r.type, 10u);
    EXPECT_EQ(r.data[0], 1);
    EXPECT_EQ(r.data[1], 1);
    EXPECT_EQ(r.data[2], 0);
    EXPECT_EQ(r.data[3], 0);
    EXPECT_EQ(r.data[4], 1);
    EXPECT_EQ(r.data[5], 2);
    EXPECT_EQ(r.data[6], 3);
    EXPECT_EQ(r.data[7], 1);
    EXPECT_EQ(r.data[8], Code(0x7856));
    EXPECT_EQ(r.data[9], 1234);
    EXPECT_EQ(r.data[10], -56);
    ExpectUntouchedFrom(r, 11);
    EXPECT_EQ(Decode(Cat(Bytes{1, 0, 8, 0x0D, 0x0A, 0x03}, Text(std::string("5678") + "01234" + "-005"))).type, 0u);
}

TEST(InstrumentTypes, KX273) {
    auto r = Decode(Cat(Bytes{1, 0, 11, 0x03}, Text(std::string("0000") + "12345")));
    EXPECT_EQ(r.type, 11u);
    EXPECT_EQ(r.data[0], 0);
    EXPECT_EQ(r.data[1], 1);
    EXPECT_EQ(r.data[2], 1);
    EXPECT_EQ(r.data[3], Code(0x0000));
    EXPECT_EQ(r.data[4], 12345);
    ExpectUntouchedFrom(r, 5);
}

TEST(InstrumentTypes, MarkerTypesShorterThanTheirFieldsAreNone) {
    // Each would read past its data: type 0, nothing written.
    for (const Bytes& d : {Bytes{1}, Bytes{1, 0}, Bytes{1, 0, 12}, Bytes{1, 0, 9}, Bytes{1, 0, 12, 0, '1'},
                           Cat(Bytes{1, 0, 12, 0}, Text("12341234")), Cat(Bytes{1, 0, 11, 0}, Text("12341234")),
                           Cat(Bytes{1, 0, 8, 0, 0, 0}, Text("1234123456789"))}) {
        auto r = Decode(d);
        EXPECT_EQ(r.type, 0u) << "length " << d.size();
        ExpectUntouchedFrom(r, 0);
    }
}

// A block as the converter sends it: byte 0, the length bytes, the data.
Bytes Block(bool withInput0, const std::vector<Bytes>& inputs) {
    Bytes block{0x42};
    for (size_t i = withInput0 ? 0 : 1; i < inputs.size(); ++i) block.push_back(static_cast<uint8_t>(inputs[i].size()));
    for (size_t i = withInput0 ? 0 : 1; i < inputs.size(); ++i) block = Cat(block, inputs[i]);
    return block;
}

const Bytes kRain{0x10, 0x27, 0, 0};                                                   // 10000 impulses
const Bytes kKX132 = Cat(Bytes{0x35}, Text(std::string("1234") + "09876"));            // type 7
const Bytes kKX273 = Cat(Bytes{1, 0, 11, 0x03}, Text(std::string("0000") + "12345"));  // type 11

TEST(ResultsBlock, NewLayoutCarriesInput0) {
    const Bytes block = Block(true, {kRain, kKX132, {}, kKX273, {}});
    InputReading results[KX305_INPUTS];
    for (auto& r : results) r = Marked();
    DecodeResultsBlock(block.data(), block.size(), 0x0105, results);
    EXPECT_EQ(results[0].type, 1u);
    EXPECT_EQ(results[0].data[0], 10000);
    EXPECT_EQ(results[1].type, 7u);
    EXPECT_EQ(results[1].data[5], 9876);
    EXPECT_EQ(results[2].type, 0u);
    EXPECT_EQ(results[3].type, 11u);
    EXPECT_EQ(results[3].data[4], 12345);
    EXPECT_EQ(results[4].type, 0u);
}

TEST(ResultsBlock, OldLayoutHasNoInput0) {
    const Bytes block = Block(false, {{}, kKX132, kRain, {}, kKX273});
    InputReading results[KX305_INPUTS];
    for (auto& r : results) r = Marked();
    DecodeResultsBlock(block.data(), block.size(), 0x0104, results);
    EXPECT_EQ(results[0].type, 0u);
    ExpectUntouchedFrom(results[0], 0);
    EXPECT_EQ(results[1].type, 7u);
    EXPECT_EQ(results[2].type, 1u);
    EXPECT_EQ(results[2].data[0], 10000);
    EXPECT_EQ(results[3].type, 0u);
    EXPECT_EQ(results[4].type, 11u);
    // The same bytes read with the new layout give something else.
    DecodeResultsBlock(block.data(), block.size(), 0x0105, results);
    EXPECT_NE(results[1].type, 7u);
}

TEST(ResultsBlock, InputsRunningPastTheEndAreNone) {
    const Bytes block = Block(true, {kRain, kKX132, kKX273, {}, {}});
    for (size_t cut = 0; cut < block.size(); ++cut) {
        // Only the bytes before `cut` exist; nothing after them is read
        // (ASan catches a read of the missing ones).
        Bytes truncated(block.begin(), block.begin() + static_cast<long>(cut));
        InputReading results[KX305_INPUTS];
        DecodeResultsBlock(truncated.data(), truncated.size(), 0x0105, results);
        const size_t rainEnd = 6 + kRain.size();
        const size_t kx132End = rainEnd + kKX132.size();
        EXPECT_EQ(results[0].type, cut >= rainEnd ? 1u : 0u) << cut;
        EXPECT_EQ(results[1].type, cut >= kx132End ? 7u : 0u) << cut;
        EXPECT_EQ(results[2].type, 0u) << cut;
    }
}

TEST(ResultsBlock, LengthsBeyondTheBlockAreNoneButExtraBytesAreIgnored) {
    Bytes block = Block(true, {kRain, kKX132, {}, {}, {}});
    block[3] = 200;  // input 2 claims more than there is
    InputReading results[KX305_INPUTS];
    DecodeResultsBlock(block.data(), block.size(), 0x0105, results);
    EXPECT_EQ(results[0].type, 1u);
    EXPECT_EQ(results[1].type, 7u);
    EXPECT_EQ(results[2].type, 0u);

    Bytes padded = Cat(Block(true, {kRain, kKX132, {}, {}, {}}), Bytes(40, 0x33));
    DecodeResultsBlock(padded.data(), padded.size(), 0x0105, results);
    EXPECT_EQ(results[0].type, 1u);
    EXPECT_EQ(results[1].type, 7u);
    EXPECT_EQ(results[4].type, 0u);
}

}  // namespace
}  // namespace kx305
