// The small dialogs of kx305mon.exe against the simulated converters: the
// clock set by hand reaches the simulator in UTC, the logging interval is
// read, written (and cut to 65535) and refused, the rain gauge's entries are
// refused or stored, the additional settings reach the registry, the about
// box and the promotion open and close, and the companion library is called
// once with the promotion and never without.
#include "program_fixture.h"

#include <cstdio>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "resources/resource.h"

namespace kx305::e2e {
namespace {

constexpr char kSetTime[] = "Ustaw czas";
constexpr char kInterval[] = "Interwał rejestracji";
constexpr char kRainGauge[] = "Deszczomierz (Wejście nr 0)";
constexpr char kExtra[] = "Ustawienia dodatkowe";
constexpr char kAbout[] = "O programie";
constexpr char kPromotion[] = "Velmor - promocja QMV";

class SmallDialogs : public ProgramTest {
protected:
    // Quick start on a simulator; `live` waits for the first good cycle.
    void Start(const char* variable, bool live = true) {
        port_ = EnvironmentPort(variable);
        ASSERT_FALSE(port_.empty()) << variable << ": run through scripts/wine-sim-run";
        ASSERT_TRUE(WriteQuickStart(port_)) << ui::LastError();
        ASSERT_TRUE(Launch());
        ASSERT_TRUE(WaitMainWindow()) << ui::LastError();
        if (live) {
            ASSERT_TRUE(WaitLive(port_)) << Panel(IDC_CONVERTER_STATUS);
        }
    }
    // The dialog a menu command opens.
    HWND OpenDialog(int command, const char* title) {
        EXPECT_TRUE(Command(command)) << command;
        std::optional<HWND> dialog = WaitDialog(title);
        EXPECT_TRUE(dialog.has_value()) << title << ": " << ui::LastError();
        return dialog.value_or(nullptr);
    }
    static HWND Item(HWND dialog, int id) {
        std::optional<HWND> control = ui::FindControl(dialog, id);
        EXPECT_TRUE(control.has_value()) << id;
        return control.value_or(nullptr);
    }
    static std::string TextOf(HWND dialog, int id) { return ui::WindowText(Item(dialog, id)); }
    static bool Enabled(HWND dialog, int id) { return IsWindowEnabled(Item(dialog, id)) != FALSE; }
    static void Type(HWND dialog, int id, const std::string& text) {
        ASSERT_TRUE(ui::SetEditText(Item(dialog, id), text)) << id << ": " << ui::LastError();
    }
    static void Click(HWND dialog, int id) {
        ASSERT_TRUE(ui::Click(Item(dialog, id))) << id << ": " << ui::LastError();
    }
    std::string State(const std::string& key) { return ReplyField(Simulator(port_, "state"), key); }
    void Expect(const char* text, Milliseconds timeout = kStartWait, GuideImage picture = {}) {
        EXPECT_TRUE(AnswerMessageBox(text, IDOK, timeout, picture).has_value()) << text << ": " << ui::LastError();
    }

