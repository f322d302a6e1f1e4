// The small dialogs under Wine, from their templates, run on a thread of this
// process and operated through the UI driver as a user would: "Ustaw czas"
// (124), "Interwał rejestracji" (105) with the worker's answers posted as the
// program posts them, "Deszczomierz (Wejście nr 0)" (119), "Ustawienia
// dodatkowe" (125), "O programie" (107) and the promotion (157).  What they
// leave in the context, the request slot and the program's registry key is
// checked.  No polling worker runs: a placed request stays in the slot.
#include <gtest/gtest.h>

#include <windows.h>

#include <commctrl.h>

#include <atomic>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "instruments/catalogue.h"
#include "instruments/locale.h"
#include "resources/messages.h"
#include "resources/resource.h"
#include "shell/program/dialogs.h"
#include "shell/program/requester_win32.h"
#include "shell/settings.h"
#include "shell/settings_store.h"
#include "shell/small_dialogs.h"
#include "time/calendar_time.h"
#include "time/local_time.h"
#include "uidriver.h"

namespace kx305mon {
namespace {

namespace ui = kx305::ui;
using namespace std::chrono_literals;

// Stands in for the main window: a message-only window that counts the
// WMU_INPUT_CHANGED it receives.
class MainWindowStandIn {
public:
    MainWindowStandIn() {
        WNDCLASSA type{};
        type.lpfnWndProc = Proc;
        type.hInstance = GetModuleHandleA(nullptr);
        type.lpszClassName = "kx305SmallDialogsMain";
        RegisterClassA(&type);
        window_ = CreateWindowA(type.lpszClassName, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, type.hInstance, this);
    }
    ~MainWindowStandIn() { DestroyWindow(window_); }
    HWND Window() const { return window_; }
    // Delivers what was posted to it (it lives on the test's thread).
    int InputChanges() {
        MSG message;
        while (PeekMessageA(&message, window_, 0, 0, PM_REMOVE)) DispatchMessageA(&message);
        return inputChanges_;
    }

private:
    static LRESULT CALLBACK Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
        if (message == WM_NCCREATE) {
            SetWindowLongPtrA(window, GWLP_USERDATA,
                              reinterpret_cast<LONG_PTR>(reinterpret_cast<CREATESTRUCTA*>(lParam)->lpCreateParams));
        }
        auto* self = reinterpret_cast<MainWindowStandIn*>(GetWindowLongPtrA(window, GWLP_USERDATA));
        if (self != nullptr && message == WMU_INPUT_CHANGED && wParam == 0) ++self->inputChanges_;
        return DefWindowProcA(window, message, wParam, lParam);
    }
    HWND window_ = nullptr;
    int inputChanges_ = 0;
};

class SmallDialogs : public ::testing::Test {
protected:
    void SetUp() override {
        INITCOMMONCONTROLSEX controls{sizeof controls, ICC_UPDOWN_CLASS | ICC_STANDARD_CLASSES};
        InitCommonControlsEx(&controls);
        ui::DeleteRegistryTree(kSettingsKeyPath);
        SetSettingsStartValues(context);
        ResetRainGaugeSettings();
        context.mainWindow = reinterpret_cast<WindowRef>(main.Window());
    }
    void TearDown() override {
        if (dialog_.joinable()) {
            // A dialog left open by a failed test: close it so the thread ends.
            for (HWND window : ui::FindWindows(Query())) PostMessageA(window, WM_COMMAND, IDCANCEL, 0);
            dialog_.join();
        }
        ui::DeleteRegistryTree(kSettingsKeyPath);
        ResetRainGaugeSettings();
    }

    ui::WindowQuery Query() const {
        ui::WindowQuery query;
        query.title = title_;
        query.processId = GetCurrentProcessId();
        return query;
    }

    // Opens a dialog on its own thread and returns it once it shows.
    HWND Open(const char* title, std::function<INT_PTR()> run) {
        title_ = title;
        result_ = -1;
        dialog_ = std::thread([this, run] { result_ = run(); });
        std::optional<HWND> window = ui::WaitForWindow(Query(), 10s);
        EXPECT_TRUE(window.has_value()) << title << ": " << ui::LastError();
        return window.value_or(nullptr);
    }
    HWND Open(const char* title, INT_PTR (*run)(HWND, AppContext&)) {
        return Open(title, [this, run] { return run(nullptr, context); });
    }
    HWND Open(const char* title, INT_PTR (*run)(HWND, AppContext&, SettingsStore&)) {
        return Open(title, [this, run] { return run(nullptr, context, *settings); });
    }

