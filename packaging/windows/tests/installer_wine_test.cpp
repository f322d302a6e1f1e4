// The installer in a fresh Wine prefix, in two steps that installer_test.sh
// runs one after the other (between them it builds the SDK's C example
// against the installed import library):
//   1. a silent install for all users with the SDK: files, shortcut and
//      uninstall entry where they belong; the installed program shows live
//      readings of the simulator; an install while it runs fails and
//      changes nothing.  Prints the installer's size and the time from the
//      install's start to the first live reading.
//   2. the installed example reads the simulator through the installed DLL;
//      a second install keeps the settings; the silent uninstall removes the
//      files, the shortcut and the entry, keeps a registration file the user
//      put in the program's folder, and keeps the settings.
// KX305_SETUP names the installer, KX305_SDK_EXAMPLE the built example.
#include <windows.h>

#include <shlobj.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "program_fixture.h"

namespace kx305::e2e {
namespace {

constexpr char kUninstallKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\KX-305";
constexpr DWORD kExitRunning = 3;
const Milliseconds kInstallWait{120000};

std::string Folder(int csidl) {
    char path[MAX_PATH] = {};
    return SUCCEEDED(SHGetFolderPathA(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, path)) ? path : "";
}
std::string InstallDirectory() { return Folder(CSIDL_PROGRAM_FILES) + "\\KX-305"; }
std::string Shortcut() { return Folder(CSIDL_COMMON_PROGRAMS) + "\\Konwerter KX-305.lnk"; }

bool Exists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// What one installation puts into its folder, the SDK included (the 64-bit
// build; lib32 comes with the 32-bit build of the release).
const std::vector<std::string> kInstalledFiles = {"kx305mon.exe",
                                                  "kx305.dll",
                                                  "uninstall.exe",
                                                  "SDK\\include\\kx305.h",
                                                  "SDK\\kx305.def",
                                                  "SDK\\lib64\\kx305.dll",
                                                  "SDK\\lib64\\libkx305.dll.a",
                                                  "SDK\\lib64\\kx305.lib",
                                                  "SDK\\examples\\read.c",
                                                  "SDK\\examples\\KX305.bas"};

// The uninstall entry's values (HKEY_LOCAL_MACHINE, an all-users install).
std::map<std::string, std::string> UninstallEntry() {
    std::map<std::string, std::string> values;
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kUninstallKey, 0, KEY_READ | KEY_WOW64_64KEY, &key) != ERROR_SUCCESS)
        return values;
    for (DWORD i = 0;; ++i) {
        char name[256];
        BYTE data[1024];
        DWORD nameSize = sizeof name, dataSize = sizeof data - 1, type = 0;
        if (RegEnumValueA(key, i, name, &nameSize, nullptr, &type, data, &dataSize) != ERROR_SUCCESS) break;
        if (type == REG_DWORD) {
            DWORD v;
            memcpy(&v, data, sizeof v);
            values[name] = std::to_string(v);
        } else {
            data[dataSize] = 0;
            values[name] = reinterpret_cast<const char*>(data);
        }
    }
    RegCloseKey(key);
    return values;
}

std::string Setup() { return WinePath(EnvironmentVariable("KX305_SETUP")); }

// Runs the installer with these options; its exit code.
std::optional<DWORD> RunSetup(const std::vector<std::string>& arguments) {
    ui::StartOptions options;
    options.arguments = arguments;
    auto setup = ui::Start(Setup(), options);
    if (!setup) return std::nullopt;
    return setup->WaitExit(kInstallWait);
}

class Installer : public ProgramTest {
protected:
    void LaunchInstalled() {
        SetEnvironmentVariableA("KX305MON_EXE", (InstallDirectory() + "\\kx305mon.exe").c_str());
        ASSERT_TRUE(Launch());
        ASSERT_TRUE(WaitMainWindow()) << ui::LastError();
    }
};

TEST_F(Installer, SilentInstallPutsTheProgramInPlaceAndItShowsLiveReadings) {
    const std::string port = EnvironmentPort("KX305_PORT_FW113");
    ASSERT_FALSE(port.empty());
    const auto started = std::chrono::steady_clock::now();
    ASSERT_EQ(RunSetup({"/S", "/ALLUSERS", "/SDK"}), std::optional<DWORD>(0));

    for (const std::string& file : kInstalledFiles) EXPECT_TRUE(Exists(InstallDirectory() + "\\" + file)) << file;
    EXPECT_TRUE(Exists(Shortcut())) << Shortcut();
    EXPECT_FALSE(ui::RegistryKeyExists(kUninstallKey)) << "the entry of an all-users install is the machine's";
    std::map<std::string, std::string> entry = UninstallEntry();
    EXPECT_EQ(entry["DisplayName"], "Konwerter KX-305");
    EXPECT_EQ(entry["DisplayVersion"], EnvironmentVariable("KX305_VERSION"));
    EXPECT_EQ(entry["Publisher"], "Velmor");
    EXPECT_EQ(entry["DisplayIcon"], InstallDirectory() + "\\kx305mon.exe,0");
    EXPECT_EQ(entry["UninstallString"], "\"" + InstallDirectory() + "\\uninstall.exe\" /AllUsers");
    EXPECT_EQ(entry["QuietUninstallString"], "\"" + InstallDirectory() + "\\uninstall.exe\" /AllUsers /S");
    // Kilobytes of everything installed: the program alone is several hundred.
    EXPECT_GT(std::stoul(entry["EstimatedSize"].empty() ? "0" : entry["EstimatedSize"]), 500u);

    ASSERT_TRUE(WriteQuickStart(port));
    ASSERT_NO_FATAL_FAILURE(LaunchInstalled());
    ASSERT_TRUE(WaitLive(port, Milliseconds(30000))) << Panel(1025);
    const auto live = std::chrono::steady_clock::now();
    std::printf("installer: from the silent install's start to the first live reading: %.1f s\n",
                std::chrono::duration<double>(live - started).count());

    // Over a running program the silent installer fails before it changes
    // anything (the program's files are not even rewritten).
    FILETIME before{}, after{};
    auto writeTime = [](const std::string& path, FILETIME& time) {
        WIN32_FILE_ATTRIBUTE_DATA data{};
        if (GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) time = data.ftLastWriteTime;
    };
    writeTime(InstallDirectory() + "\\kx305mon.exe", before);
    Sleep(1100);
    EXPECT_EQ(RunSetup({"/S", "/ALLUSERS"}), std::optional<DWORD>(kExitRunning));
    writeTime(InstallDirectory() + "\\kx305mon.exe", after);
    EXPECT_EQ(CompareFileTime(&before, &after), 0);
    EXPECT_TRUE(program().Running());
    EXPECT_EQ(Close(), std::optional<DWORD>(0));
}

