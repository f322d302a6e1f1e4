// The export options dialogs under Wine, from their templates: "Parametry
// eksportu" (106) and the rain report's twin (128) run on a thread of this
// process and are operated through the UI driver as a user would, the
// choice checked in the context and in the program's registry key.
#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "resources/messages.h"
#include "resources/resource.h"
#include "program_win32.h"
#include "shell/program/dialogs.h"
#include "test_hooks_win32.h"
#include "shell/settings.h"
#include "shell/settings_store.h"
#include "uidriver.h"

namespace kx305mon {
namespace {

namespace ui = kx305::ui;
using namespace std::chrono_literals;

constexpr char kTitle[] = "Parametry eksportu";

class ExportDialogs : public ::testing::Test {
protected:
    void SetUp() override {
        ui::DeleteRegistryTree(kSettingsKeyPath);
        SetSettingsStartValues(context);
    }
    void TearDown() override {
        if (dialog_.joinable()) {
            // A dialog left open by a failed test: close it so the thread ends.
            for (HWND window : ui::FindWindows(Query())) PostMessageA(window, WM_COMMAND, IDCANCEL, 0);
            dialog_.join();
        }
        ui::DeleteRegistryTree(kSettingsKeyPath);
    }

    static ui::WindowQuery Query() {
        ui::WindowQuery query;
        query.title = kTitle;
        query.processId = GetCurrentProcessId();
        return query;
    }

    // Opens the dialog on its own thread (no owner, as at the first run)
    // and returns it once it shows.
    HWND Open(INT_PTR (*run)(HWND, AppContext&, SettingsStore&), uint32_t flags) {
        {
            MutexLock guard(context.plumbing.lock);
            context.exportFlags = flags;
        }
        dialog_ = std::thread([this, run] { result_ = run(nullptr, context, *settings); });
        std::optional<HWND> window = ui::WaitForWindow(Query(), 10s);
        EXPECT_TRUE(window.has_value()) << ui::LastError();
        return window.value_or(nullptr);
    }

    // Waits for the dialog to end and returns its result.
    INT_PTR Closed() {
        EXPECT_TRUE(ui::WaitForNoWindow(Query(), 10s));
        dialog_.join();
        return result_;
    }

    static ui::ControlInfo Control(HWND window, int id) {
        std::optional<HWND> control = ui::FindControl(window, id);
        EXPECT_TRUE(control.has_value()) << id;
        return control ? ui::Describe(*control) : ui::ControlInfo{};
    }
    static void Click(HWND window, int id) {
        std::optional<HWND> control = ui::FindControl(window, id);
        ASSERT_TRUE(control.has_value()) << id;
        ASSERT_TRUE(ui::Click(*control)) << id << ": " << ui::LastError();
    }
    static bool Checked(HWND window, int id) { return Control(window, id).checked == BST_CHECKED; }
    // Waits for a posted click to take effect.
    static bool Eventually(const std::function<bool()>& done) { return ui::WaitUntil(done, 5s); }

    uint32_t Flags() {
        MutexLock guard(context.plumbing.lock);
        return context.exportFlags;
    }
    static std::optional<DWORD> StoredFlags() { return ui::ReadRegistryDword(kSettingsKeyPath, "Flags"); }

    // OK ends the dialog with 1, `flags` in force and saved.
    void AcceptAndExpect(HWND window, uint32_t flags) {
        Click(window, IDC_OK);
        EXPECT_EQ(Closed(), 1);
        EXPECT_EQ(Flags(), flags);
        EXPECT_EQ(StoredFlags(), std::optional<DWORD>(flags));
    }

