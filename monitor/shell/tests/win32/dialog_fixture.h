// A dialog of the program run from its template on a thread of the test and
// operated through the UI driver as a user would.  The dialogs write the
// program's registry key: the key is removed before and after each test,
// and the tests run alone (RUN_SERIAL).
#pragma once

#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>

#include "acquisition/app_context.h"
#include "resources/messages.h"
#include "shell/settings.h"
#include "shell/settings_store.h"
#include "uidriver.h"

namespace kx305mon::testing {

namespace ui = kx305::ui;
using namespace std::chrono_literals;

class DialogTest : public ::testing::Test {
protected:
    void SetUp() override {
        ui::DeleteRegistryTree(kSettingsKeyPath);
        SetSettingsStartValues(context);
    }
    void TearDown() override {
        CloseLeftOver();
        ui::DeleteRegistryTree(kSettingsKeyPath);
    }

    // Opens `run` on its own thread (no owner) and returns its window, titled
    // `title`, once it shows.
    HWND Open(INT_PTR (*run)(HWND, AppContext&, SettingsStore&), const std::string& title) {
        return Open([this, run](HWND owner, AppContext& opened) { return run(owner, opened, *settings); }, title);
    }
    HWND Open(const std::function<INT_PTR(HWND, AppContext&)>& run, const std::string& title) {
        CloseLeftOver();
        title_ = title;
        result_ = -1;
        dialog_ = std::thread([this, run] { result_ = run(nullptr, context); });
        std::optional<HWND> window = ui::WaitForWindow(Query(), 10s);
        EXPECT_TRUE(window.has_value()) << title << ": " << ui::LastError();
        return window.value_or(nullptr);
    }
    // Waits for the dialog to end and returns its result.
    INT_PTR Closed() {
        EXPECT_TRUE(ui::WaitForNoWindow(Query(), 10s)) << title_;
        if (dialog_.joinable()) dialog_.join();
        return result_;
    }
    // The screen at the end of a scenario, beside the test program.
    static void Screenshot() {
        const std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
        EXPECT_TRUE(ui::SaveScreenshot(ui::ExecutableDirectory() + "\\" + name + ".png")) << ui::LastError();
    }
    bool IsOpen() const { return !ui::FindWindows(Query()).empty(); }

    static ui::ControlInfo Control(HWND window, int id) {
        std::optional<HWND> control = ui::FindControl(window, id);
        EXPECT_TRUE(control.has_value()) << id;
        return control ? ui::Describe(*control) : ui::ControlInfo{};
    }
    static HWND Handle(HWND window, int id) { return ui::FindControl(window, id).value_or(nullptr); }
    static void Click(HWND window, int id) {
        std::optional<HWND> control = ui::FindControl(window, id);
        ASSERT_TRUE(control.has_value()) << id;
        ASSERT_TRUE(ui::Click(*control)) << id << ": " << ui::LastError();
    }
    static bool Eventually(const std::function<bool()>& done) { return ui::WaitUntil(done, 5s); }
    static bool TextBecomes(HWND window, int id, const std::string& text) {
        return Eventually([&] { return Control(window, id).text == text; });
    }

    // The message box the dialog shows now: its text, after pressing `button`.
    static std::string AnswerMessageBox(int button) {
        std::optional<ui::MessageBoxInfo> box = ui::WaitForMessageBox(GetCurrentProcessId(), 10s);
        if (!box) {
            ADD_FAILURE() << "no message box: " << ui::LastError();
            return {};
        }
        EXPECT_EQ(box->caption, messages::kCaption);
        EXPECT_TRUE(ui::PressMessageBoxButton(*box, button));
        return box->text;
    }

    AppContext context;
    // The program's store, as the dialogs get it from the main window.
    std::unique_ptr<SettingsStore> settings = MakeRegistrySettingsStore();

private:
    ui::WindowQuery Query() const {
        ui::WindowQuery query;
        query.title = title_;
        query.processId = GetCurrentProcessId();
        return query;
    }
    void CloseLeftOver() {
        if (!dialog_.joinable()) return;
        // A dialog left open by a failed test: close it so the thread ends.
        for (HWND window : ui::FindWindows(Query())) PostMessageA(window, WM_CLOSE, 0, 0);
        dialog_.join();
    }

    std::string title_;
    std::thread dialog_;
    std::atomic<INT_PTR> result_{-1};
};

}  // namespace kx305mon::testing
