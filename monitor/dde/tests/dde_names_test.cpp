// The DDE server's names, answers and matching rules, without the DDE
// library: names are numbered by a small case-blind table as DDEML's string
// handles are.
#include <gtest/gtest.h>

#include <cctype>
#include <map>
#include <string>
#include <vector>

#include "dde/dde_names.h"
#include "instruments/catalogue.h"
#include "instruments/locale.h"
#include "../../instruments/tests/test_support.h"

namespace kx305mon::test {
namespace {

using Topics = std::vector<std::string>;

// Readings used below.  KX-124 (type 3): serial in word 3, humidity in
// word 4, temperature in word 5 (tenths).
InputReading Thermohygrometer(int32_t serial, int32_t tenthsCelsius, int32_t tenthsPercent = 452) {
    return Reading(kTypeKX124, {{3, serial}, {4, tenthsPercent}, {5, tenthsCelsius}});
}

// The bare value keeps the blank that separates the unit in the display
// form, as every value shown by the program does.
class DdeNamesTest : public LocaleTest {};

TEST_F(DdeNamesTest, ServiceAndTopicsOfEveryInstrumentType) {
    rainGaugeSettings().serial = 12;
    struct Row {
        const char* what;
        InputReading reading;
        const char* service;
        Topics topics;
    };
    const Row rows[] = {
        {"rain gauge", Reading(kTypeRainGauge, {{0, 7}}), "KX305", {"Opad#12"}},
        {"KX-538S", Reading(kTypeKX538S, {{4, 301}}), "KX538S", {"Odległość#301"}},
        {"KX-124", Thermohygrometer(1234, 215), "KX124", {"Temperatura#1234", "Wilgotność#1234"}},
        {"KX-124 temperature only", Reading(kTypeKX124Temperature, {{3, 77}}), "KX124", {"Temperatura#77"}},
        {"KX-125 without channels",
         Reading(kTypeKX125, {{3, 9}}),
         "KX125",
         {"Temperatura#9", "Temperatura1#9", "Temperatura2#9", "Temperatura3#9", "Temperatura4#9", "Temperatura5#9",
          "Temperatura6#9", "Temperatura7#9", "Temperatura8#9"}},
        {"KX-129",
         Reading(kTypeKX129, {{4, 65535}}),
         "KX129",
         {"Temperatura#65535", "Wilgotność#65535", "Ciśnienie#65535"}},
        {"KX-132", Reading(kTypeKX132, {{4, 0x10005}}), "KX132", {"Ciśnienie#5"}},
        {"KX-153", Reading(kTypeKX153, {{3, 8}}), "KX153", {"Prędkość#8", "Kierunek#8"}},
        {"KX-261", Reading(kTypeKX261, {{4, 3}}), "KX261", {"Natężenie#3"}},
        {"KX-262 one channel", Reading(kTypeKX262, {{0, 0}, {8, 44}}), "KX262", {"Natężenie#44"}},
        {"KX-262 two channels", Reading(kTypeKX262, {{0, 1}, {8, 44}}), "KX262", {"Natężenie#44", "Natężenie2#44"}},
        {"KX-273", Reading(kTypeKX273, {{3, 2}}), "KX273", {"Rezystancja#2"}},
        {"type 12", Reading(12, {{3, 2}, {4, 2}}), "KX???", {}},
        {"type 0xFFFFFFFF", Reading(0xFFFFFFFFu), "KX???", {}},
        {"no instrument", Reading(kTypeNone, {{3, 2}}), "", {}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        const DdeInputTexts texts = BuildDdeInputTexts(row.reading.type, row.reading);
        EXPECT_EQ(texts.service, row.service);
        EXPECT_EQ(texts.topics, row.topics);
    }
}

TEST_F(DdeNamesTest, RainGaugeTopicFollowsItsSettingsUpToTheInvalidSerial) {
    const InputReading rain = Reading(kTypeRainGauge, {{0, 7}, {3, 5}, {4, 5}});
    for (uint32_t serial : {0u, 65536u, 0x7FFFFFFFu}) {
        rainGaugeSettings().serial = serial;
        EXPECT_EQ(BuildDdeInputTexts(kTypeRainGauge, rain).topics, Topics{"Opad#" + std::to_string(serial)});
    }
    ASSERT_EQ(InstrumentSerial(kTypeRainGauge, rain), INVALID_VALUE);
}

TEST_F(DdeNamesTest, AnswersInTheLocaleOfTheUser) {
    const auto english = MakeEnglishLocale();
    struct Row {
        const char* what;
        const NumberLocale* locale;  // null: Polish
        InputReading reading;
        int quantity;
        const char* wynik;
        const char* pomiar;
        const char* status;
    };
    const Row rows[] = {
        {"KX-124 temperature", nullptr, Thermohygrometer(1, 215), 0, "21,5 ", "21,5 °C", "Pomiar --> OK"},
        {"KX-124 humidity", english.get(), Thermohygrometer(1, 215), 1, "45.2 ", "45.2  %", "Pomiar --> OK"},
        {"KX-124 below zero", english.get(), Thermohygrometer(1, -15), 0, "-1.5 ", "-1.5 °C", "Pomiar --> OK"},
        {"KX-124 faulty sensor", nullptr, Reading(kTypeKX124, {{1, 1}, {5, 215}}), 0, "21,5 ", "21,5 °C",
         StringText(kStrTemperatureError)},
        {"KX-125 absent channel", nullptr, Reading(kTypeKX125, {{14, 2150}}), 1, "????? ", "????? °C",
         StringText(InstrumentStatus(kTypeKX125, Reading(kTypeKX125, {{14, 2150}})))},
        {"KX-125 average of nothing", english.get(), Reading(kTypeKX125), 0, "????? ", "????? °C",
         StringText(InstrumentStatus(kTypeKX125, Reading(kTypeKX125)))},
        {"KX-129 pressure", english.get(), Reading(kTypeKX129, {{5, 10132}}), 2, "1013.2 ", "1013.2  hPa",
         "Pomiar --> OK"},
        {"rain gauge", nullptr, Reading(kTypeRainGauge, {{0, 15}}), 0, "15,0 ", "15,0 mm", "Pomiar --> OK"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        if (row.locale)
            Use(*row.locale);
        else
            Use(*locale_);
        const uint32_t type = row.reading.type;
        EXPECT_EQ(BuildDdeAnswer(type, row.reading, row.quantity, 0), row.wynik);
        EXPECT_EQ(BuildDdeAnswer(type, row.reading, row.quantity, 1), row.pomiar);
        EXPECT_EQ(BuildDdeAnswer(type, row.reading, row.quantity, 2), row.status);
        EXPECT_EQ(BuildDdeAnswer(type, row.reading, row.quantity, 3), "");
        EXPECT_EQ(BuildDdeAnswer(type, row.reading, row.quantity, -1), "");
    }
}

TEST_F(DdeNamesTest, AnswersFitTheirBuffer) {
    for (int32_t raw : {INT32_MIN, INT32_MAX - 1, -1}) {
        const InputReading rain = Reading(kTypeRainGauge, {{0, raw}});
        for (int item = 0; item < kDdeItems; ++item)
            EXPECT_LT(BuildDdeAnswer(kTypeRainGauge, rain, 0, item).size(), kDdeTextSize);
    }
}

// Names numbered as the DDE library does: equal without regard to case,
// equal numbers.
class NameAtoms {
public:
    DdeName operator()(const std::string& text) {
        std::string key;
        for (char c : text) key += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        auto [it, added] = atoms_.emplace(key, texts_.size() + 1);
        if (added) texts_.push_back(text);
        return it->second;
    }
    // The text the name was first made from.
    const std::string& Text(DdeName name) const { return texts_.at(name - 1); }

private:
    std::map<std::string, DdeName> atoms_;
    std::vector<std::string> texts_;
};

class DdeMatchTest : public DdeNamesTest {
protected:
    void SetUp() override {
        DdeNamesTest::SetUp();
        for (int i = 0; i < kDdeItems; ++i) table_.items[i] = name_(kDdeItemNames[i]);
    }
    void Register(int input, const InputReading& reading) {
        const DdeInputTexts texts = BuildDdeInputTexts(reading.type, reading);
        DdeInputNames& names = table_.inputs[input];
        names = DdeInputNames{};
        names.service = texts.service.empty() ? 0 : name_(texts.service);
        for (const std::string& topic : texts.topics) names.topics[names.topicCount++] = name_(topic);
    }
    DdeMatch Request(const std::string& topic, const std::string& item, bool text = true) {
        return MatchDdeRequest(table_, text, name_(topic), name_(item));
    }
    bool Connect(const std::string& service, const std::string& topic) {
        return MatchDdeConnect(table_, name_(topic), name_(service));
    }
    std::vector<std::pair<std::string, std::string>> Wildcard(const std::string& service, const std::string& topic) {
        std::vector<std::pair<std::string, std::string>> pairs;
        for (const auto& [s, t] :
             DdeWildcardPairs(table_, topic.empty() ? 0 : name_(topic), service.empty() ? 0 : name_(service)))
            pairs.emplace_back(name_.Text(s), name_.Text(t));
        return pairs;
    }

    NameAtoms name_;
    DdeNameTable table_;
};

TEST_F(DdeMatchTest, RequestsReachTheFirstInputOfferingTheTopic) {
    rainGaugeSettings().serial = 1234;
    Register(0, Reading(kTypeRainGauge));
    Register(1, Thermohygrometer(1234, 215));
    Register(2, Thermohygrometer(5678, 300));
    Register(3, Thermohygrometer(5678, 310));  // same serial as input 2: input 2 answers
    Register(4, Reading(kTypeKX153, {{3, 1234}}));
    struct Row {
        const char* topic;
        const char* item;
        bool text;
        int input, quantity, itemIndex;
    };
    const Row rows[] = {
        {"Opad#1234", "Wynik", true, 0, 0, 0},
        {"Temperatura#1234", "Pomiar", true, 1, 0, 1},
        {"WILGOTNOść#1234", "status", true, 1, 1, 2},
        {"Temperatura#5678", "Wynik", true, 2, 0, 0},
        {"Wilgotność#5678", "Pomiar", true, 2, 1, 1},
        {"Kierunek#1234", "Status", true, 4, 1, 2},
        {"Temperatura#1234", "Pomiar", false, -1, -1, -1},  // not CF_TEXT
        {"Temperatura#1234", "Wartosc", true, -1, -1, -1},
        {"Temperatura#9999", "Wynik", true, -1, -1, -1},
        {"Temperatura", "Wynik", true, -1, -1, -1},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.topic) + " " + row.item);
        const DdeMatch match = Request(row.topic, row.item, row.text);
        EXPECT_EQ(match.Found(), row.input >= 0);
        EXPECT_EQ(match.input, row.input);
        EXPECT_EQ(match.quantity, row.quantity);
        EXPECT_EQ(match.item, row.itemIndex);
    }
}

TEST_F(DdeMatchTest, ConnectsNeedTheServiceOfAnInputOfferingTheTopic) {
    Register(1, Thermohygrometer(1234, 215));
    Register(2, Reading(kTypeKX129, {{4, 1234}}));
    Register(3, Reading(12, {{3, 1234}}));  // a service name, no topics: not registered
    EXPECT_TRUE(Connect("KX124", "Temperatura#1234"));
    EXPECT_TRUE(Connect("kx124", "wilgotność#1234"));
    EXPECT_TRUE(Connect("KX129", "Temperatura#1234"));
    EXPECT_TRUE(Connect("KX129", "Ciśnienie#1234"));
    EXPECT_FALSE(Connect("KX124", "Ciśnienie#1234"));
    EXPECT_FALSE(Connect("KX???", "Temperatura#1234"));
    EXPECT_FALSE(Connect("KX125", "Temperatura#1234"));
    EXPECT_FALSE(MatchDdeConnect(table_, 0, name_("KX124")));
    EXPECT_FALSE(MatchDdeConnect(table_, name_("Temperatura#1234"), 0));
    table_.inputs[1].topicCount = 0;  // unregistered
    EXPECT_FALSE(Connect("KX124", "Temperatura#1234"));
}

TEST_F(DdeMatchTest, AServiceIsSharedWhileAnotherRegisteredInputHasIt) {
    Register(1, Thermohygrometer(1, 215));
    Register(2, Reading(kTypeKX132, {{4, 1}}));
    EXPECT_FALSE(DdeServiceShared(table_, 1));
    Register(4, Thermohygrometer(2, 215));
    EXPECT_TRUE(DdeServiceShared(table_, 1));
    EXPECT_TRUE(DdeServiceShared(table_, 4));
    EXPECT_FALSE(DdeServiceShared(table_, 2));
    table_.inputs[4].topicCount = 0;  // unregistered
    EXPECT_FALSE(DdeServiceShared(table_, 1));
}

TEST_F(DdeMatchTest, WildcardListsPairsOfRegisteredInputs) {
    using Pairs = std::vector<std::pair<std::string, std::string>>;
    Register(0, Reading(kTypeNone));
    Register(1, Thermohygrometer(1, 215));
    Register(2, Thermohygrometer(2, 215));
    Register(3, Reading(kTypeKX132, {{4, 1}}));
    Register(4, Reading(12));
    EXPECT_EQ(Wildcard("", ""), (Pairs{{"KX124", "Temperatura#1"},
                                       {"KX124", "Wilgotność#1"},
                                       {"KX124", "Temperatura#2"},
                                       {"KX124", "Wilgotność#2"},
                                       {"KX132", "Ciśnienie#1"}}));
    EXPECT_EQ(Wildcard("kx132", ""), (Pairs{{"KX132", "Ciśnienie#1"}}));
    EXPECT_EQ(Wildcard("", "Temperatura#2"), (Pairs{{"KX124", "Temperatura#2"}}));
    EXPECT_EQ(Wildcard("KX124", "Wilgotność#1"), (Pairs{{"KX124", "Wilgotność#1"}}));
    EXPECT_EQ(Wildcard("KX132", "Wilgotność#1"), Pairs{});
    EXPECT_EQ(Wildcard("KX???", ""), Pairs{});
    EXPECT_EQ(Wildcard("KX305", ""), Pairs{});
}

}  // namespace
}  // namespace kx305mon::test
