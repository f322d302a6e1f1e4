// Settings on the in-memory store: the first-run question, the reading
// order with its stop at the first missing value, the values that are out
// of range or fill their field, the group-wise writing and the uninstall
// walk.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "instruments/catalogue.h"
#include "shell/settings.h"
#include "shell_fixture.h"

namespace kx305mon::testing {
namespace {

using ValueType = MemorySettingsStore::ValueType;

// The first-run question answered by script; the dialogs do what the real
// ones do when confirmed (set their fields and save their group).
class ScriptedQuestions final : public FirstRunQuestions {
public:
    ScriptedQuestions(SettingsStore& store, bool answer, bool confirmPort, bool confirmExport)
        : store_(store), answer_(answer), confirmPort_(confirmPort), confirmExport_(confirmExport) {}

    bool AskToRegister() override {
        log.push_back("question");
        return answer_;
    }
    bool ChoosePort(AppContext& context) override {
        log.push_back("port");
        firstInstanceInDialogs = context.firstInstance;
        if (!confirmPort_) return false;
        SetPort(context, 4);
        SaveSettings(context, store_, kSettingsPort);
        return true;
    }
    bool ChooseExportOptions(AppContext& context) override {
        log.push_back("export");
        if (!confirmExport_) return false;
        context.exportFlags = 0x0FB;
        SaveSettings(context, store_, kSettingsFlags);
        return true;
    }

    std::vector<std::string> log;
    bool firstInstanceInDialogs = true;

private:
    SettingsStore& store_;
    bool answer_, confirmPort_, confirmExport_;
};

class SettingsTest : public ShellTest {
protected:
    // A complete key as a confirmed first run leaves it, with values that
    // all differ from the start values.
    void StoreCompleteKey() {
        store.SetNumber("Flags", 0x0AB);
        store.SetNumber("Port", 7);
        store.SetString("Logfile", "C:\\dane\\stacja.kxg");
        store.SetString("RainMeter Name", "Deszczomierz ogrodowy");
        store.SetNumber("RainMeter Serial", 4321);
        store.SetNumber("RainMeter Cal", 200);
        store.SetNumber("RainMeter Period", 2);
        store.SetNumber("KX125AV", 0);
        store.SetNumber("QUICK_START", 1);
        store.SetNumber("SHOW_QMV", 0);
    }

    bool Load(bool answer = false) {
        questions = std::make_unique<ScriptedQuestions>(store, answer, true, true);
        return LoadSettings(context, store, *questions);
    }

    // The fields as one comparable record, each value by its registry name.
    struct Loaded {
        uint32_t flags;
        int32_t port;
        std::string logfile, rainName;
        uint32_t rainSerial;
        int32_t rainCal, period;
        bool kx125, quickStart, showQmv;
        bool operator==(const Loaded&) const = default;
    };
    Loaded Fields() {
        const RainGaugeSettings& rain = rainGaugeSettings();
        return {context.exportFlags, context.port,     context.registrationPath,   rain.name,
                rain.serial,         rain.calibration, context.rainReportInterval, context.averageKX125,
                context.quickStart,  context.showQmv};
    }
    static Loaded StartFields() { return {0x1FF, PORT_NONE, "", "Deszczomierz KX-305", 0, 1000, 1, true, false, true}; }
    static Loaded CompleteFields() {
        return {0x0AB, 7, "C:\\dane\\stacja.kxg", "Deszczomierz ogrodowy", 4321, 200, 2, false, true, false};
    }

