// The port list with a fake device list: discovery and probing, the list
// text and combo entries, the current-port field and what OK in the port
// dialog does.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "shell/ports.h"
#include "shell_fixture.h"

namespace kx305mon::testing {
namespace {

// A machine: the ports its device list knows (with descriptions) and the
// ports that answer the default-configuration probe.
class FakeDiscovery final : public PortDiscovery {
public:
    bool EnumerateSerialPorts(PortTable& table) override {
        if (!deviceListWorks) return false;
        for (const auto& [port, description] : listed) table[port - 1] = description;
        return true;
    }
    bool HasDefaultConfig(unsigned port) override {
        probed.push_back(port);
        return configured.count(port) != 0;
    }

    bool deviceListWorks = true;
    std::map<unsigned, std::string> listed;
    std::set<unsigned> configured;
    std::vector<unsigned> probed;
};

std::string ListOf(FakeDiscovery& machine, unsigned& count) {
    std::string text;
    EXPECT_TRUE(BuildPortList(machine, count, text));
    return text;
}

TEST(PortName, OnlyComAndANumberBelow256) {
    const std::map<std::string, unsigned> cases = {
        {"COM1", 1},  {"COM9", 9},           {"COM12", 12}, {"COM255", 255}, {"COM01", 1}, {"COM256", 0},
        {"COM0", 0},  {"COM3x", 0},          {"COM", 0},    {"LPT1", 0},     {"com4", 0},  {"COM 4", 0},
        {"COM-4", 0}, {"COM99999999999", 0}, {"", 0},       {"XCOM1", 0},
    };
    for (const auto& [name, port] : cases) EXPECT_EQ(ParsePortName(name), port) << name;
}

TEST(PortDescription, TrailingComNumberInParenthesesIsCut) {
    const std::map<std::string, std::string> cases = {
        {"USB Serial Port (COM5)", "USB Serial Port"},
        {"Communications Port", "Communications Port"},
        {"Port (COM5) extra", "Port (COM5) extra"},
        {"Port (COM)", "Port (COM)"},
        {"Port (COMx)", "Port (COMx)"},
        {"Port(COM5)", "Port(COM5)"},
        {"Port (COM5", "Port (COM5"},
        {"Port (COM5) (COM6)", "Port (COM5)"},
        {" (COM12)", ""},
    };
    for (const auto& [description, trimmed] : cases)
        EXPECT_EQ(TrimPortDescription(description), trimmed) << description;
}

// COM1 with its description, a USB adapter whose description names its
// port, and COM256 that only the probe finds.
TEST(PortList, DeviceListWithDescriptionsAndPortsOnlyTheProbeFinds) {
    FakeDiscovery machine;
    machine.listed = {{1, "Communications Port"}, {12, "USB Serial Port (COM12)"}, {3, ""}};
    machine.configured = {1, 3, 12, 256};
    unsigned count = 0;
    EXPECT_EQ(ListOf(machine, count), "COM1:Communications Port\nCOM3\nCOM12:USB Serial Port\nCOM256\n");
    EXPECT_EQ(count, 4u);
    // The probe asked only the ports the device list did not know.
    EXPECT_EQ(machine.probed.size(), 256u - 3u);
    for (unsigned port : {1u, 3u, 12u}) {
        EXPECT_EQ(std::count(machine.probed.begin(), machine.probed.end(), port), 0) << port;
    }
    EXPECT_EQ(PortComboEntries(ListOf(machine, count)),
              (std::vector<std::string>{"COM1 Communications Port", "COM3", "COM12 USB Serial Port", "COM256"}));
}

TEST(PortList, WithoutDeviceListEveryPortIsProbedAndListedWithoutDescription) {
    FakeDiscovery machine;
    machine.deviceListWorks = false;
    machine.listed = {{1, "Communications Port"}};
    machine.configured = {2, 10, 256};
    unsigned count = 0;
    EXPECT_EQ(ListOf(machine, count), "COM2\nCOM10\nCOM256\n");
    EXPECT_EQ(count, 3u);
    EXPECT_EQ(machine.probed.size(), 256u);
    EXPECT_EQ(machine.probed.front(), 1u);
    EXPECT_EQ(machine.probed.back(), 256u);

    // Probing every slot with the flag set finds listed ports again, without
    // taking their descriptions away.
    PortTable table;
    table[0] = "Communications Port";
    machine.configured = {1, 5};
    ProbePortsByConfig(table, machine, true);
    EXPECT_EQ(table[0], std::optional<std::string>(""));
    EXPECT_EQ(table[4], std::optional<std::string>(""));
}

TEST(PortList, NoPortsGiveNoEntries) {
    FakeDiscovery machine;
    unsigned count = 7;
    EXPECT_EQ(ListOf(machine, count), "");
    EXPECT_EQ(count, 0u);
    AppContext context;
    EXPECT_TRUE(PortComboEntriesFor(context, machine).empty());
}

TEST(PortList, EntryKeepsTheFirstColonReplacedAndIsCutTo127Characters) {
    FakeDiscovery machine;
    machine.listed = {{4, "Modem: wewnętrzny"}, {7, std::string(300, 'd')}};
    AppContext context;
    const std::vector<std::string> entries = PortComboEntriesFor(context, machine);
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0], "COM4 Modem: wewnętrzny");
    EXPECT_EQ(entries[1].size(), kPortEntryLength);
    EXPECT_EQ(entries[1], "COM7 " + std::string(kPortEntryLength - 5, 'd'));
}

