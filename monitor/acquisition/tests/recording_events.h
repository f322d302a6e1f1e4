// Events sink that remembers every event the acquisition reports, in order,
// and lets a test wait until an event has come.  Thread-safe: the worker
// writes, the test thread reads.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <functional>
#include <mutex>
#include <vector>

#include "acquisition/events.h"

namespace kx305mon::testing {

// The tests' front end: the requester numbered n answers in window n, so a
// window that places a request is told in its own name.
constexpr Requester RequesterOf(WindowRef window) { return static_cast<Requester>(window); }
constexpr WindowRef WindowOf(Requester requester) { return static_cast<WindowRef>(requester); }

struct Notice {
    enum Kind {
        InputChanged,
        LiveData,
        RainGauge,
        CycleDone,
        ConnectionLost,
        DownloadStarted,
        DownloadProgress,
        DownloadFinished,
        ClockSet,
        LogPeriodRead,
        LogPeriodWritten,
        Failure,
    } kind = CycleDone;
    WindowRef window = kNoWindow;  // answers: the requester's window
    // InputChanged: the input; DownloadProgress: percent; LogPeriodRead:
    // seconds; RainGauge: type of input 0.
    unsigned value = 0;
    bool flag = false;      // ClockSet, LogPeriodWritten: done; LiveData: with readings
    bool withInfo = false;  // LiveData
    ConverterInfo info = {};
    InputReading results[KX305_INPUTS] = {};
    DownloadReport download;                                     // DownloadFinished
    AcquisitionFailure failure = AcquisitionFailure::PortInUse;  // Failure
};

// Matches one kind of event, optionally with its value or flag.
inline std::function<bool(const Notice&)> Is(Notice::Kind kind) {
    return [kind](const Notice& n) { return n.kind == kind; };
}
inline std::function<bool(const Notice&)> IsWith(Notice::Kind kind, unsigned value) {
    return [kind, value](const Notice& n) { return n.kind == kind && n.value == value; };
}
inline std::function<bool(const Notice&)> IsAnswer(Notice::Kind kind, bool done) {
    return [kind, done](const Notice& n) { return n.kind == kind && n.flag == done; };
}
inline std::function<bool(const Notice&)> IsFailure(AcquisitionFailure failure) {
    return [failure](const Notice& n) { return n.kind == Notice::Failure && n.failure == failure; };
}

class RecordingEvents final : public AcquisitionEvents {
public:
    // Runs on the reporting thread for every event, after it was recorded;
    // lets a test act at an exact point of the worker's work.  Set before
    // the worker starts.
    std::function<void(const Notice&)> onNotice;

    void InputChanged(WindowRef window, int input) override {
        Add(Make(Notice::InputChanged, window, static_cast<unsigned>(input)));
    }
    void LiveData(WindowRef window, const ConverterInfo* info, const ClockRecord*, const InputReading* results,
                  AppContext&) override {
        Notice n = Make(Notice::LiveData, window);
        n.withInfo = info != nullptr;
        if (info != nullptr) n.info = *info;
        n.flag = results != nullptr;
        if (results != nullptr) std::memcpy(n.results, results, sizeof n.results);
        Add(n);
    }
    void RainGauge(WindowRef window, uint32_t typeOfInput0) override {
        Add(Make(Notice::RainGauge, window, typeOfInput0));
    }
    void CycleDone(WindowRef window) override { Add(Make(Notice::CycleDone, window)); }
    void ConnectionLost(WindowRef window) override { Add(Make(Notice::ConnectionLost, window)); }
    void DownloadStarted(WindowRef window) override { Add(Make(Notice::DownloadStarted, window)); }
    void DownloadProgress(WindowRef window, unsigned percent) override {
        Add(Make(Notice::DownloadProgress, window, percent));
    }
    void DownloadFinished(WindowRef window, const DownloadReport& report) override {
        Notice n = Make(Notice::DownloadFinished, window);
        n.download = report;
        Add(n);
    }
    void ClockSet(Requester requester, bool done) override {
        Add(Make(Notice::ClockSet, WindowOf(requester), 0, done));
    }
    void LogPeriodRead(Requester requester, unsigned seconds) override {
        Add(Make(Notice::LogPeriodRead, WindowOf(requester), seconds));
    }
    void LogPeriodWritten(Requester requester, bool done) override {
        Add(Make(Notice::LogPeriodWritten, WindowOf(requester), 0, done));
    }
    void Failure(WindowRef owner, AcquisitionFailure failure) override {
        Notice n = Make(Notice::Failure, owner);
        n.failure = failure;
        Add(n);
    }

    // The reports of the downloads that have ended.
    std::vector<DownloadReport> Downloads() const {
        std::lock_guard<std::mutex> guard(mutex_);
        std::vector<DownloadReport> reports;
        for (const Notice& n : notices_) {
            if (n.kind == Notice::DownloadFinished) reports.push_back(n.download);
        }
        return reports;
    }
    bool WaitForDownloads(size_t wanted, std::chrono::milliseconds timeout = std::chrono::seconds(20)) const {
        return WaitFor(Is(Notice::DownloadFinished), wanted, 0, timeout);
    }

    std::vector<Notice> All() const {
        std::lock_guard<std::mutex> guard(mutex_);
        return notices_;
    }
    size_t Size() const {
        std::lock_guard<std::mutex> guard(mutex_);
        return notices_.size();
    }
    // Events from position `from` on that match.
    size_t Count(const std::function<bool(const Notice&)>& match, size_t from = 0) const {
        std::lock_guard<std::mutex> guard(mutex_);
        size_t n = 0;
        for (size_t i = from; i < notices_.size(); ++i) n += match(notices_[i]) ? 1 : 0;
        return n;
    }
    size_t Count(Notice::Kind kind, size_t from = 0) const { return Count(Is(kind), from); }
    // Waits until `wanted` events from position `from` on match; false on time-out.
    bool WaitFor(const std::function<bool(const Notice&)>& match, size_t wanted = 1, size_t from = 0,
                 std::chrono::milliseconds timeout = std::chrono::seconds(20)) const {
        std::unique_lock<std::mutex> guard(mutex_);
        return added_.wait_for(guard, timeout, [&] {
            size_t n = 0;
            for (size_t i = from; i < notices_.size(); ++i) n += match(notices_[i]) ? 1 : 0;
            return n >= wanted;
        });
    }
    bool WaitFor(Notice::Kind kind, size_t wanted = 1, size_t from = 0,
                 std::chrono::milliseconds timeout = std::chrono::seconds(20)) const {
        return WaitFor(Is(kind), wanted, from, timeout);
    }

private:
    static Notice Make(Notice::Kind kind, WindowRef window, unsigned value = 0, bool flag = false) {
        Notice n;
        n.kind = kind;
        n.window = window;
        n.value = value;
        n.flag = flag;
        return n;
    }
    void Add(const Notice& n) {
        {
            std::lock_guard<std::mutex> guard(mutex_);
            notices_.push_back(n);
        }
        added_.notify_all();
        if (onNotice) onNotice(n);
    }

    mutable std::mutex mutex_;
    mutable std::condition_variable added_;
    std::vector<Notice> notices_;
};

}  // namespace kx305mon::testing
