// A notifier that remembers every notice the acquisition gives, in order,
// and lets a test wait until a notice has come.  Thread-safe: the worker
// writes, the test thread reads.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "acquisition/notifier.h"

namespace kx305mon::testing {

struct Notice {
    enum Kind { Post, Display, RainMenu, Show, Number, Enable, Message, Download } kind = Post;
    WindowRef window = kNoWindow;
    uint32_t message = 0;    // Post
    uintptr_t wParam = 0;    // Post
    int control = 0;         // Show, Number, Enable
    bool flag = false;       // Show: visible; Enable: enabled; Display: with readings
    unsigned value = 0;      // Number; RainMenu: type of input 0
    std::string text;        // Message
    bool withInfo = false;   // Display
    ConverterInfo info = {};
    InputReading results[KX305_INPUTS] = {};
    DownloadReport download;  // Download
};

class RecordingNotifier final : public AcquisitionNotifier {
public:
    // Runs on the notifying thread for every notice, after it was recorded;
    // lets a test act at an exact point of the worker's work.  Set before
    // the worker starts.
    std::function<void(const Notice&)> onNotice;

    void Post(WindowRef target, uint32_t message, uintptr_t wParam, intptr_t) override {
        Notice n;
        n.kind = Notice::Post;
        n.window = target;
        n.message = message;
        n.wParam = wParam;
        Add(n);
    }
    void UpdateDisplay(WindowRef window, const ConverterInfo* info, const ClockRecord*,
                       const InputReading* results, AppContext&) override {
        Notice n;
        n.kind = Notice::Display;
        n.window = window;
        n.withInfo = info != nullptr;
        if (info != nullptr) n.info = *info;
        n.flag = results != nullptr;
        if (results != nullptr) std::memcpy(n.results, results, sizeof n.results);
        Add(n);
    }
    void SetRainGaugeMenu(WindowRef window, uint32_t type) override {
        Notice n;
        n.kind = Notice::RainMenu;
        n.window = window;
        n.value = type;
        Add(n);
    }
    void ShowControl(WindowRef window, int control, bool visible) override {
        AddControl(Notice::Show, window, control, visible, 0);
    }
    void SetControlNumber(WindowRef window, int control, unsigned value) override {
        AddControl(Notice::Number, window, control, false, value);
    }
    void EnableControl(WindowRef window, int control, bool enabled) override {
        AddControl(Notice::Enable, window, control, enabled, 0);
    }
    void ShowMessage(WindowRef owner, const char* text, MessageIcon) override {
        Notice n;
        n.kind = Notice::Message;
        n.window = owner;
        n.text = text;
        Add(n);
    }

    void DownloadFinished(const DownloadReport& report) override {
        Notice n;
        n.kind = Notice::Download;
        n.download = report;
        Add(n);
    }

    // The reports of the downloads that have ended.
    std::vector<DownloadReport> Downloads() const {
        std::lock_guard<std::mutex> guard(mutex_);
        std::vector<DownloadReport> reports;
        for (const Notice& n : notices_) {
            if (n.kind == Notice::Download) reports.push_back(n.download);
        }
        return reports;
    }
    bool WaitForDownloads(size_t wanted, std::chrono::milliseconds timeout = std::chrono::seconds(20)) const {
        return WaitFor([](const Notice& n) { return n.kind == Notice::Download; }, wanted, 0, timeout);
    }

    std::vector<Notice> All() const {
        std::lock_guard<std::mutex> guard(mutex_);
        return notices_;
    }
    size_t Size() const {
        std::lock_guard<std::mutex> guard(mutex_);
        return notices_.size();
    }
    // Notices from position `from` on that match.
    size_t Count(const std::function<bool(const Notice&)>& match, size_t from = 0) const {
        std::lock_guard<std::mutex> guard(mutex_);
        size_t n = 0;
        for (size_t i = from; i < notices_.size(); ++i) n += match(notices_[i]) ? 1 : 0;
        return n;
    }
    size_t CountPosts(uint32_t message, size_t from = 0) const {
        return Count([&](const Notice& n) { return n.kind == Notice::Post && n.message == message; }, from);
    }
    size_t CountPostsWith(uint32_t message, uintptr_t wParam, size_t from = 0) const {
        return Count([&](const Notice& n) {
            return n.kind == Notice::Post && n.message == message && n.wParam == wParam;
        }, from);
    }
    // Waits until `wanted` notices from position `from` on match; false on time-out.
    bool WaitFor(const std::function<bool(const Notice&)>& match, size_t wanted = 1, size_t from = 0,
                 std::chrono::milliseconds timeout = std::chrono::seconds(20)) const {
        std::unique_lock<std::mutex> guard(mutex_);
        return added_.wait_for(guard, timeout, [&] {
            size_t n = 0;
            for (size_t i = from; i < notices_.size(); ++i) n += match(notices_[i]) ? 1 : 0;
            return n >= wanted;
        });
    }
    bool WaitForPost(uint32_t message, size_t wanted = 1, size_t from = 0,
                     std::chrono::milliseconds timeout = std::chrono::seconds(20)) const {
        return WaitFor([&](const Notice& n) { return n.kind == Notice::Post && n.message == message; },
                       wanted, from, timeout);
    }
    bool WaitForPostWith(uint32_t message, uintptr_t wParam, size_t from = 0,
                     std::chrono::milliseconds timeout = std::chrono::seconds(20)) const {
        return WaitFor([&](const Notice& n) {
            return n.kind == Notice::Post && n.message == message && n.wParam == wParam;
        }, 1, from, timeout);
    }

private:
    void AddControl(Notice::Kind kind, WindowRef window, int control, bool flag, unsigned value) {
        Notice n;
        n.kind = kind;
        n.window = window;
        n.control = control;
        n.flag = flag;
        n.value = value;
        Add(n);
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