    std::unique_ptr<ScriptedQuestions> questions;
};

TEST_F(SettingsTest, StartValuesStandWhenNothingCanBeRead) {
    EXPECT_EQ(Fields(), StartFields());
    store.failReading = true;
    StoreCompleteKey();
    EXPECT_FALSE(Load(true));
    EXPECT_TRUE(questions->log.empty()) << "a key that exists but cannot be opened asks nothing";
    EXPECT_EQ(Fields(), StartFields());
}

TEST_F(SettingsTest, CompleteKeyLoadsEveryValue) {
    StoreCompleteKey();
    EXPECT_TRUE(Load());
    EXPECT_TRUE(questions->log.empty());
    EXPECT_EQ(Fields(), CompleteFields());
}

// First start on a clean account, Yes: the port and export dialogs without
// owner, then every value saved; the next start asks nothing and reads the
// same values back.
TEST_F(SettingsTest, FirstRunYesStoresAllTenValuesAndTheNextStartAsksNothing) {
    ASSERT_FALSE(store.HasKey(kSettingsKeyPath));
    EXPECT_TRUE(Load(true));
    EXPECT_EQ(questions->log, (std::vector<std::string>{"question", "port", "export"}));
    EXPECT_FALSE(questions->firstInstanceInDialogs) << "the dialogs run while the uninstall command is off";
    EXPECT_TRUE(context.firstInstance);
    EXPECT_EQ(store.ValueCount(), 10u);
    EXPECT_EQ(StoredNumber("Port"), 4u);
    EXPECT_EQ(StoredNumber("Flags"), 0x0FBu);
    for (const char* name : {"Logfile", "RainMeter Name"}) {
        ASSERT_NE(store.Find(name), nullptr);
        EXPECT_EQ(store.Find(name)->type, ValueType::String) << name;
    }
    EXPECT_EQ(store.Find("Logfile")->bytes.size(), 260u);
    EXPECT_EQ(store.Find("RainMeter Name")->bytes.size(), 200u);
    for (const char* name :
         {"RainMeter Serial", "RainMeter Cal", "RainMeter Period", "KX125AV", "QUICK_START", "SHOW_QMV"})
        StoredNumber(name);

    const Loaded saved = Fields();
    SetSettingsStartValues(context);
    EXPECT_TRUE(Load(true));
    EXPECT_TRUE(questions->log.empty());
    EXPECT_EQ(Fields(), saved);
}

TEST_F(SettingsTest, FirstRunCancelledDialogLeavesUninstallOff) {
    for (bool confirmPort : {false, true}) {
        SCOPED_TRACE(confirmPort ? "export dialog cancelled" : "port dialog cancelled");
        MemorySettingsStore fresh;
        context.firstInstance = true;
        ScriptedQuestions script(fresh, true, confirmPort, false);
        EXPECT_FALSE(LoadSettings(context, fresh, script));
        EXPECT_FALSE(context.firstInstance);
        const std::vector<std::string> expected = confirmPort ? std::vector<std::string>{"question", "port", "export"}
                                                              : std::vector<std::string>{"question", "port"};
        EXPECT_EQ(script.log, expected);
        // Only what a confirmed dialog saved itself.
        EXPECT_EQ(fresh.ValueCount(), confirmPort ? 2u : 0u);
    }
}

// No: nothing written, the port stays unset.  The port dialog confirmed
// later stores "Port" and "RainMeter Period" only; at the next start
// "Flags" is missing, so the stored port is not read either.
TEST_F(SettingsTest, FirstRunNoThenPortDialogOnlyStillLeavesThePortUnread) {
    EXPECT_FALSE(Load(false));
    EXPECT_EQ(questions->log, std::vector<std::string>{"question"});
    EXPECT_FALSE(store.HasKey(kSettingsKeyPath));
    EXPECT_EQ(context.port, PORT_NONE);
    EXPECT_TRUE(context.firstInstance);

    SetPort(context, 2);
    EXPECT_TRUE(SaveSettings(context, store, kSettingsPort));
    EXPECT_EQ(StoredNames(), (std::set<std::string>{"Port", "RainMeter Period"}));

    SetSettingsStartValues(context);
    EXPECT_FALSE(Load(true));
    EXPECT_TRUE(questions->log.empty());
    EXPECT_EQ(context.port, PORT_NONE);
}

// A missing value of a chain: the values before it load, it and the later
// ones of its chain keep their start values, the other chain and
// "RainMeter Period" still load.
TEST_F(SettingsTest, MissingValueStopsOnlyItsOwnChain) {
    const std::vector<std::string> firstChain = {
        "Flags", "Port", "Logfile", "RainMeter Name", "RainMeter Serial", "RainMeter Cal"};
    const std::vector<std::string> secondChain = {"KX125AV", "QUICK_START", "SHOW_QMV"};
    const Loaded start = StartFields(), complete = CompleteFields();
    // Field of each value name, as a copy from one record to the other.
    const std::map<std::string, std::function<void(Loaded&, const Loaded&)>> field = {
        {"Flags", [](Loaded& a, const Loaded& b) { a.flags = b.flags; }},
        {"Port", [](Loaded& a, const Loaded& b) { a.port = b.port; }},
        {"Logfile", [](Loaded& a, const Loaded& b) { a.logfile = b.logfile; }},
        {"RainMeter Name", [](Loaded& a, const Loaded& b) { a.rainName = b.rainName; }},
        {"RainMeter Serial", [](Loaded& a, const Loaded& b) { a.rainSerial = b.rainSerial; }},
        {"RainMeter Cal", [](Loaded& a, const Loaded& b) { a.rainCal = b.rainCal; }},
        {"RainMeter Period", [](Loaded& a, const Loaded& b) { a.period = b.period; }},
        {"KX125AV", [](Loaded& a, const Loaded& b) { a.kx125 = b.kx125; }},
        {"QUICK_START", [](Loaded& a, const Loaded& b) { a.quickStart = b.quickStart; }},
        {"SHOW_QMV", [](Loaded& a, const Loaded& b) { a.showQmv = b.showQmv; }},
    };
    for (const auto& chain : {firstChain, secondChain}) {
        for (size_t missing = 0; missing < chain.size(); ++missing) {
            SCOPED_TRACE(chain[missing]);
            SetSettingsStartValues(context);
            StoreCompleteKey();
            store.Remove(chain[missing]);
            EXPECT_FALSE(Load());
            Loaded expected = complete;
            for (size_t later = missing; later < chain.size(); ++later) field.at(chain[later])(expected, start);
            EXPECT_EQ(Fields(), expected);
        }
    }
    // "RainMeter Period" stands alone: missing, it changes nothing else.
    SetSettingsStartValues(context);
    StoreCompleteKey();
    store.Remove("RainMeter Period");
    EXPECT_TRUE(Load());
    Loaded expected = complete;
    expected.period = start.period;
    EXPECT_EQ(Fields(), expected);
}

// Numbers out of their range keep the start value and do not stop the
// chain: the values after them still load.
TEST_F(SettingsTest, OutOfRangeNumbersKeepTheirStartValues) {
    struct Case {
        const char* name;
        uint32_t stored;
        bool accepted;
    };
    const Case cases[] = {
        {"Port", 0, false},
        {"Port", 257, false},
        {"Port", 0xFFFFFFFF, false},
        {"Port", 1, true},
        {"Port", 256, true},
        {"Port", 0x7FFFFFFF, true},
        // Any positive calibration, also above the dialog's 1000 (2 mm per impulse).
        {"RainMeter Cal", 0, false},
        {"RainMeter Cal", 0xFFFFFFFF, false},
        {"RainMeter Cal", 0x80000000, false},
        {"RainMeter Cal", 1, true},
        {"RainMeter Cal", 1000, true},
        {"RainMeter Cal", 1001, true},
        {"RainMeter Cal", 2000, true},
        {"RainMeter Cal", 0x7FFFFFFF, true},
        {"RainMeter Period", 3, false},
        {"RainMeter Period", 0xFFFFFFFF, false},
        {"RainMeter Period", 0, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.name) + " = " + std::to_string(c.stored));
        SetSettingsStartValues(context);
        StoreCompleteKey();
        store.SetNumber(c.name, c.stored);
        EXPECT_TRUE(Load());
        Loaded expected = CompleteFields();
        const Loaded start = StartFields();
        const std::string name = c.name;
        if (name == "Port") expected.port = c.accepted ? static_cast<int32_t>(c.stored) : start.port;
        if (name == "RainMeter Cal") expected.rainCal = c.accepted ? static_cast<int32_t>(c.stored) : start.rainCal;
        if (name == "RainMeter Period") expected.period = c.accepted ? static_cast<int32_t>(c.stored) : start.period;
        EXPECT_EQ(Fields(), expected);
    }
}

// A string is cut inside its field: one that fills the field without a
// terminating zero loses its last byte, one without zero that is shorter
// ends where it ends; a longer one cannot be read and stops the chain.
TEST_F(SettingsTest, StringsAreCutWithinTheirField) {
    struct Case {
        const char* name;
        size_t field;
    };
    for (const Case& c : {Case{"Logfile", 260}, Case{"RainMeter Name", 200}}) {
        SCOPED_TRACE(c.name);
        auto loaded = [&] { return std::string(c.field == 260 ? context.registrationPath : rainGaugeSettings().name); };

        SetSettingsStartValues(context);
        StoreCompleteKey();
        store.Set(c.name, ValueType::String, std::vector<uint8_t>(c.field, 'x'));
        EXPECT_TRUE(Load());
        EXPECT_EQ(loaded(), std::string(c.field - 1, 'x'));

        SetSettingsStartValues(context);
        StoreCompleteKey();
        store.Set(c.name, ValueType::Binary, {'a', 'b', 'c'});
        EXPECT_TRUE(Load());
        EXPECT_EQ(loaded(), "abc");

        SetSettingsStartValues(context);
        StoreCompleteKey();
        store.Set(c.name, ValueType::String, std::vector<uint8_t>(c.field + 1, 'x'));
        EXPECT_FALSE(Load());
        EXPECT_EQ(rainGaugeSettings().serial, 0u) << "the chain stops at the oversized value";
        EXPECT_EQ(context.averageKX125, false) << "the second chain still loads";
    }
}

// Values are read without looking at their stored type.
TEST_F(SettingsTest, StoredTypeIsNotLookedAt) {
    StoreCompleteKey();
    store.Set("Flags", ValueType::Binary, {0x34, 0x12, 0, 0});
    store.Set("RainMeter Serial", ValueType::String, {'7', 0});
    EXPECT_TRUE(Load());
    EXPECT_EQ(context.exportFlags, 0x1234u);
    EXPECT_EQ(rainGaugeSettings().serial, uint32_t{'7'});
}

TEST_F(SettingsTest, SaveWritesTheChosenGroupsAndAlwaysThePeriod) {
    struct Case {
        uint32_t groups;
        std::set<std::string> names;
    };
    const Case cases[] = {
        {0, {"RainMeter Period"}},
        {kSettingsFlags, {"Flags", "RainMeter Period"}},
        {kSettingsPort, {"Port", "RainMeter Period"}},
        {kSettingsRainGauge, {"RainMeter Name", "RainMeter Serial", "RainMeter Cal", "RainMeter Period"}},
        {kSettingsLogfile, {"Logfile", "RainMeter Period"}},
        {kSettingsKX125Average, {"KX125AV", "RainMeter Period"}},
        {kSettingsStart, {"QUICK_START", "SHOW_QMV", "RainMeter Period"}},
        {kSettingsKX125Average | kSettingsStart, {"KX125AV", "QUICK_START", "SHOW_QMV", "RainMeter Period"}},
        {kSettingsAll, {std::begin(kValueNames), std::end(kValueNames)}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.groups);
        store = MemorySettingsStore();
        EXPECT_TRUE(SaveSettings(context, store, c.groups));
        EXPECT_EQ(StoredNames(), c.names);
    }
    store = MemorySettingsStore();
    store.failWriting = true;
    EXPECT_FALSE(SaveSettings(context, store, kSettingsAll));
    EXPECT_FALSE(store.HasKey(kSettingsKeyPath));
}

TEST_F(SettingsTest, UninstallRemovesEmptyParentsOnly) {
    // Nothing else below "Software\Velmor": "Velmor" goes too, "Software" stays.
    StoreCompleteKey();
    store.CreateKey("Software\\Inny");
    EXPECT_TRUE(UninstallSettings(store));
    EXPECT_FALSE(store.HasKey("Software\\Velmor"));
    EXPECT_TRUE(store.HasKey("Software"));
    EXPECT_TRUE(store.HasKey("Software\\Inny"));

    // Another program of the maker: only "KX-305V" goes.
    store = MemorySettingsStore();
    StoreCompleteKey();
    store.CreateKey("Software\\Velmor\\QMV");
    EXPECT_TRUE(UninstallSettings(store));
    EXPECT_FALSE(store.HasKey("Software\\Velmor\\KX-305V"));
    EXPECT_TRUE(store.HasKey("Software\\Velmor\\QMV"));

    // Another version beside ours: "KX-305V" stays.
    store = MemorySettingsStore();
    StoreCompleteKey();
    store.CreateKey("Software\\Velmor\\KX-305V\\2.2");
    EXPECT_TRUE(UninstallSettings(store));
    EXPECT_FALSE(store.HasKey(kSettingsKeyPath));
    EXPECT_TRUE(store.HasKey("Software\\Velmor\\KX-305V\\2.2"));

    // Already gone: the parent cannot be opened, or the child not deleted.
    EXPECT_FALSE(UninstallSettings(store));
    store = MemorySettingsStore();
    EXPECT_FALSE(UninstallSettings(store));

    // A key below ours cannot be deleted with it.
    store = MemorySettingsStore();
    store.CreateKey(std::string(kSettingsKeyPath) + "\\obcy");
    EXPECT_FALSE(UninstallSettings(store));
    EXPECT_TRUE(store.HasKey(kSettingsKeyPath));
}

}  // namespace
}  // namespace kx305mon::testing