    std::string port_;
};

// Seconds of "MM-DDTHH:MM:SS" within the year, for comparing two clocks.
long ClockSeconds(const std::string& clock) {
    int month = 0, day = 0, hour = 0, minute = 0, second = 0;
    if (std::sscanf(clock.c_str(), "%d-%dT%d:%d:%d", &month, &day, &hour, &minute, &second) != 5) return -1;
    return ((((month * 31L) + day) * 24 + hour) * 60 + minute) * 60 + second;
}

TEST_F(SmallDialogs, SetTimeSetsTheSimulatorsClockInUtc) {
    ASSERT_NO_FATAL_FAILURE(Start("KX305_PORT_FW113"));
    HWND dialog = OpenDialog(IDM_SET_TIME, kSetTime);
    ASSERT_NE(dialog, nullptr);
    // A winter and a summer date, entered in Central European time (the
    // scenario's TZ): one hour earlier in UTC in winter, two in summer.
    struct Entry {
        int month;
        const char* utc;
    } entries[] = {{1, "01-20T07:15:30"}, {7, "07-20T06:15:30"}};
    for (const Entry& entry : entries) {
        if (entry.month != 1) {
            dialog = OpenDialog(IDM_SET_TIME, kSetTime);
            ASSERT_NE(dialog, nullptr);
        }
        Type(dialog, IDC_DAY, "20");
        Type(dialog, IDC_MONTH, std::to_string(entry.month));
        Type(dialog, IDC_HOUR, "8");
        Type(dialog, IDC_MINUTE, "15");
        Type(dialog, IDC_SECOND, "30");
        const bool first = entry.month == 1;
        if (first) GuidePicture(GuideImage{"ustaw-czas"}, dialog);
        ASSERT_TRUE(PressButton(dialog, IDC_OK));
        Expect("Zegar został ustawiony.", kStartWait, first ? GuideImage{"zegar-ustawiony"} : GuideImage{});
        // The simulator's clock runs on: a few seconds later at most.
        const std::string clock = State("clock");
        const long late = ClockSeconds(clock) - ClockSeconds(entry.utc);
        EXPECT_TRUE(late >= 0 && late <= 10) << clock << " / " << entry.utc;
    }
    EXPECT_EQ(Close(), std::optional<DWORD>(0));
}

TEST_F(SmallDialogs, SetTimeOnASilentConverterFails) {
    ASSERT_NO_FATAL_FAILURE(Start("KX305_PORT_SILENT", false));
    HWND dialog = OpenDialog(IDM_SET_TIME, kSetTime);
    ASSERT_NE(dialog, nullptr);
    // No clock was read: the fields show the computer's time, which OK takes.
    EXPECT_NE(TextOf(dialog, IDC_DAY), "0");
    ASSERT_TRUE(PressButton(dialog, IDC_OK));
    Expect("Próba ustawienia czasu nie powiodła się!");
    EXPECT_EQ(Close(), std::optional<DWORD>(0));
}

TEST_F(SmallDialogs, LogIntervalShowsWritesCutsAndRefuses) {
    ASSERT_NO_FATAL_FAILURE(Start("KX305_PORT_FW113"));
    const std::string period = State("period");
    HWND dialog = OpenDialog(IDM_LOG_INTERVAL, kInterval);
    ASSERT_NE(dialog, nullptr);
    ASSERT_TRUE(ui::WaitUntil([&] { return Enabled(dialog, IDC_OK); }, Milliseconds(10000)));
    EXPECT_EQ(TextOf(dialog, IDC_INTERVAL), period);
    GuidePicture(GuideImage{"interwal-rejestracji"}, dialog);
    for (const char* refused : {"0", ""}) {
        Type(dialog, IDC_INTERVAL, refused);
        Click(dialog, IDC_OK);
        Expect("Interwał musi być większy od zera!");
    }
    Type(dialog, IDC_INTERVAL, "70000");
    ASSERT_TRUE(PressButton(dialog, IDC_OK));
    EXPECT_EQ(State("period"), "65535");
    // Opened again: the converter's new interval.
    dialog = OpenDialog(IDM_LOG_INTERVAL, kInterval);
    ASSERT_NE(dialog, nullptr);
    EXPECT_TRUE(ui::WaitForText(Item(dialog, IDC_INTERVAL), "65535", Milliseconds(10000)))
        << TextOf(dialog, IDC_INTERVAL);
    Type(dialog, IDC_INTERVAL, "600");
    ASSERT_TRUE(PressButton(dialog, IDC_OK));
    EXPECT_EQ(State("period"), "600");
    EXPECT_EQ(Close(), std::optional<DWORD>(0));
}

TEST_F(SmallDialogs, LogIntervalWriteToASilentConverterLeavesOnlyCancel) {
    ASSERT_NO_FATAL_FAILURE(Start("KX305_PORT_FW113"));
    HWND dialog = OpenDialog(IDM_LOG_INTERVAL, kInterval);
    ASSERT_NE(dialog, nullptr);
    ASSERT_TRUE(ui::WaitUntil([&] { return Enabled(dialog, IDC_OK); }, Milliseconds(10000)));
    ASSERT_EQ(Simulator(port_, "fault silent on").rfind("ok", 0), 0u);
    Type(dialog, IDC_INTERVAL, "300");
    Click(dialog, IDC_OK);
    EXPECT_TRUE(ui::WaitUntil([&] { return !Enabled(dialog, IDC_OK); }, Milliseconds(5000)));
    // The worker first finds the converter gone in its poll, each
    // transaction after its retries, then fails the write on the line.
    Expect("Wystąpił błąd komunikacyjny podczas zapisywania nowego interwału!", Milliseconds(90000));
    EXPECT_FALSE(Enabled(dialog, IDC_OK));
    EXPECT_FALSE(Enabled(dialog, IDC_INTERVAL));
    ASSERT_TRUE(PressButton(dialog, IDC_CANCEL));
    ASSERT_EQ(Simulator(port_, "fault silent off").rfind("ok", 0), 0u);
    EXPECT_EQ(Close(), std::optional<DWORD>(0));
}

TEST_F(SmallDialogs, LogIntervalCancelBeforeTheAnswerWithdrawsTheRead) {
    ASSERT_NO_FATAL_FAILURE(Start("KX305_PORT_FW113"));
    ASSERT_EQ(Simulator(port_, "fault silent on").rfind("ok", 0), 0u);
    HWND dialog = OpenDialog(IDM_LOG_INTERVAL, kInterval);
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(TextOf(dialog, IDC_INTERVAL), "????");
    EXPECT_FALSE(Enabled(dialog, IDC_OK));
    ASSERT_TRUE(PressButton(dialog, IDC_CANCEL));
    ASSERT_EQ(Simulator(port_, "fault silent off").rfind("ok", 0), 0u);
    // The converter answers again; nothing waits for the withdrawn read and
    // the program goes on polling.
    EXPECT_TRUE(WaitLive(port_));
    EXPECT_FALSE(ui::WaitForWindow({kInterval, "#32770", program().id(), true}, Milliseconds(3000)).has_value());
    EXPECT_FALSE(WaitMessageBox(Milliseconds(2000)).has_value());
    EXPECT_EQ(Close(), std::optional<DWORD>(0));
}

// The different serial numbers in the topics of the rain gauge's DDE
// service ("<quantity>#<serial>"), each followed by a blank.
std::string RainTopicSerials() {
    std::set<std::string> serials;
    for (const ui::DdePair& pair : ui::DdeInitiate("KX305", "").value_or(std::vector<ui::DdePair>{})) {
        const size_t hash = pair.topic.rfind('#');
        serials.insert(hash != std::string::npos ? pair.topic.substr(hash + 1) : pair.topic);
    }
    std::string text;
    for (const std::string& serial : serials) text += serial + " ";
    return text;
}

TEST_F(SmallDialogs, RainGaugeRefusesBadEntriesAndStoresTheCalibration) {
    ASSERT_NO_FATAL_FAILURE(Start("KX305_PORT_FW113"));
    // Without a stored serial the rain gauge takes the converter's.
    EXPECT_TRUE(ui::WaitUntil([] { return RainTopicSerials() == "3051 "; }, Milliseconds(10000))) << RainTopicSerials();
    HWND dialog = OpenDialog(IDM_RAIN_GAUGE, kRainGauge);
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(TextOf(dialog, IDC_CALIBRATION), "1,000");
    GuidePicture(GuideImage{"deszczomierz"}, dialog);
    // One click down on the spin: a thousandth less.
    HWND spin = Item(dialog, IDC_CALIBRATION_SPIN);
    DWORD_PTR answer = 0;
    SendMessageTimeoutA(spin, WM_KEYDOWN, VK_DOWN, 0, SMTO_NORMAL, 5000, &answer);
    SendMessageTimeoutA(spin, WM_KEYUP, VK_DOWN, 0, SMTO_NORMAL, 5000, &answer);
    EXPECT_TRUE(ui::WaitForText(Item(dialog, IDC_CALIBRATION), "0,999", Milliseconds(5000)))
        << TextOf(dialog, IDC_CALIBRATION);
    const std::pair<const char*, const char*> refused[] = {{"12", "1,5"}, {"12", "0"}, {"0", "0,2"}};
    for (const auto& [serial, calibration] : refused) {
        Type(dialog, IDC_RAIN_GAUGE_SERIAL, serial);
        Type(dialog, IDC_CALIBRATION, calibration);
        Click(dialog, IDC_OK);
        Expect("Podana wartość jest niepoprawna!");
        EXPECT_EQ(ui::ReadRegistryDword(kSettingsKey, "RainMeter Cal"), std::optional<DWORD>(1000)) << calibration;
    }
    Type(dialog, IDC_RAIN_GAUGE_SERIAL, "4321");
    Type(dialog, IDC_CALIBRATION, "0,2");
    ASSERT_TRUE(PressButton(dialog, IDC_OK));
    EXPECT_EQ(ui::ReadRegistryDword(kSettingsKey, "RainMeter Cal"), std::optional<DWORD>(200));
    EXPECT_EQ(ui::ReadRegistryDword(kSettingsKey, "RainMeter Serial"), std::optional<DWORD>(4321));
    // The rain gauge's panel names the new serial, and its DDE topic is
    // built anew with it.
    EXPECT_TRUE(WaitPanel(
        IDC_INPUT_NAME_0, [](const std::string& t) { return t.find("4321") != std::string::npos; },
        Milliseconds(10000)))
        << Panel(IDC_INPUT_NAME_0);
    EXPECT_TRUE(ui::WaitUntil([] { return RainTopicSerials() == "4321 "; }, Milliseconds(10000))) << RainTopicSerials();
    EXPECT_EQ(Close(), std::optional<DWORD>(0));
}

TEST_F(SmallDialogs, ExtraSettingsReachTheRegistry) {
    ASSERT_NO_FATAL_FAILURE(Start("KX305_PORT_FW113"));
    HWND dialog = OpenDialog(IDM_EXTRA_SETTINGS, kExtra);
    ASSERT_NE(dialog, nullptr);
    // Quick start with SHOW_QMV 0 and KX125AV 1.
    EXPECT_EQ(ui::Describe(Item(dialog, IDC_SHOW_KX125_AVERAGE)).checked, BST_CHECKED);
    EXPECT_EQ(ui::Describe(Item(dialog, IDC_QUICK_START)).checked, BST_CHECKED);
    EXPECT_EQ(ui::Describe(Item(dialog, IDC_HIDE_PROMOTION)).checked, BST_CHECKED);
    Click(dialog, IDC_SHOW_KX125_AVERAGE);
    Click(dialog, IDC_HIDE_PROMOTION);
    ASSERT_TRUE(ui::WaitUntil([&] { return ui::Describe(Item(dialog, IDC_HIDE_PROMOTION)).checked == BST_UNCHECKED; },
                              Milliseconds(5000)));
    ASSERT_TRUE(PressButton(dialog, IDC_OK));
    EXPECT_EQ(ui::ReadRegistryDword(kSettingsKey, "KX125AV"), std::optional<DWORD>(0));
    EXPECT_EQ(ui::ReadRegistryDword(kSettingsKey, "QUICK_START"), std::optional<DWORD>(1));
    EXPECT_EQ(ui::ReadRegistryDword(kSettingsKey, "SHOW_QMV"), std::optional<DWORD>(1));
    EXPECT_EQ(Close(), std::optional<DWORD>(0));
}

TEST_F(SmallDialogs, AboutOpensAndCloses) {
    ASSERT_NO_FATAL_FAILURE(Start("KX305_PORT_FW113", false));
    HWND dialog = OpenDialog(IDM_ABOUT, kAbout);
    ASSERT_NE(dialog, nullptr);
    bool version = false;
    for (const ui::ControlInfo& control : ui::ListControls(dialog))
        version = version || control.text == "Wersja " KX305_VERSION_TEXT;
    EXPECT_TRUE(version);
    GuidePicture(GuideImage{"o-programie"}, dialog);
    ASSERT_TRUE(PressButton(dialog, IDC_OK));
    EXPECT_EQ(Close(), std::optional<DWORD>(0));
}

// The companion library beside the program's working directory, its calls
// counted in a file.
class Companion : public SmallDialogs {
protected:
    void SetUp() override {
        SmallDialogs::SetUp();
        log_ = TempFile("kx305_adv.log");
        ASSERT_TRUE(CopyFileA(WinePath(KX305_ADV_DLL).c_str(), TempFile("kx305_adv.dll").c_str(), FALSE))
            << KX305_ADV_DLL;
        SetEnvironmentVariableA("KX305_ADV_LOG", log_.c_str());
    }
    void TearDown() override {
        SmallDialogs::TearDown();
        SetEnvironmentVariableA("KX305_ADV_LOG", nullptr);
    }
    int Calls() const {
        std::ifstream file(log_);
        int lines = 0;
        for (std::string line; std::getline(file, line);) lines += line.rfind("ShowMessage", 0) == 0 ? 1 : 0;
        return lines;
    }
    // A quick start with or without the promotion.
    void StartWithPromotion(bool shown) {
        port_ = EnvironmentPort("KX305_PORT_FW113");
        ASSERT_FALSE(port_.empty());
        Settings settings = QuickStartSettings(port_);
        settings.showQmv = shown ? 1 : 0;
        ASSERT_TRUE(WriteSettings(settings)) << ui::LastError();
        ASSERT_TRUE(Launch());
    }
    std::string log_;
};

TEST_F(Companion, CalledOnceAndThePromotionShownWithShowQmv) {
    ASSERT_NO_FATAL_FAILURE(StartWithPromotion(true));
    std::optional<HWND> promotion = WaitDialog(kPromotion);
    ASSERT_TRUE(promotion.has_value()) << ui::LastError();
    HWND view = Item(*promotion, IDC_PROMOTION_VIEW);
    const std::string document = ui::WindowText(view);
    EXPECT_TRUE(document.find("QMV") != std::string::npos) << document.size();
    GuidePicture(GuideImage{"promocja"}, *promotion);
    ASSERT_TRUE(PressButton(*promotion, IDC_PROMOTION_CLOSE));
    ASSERT_TRUE(WaitMainWindow()) << ui::LastError();
    ASSERT_TRUE(WaitLive(port_));
    EXPECT_EQ(Calls(), 1);
    EXPECT_EQ(Close(), std::optional<DWORD>(0));
    EXPECT_EQ(Calls(), 1);
}

TEST_F(Companion, NeverCalledAndNoPromotionWithoutShowQmv) {
    ASSERT_NO_FATAL_FAILURE(StartWithPromotion(false));
    ASSERT_TRUE(WaitMainWindow()) << ui::LastError();
    ASSERT_TRUE(WaitLive(port_));
    EXPECT_FALSE(ui::WaitForWindow({kPromotion, "#32770", program().id(), true}, Milliseconds(2000)).has_value());
    EXPECT_EQ(Close(), std::optional<DWORD>(0));
    EXPECT_EQ(Calls(), 0);
}

}  // namespace
}  // namespace kx305::e2e