    AppContext context;
    // The program's store, as the dialogs get it from the main window.
    std::unique_ptr<SettingsStore> settings = MakeRegistrySettingsStore();

private:
    std::thread dialog_;
    std::atomic<INT_PTR> result_{-1};
};

constexpr int kFieldBoxes[] = {IDC_FIELD_TIME,     IDC_FIELD_INSTRUMENT, IDC_FIELD_SERIAL,
                               IDC_FIELD_QUANTITY, IDC_FIELD_RESULT,     IDC_FIELD_STATUS};

bool AllFieldBoxes(HWND window, bool enabled) {
    for (int id : kFieldBoxes) {
        std::optional<HWND> box = ui::FindControl(window, id);
        if (!box || (IsWindowEnabled(*box) != FALSE) != enabled) return false;
    }
    return true;
}

TEST_F(ExportDialogs, FullDialogFollowsTheLayoutRefusesNoFieldAndStoresTheChoice) {
    HWND window = Open(RunExportParametersDialog, 0x1FF);
    ASSERT_NE(window, nullptr);
    for (int id : {IDC_ALL_RECORDS, IDC_SEPARATOR_LIST, IDC_LAYOUT_DESCRIPTIVE}) EXPECT_TRUE(Checked(window, id)) << id;
    for (int id : {IDC_CURRENT_RECORD, IDC_SEPARATOR_TAB, IDC_LAYOUT_CSV}) EXPECT_FALSE(Checked(window, id)) << id;
    for (int id : kFieldBoxes) EXPECT_TRUE(Checked(window, id)) << id;
    EXPECT_TRUE(AllFieldBoxes(window, true));

    // The field boxes go with the layout.
    Click(window, IDC_LAYOUT_CSV);
    EXPECT_TRUE(Eventually([&] { return AllFieldBoxes(window, false); }));
    Click(window, IDC_LAYOUT_DESCRIPTIVE);
    EXPECT_TRUE(Eventually([&] { return AllFieldBoxes(window, true); }));

    // Not one field: the message, and the dialog stays with nothing stored.
    for (int id : kFieldBoxes) Click(window, id);
    ASSERT_TRUE(Eventually([&] { return !Checked(window, IDC_FIELD_STATUS); }));
    Click(window, IDC_OK);
    std::optional<ui::MessageBoxInfo> box = ui::WaitForMessageBox(GetCurrentProcessId(), 10s);
    ASSERT_TRUE(box.has_value()) << ui::LastError();
    EXPECT_EQ(box->caption, messages::kCaption);
    EXPECT_EQ(box->text, messages::kTickOneField);
    EXPECT_EQ(LastMessageIcon(), static_cast<UINT>(MB_ICONSTOP));
    ASSERT_TRUE(ui::PressMessageBoxButton(*box, IDOK));
    EXPECT_FALSE(ui::FindWindows(Query()).empty());
    EXPECT_EQ(Flags(), 0x1FFu);
    EXPECT_FALSE(StoredFlags().has_value());

    // One field, the current record, the tab: stored and saved.
    Click(window, IDC_CURRENT_RECORD);
    Click(window, IDC_SEPARATOR_TAB);
    Click(window, IDC_FIELD_RESULT);
    ASSERT_TRUE(Eventually([&] { return Checked(window, IDC_FIELD_RESULT); }));
    AcceptAndExpect(window, 0x082);
}

TEST_F(ExportDialogs, CancelKeepsTheFlags) {
    HWND window = Open(RunExportParametersDialog, 0x00D);
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(AllFieldBoxes(window, false));  // CSV layout
    EXPECT_TRUE(Checked(window, IDC_FIELD_TIME));
    Click(window, IDC_LAYOUT_DESCRIPTIVE);
    Click(window, IDC_CANCEL);
    EXPECT_EQ(Closed(), 0);
    EXPECT_EQ(Flags(), 0x00Du);
    EXPECT_FALSE(StoredFlags().has_value());
}

TEST_F(ExportDialogs, RainDialogShowsSeparatorAndLayoutAndKeepsTheOtherBits) {
    HWND window = Open(RunRainExportParametersDialog, 0x1F9);
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(Checked(window, IDC_SEPARATOR_TAB));
    EXPECT_TRUE(Checked(window, IDC_LAYOUT_CSV));
    for (int id : {IDC_CURRENT_RECORD, IDC_ALL_RECORDS, IDC_FIELD_TIME}) {
        EXPECT_FALSE(ui::FindControl(window, id).has_value()) << id;
    }
    Click(window, IDC_SEPARATOR_LIST);
    Click(window, IDC_LAYOUT_DESCRIPTIVE);
    ASSERT_TRUE(Eventually([&] { return Checked(window, IDC_LAYOUT_DESCRIPTIVE); }));
    AcceptAndExpect(window, 0x1FF);
}

}  // namespace
}  // namespace kx305mon
