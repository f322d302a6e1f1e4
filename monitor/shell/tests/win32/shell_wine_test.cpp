// The registry backend of the settings and the system port discovery under
// Wine.  The settings go to a key of their own below HKEY_CURRENT_USER so
// that nothing else in the prefix sees them; the values are checked with
// the registry functions themselves (types, sizes, the key's place).
#include <windows.h>

#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "instruments/catalogue.h"
#include "memory_settings_store.h"
#include "shell/memory_review.h"
#include "shell/ports.h"
#include "shell/registration.h"
#include "shell/settings.h"

namespace kx305mon {
namespace {

constexpr char kTestRoot[] = "Software\\KX305ShellTest";
constexpr char kTestKey[] = "Software\\KX305ShellTest\\Velmor\\KX-305V\\2.3";

class NoQuestions final : public FirstRunQuestions {
public:
    bool AskToRegister() override {
        asked = true;
        return false;
    }
    bool ChoosePort(AppContext&) override { return false; }
    bool ChooseExportOptions(AppContext&) override { return false; }
    bool asked = false;
};

struct RawValue {
    bool found = false;
    DWORD type = 0;
    DWORD size = 0;
    BYTE data[512] = {};
};

RawValue ReadRaw(const char* name) {
    RawValue value;
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, kTestKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return value;
    value.size = sizeof value.data;
    value.found = RegQueryValueExA(key, name, nullptr, &value.type, value.data, &value.size) == ERROR_SUCCESS;
    RegCloseKey(key);
    return value;
}

bool KeyExists(const char* path) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, path, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    RegCloseKey(key);
    return true;
}

class RegistryTest : public ::testing::Test {
protected:
    void SetUp() override {
        RegDeleteTreeA(HKEY_CURRENT_USER, kTestRoot);
        SetSettingsStartValues(context);
        context.firstInstance = true;
    }
    void TearDown() override { RegDeleteTreeA(HKEY_CURRENT_USER, kTestRoot); }

