// The simulator's packed readings read back through the driver's decoder:
// every instrument type, its values, flags, serial number and absent
// channels, and both firmware layouts of the results block.  The expected
// data words are written from what each word means for the instrument, not
// from the encoder.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "encoder.h"
#include "instrument.h"
#include "results_block.h"

namespace kx305sim {
namespace {

constexpr int32_t kUntouched = 0x5A5A5A5A;

Instrument Make(const std::string& form) {
    Instrument instrument;
    std::string error;
    EXPECT_TRUE(ParseInstrument(form, 1, instrument, error)) << form << ": " << error;
    return instrument;
}

// Encodes the instrument and decodes it as the host would; words the type
// does not write keep kUntouched.
InputReading RoundTrip(const Instrument& instrument) {
    uint8_t data[kMaxInputData];
    const size_t length = EncodeInput(instrument, data);
    InputReading reading;
    reading.type = 0xFFFF;
    for (int32_t& word : reading.data) word = kUntouched;
    kx305::DecodeInput(data, length, reading);
    return reading;
}

InputReading RoundTrip(const std::string& form) { return RoundTrip(Make(form)); }

// The serial word holds a 16-bit code in its low half; the high half is
// never written.
void ExpectWords(const InputReading& r, size_t serialWord, const std::vector<int32_t>& words, const std::string& what) {
    for (size_t i = 0; i < words.size(); ++i) {
        if (i == serialWord) {
            EXPECT_EQ(uint16_t(r.data[i]), words[i]) << what << ", serial word " << i;
            EXPECT_EQ(uint32_t(r.data[i]) >> 16, uint32_t(kUntouched) >> 16) << what << ", serial word " << i;
        } else {
            EXPECT_EQ(r.data[i], words[i]) << what << ", data word " << i;
        }
    }
}

TEST(EncoderRoundTrip, EveryInstrumentTypeDecodesToItsValues) {
    struct Case {
        const char* form;
        uint32_t type;
        size_t serialWord;
        std::vector<int32_t> words;
    };
    const Case cases[] = {
        // KX-538S: one-decimal flag, cal err, distance err, unit code, serial, distance.
        {"kx538s,serial=4660,d=123.4,unit=mm,dec=1", 2, 4, {1, 0, 0, 1, 4660, 1234}},
        {"kx538s,serial=1,d=-42,dec=0,unit=m", 2, 4, {0, 0, 0, 0, 1, -42}},
        // KX-124: cal err, t err, h err, serial, humidity 0.1 %, temperature 0.1 degC.
        {"kx124,serial=777,t=23.4,h=56.7", 3, 3, {0, 0, 0, 777, 567, 234}},
        // KX-124 temperature only: two-decimal flag, cal err, t err, serial, temperature.
        {"kx124t,serial=2024,t=21.5,dec=1", 4, 3, {0, 0, 0, 2024, 215}},
        {"kx124t,serial=2024,t=-21.57,dec=2", 4, 3, {1, 0, 0, 2024, -2157}},
        // KX-129: cal, p, t, h errors, serial, pressure 0.1 hPa, humidity 0.1 %, temperature.
        {"kx129,serial=65535,t=-7.5,h=99.9,p=1013.2", 6, 4, {0, 0, 0, 0, 65535, 10132, 999, -75}},
        // KX-132: one-decimal flag, cal err, unit flag (0 Pa), pressure err, serial, pressure.
        {"kx132,serial=300,p=1001.5,unit=hpa,dec=1", 7, 4, {1, 0, 1, 0, 300, 10015}},
        {"kx132,serial=300,p=-250,unit=pa,dec=0", 7, 4, {0, 0, 0, 0, 300, -250}},
        // KX-153: cal err, direction err, speed err, serial, direction, speed 0.1 m/s.
        {"kx153,serial=153,dir=359,speed=12.3", 8, 3, {0, 0, 0, 153, 359, 123}},
        // KX-261: one-decimal flag, cal err, intensity err, unit code, serial, intensity.
        {"kx261,serial=261,i=12.5,unit=klx,dec=1", 9, 4, {1, 0, 0, 1, 261, 125}},
        // KX-262: second channel, ch1 err, ch2 err, decimals 1 and 2, units 1 and 2,
        // cal err, serial, values 1 and 2.
        {"kx262,serial=262,ch=2,i1=812,i2=-3.5,unit1=umol,unit2=klx,dec1=0,dec2=1",
         10,
         8,
         {1, 0, 0, 0, 1, 2, 1, 0, 262, 812, -35}},
        {"kx262,serial=262,ch=1,i1=99.9,dec1=1,unit1=7", 10, 8, {0, 0, 0, 1, 0, 7, 0, 0, 262, 999, 0}},
        // KX-273: cal err, internal err, resistance err, serial, resistance.
        {"kx273,serial=273,r=98765", 11, 3, {0, 0, 0, 273, 98765}},
    };
    for (const Case& c : cases) {
        const InputReading r = RoundTrip(c.form);
        EXPECT_EQ(r.type, c.type) << c.form;
        ExpectWords(r, c.serialWord, c.words, c.form);
    }
}

TEST(EncoderRoundTrip, EachErrorFlagLandsInItsOwnWord) {
    struct Case {
        const char* base;
        const char* flag;
        int word;
        std::vector<int> flagWords;  // all error words of the type
    };
    const Case cases[] = {
        {"kx538s", "cal-err", 1, {1, 2}},    {"kx538s", "d-err", 2, {1, 2}},
        {"kx124", "cal-err", 0, {0, 1, 2}},  {"kx124", "t-err", 1, {0, 1, 2}},
        {"kx124", "h-err", 2, {0, 1, 2}},    {"kx124t", "cal-err", 1, {1, 2}},
        {"kx124t", "t-err", 2, {1, 2}},      {"kx125", "cal-err", 0, {0, 1}},
        {"kx125", "t-err", 1, {0, 1}},       {"kx129", "cal-err", 0, {0, 1, 2, 3}},
        {"kx129", "p-err", 1, {0, 1, 2, 3}}, {"kx129", "t-err", 2, {0, 1, 2, 3}},
        {"kx129", "h-err", 3, {0, 1, 2, 3}}, {"kx132", "cal-err", 1, {1, 3}},
        {"kx132", "p-err", 3, {1, 3}},       {"kx153", "cal-err", 0, {0, 1, 2}},
        {"kx153", "dir-err", 1, {0, 1, 2}},  {"kx153", "speed-err", 2, {0, 1, 2}},
        {"kx261", "cal-err", 1, {1, 2}},     {"kx261", "i-err", 2, {1, 2}},
        {"kx262", "err1", 1, {1, 2, 7}},     {"kx262", "err2", 2, {1, 2, 7}},
        {"kx262", "cal-err", 7, {1, 2, 7}},  {"kx273", "cal-err", 0, {0, 1, 2}},
        {"kx273", "int-err", 1, {0, 1, 2}},  {"kx273", "r-err", 2, {0, 1, 2}},
    };
    for (const Case& c : cases) {
        const std::string form = std::string(c.base) + "," + c.flag + "=1";
        const InputReading r = RoundTrip(form);
        for (int word : c.flagWords) EXPECT_EQ(r.data[word], word == c.word ? 1 : 0) << form << ", word " << word;
    }
}

TEST(EncoderRoundTrip, SerialNumbersSurviveTheNibbleOrder) {
    for (uint16_t serial : {0, 1, 0x00FF, 0x0100, 0x1234, 0x3412, 0xABCD, 0xFFFF}) {
        Instrument kx124 = Make("kx124");
        kx124.serial = serial;
        EXPECT_EQ(uint16_t(RoundTrip(kx124).data[3]), serial);
        Instrument kx262 = Make("kx262");
        kx262.serial = serial;
        EXPECT_EQ(uint16_t(RoundTrip(kx262).data[8]), serial);
        Instrument kx132 = Make("kx132");
        kx132.serial = serial;
        EXPECT_EQ(uint16_t(RoundTrip(kx132).data[4]), serial);
    }
}

TEST(EncoderRoundTrip, Kx125ReportsPresentChannelsAndMarksTheOthersAbsent) {
    for (const char* dec : {"1", "2"}) {
        const std::string form = std::string("kx125,serial=125,dec=") + dec + ",ch=25,t2=-12.25,t5=99.5,t1=30,main=1";
        const InputReading r = RoundTrip(form);
        const int scale = dec[0] == '1' ? 10 : 100;
        EXPECT_EQ(r.type, 5u) << form;
        EXPECT_EQ(r.data[2], dec[0] == '1' ? 1 : 2) << form;
        EXPECT_EQ(uint16_t(r.data[3]), 125) << form;
        EXPECT_EQ(r.data[4], 0) << form << ": main reading absent";
        EXPECT_EQ(r.data[5], kUntouched) << form;
        for (int c = 1; c <= 8; ++c) {
            const bool present = c == 2 || c == 5;
            EXPECT_EQ(r.data[5 + c], present ? 1 : 0) << form << ", channel " << c;
            if (!present) {
                EXPECT_EQ(r.data[13 + c], kUntouched) << form << ", channel " << c;
            }
        }
        // One decimal rounds -12.25 away from zero.
        EXPECT_EQ(r.data[15], dec[0] == '1' ? -123 : -1225) << form;
        EXPECT_EQ(r.data[18], 995 * scale / 10) << form;
    }
    const InputReading main = RoundTrip("kx125,ch=0,main=-4.2");
    EXPECT_EQ(main.data[4], 1);
    EXPECT_EQ(main.data[5], -42);
    for (int c = 6; c <= 13; ++c) EXPECT_EQ(main.data[c], 0);

    const InputReading none = RoundTrip("kx125,ch=none");
    EXPECT_EQ(none.type, 5u);
    EXPECT_EQ(none.data[4], 0);
    for (int c = 6; c <= 13; ++c) EXPECT_EQ(none.data[c], 0);
}

TEST(EncoderRoundTrip, ValuesAtTheEdgesOfTheirFieldsKeepTheirDigits) {
    struct Case {
        const char* form;
        int word;
        int32_t value;
    };
    const Case cases[] = {
        {"kx132,dec=1,p=9999.9", 5, 99999},
        {"kx132,dec=1,p=-999.9", 5, -9999},
        {"kx124,t=999.9", 5, 9999},
        {"kx124,t=-99.9", 5, -999},
        {"kx124,h=0", 4, 0},
        {"kx124t,dec=2,t=999.99", 4, 99999},
        {"kx124t,dec=1,t=-999.9", 4, -9999},
        {"kx125,dec=2,ch=1,t1=-999.99", 14, -99999},
        {"kx125,dec=2,ch=8,t8=9999.99", 21, 999999},
        {"kx273,r=0", 4, 0},
        {"kx153,speed=999.9,dir=0", 5, 9999},
    };
    for (const Case& c : cases) EXPECT_EQ(RoundTrip(c.form).data[c.word], c.value) << c.form;
}

// However far values wander, every character stays a digit, a sign, a
// status or serial character or "?", and the type stays what it was.
TEST(EncoderRoundTrip, DriftingValuesStayInsideTheirFields) {
    std::mt19937 random(7);
    for (const char* form : {"kx538s,dec=1", "kx124", "kx124t,dec=2", "kx125,ch=012345678", "kx129", "kx132", "kx153",
                             "kx261,dec=1", "kx262", "kx273"}) {
        Instrument instrument = Make(form);
        SeedDrift(instrument, random);
        const uint32_t type = RoundTrip(instrument).type;
        for (int step = 0; step < 500; ++step) {
            Drift(instrument, 60, random);
            uint8_t data[kMaxInputData];
            const size_t length = EncodeInput(instrument, data);
            const size_t first = data[0] == 1 ? 3 : 0;  // binary form bytes
            for (size_t i = first; i < length; ++i) {
                const uint8_t c = data[i];
                ASSERT_TRUE((c >= 0x30 && c <= 0x3F) || c == '-' || c == '+')
                    << form << " after " << step << " minutes: byte " << i << " is " << int(c);
            }
            ASSERT_EQ(RoundTrip(instrument).type, type) << form << " after " << step << " minutes";
        }
    }
}

// Results blocks: input 0 carries the rain gauge only above firmware 1.04.
TEST(ResultsBlockRoundTrip, NewLayoutCarriesTheRainGaugeOnInput0) {
    Instrument inputs[4] = {Make("kx124,t=1.5"), Make("kx125,dec=2,ch=1,t1=2"), Instrument{},
                            Make("kx262,ch=2,i1=5,i2=6")};
    uint8_t block[kMaxResultsBlock];
    const size_t length = EncodeResultsBlock(0x89ABCDEF, inputs, 0x0105, block);
    EXPECT_EQ(length, 1u + 5u + 4u + 12u + 59u + 0u + 20u);
    InputReading results[KX305_INPUTS] = {};
    kx305::DecodeResultsBlock(block, length, 0x0105, results);
    EXPECT_EQ(results[0].type, 1u);
    EXPECT_EQ(uint32_t(results[0].data[0]), 0x89ABCDEFu);
    EXPECT_EQ(results[1].type, 3u);
    EXPECT_EQ(results[1].data[5], 15);
    EXPECT_EQ(results[2].type, 5u);
    EXPECT_EQ(results[2].data[14], 200);
    EXPECT_EQ(results[3].type, 0u);
    EXPECT_EQ(results[4].type, 10u);
    EXPECT_EQ(results[4].data[10], 6);
}

TEST(ResultsBlockRoundTrip, OldLayoutHasNoLengthForInput0) {
    Instrument inputs[4] = {Instrument{}, Make("kx153,dir=90,speed=4.2"), Make("kx273,r=12"), Make("kx124t,t=3")};
    uint8_t block[kMaxResultsBlock];
    const size_t length = EncodeResultsBlock(123, inputs, 0x0104, block);
    EXPECT_EQ(length, 1u + 4u + 0u + 12u + 13u + 13u);
    InputReading results[KX305_INPUTS] = {};
    kx305::DecodeResultsBlock(block, length, 0x0104, results);
    EXPECT_EQ(results[0].type, 0u);
    EXPECT_EQ(results[1].type, 0u);
    EXPECT_EQ(results[2].type, 8u);
    EXPECT_EQ(results[2].data[4], 90);
    EXPECT_EQ(results[2].data[5], 42);
    EXPECT_EQ(results[3].type, 11u);
    EXPECT_EQ(results[3].data[4], 12);
    EXPECT_EQ(results[4].type, 4u);
    EXPECT_EQ(results[4].data[4], 30);
}

TEST(ResultsBlockRoundTrip, LongestBlockFitsOneStoredRecord) {
    Instrument inputs[4];
    for (Instrument& in : inputs) in = Make("kx125,dec=2,ch=012345678");
    uint8_t block[kMaxResultsBlock];
    EXPECT_EQ(EncodeResultsBlock(0, inputs, 0x010D, block), kMaxResultsBlock);
    EXPECT_LE(6 + kMaxResultsBlock, 252u);
}

}  // namespace
}  // namespace kx305sim