TEST_F(Installer, SdkExampleReadsTheConverterUpgradeKeepsSettingsUninstallKeepsUserFiles) {
    const std::string port = EnvironmentPort("KX305_PORT_FW113");
    ASSERT_FALSE(port.empty());
    ASSERT_TRUE(Exists(InstallDirectory() + "\\kx305mon.exe")) << "the first step installs it";

    // The example finds kx305.dll only in the installed SDK (PATH).
    const std::string output = TempFile("read.txt");
    ui::StartOptions options;
    options.arguments = {port};
    options.environment["PATH"] = InstallDirectory() + "\\SDK\\lib64;" + EnvironmentVariable("PATH");
    options.standardOutput = output;
    auto example = ui::Start(WinePath(EnvironmentVariable("KX305_SDK_EXAMPLE")), options);
    ASSERT_TRUE(example) << ui::LastError();
    EXPECT_EQ(example->WaitExit(Milliseconds(30000)), std::optional<DWORD>(0));
    const std::string state = Simulator(port, "state");
    std::string text = FileBytes(output).value_or("");
    std::erase(text, '\r');  // the C runtime's text mode
    EXPECT_NE(text.find("KX-305 firmware 1.13, serial number " + ReplyField(state, "serial") + "\n"), std::string::npos)
        << text;
    // Inputs 0 to 3 hold the simulator's rain gauge, KX-124, KX-125, KX-129.
    for (const char* line :
         {"input 0: type 1,", "input 1: type 3,", "input 2: type 5,", "input 3: type 6,", "input 4: type 0\n"})
        EXPECT_NE(text.find(line), std::string::npos) << line << " in\n" << text;

    // A second install over the first keeps the program's settings.
    Settings settings = QuickStartSettings(port);
    settings.rainName = "Deszczomierz na dachu";
    ASSERT_TRUE(WriteSettings(settings));
    const auto before = ui::ReadRegistryValues(kSettingsKey);
    ASSERT_TRUE(before);
    ASSERT_EQ(RunSetup({"/S", "/ALLUSERS", "/SDK"}), std::optional<DWORD>(0));
    const auto after = ui::ReadRegistryValues(kSettingsKey);
    ASSERT_TRUE(after);
    EXPECT_EQ(after->size(), before->size());
    EXPECT_EQ(ui::ReadRegistryString(kSettingsKey, "RainMeter Name"), std::optional<std::string>(settings.rainName));

    // The user's registration file, in the program's own folder.
    const std::string userFile = InstallDirectory() + "\\pomiary.kxg";
    std::ofstream(userFile, std::ios::binary) << "the user's records";
    const std::string quiet = UninstallEntry()["QuietUninstallString"];
    ASSERT_FALSE(quiet.empty());
    // The uninstaller copies itself away and returns at once: wait for its work.
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    std::vector<char> commandLine(quiet.begin(), quiet.end());
    commandLine.push_back('\0');
    ASSERT_TRUE(
        CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info));
    CloseHandle(info.hThread);
    WaitForSingleObject(info.hProcess, 60000);
    CloseHandle(info.hProcess);
    EXPECT_TRUE(
        ui::WaitUntil([] { return UninstallEntry().empty() && !Exists(InstallDirectory() + "\\uninstall.exe"); },
                      Milliseconds(60000)));

    for (const std::string& file : kInstalledFiles) EXPECT_FALSE(Exists(InstallDirectory() + "\\" + file)) << file;
    EXPECT_FALSE(Exists(InstallDirectory() + "\\SDK")) << "emptied folders go too";
    EXPECT_FALSE(Exists(Shortcut()));
    EXPECT_EQ(FileBytes(userFile), std::optional<std::string>("the user's records"));
    EXPECT_EQ(ui::ReadRegistryString(kSettingsKey, "RainMeter Name"), std::optional<std::string>(settings.rainName))
        << "a silent uninstall keeps the settings";
}

}  // namespace
}  // namespace kx305::e2e
