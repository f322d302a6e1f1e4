// The program's acquisition events under Wine, with a window that is never
// served while the worker reports: every event only posts (message boxes
// too, as notices), the display texts wait in the mailbox (one wake-up for
// any number of cycles, the newest snapshot wins), and the rain-gauge menu
// is touched only on a change.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <thread>
#include <tuple>
#include <utility>
#include <vector>

#include "program_win32.h"
#include "test_hooks_win32.h"
#include "resources/messages.h"
#include "resources/resource.h"

namespace kx305mon {
namespace {

// A message-only window of the test's thread, read only by PeekMessage.
class StalledWindow {
public:
    StalledWindow() {
        window_ = CreateWindowExA(0, "STATIC", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    }
    ~StalledWindow() { DestroyWindow(window_); }
    WindowRef ref() const { return reinterpret_cast<WindowRef>(window_); }
    Requester requester() const { return RequesterOf(window_); }
    // The private messages waiting in the queue, in order: (message, wParam).
    std::vector<std::pair<UINT, WPARAM>> Drain() {
        std::vector<std::pair<UINT, WPARAM>> posted;
        for (const MSG& message : DrainMessages()) posted.emplace_back(message.message, message.wParam);
        return posted;
    }
    std::vector<MSG> DrainMessages() {
        std::vector<MSG> posted;
        MSG message;
        while (PeekMessageA(&message, window_, WM_USER, WM_USER + 0x100, PM_REMOVE)) posted.push_back(message);
        return posted;
    }

private:
    HWND window_ = nullptr;
};

using Posted = std::vector<std::pair<UINT, WPARAM>>;

TEST(ProgramEvents, EachEventPostsItsMessage) {
    StalledWindow window;
    ASSERT_NE(window.ref(), kNoWindow);
    ProgramEvents events;
    const WindowRef w = window.ref();
    struct Case {
        const char* name;
        std::function<void()> report;
        Posted posted;
    };
    const Case cases[] = {
        {"input changed", [&] { events.InputChanged(w, 3); }, {{WMU_INPUT_CHANGED, 3}}},
        {"connection lost", [&] { events.ConnectionLost(w); }, {{WMU_INPUT_CHANGED, 5}}},
        {"cycle done", [&] { events.CycleDone(w); }, {{WMU_NEW_DATA, 0}}},
        {"download",
         [&] {
             events.DownloadStarted(w);
             events.DownloadProgress(w, 42);
             events.DownloadProgress(w, 0);
             events.DownloadFinished(w, DownloadReport{});
         },
         {{WMU_RECORDING_TEXT, 1}, {WMU_PROGRESS, 42}, {WMU_PROGRESS, 0}, {WMU_RECORDING_TEXT, 0}}},
        {"download without a window", [&] { events.DownloadStarted(kNoWindow); }, {}},
        {"clock set", [&] { events.ClockSet(window.requester(), true); }, {{WMU_TIME_SET, 1}}},
        {"clock not set", [&] { events.ClockSet(window.requester(), false); }, {{WMU_TIME_SET, 0}}},
        {"interval read", [&] { events.LogPeriodRead(window.requester(), 65535); }, {{WMU_PERIOD_READ, 65535}}},
        {"interval written", [&] { events.LogPeriodWritten(window.requester(), true); }, {{WMU_PERIOD_SET, 1}}},
        {"interval not written", [&] { events.LogPeriodWritten(window.requester(), false); }, {{WMU_PERIOD_SET, 0}}},
    };
    for (const Case& c : cases) {
        c.report();
        EXPECT_EQ(window.Drain(), c.posted) << c.name;
    }
}

TEST(ProgramEvents, StalledWindowGetsOneWakeUpAndTheNewestTexts) {
    StalledWindow window;
    ProgramEvents events;
    AppContext context;
    const InputReading results[KX305_INPUTS] = {};
    const ClockRecord clock = {6, 15, 12, 0, 0};
    // The worker's thread: many cycles while the window serves nothing.
    std::thread worker([&] {
        for (uint16_t serial = 1; serial <= 300; ++serial) {
            const ConverterInfo info = {1, 13, 1, 1, 2020, serial};
            events.LiveData(window.ref(), &info, &clock, results, context);
        }
    });
    worker.join();
    EXPECT_EQ(window.Drain(), (Posted{{WMU_DISPLAY, 0}}));
    std::optional<DisplaySnapshot> shown = events.Mailbox().Take();
    ASSERT_TRUE(shown);
    EXPECT_EQ(shown->status.rfind("KX-305 wersja 1.13, nr 300\r\n", 0), 0u) << shown->status;
    EXPECT_FALSE(events.Mailbox().Take());
    // Once taken, the next cycle wakes the window again; after a loss of
    // connection the texts are the question marks.
    events.LiveData(window.ref(), nullptr, nullptr, nullptr, context);
    EXPECT_EQ(window.Drain(), (Posted{{WMU_DISPLAY, 0}}));
    shown = events.Mailbox().Take();
    ASSERT_TRUE(shown);
    EXPECT_EQ(shown->status, "KX-305 wersja ?.?, nr ????\r\n?????, ?????");
    for (int icon : shown->icons) EXPECT_EQ(icon, IDB_NO_INSTRUMENT);
}

TEST(ProgramEvents, RainGaugeMenuChangesOnlyWithTheType) {
    StalledWindow window;
    ProgramEvents events;
    for (uint32_t type : {0u, 1u, 1u, 2u, 1u, 0u, 0u, 1u}) events.RainGauge(window.ref(), type);
    EXPECT_EQ(window.Drain(), (Posted{{WMU_RAIN_GAUGE_MENU, 1},
                                      {WMU_RAIN_GAUGE_MENU, 0},
                                      {WMU_RAIN_GAUGE_MENU, 1},
                                      {WMU_RAIN_GAUGE_MENU, 0},
                                      {WMU_RAIN_GAUGE_MENU, 1}}));
}

// The workers never show a box: a failure or a download's losses become a
// notice posted to the main window, whose thread shows the box; the worker
// goes straight on.  Without a notice window nothing is shown or posted.
TEST(ProgramEvents, WorkersBoxesBecomeNoticesForTheWindowsThread) {
    StalledWindow window;
    ProgramEvents events;
    const WindowRef w = window.ref();
    DownloadReport lost;
    lost.transferred = true;
    lost.lost = 7;
    lost.clear = DownloadReport::Clear::TransferLongerThanLogPeriod;
    auto onWorker = [](const std::function<void()>& report) {
        std::thread worker(report);
        worker.join();  // would hang here on a box nobody answers
    };
    onWorker([&] { events.Failure(kNoWindow, AcquisitionFailure::RecordsNotStored); });
    EXPECT_EQ(window.Drain(), Posted{}) << "no notice window yet";
    events.SetNoticeWindow(reinterpret_cast<HWND>(w));
    onWorker([&] {
        events.Failure(kNoWindow, AcquisitionFailure::RecordsNotStored);
        events.Failure(w, AcquisitionFailure::PortInUse);
        events.DownloadFinished(w, lost);
        events.DownloadFinished(w, lost);  // the short interval is told once
    });
    const std::vector<MSG> notices = window.DrainMessages();
    std::vector<std::tuple<UINT, WPARAM, LPARAM>> got;
    for (const MSG& m : notices) got.emplace_back(m.message, m.wParam, m.lParam);
    const auto notice = [](Notice n, LPARAM count) { return std::make_tuple(UINT(WMU_NOTICE), WPARAM(n), count); };
    const auto text = [](int shown) { return std::make_tuple(UINT(WMU_RECORDING_TEXT), WPARAM(shown), LPARAM(0)); };
    EXPECT_EQ(got, (std::vector<std::tuple<UINT, WPARAM, LPARAM>>{
                       notice(Notice::RecordsNotStored, 0), notice(Notice::PortInUse, 0), text(0),
                       notice(Notice::RecordsLost, 7), notice(Notice::LogIntervalTooShort, 0), text(0),
                       notice(Notice::RecordsLost, 7)}));
    EXPECT_EQ(FindWindowA("#32770", messages::kCaption), nullptr);
    events.SetNoticeWindow(nullptr);
    onWorker([&] { events.Failure(kNoWindow, AcquisitionFailure::RecordsNotStored); });
    EXPECT_EQ(window.Drain(), Posted{});
}

// On the window's own thread (the port test of the start and of the port
// dialog) the box comes at once, owned by the window that asked.
TEST(ProgramEvents, FailureOnTheWindowsThreadShowsItsBoxAtOnce) {
    HWND owner = CreateWindowExA(0, "STATIC", "owner", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(owner, nullptr);
    ProgramEvents events;
    HWND box = nullptr;
    char text[256] = {};
    // The box's own loop runs this timer: it finds the box and answers it.
    static HWND* found;
    static char* foundText;
    found = &box;
    foundText = text;
    const UINT_PTR timer = SetTimer(nullptr, 0, 50, [](HWND, UINT, UINT_PTR, DWORD) {
        HWND b = FindWindowA("#32770", messages::kCaption);
        if (b == nullptr || !IsWindowVisible(b)) return;
        *found = b;
        GetDlgItemTextA(b, 0xFFFF, foundText, 256);
        PostMessageA(b, WM_COMMAND, IDOK, 0);
    });
    events.Failure(reinterpret_cast<WindowRef>(owner), AcquisitionFailure::PortInUse);
    KillTimer(nullptr, timer);
    ASSERT_NE(box, nullptr);
    EXPECT_STREQ(text, messages::kPortInUse);
    EXPECT_EQ(LastMessageIcon(), static_cast<UINT>(MB_ICONWARNING));
    DestroyWindow(owner);
}

}  // namespace
}  // namespace kx305mon
