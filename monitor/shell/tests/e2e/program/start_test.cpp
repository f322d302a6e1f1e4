// Start-up of kx305mon.exe: the command line, the first run on an empty
// settings key, a port that cannot be opened, what a second copy may do,
// the charting program and the uninstall.
#include "program_fixture.h"

#include "resources/messages.h"
#include "resources/resource.h"

namespace kx305::e2e {
namespace {

namespace msg = kx305mon::messages;

using StartUp = ProgramTest;

TEST_F(StartUp, BadCommandLinesEndWithOneAfterTheMessage) {
    // Stored settings, so that no first-run question comes before the check.
    const std::string port = EnvironmentPort("KX305_PORT_FW113");
    ASSERT_TRUE(WriteQuickStart(port)) << ui::LastError();
    for (const std::vector<std::string>& arguments :
         {std::vector<std::string>{"-P"}, {"-P12"}, {"-X"}, {"-Dx"}, {"foo", "-p2", "-q"}}) {
        SCOPED_TRACE(arguments.back());
        ASSERT_TRUE(Launch(arguments));
        const auto box = AnswerMessageBox(msg::kBadCommandLine, IDOK);
        ASSERT_TRUE(box);
        EXPECT_EQ(program().WaitExit(kExitWait), std::optional<DWORD>(1));
        // Nothing is stored on the way out (-p2 is not saved).
        EXPECT_EQ(ui::ReadRegistryDword(kSettingsKey, "Port"), std::optional<DWORD>(PortNumber(port)));
    }
}

TEST_F(StartUp, FirstRunAsksRegistersAndStoresTheTenValues) {
    const std::string port = EnvironmentPort("KX305_PORT_FW113");
    ASSERT_TRUE(Launch());
    ASSERT_TRUE(AnswerMessageBox(msg::kRegisterQuestion, IDYES, kStartWait, GuideImage{"pytanie-rejestracja"}));
    const auto portDialog = WaitDialog("Port szeregowy");
    ASSERT_TRUE(portDialog) << ui::LastError();
    const auto combo = ui::FindControl(*portDialog, IDC_PORT_COMBO);
    ASSERT_TRUE(combo);
    ASSERT_TRUE(ui::PickComboText(*combo, "COM" + std::to_string(PortNumber(port)))) << ui::LastError();
    ASSERT_TRUE(PressButton(*portDialog, IDC_OK));
    const auto exportDialog = WaitDialog("Parametry eksportu");
    ASSERT_TRUE(exportDialog) << ui::LastError();
    GuidePicture(GuideImage{"parametry-eksportu"}, *exportDialog);
    ASSERT_TRUE(PressButton(*exportDialog, IDC_OK));

    // All groups were written once both dialogs were confirmed (each
    // dialog has already stored its own group before).
    ASSERT_TRUE(ui::WaitUntil(
        [] {
            const auto v = ui::ReadRegistryValues(kSettingsKey);
            return v && v->size() >= 10;
        },
        kStartWait));
    const auto values = ui::ReadRegistryValues(kSettingsKey);
    ASSERT_TRUE(values) << ui::LastError();
    struct Expected {
        const char* name;
        DWORD type;
        std::optional<DWORD> number;
    };
    for (const Expected& e :
         {Expected{"Flags", REG_DWORD, 0x1FF}, Expected{"Port", REG_DWORD, DWORD(PortNumber(port))},
          Expected{"Logfile", REG_SZ, std::nullopt}, Expected{"RainMeter Name", REG_SZ, std::nullopt},
          Expected{"RainMeter Serial", REG_DWORD, 0}, Expected{"RainMeter Cal", REG_DWORD, 1000},
          Expected{"RainMeter Period", REG_DWORD, 1}, Expected{"KX125AV", REG_DWORD, 1},
          Expected{"QUICK_START", REG_DWORD, 0}, Expected{"SHOW_QMV", REG_DWORD, 1}}) {
        SCOPED_TRACE(e.name);
        const auto it = values->find(e.name);
        ASSERT_NE(it, values->end());
        EXPECT_EQ(it->second.type, e.type);
        if (e.number) {
            EXPECT_EQ(it->second.AsDword(), e.number);
        }
    }
    EXPECT_EQ(values->size(), 10u);
    // The two texts are stored as their whole fields (200 and 260 bytes,
    // zero-padded; the driver drops the last zero).
    struct Text {
        const char* name;
        size_t field;
        std::string text;
    };
    for (const Text& t : {Text{"RainMeter Name", 200, "Deszczomierz KX-305"}, Text{"Logfile", 260, ""}}) {
        SCOPED_TRACE(t.name);
        const std::string& data = values->at(t.name).data;
        EXPECT_EQ(data.size(), t.field - 1);
        EXPECT_EQ(data.substr(0, data.find('\0')), t.text);
        EXPECT_EQ(data.find_first_not_of('\0', t.text.size()), std::string::npos);
    }

    // Then the promotion (SHOW_QMV is set), and the choice of a registration
    // file: cancelling it closes the program normally.
    if (const auto promotion = WaitDialog("Velmor - promocja QMV", Milliseconds(5000))) {
        ASSERT_TRUE(PressButton(*promotion, IDC_PROMOTION_CLOSE));
    }
    const auto registration = WaitDialog("Rejestracja");
    ASSERT_TRUE(registration) << ui::LastError();
    GuidePicture(GuideImage{"rejestracja"}, *registration);
    ASSERT_TRUE(PressButton(*registration, IDC_CANCEL));
    EXPECT_EQ(program().WaitExit(kExitWait), std::optional<DWORD>(0));
}

TEST_F(StartUp, FirstRunDeclinedStoresNothingAndOffersThePort) {
    ASSERT_TRUE(Launch());
    ASSERT_TRUE(AnswerMessageBox(msg::kRegisterQuestion, IDNO));
    if (const auto promotion = WaitDialog("Velmor - promocja QMV", Milliseconds(5000))) {
        ASSERT_TRUE(PressButton(*promotion, IDC_PROMOTION_CLOSE));
    }
    // No port chosen: the port test fails before anything else.
    ASSERT_TRUE(WaitMainWindow());
    ASSERT_TRUE(AnswerMessageBox(msg::kPortInUse, IDOK));
    const auto portDialog = WaitDialog("Port szeregowy");
    ASSERT_TRUE(portDialog) << ui::LastError();
    ASSERT_TRUE(PressButton(*portDialog, IDC_CANCEL));
    EXPECT_EQ(program().WaitExit(kExitWait), std::optional<DWORD>(0));
    EXPECT_FALSE(ui::RegistryKeyExists(kSettingsKey));
}

// A stored port without a device behind it cannot be opened, which the
// program reports as a busy port.
TEST_F(StartUp, UnusablePortOffersThePortDialogAndCancelEndsWithZero) {
    ASSERT_TRUE(WriteQuickStart(EnvironmentPort("KX305_PORT_MISSING")));
    ASSERT_TRUE(Launch());
    ASSERT_TRUE(WaitMainWindow());
    ASSERT_TRUE(AnswerMessageBox(msg::kPortInUse, IDOK, kStartWait, GuideImage{"port-zajety"}));
    EXPECT_EQ(LastMessageIcon(), std::optional<UINT>(MB_ICONWARNING));
    const auto portDialog = WaitDialog("Port szeregowy");
    ASSERT_TRUE(portDialog) << ui::LastError();
    ASSERT_TRUE(PressButton(*portDialog, IDC_CANCEL));
    // The full shut-down (it waits two seconds for the recording gate) and 0.
    EXPECT_EQ(program().WaitExit(kExitWait), std::optional<DWORD>(0));
    EXPECT_FALSE(ui::FindWindows({kTitle, "", program().id(), false}).size());
}

// -P takes one digit: the port of this run when it is COM1..9, else -D saves
// the port number it can take (the stored port is then not the simulator's,
// so the run stops at the port question, which is cancelled).
TEST_F(StartUp, PortOptionWithSaveStoresEverySetting) {
    const int number = PortNumber(EnvironmentPort("KX305_PORT_FW113"));
    const int digit = number >= 1 && number <= 9 ? number : 5;
    ASSERT_TRUE(WriteQuickStart(EnvironmentPort("KX305_PORT_FW113")));
    ASSERT_TRUE(ui::WriteRegistryDword(kSettingsKey, "Port", 0x7FFFFFFF));
    ASSERT_TRUE(ui::WriteRegistryDword(kSettingsKey, "KX125AV", 0));
    ASSERT_TRUE(Launch({"-P" + std::to_string(digit), "-D"}));
    ASSERT_TRUE(WaitMainWindow());
    EXPECT_EQ(ui::ReadRegistryDword(kSettingsKey, "Port"), std::optional<DWORD>(digit));
    // The other values were written back as they were read.
    EXPECT_EQ(ui::ReadRegistryDword(kSettingsKey, "KX125AV"), std::optional<DWORD>(0));
    EXPECT_EQ(ui::ReadRegistryDword(kSettingsKey, "QUICK_START"), std::optional<DWORD>(1));
    if (digit == number) {
        EXPECT_TRUE(WaitLive(EnvironmentPort("KX305_PORT_FW113")));
    } else {
        ASSERT_TRUE(AnswerMessageBox(msg::kPortInUse, IDOK));
        const auto portDialog = WaitDialog("Port szeregowy");
        ASSERT_TRUE(portDialog);
        ASSERT_TRUE(PressButton(*portDialog, IDC_CANCEL));
        EXPECT_EQ(program().WaitExit(kExitWait), std::optional<DWORD>(0));
        return;
    }
    EXPECT_EQ(Close(), std::optional<DWORD>(0));
}

TEST_F(StartUp, LowercasePortOptionIsUsedButNotStored) {
    const std::string port = EnvironmentPort("KX305_PORT_FW113");
    const int number = PortNumber(port);
    if (number < 1 || number > 9) GTEST_SKIP() << port << " cannot be named by -p";
    ASSERT_TRUE(WriteQuickStart(EnvironmentPort("KX305_PORT_MISSING")));
    ASSERT_TRUE(Launch({"foo", "-p" + std::to_string(number)}));
    ASSERT_TRUE(WaitMainWindow());
    EXPECT_TRUE(WaitLive(port));
    EXPECT_EQ(ui::ReadRegistryDword(kSettingsKey, "Port"),
              std::optional<DWORD>(PortNumber(EnvironmentPort("KX305_PORT_MISSING"))));
    EXPECT_EQ(Close(), std::optional<DWORD>(0));
}

TEST_F(StartUp, SecondCopyRunsWithUninstallGreyed) {
    ASSERT_TRUE(WriteQuickStart(EnvironmentPort("KX305_PORT_FW113")));
    ASSERT_TRUE(Launch());
    ASSERT_TRUE(WaitMainWindow());
    const HWND first = main();
    const auto firstState = MenuState(IDM_UNINSTALL);
    ASSERT_TRUE(firstState) << "menu hook";
    EXPECT_EQ(*firstState & MF_GRAYED, 0u);

    // The second copy records into a file of its own on another converter.
    Settings second = QuickStartSettings(EnvironmentPort("KX305_PORT_FW112"));
    second.logfile = TempFile("druga.kxg");
    ASSERT_TRUE(WriteSettings(second));
    ASSERT_TRUE(Launch());
    ASSERT_TRUE(WaitMainWindow());
    ASSERT_NE(main(), first);
    const auto secondState = MenuState(IDM_UNINSTALL);
    ASSERT_TRUE(secondState);
    EXPECT_NE(*secondState & MF_GRAYED, 0u);
    EXPECT_TRUE(WaitLive(EnvironmentPort("KX305_PORT_FW112")));
    EXPECT_EQ(Close(), std::optional<DWORD>(0));
    // The first copy still runs and still may uninstall.
    PostMessageA(first, WM_CLOSE, 0, 0);
}

TEST_F(StartUp, VizoMissingIsReported) {
    ASSERT_TRUE(WriteQuickStart(EnvironmentPort("KX305_PORT_FW113")));
    ASSERT_TRUE(Launch());
    ASSERT_TRUE(WaitMainWindow());
    ASSERT_TRUE(Command(IDM_RUN_VIZO));
    ASSERT_TRUE(AnswerMessageBox("Nie można odnaleźć programu Vizo", IDOK));
    EXPECT_EQ(LastMessageIcon(), std::optional<UINT>(MB_ICONINFORMATION));
    EXPECT_TRUE(program().Running());
    EXPECT_EQ(Close(), std::optional<DWORD>(0));
}

TEST_F(StartUp, UninstallRemovesTheKeyAndCloses) {
    ASSERT_TRUE(WriteQuickStart(EnvironmentPort("KX305_PORT_FW113")));
    // Something else of the maker's stays, and with it "Velmor".
    ASSERT_TRUE(ui::WriteRegistryDword("Software\\Velmor\\QMV", "x", 1));
    ASSERT_TRUE(Launch());
    ASSERT_TRUE(WaitMainWindow());
    ASSERT_TRUE(Command(IDM_UNINSTALL));
    ASSERT_TRUE(AnswerMessageBox(msg::kUninstallDone, IDOK, kStartWait, GuideImage{"deinstalacja"}));
    EXPECT_EQ(program().WaitExit(kExitWait), std::optional<DWORD>(0));
    EXPECT_FALSE(ui::RegistryKeyExists(kSettingsKey));
    EXPECT_FALSE(ui::RegistryKeyExists("Software\\Velmor\\KX-305V"));
    EXPECT_TRUE(ui::RegistryKeyExists("Software\\Velmor\\QMV"));
    ui::DeleteRegistryTree("Software\\Velmor");
}

}  // namespace
}  // namespace kx305::e2e