    AppContext context;
    std::unique_ptr<SettingsStore> store = MakeRegistrySettingsStore(kTestKey);
};

TEST_F(RegistryTest, DefaultKeyIsTheProgramsKey) {
    EXPECT_EQ(MakeRegistrySettingsStore()->KeyPath(), "Software\\Velmor\\KX-305V\\2.3");
}

TEST_F(RegistryTest, RoundTripWithRegistryTypes) {
    NoQuestions questions;
    EXPECT_FALSE(LoadSettings(context, *store, questions));
    EXPECT_TRUE(questions.asked) << "a missing key is told apart from other failures";

    context.exportFlags = 0x0AB;
    context.port = 7;
    std::strcpy(context.registrationPath, "C:\\dane\\stacja.kxg");
    context.averageKX125 = false;
    context.quickStart = true;
    context.showQmv = false;
    context.rainReportInterval = 2;
    std::strcpy(rainGaugeSettings().name, "Deszczomierz ogrodowy");
    rainGaugeSettings().serial = 4321;
    rainGaugeSettings().calibration = 200;
    ASSERT_TRUE(SaveSettings(context, *store, kSettingsAll));

    for (const char* name : {"Flags", "Port", "RainMeter Serial", "RainMeter Cal", "RainMeter Period", "KX125AV",
                             "QUICK_START", "SHOW_QMV"}) {
        const RawValue value = ReadRaw(name);
        ASSERT_TRUE(value.found) << name;
        EXPECT_EQ(value.type, static_cast<DWORD>(REG_DWORD)) << name;
        EXPECT_EQ(value.size, 4u) << name;
    }
    const RawValue logfile = ReadRaw("Logfile");
    EXPECT_EQ(logfile.type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(logfile.size, 260u);
    EXPECT_STREQ(reinterpret_cast<const char*>(logfile.data), "C:\\dane\\stacja.kxg");
    const RawValue name = ReadRaw("RainMeter Name");
    EXPECT_EQ(name.type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(name.size, 200u);
    DWORD port = 0;
    std::memcpy(&port, ReadRaw("Port").data, sizeof port);
    EXPECT_EQ(port, 7u);

    AppContext loaded;
    SetSettingsStartValues(loaded);
    EXPECT_TRUE(LoadSettings(loaded, *store, questions));
    EXPECT_EQ(loaded.exportFlags, 0x0ABu);
    EXPECT_EQ(loaded.port, 7);
    EXPECT_STREQ(loaded.registrationPath, "C:\\dane\\stacja.kxg");
    EXPECT_FALSE(loaded.averageKX125);
    EXPECT_TRUE(loaded.quickStart);
    EXPECT_FALSE(loaded.showQmv);
    EXPECT_EQ(loaded.rainReportInterval, 2);
    EXPECT_STREQ(rainGaugeSettings().name, "Deszczomierz ogrodowy");
    EXPECT_EQ(rainGaugeSettings().serial, 4321u);
    EXPECT_EQ(rainGaugeSettings().calibration, 200);
}

TEST_F(RegistryTest, UninstallLeavesOtherKeysOfTheMaker) {
    ASSERT_TRUE(SaveSettings(context, *store, kSettingsAll));
    HKEY other = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\KX305ShellTest\\Velmor\\QMV", 0, nullptr, 0, KEY_WRITE,
                              nullptr, &other, nullptr),
              ERROR_SUCCESS);
    RegCloseKey(other);
    EXPECT_TRUE(UninstallSettings(*store));
    EXPECT_FALSE(KeyExists("Software\\KX305ShellTest\\Velmor\\KX-305V"));
    EXPECT_TRUE(KeyExists("Software\\KX305ShellTest\\Velmor\\QMV"));
    EXPECT_FALSE(UninstallSettings(*store)) << "the key is gone already";

    // Without the other key the walk removes the maker's key as well.
    ASSERT_TRUE(SaveSettings(context, *store, kSettingsAll));
    RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\KX305ShellTest\\Velmor\\QMV");
    EXPECT_TRUE(UninstallSettings(*store));
    EXPECT_FALSE(KeyExists("Software\\KX305ShellTest\\Velmor"));
    EXPECT_TRUE(KeyExists("Software"));
}

// The simulators' COM links of the prefix are found (by the device list or
// the default-configuration probe), and every entry is a port that the
// dialog's OK understands, in ascending order of the list.
TEST(SystemPorts, ListEntriesAreChoosablePorts) {
    unsigned count = 0;
    std::string text;
    ASSERT_TRUE(BuildPortList(SystemPortDiscovery(), count, text));
    const std::vector<std::string> entries = PortComboEntries(text);
    EXPECT_EQ(entries.size(), count);
    int32_t previous = 0;
    for (const std::string& entry : entries) {
        const std::optional<int32_t> port = ParsePortChoice(entry.c_str());
        ASSERT_TRUE(port.has_value()) << entry;
        EXPECT_GT(*port, previous) << entry;
        EXPECT_LE(*port, 256) << entry;
        previous = *port;
    }
    std::printf("ports in the prefix: %u\n%s", count, text.c_str());
    for (const char* variable : {"KX305_PORT_FW113", "KX305_PORT_FW101", "KX305_PORT_SILENT"}) {
        char path[64];
        const DWORD length = GetEnvironmentVariableA(variable, path, sizeof path);
        if (length == 0 || length >= sizeof path) {
            ADD_FAILURE() << variable << " is not set: run through scripts/wine-sim-run";
            continue;
        }
        const char* com = std::strstr(path, "COM");
        ASSERT_NE(com, nullptr) << path;
        const std::optional<int32_t> port = ParsePortChoice(com);
        ASSERT_TRUE(port.has_value()) << path;
        // Wine's default-configuration query answers for COM1 to COM9 whether
        // or not a device is linked, and for no higher number (measured on
        // Wine 8), and its setup API lists no port: a simulator that
        // wine-sim-run linked as COM15 cannot be found here.
        if (*port > 9) continue;
        bool listed = false;
        for (const std::string& entry : entries) listed = listed || ParsePortChoice(entry.c_str()) == port;
        EXPECT_TRUE(listed) << com << " missing from the list";
    }
}

// The registration file in use chosen again in dialog 121 under another
// spelling is the same file (volume and file index): the question is
// answered on its handle.  A second open would fail on the recording
// handle's sharing ("Wybrany plik rejestracji ... niedostępny.").
TEST(RegistrationFileIdentity, FileInUseIsKnownUnderAnotherSpelling) {
    char temp[MAX_PATH] = {};
    ASSERT_NE(GetTempPathA(sizeof temp, temp), 0u);
    const std::string directory = std::string(temp) + "kx305_identity_" + std::to_string(GetCurrentProcessId());
    const std::string sub = directory + "\\podkatalog";
    ASSERT_TRUE(CreateDirectoryA(directory.c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryA(sub.c_str(), nullptr));
    const std::string inUse = directory + "\\rejestracja stacji.kxg";

    AppContext context;
    SetSettingsStartValues(context);
    MemorySettingsStore store;
    std::snprintf(context.registrationPath, sizeof context.registrationPath, "%s", inUse.c_str());
    int questions = 0;
    auto append = [&] {
        ++questions;
        return ExistingFileChoice::Append;
    };
    ASSERT_EQ(OpenRegistrationFile(context, true, append), RecordingOpen::Opened);
    FileStream* handle = context.registrationFile.get();

    char before[MAX_PATH] = {};
    GetCurrentDirectoryA(sizeof before, before);
    ASSERT_TRUE(SetCurrentDirectoryA(sub.c_str()));
    std::string upper = inUse;
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    std::vector<std::string> spellings = {"..\\rejestracja stacji.kxg", sub + "\\..\\rejestracja stacji.kxg", upper};
    char shortName[MAX_PATH] = {};
    const DWORD length = GetShortPathNameA(inUse.c_str(), shortName, sizeof shortName);
    if (length > 0 && length < sizeof shortName && inUse != shortName)
        spellings.push_back(shortName);
    else
        std::printf("no short 8.3 name under this Wine\n");
    int asked = 0;
    for (const std::string& spelling : spellings) {
        SCOPED_TRACE(spelling);
        EXPECT_EQ(ConfirmRegistrationFile(context, spelling, append, store), RecordingOpen::Opened);
        EXPECT_EQ(questions, ++asked);
        EXPECT_EQ(context.registrationFile.get(), handle);
        EXPECT_FALSE(ConfirmReadSource(context, false, spelling)) << "read through the recording handle instead";
    }
    // Another file is still another file.
    EXPECT_EQ(ConfirmRegistrationFile(context, sub + "\\inny.kxg", append, store), RecordingOpen::Opened);
    EXPECT_NE(context.registrationFile.get(), handle);

    SetCurrentDirectoryA(before);
    context.registrationFile.reset();
    DeleteFileA((sub + "\\inny.kxg").c_str());
    DeleteFileA(inUse.c_str());
    RemoveDirectoryA(sub.c_str());
    RemoveDirectoryA(directory.c_str());
}

}  // namespace
}  // namespace kx305mon