    // Waits for the dialog to end and returns its result.
    INT_PTR Closed() {
        EXPECT_TRUE(ui::WaitForNoWindow(Query(), 10s)) << title_;
        if (dialog_.joinable()) dialog_.join();
        return result_;
    }

    static HWND Item(HWND window, int id) {
        std::optional<HWND> control = ui::FindControl(window, id);
        EXPECT_TRUE(control.has_value()) << id;
        return control.value_or(nullptr);
    }
    static std::string TextOf(HWND window, int id) { return ui::WindowText(Item(window, id)); }
    static void Click(HWND window, int id) {
        ASSERT_TRUE(ui::Click(Item(window, id))) << id << ": " << ui::LastError();
    }
    static void Type(HWND window, int id, const std::string& text) {
        ASSERT_TRUE(ui::SetEditText(Item(window, id), text)) << id << ": " << ui::LastError();
    }
    static bool Eventually(const std::function<bool()>& done) { return ui::WaitUntil(done, 5s); }
    static bool Enabled(HWND window, int id) { return IsWindowEnabled(Item(window, id)) != FALSE; }

    // Expects one message box with the program's caption and `text`, and
    // closes it.
    static void ExpectMessage(const char* text) {
        std::optional<ui::MessageBoxInfo> box = ui::WaitForMessageBox(GetCurrentProcessId(), 10s);
        ASSERT_TRUE(box.has_value()) << text << ": " << ui::LastError();
        EXPECT_EQ(box->caption, messages::kCaption);
        EXPECT_EQ(box->text, text);
        ASSERT_TRUE(ui::PressMessageBoxButton(*box, IDOK));
    }

    struct Slot {
        DeviceRequest request;
        Requester requester;
    };
    Slot RequestSlot() {
        MutexLock guard(context.plumbing.lock);
        return {context.request, context.requesterWindow};
    }

