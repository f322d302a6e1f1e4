// The program's acquisition events: posted messages to the main window and
// the requesting dialogs, the display texts through the mailbox, the
// message boxes as notices for the UI thread.
#include <chrono>
#include <cstdlib>
#include <string>

#include "program_win32.h"
#include "requester_win32.h"
#include "resources/messages.h"
#include "resources/resource.h"
#include "shell/main_window.h"

namespace kx305mon {

namespace {

void Post(WindowRef window, UINT message, WPARAM wParam) {
    if (window != kNoWindow) PostMessageA(WindowOf(window), message, wParam, 0);
}

void Answer(Requester requester, UINT message, WPARAM wParam) {
    if (requester != kNoRequester) PostMessageA(WindowOf(requester), message, wParam, 0);
}

int64_t MicrosSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

ProgramEvents::ProgramEvents() : uiThread_(GetCurrentThreadId()) {}

ProgramEvents::~ProgramEvents() {
    if (cycleLog_ != nullptr) std::fclose(cycleLog_);
}

void ProgramEvents::InputChanged(WindowRef window, int input) { Post(window, WMU_INPUT_CHANGED, input); }

void ProgramEvents::LiveData(WindowRef window, const ConverterInfo* info, const ClockRecord* clock,
                             const InputReading* results, AppContext& context) {
    const auto start = std::chrono::steady_clock::now();
    bool averageKX125;
    {
        MutexLock guard(context.plumbing.lock);
        averageKX125 = context.averageKX125;
    }
    // Built here, on the worker's thread; the UI thread only sets texts.
    if (mailbox_.Put(MakeDisplaySnapshot(info, clock, results, averageKX125))) Post(window, WMU_DISPLAY, 0);
    liveDataMicros_.store(MicrosSince(start), std::memory_order_relaxed);
}

void ProgramEvents::RainGauge(WindowRef window, uint32_t typeOfInput0) {
    // The menu belongs to the UI thread: it changes it when told.
    if (auto enable = rainGaugeMenu_.Update(typeOfInput0)) Post(window, WMU_RAIN_GAUGE_MENU, *enable ? 1 : 0);
}

void ProgramEvents::CycleDone(WindowRef window) { Post(window, WMU_NEW_DATA, 0); }

void ProgramEvents::ConnectionLost(WindowRef window) {
    Post(window, WMU_INPUT_CHANGED, kAllInputsChanged);
    if (auto enable = rainGaugeMenu_.ConnectionLost()) Post(window, WMU_RAIN_GAUGE_MENU, *enable ? 1 : 0);
}

void ProgramEvents::DownloadStarted(WindowRef window) { Post(window, WMU_RECORDING_TEXT, 1); }

void ProgramEvents::DownloadProgress(WindowRef window, unsigned percent) { Post(window, WMU_PROGRESS, percent); }

void ProgramEvents::DownloadFinished(WindowRef window, const DownloadReport& report) {
    Post(window, WMU_RECORDING_TEXT, 0);
    for (const PendingNotice& pending : downloadNotices_.After(report)) PostNotice(pending.notice, pending.count);
}

void ProgramEvents::ClockSet(Requester requester, bool done) { Answer(requester, WMU_TIME_SET, done ? 1 : 0); }

void ProgramEvents::LogPeriodRead(Requester requester, unsigned seconds) {
    Answer(requester, WMU_PERIOD_READ, seconds);
}

void ProgramEvents::LogPeriodWritten(Requester requester, bool done) {
    Answer(requester, WMU_PERIOD_SET, done ? 1 : 0);
}

void ProgramEvents::Failure(WindowRef owner, AcquisitionFailure failure) {
    const Notice notice = FailureNotice(failure);
    if (GetCurrentThreadId() == uiThread_) {
        ShowNotice(WindowOf(owner), static_cast<uint32_t>(notice), 0);
        return;
    }
    // From a worker: a box here would stop polling, the live display and
    // DDE until answered, and could keep the process alive after its
    // window has gone.
    PostNotice(notice, 0);
}

void ProgramEvents::PostNotice(Notice notice, size_t count) {
    HWND window = noticeWindow_.load(std::memory_order_acquire);
    if (window != nullptr) PostMessageA(window, WMU_NOTICE, static_cast<WPARAM>(notice), static_cast<LPARAM>(count));
}

void ProgramEvents::StartCycleLog(AppContext& context) {
    const char* path = std::getenv("KX305MON_CYCLE_LOG");
    if (path == nullptr || *path == '\0') return;
    cycleLog_ = std::fopen(path, "a");
    if (cycleLog_ == nullptr) return;
    context.plumbing.onCycleTiming = [this](const CycleTiming& timing) {
        const std::string line = CycleLogLine(timing, liveDataMicros_.load(std::memory_order_relaxed),
                                              displayMicros_.load(std::memory_order_relaxed));
        std::fputs(line.c_str(), cycleLog_);
        std::fflush(cycleLog_);
    };
}

}  // namespace kx305mon