TEST(PortDialogTexts, CurrentPortAndChoice) {
    EXPECT_EQ(CurrentPortText(3), "COM3");
    EXPECT_EQ(CurrentPortText(256), "COM256");
    EXPECT_EQ(CurrentPortText(PORT_NONE), "");
    EXPECT_EQ(ParsePortChoice("COM12 USB Serial Port"), std::optional<int32_t>(12));
    EXPECT_EQ(ParsePortChoice("COM7"), std::optional<int32_t>(7));
    EXPECT_EQ(ParsePortChoice(""), std::nullopt);
    EXPECT_EQ(ParsePortChoice("LPT1"), std::nullopt);
    EXPECT_EQ(ParsePortChoice(nullptr), std::nullopt);
}

class PortDialogTest : public ShellTest {
protected:
    bool Confirm(const char* comboText, int32_t portAtOpening, int testResult) {
        return ConfirmPortChoice(
            context, comboText, portAtOpening,
            [&](int32_t port) {
                tested.push_back(port);
                return testResult;
            },
            store);
    }
    std::vector<int32_t> tested;
};

TEST_F(PortDialogTest, OkWithoutChoiceDoesNothing) {
    EXPECT_FALSE(Confirm("", PORT_NONE, 1));
    EXPECT_TRUE(tested.empty());
    EXPECT_EQ(store.ValueCount(), 0u);
}

TEST_F(PortDialogTest, PortInUseIsOnlySavedAgain) {
    SetPort(context, 3);
    EXPECT_TRUE(Confirm("COM3 Communications Port", 3, 0));
    EXPECT_TRUE(tested.empty());
    EXPECT_EQ(StoredNames(), (std::set<std::string>{"Port", "RainMeter Period"}));
    EXPECT_EQ(StoredNumber("Port"), 3u);
}

TEST_F(PortDialogTest, NewPortIsTestedFirst) {
    SetPort(context, 3);
    EXPECT_FALSE(Confirm("COM5", 3, 0));
    EXPECT_EQ(tested, std::vector<int32_t>{5});
    EXPECT_EQ(context.port, 3);
    EXPECT_EQ(store.ValueCount(), 0u);

    EXPECT_TRUE(Confirm("COM5", 3, 1));
    EXPECT_EQ(context.port, 5);
    EXPECT_EQ(StoredNumber("Port"), 5u);
}

}  // namespace
}  // namespace kx305mon::testing