    AppContext context;
    // The program's store, as the dialogs get it from the main window.
    std::unique_ptr<SettingsStore> settings = MakeRegistrySettingsStore();
    MainWindowStandIn main;

private:
    std::string title_;
    std::thread dialog_;
    std::atomic<INT_PTR> result_{-1};
};

std::string Fields(HWND window) {
    std::string text;
    for (int id : {IDC_DAY, IDC_MONTH, IDC_HOUR, IDC_MINUTE, IDC_SECOND}) {
        text += ui::WindowText(*ui::FindControl(window, id)) + " ";
    }
    return text;
}

TEST_F(SmallDialogs, SetTimeShowsTheClockInLocalTimeClampsChecksAndPlacesTheRequest) {
    const CalendarTime now = CurrentUtcTime();
    context.clock = ClockRecord{7, 15, 10, 5, 9};
    CalendarTime local;
    ASSERT_TRUE(UtcToLocal(MakeCalendarTime(now.year, 7, 15, 10, 5, 9), local));
    HWND window = Open("Ustaw czas", RunSetTimeDialog);
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(Fields(window), std::to_string(local.day) + " 7 " + std::to_string(local.hour) + " 5 9 ");

    // Typing past a field's maximum shows the maximum.
    const std::pair<int, const char*> typed[] = {
        {IDC_DAY, "45"}, {IDC_MONTH, "13"}, {IDC_HOUR, "24"}, {IDC_MINUTE, "77"}, {IDC_SECOND, "60"}};
    for (const auto& [id, text] : typed) Type(window, id, text);
    EXPECT_TRUE(Eventually([&] { return Fields(window) == "31 12 23 59 59 "; })) << Fields(window);

    // OK names the first field below its range and the dialog stays.
    Type(window, IDC_DAY, "0");
    Type(window, IDC_MONTH, "0");
    Click(window, IDC_OK);
    ExpectMessage(messages::kSetDays);
    Type(window, IDC_DAY, "31");
    Click(window, IDC_OK);
    ExpectMessage(messages::kSetMonths);
    EXPECT_EQ(RequestSlot().request, 0u);

    // 31 April 12:00 local time: the platform's calendar makes it 1 May.
    Type(window, IDC_MONTH, "4");
    Type(window, IDC_HOUR, "12");
    Type(window, IDC_MINUTE, "0");
    Type(window, IDC_SECOND, "30");
    Click(window, IDC_OK);
    EXPECT_EQ(Closed(), 1);
    CalendarTime expected;
    ASSERT_TRUE(LocalToUtc(MakeCalendarTime(CurrentUtcTime().year, 5, 1, 12, 0, 30), expected));
    const ClockRecord set = context.setTimeClock;
    EXPECT_EQ(std::to_string(set.day) + "." + std::to_string(set.month) + " " + std::to_string(set.hour) + ":" +
                  std::to_string(set.minute) + ":" + std::to_string(set.second),
              std::to_string(expected.day) + "." + std::to_string(expected.month) + " " +
                  std::to_string(expected.hour) + ":0:30");
    EXPECT_EQ(RequestSlot().request, MakeDeviceRequest(kOpSetClock, 0));
    EXPECT_EQ(RequestSlot().requester, RequesterOf(reinterpret_cast<HWND>(context.mainWindow)));
}

TEST_F(SmallDialogs, SetTimeCancelPlacesNothing) {
    HWND window = Open("Ustaw czas", RunSetTimeDialog);
    ASSERT_NE(window, nullptr);
    // No clock read yet: the computer's local time (a day of the month).
    EXPECT_NE(TextOf(window, IDC_DAY), "0");
    Click(window, IDC_CANCEL);
    EXPECT_EQ(Closed(), 0);
    EXPECT_EQ(RequestSlot().request, 0u);
}

TEST_F(SmallDialogs, LogIntervalReadsWritesRefusesZeroAndKeepsOnlyCancelAfterAFailedWrite) {
    HWND window = Open("Interwał rejestracji", RunLogIntervalDialog);
    ASSERT_NE(window, nullptr);
    const Requester self = RequesterOf(window);
    EXPECT_EQ(RequestSlot().request, MakeDeviceRequest(kOpReadLogPeriod, 0));
    EXPECT_EQ(RequestSlot().requester, self);
    EXPECT_EQ(TextOf(window, IDC_INTERVAL), "????");
    EXPECT_FALSE(Enabled(window, IDC_INTERVAL));
    EXPECT_FALSE(Enabled(window, IDC_OK));

    // The worker's answer, as the program posts it.
    PostMessageA(window, WMU_PERIOD_READ, 600, 0);
    ASSERT_TRUE(Eventually([&] { return Enabled(window, IDC_OK); }));
    EXPECT_EQ(TextOf(window, IDC_INTERVAL), "600");
    EXPECT_TRUE(Enabled(window, IDC_INTERVAL));

    for (const char* refused : {"0", ""}) {
        Type(window, IDC_INTERVAL, refused);
        Click(window, IDC_OK);
        ExpectMessage(messages::kIntervalNotPositive);
        EXPECT_TRUE(Enabled(window, IDC_OK)) << "'" << refused << "'";
    }

    Type(window, IDC_INTERVAL, "70000");
    Click(window, IDC_OK);
    ASSERT_TRUE(Eventually([&] { return !Enabled(window, IDC_OK); }));
    EXPECT_FALSE(Enabled(window, IDC_INTERVAL));
    EXPECT_EQ(RequestSlot().request, MakeDeviceRequest(kOpWriteLogPeriod, 65535));
    EXPECT_EQ(RequestSlot().requester, self);

    PostMessageA(window, WMU_PERIOD_SET, 0, 0);
    ExpectMessage(messages::kIntervalWriteFailed);
    EXPECT_FALSE(Enabled(window, IDC_OK));
    EXPECT_FALSE(Enabled(window, IDC_INTERVAL));
    EXPECT_TRUE(Enabled(window, IDC_CANCEL));
    Click(window, IDC_CANCEL);
    EXPECT_EQ(Closed(), 0);
}

TEST_F(SmallDialogs, LogIntervalEndsWithOneAfterAGoodWrite) {
    HWND window = Open("Interwał rejestracji", RunLogIntervalDialog);
    ASSERT_NE(window, nullptr);
    PostMessageA(window, WMU_PERIOD_READ, 20, 0);
    ASSERT_TRUE(Eventually([&] { return Enabled(window, IDC_OK); }));
    Type(window, IDC_INTERVAL, "90");
    Click(window, IDC_OK);
    ASSERT_TRUE(Eventually([&] { return RequestSlot().request == MakeDeviceRequest(kOpWriteLogPeriod, 90); }));
    PostMessageA(window, WMU_PERIOD_SET, 1, 0);
    EXPECT_EQ(Closed(), 1);
}

TEST_F(SmallDialogs, LogIntervalCancelWithdrawsOnlyItsOwnRequest) {
    HWND window = Open("Interwał rejestracji", RunLogIntervalDialog);
    ASSERT_NE(window, nullptr);
    Click(window, IDC_CANCEL);
    EXPECT_EQ(Closed(), 0);
    EXPECT_EQ(RequestSlot().request, 0u);
    EXPECT_EQ(RequestSlot().requester, kNoRequester);

    // A download that the recording timer placed meanwhile stays.
    window = Open("Interwał rejestracji", RunLogIntervalDialog);
    ASSERT_NE(window, nullptr);
    PlaceRequest(context, kNoRequester, kOpDownloadLog, 0);
    Click(window, IDC_CANCEL);
    EXPECT_EQ(Closed(), 0);
    EXPECT_EQ(RequestSlot().request, MakeDeviceRequest(kOpDownloadLog, 0));
}

TEST_F(SmallDialogs, RainGaugeRefusesBadEntriesStoresGroupFourAndRenewsTheTopicForANewSerial) {
    std::unique_ptr<NumberLocale> polish = MakePolishLocale();
    SetLocaleOverride(polish.get());
    std::strcpy(rainGaugeSettings().name, "Deszczomierz");
    rainGaugeSettings().serial = 12;
    rainGaugeSettings().calibration = 200;
    auto run = [this] { return RunRainGaugeDialog(main.Window(), context, *settings); };
    HWND window = Open("Deszczomierz (Wejście nr 0)", run);
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(TextOf(window, IDC_RAIN_GAUGE_NAME), "Deszczomierz");
    EXPECT_EQ(TextOf(window, IDC_RAIN_GAUGE_SERIAL), "12");
    EXPECT_EQ(TextOf(window, IDC_CALIBRATION), "0,200");
    HWND spin = Item(window, IDC_CALIBRATION_SPIN);
    EXPECT_EQ(ui::UpDownPosition(spin), std::optional<int>(200));
    std::optional<ui::Range> range = ui::UpDownRange(spin);
    ASSERT_TRUE(range.has_value());
    EXPECT_EQ(range->low, 1);
    EXPECT_EQ(range->high, 1000);

    // One click up moves by a thousandth.
    SendMessageA(spin, WM_KEYDOWN, VK_UP, 0);
    SendMessageA(spin, WM_KEYUP, VK_UP, 0);
    EXPECT_TRUE(Eventually([&] { return TextOf(window, IDC_CALIBRATION) == "0,201"; }))
        << TextOf(window, IDC_CALIBRATION);

    const std::pair<const char*, const char*> refused[] = {{"12", "1,5"}, {"12", "0"}, {"0", "0,2"}};
    for (const auto& [serial, calibration] : refused) {
        Type(window, IDC_RAIN_GAUGE_SERIAL, serial);
        Type(window, IDC_CALIBRATION, calibration);
        Click(window, IDC_OK);
        ExpectMessage(messages::kInvalidValue);
        EXPECT_EQ(rainGaugeSettings().calibration.load(), 200) << calibration;
        EXPECT_EQ(rainGaugeSettings().serial.load(), 12u) << serial;
    }
    EXPECT_FALSE(ui::RegistryKeyExists(kSettingsKeyPath));

    Type(window, IDC_RAIN_GAUGE_NAME, "RG-50");
    Type(window, IDC_RAIN_GAUGE_SERIAL, "4321");
    Type(window, IDC_CALIBRATION, "0,2");
    Click(window, IDC_OK);
    EXPECT_EQ(Closed(), 1);
    SetLocaleOverride(nullptr);
    EXPECT_EQ(ui::ReadRegistryDword(kSettingsKeyPath, "RainMeter Cal"), std::optional<DWORD>(200));
    EXPECT_EQ(ui::ReadRegistryDword(kSettingsKeyPath, "RainMeter Serial"), std::optional<DWORD>(4321));
    EXPECT_EQ(ui::ReadRegistryString(kSettingsKeyPath, "RainMeter Name").value_or("").substr(0, 5), "RG-50");
    EXPECT_EQ(main.InputChanges(), 1);
}

TEST_F(SmallDialogs, RainGaugeNameAloneLeavesTheTopic) {
    rainGaugeSettings().serial = 12;
    auto run = [this] { return RunRainGaugeDialog(main.Window(), context, *settings); };
    HWND window = Open("Deszczomierz (Wejście nr 0)", run);
    ASSERT_NE(window, nullptr);
    Type(window, IDC_RAIN_GAUGE_NAME, "Inny");
    Click(window, IDC_OK);
    EXPECT_EQ(Closed(), 1);
    EXPECT_STREQ(rainGaugeSettings().name, "Inny");
    EXPECT_EQ(main.InputChanges(), 0);
}

TEST_F(SmallDialogs, ExtraSettingsBoxesReachTheRegistryWithThePromotionBoxInverted) {
    context.averageKX125 = false;
    context.quickStart = true;
    context.showQmv = true;
    HWND window = Open("Ustawienia dodatkowe", RunExtraSettingsDialog);
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(ui::Describe(Item(window, IDC_SHOW_KX125_AVERAGE)).checked, BST_UNCHECKED);
    EXPECT_EQ(ui::Describe(Item(window, IDC_QUICK_START)).checked, BST_CHECKED);
    EXPECT_EQ(ui::Describe(Item(window, IDC_HIDE_PROMOTION)).checked, BST_UNCHECKED);
    Click(window, IDC_SHOW_KX125_AVERAGE);
    Click(window, IDC_QUICK_START);
    Click(window, IDC_HIDE_PROMOTION);
    ASSERT_TRUE(Eventually([&] { return ui::Describe(Item(window, IDC_HIDE_PROMOTION)).checked == BST_CHECKED; }));
    Click(window, IDC_OK);
    EXPECT_EQ(Closed(), 1);
    EXPECT_EQ(ui::ReadRegistryDword(kSettingsKeyPath, "KX125AV"), std::optional<DWORD>(1));
    EXPECT_EQ(ui::ReadRegistryDword(kSettingsKeyPath, "QUICK_START"), std::optional<DWORD>(0));
    EXPECT_EQ(ui::ReadRegistryDword(kSettingsKeyPath, "SHOW_QMV"), std::optional<DWORD>(0));
    EXPECT_FALSE(context.showQmv);

    // Cancel stores nothing.
    ui::DeleteRegistryTree(kSettingsKeyPath);
    window = Open("Ustawienia dodatkowe", RunExtraSettingsDialog);
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(ui::Describe(Item(window, IDC_HIDE_PROMOTION)).checked, BST_CHECKED);
    Click(window, IDC_HIDE_PROMOTION);
    Click(window, IDC_CANCEL);
    EXPECT_EQ(Closed(), 0);
    EXPECT_FALSE(ui::RegistryKeyExists(kSettingsKeyPath));
    EXPECT_FALSE(context.showQmv);
}

TEST_F(SmallDialogs, AboutAndPromotionOpenAndClose) {
    HWND window = Open("O programie", [] { return RunAboutDialog(nullptr); });
    ASSERT_NE(window, nullptr);
    bool title = false, version = false;
    for (const ui::ControlInfo& control : ui::ListControls(window)) {
        title = title || control.text == "Konwerter KX-305";
        version = version || control.text == "Wersja " KX305_VERSION_TEXT;
    }
    EXPECT_TRUE(title);
    EXPECT_TRUE(version);
    Click(window, IDC_OK);
    EXPECT_EQ(Closed(), 1);
    window = Open("O programie", [] { return RunAboutDialog(nullptr); });
    ASSERT_NE(window, nullptr);
    PostMessageA(window, WM_CLOSE, 0, 0);
    EXPECT_EQ(Closed(), 0);

    window = Open("Velmor - promocja QMV", RunPromotionDialog);
    ASSERT_NE(window, nullptr);
    // Our document is in the upper box; the lower one stays empty without d:\qmv.rtf.
    EXPECT_NE(ui::WindowText(Item(window, IDC_PROMOTION_VIEW)).find("QMV"), std::string::npos);
    if (GetFileAttributesA("d:\\qmv.rtf") == INVALID_FILE_ATTRIBUTES) {
        EXPECT_EQ(GetWindowTextLengthA(Item(window, IDC_PROMOTION_FILE)), 0);
    }
    Click(window, IDC_PROMOTION_CLOSE);
    EXPECT_EQ(Closed(), 1);
    window = Open("Velmor - promocja QMV", RunPromotionDialog);
    ASSERT_NE(window, nullptr);
    PostMessageA(window, WM_CLOSE, 0, 0);
    EXPECT_EQ(Closed(), 0);
}

}  // namespace
}  // namespace kx305mon
