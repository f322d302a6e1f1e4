#include "serve.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <deque>
#include <mutex>
#include <set>
#include <thread>

#include "acquisition/app_context.h"
#include "console.h"
#include "recording/file.h"
#include "shell/display_text.h"
#include "time/calendar_time.h"
#include "time/local_time.h"

namespace kx305cli {

using namespace kx305mon;
using Clock = std::chrono::steady_clock;

namespace {

constexpr auto kRefresh = std::chrono::minutes(1);
constexpr size_t kRecordWindow = kMaxInFlight;  // records published and not yet acknowledged
constexpr auto kFirstBackOff = std::chrono::seconds(1);
constexpr auto kLongestBackOff = std::chrono::seconds(60);
constexpr auto kStopGrace = std::chrono::seconds(5);
constexpr auto kCursorSaveInterval = std::chrono::seconds(1);

// The registration file read beside the recording that holds it locked
// against other programs: only what a finished download wrote is read, and
// a record the next download is writing has no trailer yet, so the reader
// passes over it until it is whole.
class SideReader final : public FileStream {
public:
    static std::unique_ptr<FileStream> Open(const std::string& path) {
        const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) return nullptr;
        return std::unique_ptr<FileStream>(new SideReader(fd));
    }
    ~SideReader() override { close(fd_); }

    bool Write(const void*, size_t) override { return false; }
    long Read(void* data, size_t size) override { return static_cast<long>(read(fd_, data, size)); }
    bool SeekToStart() override { return SeekTo(0); }
    bool SeekToEnd() override { return lseek(fd_, 0, SEEK_END) >= 0; }
    bool SeekTo(int64_t offset) override { return lseek(fd_, static_cast<off_t>(offset), SEEK_SET) == offset; }
    int64_t Position() override { return lseek(fd_, 0, SEEK_CUR); }
    bool Truncate() override { return false; }
    bool Flush() override { return true; }
    int64_t Size() override {
        struct stat status {};
        return fstat(fd_, &status) == 0 ? static_cast<int64_t>(status.st_size) : -1;
    }

private:
    explicit SideReader(int fd) : fd_(fd) {}
    int fd_;
};

// The records of the registration file from the cursor on, published in
// file order with QoS 1; the cursor moves over a record only once the
// broker has acknowledged it and every record before it.  Network thread
// only.
class RecordFeed {
public:
    RecordFeed(std::string file, uint32_t converter) : file_(std::move(file)), converter_(converter) {}

    // Where the last run left off; from the start when the cursor does not
    // belong to this file (at least once: the ids tell repeats).
    void Load() {
        cursorPath_ = CursorPath(file_);
        RecordCursor saved;
        if (!LoadCursor(cursorPath_, saved)) return;
        if (Matches(saved)) {
            cursor_ = saved;
        } else {
            Console::Error(cursorPath_, "does not match the registration file; every record is published again");
        }
    }

    // A new connection: whatever was not acknowledged goes again.
    void Restart() {
        queued_.clear();
        window_.clear();
        readEnd_ = cursor_.end;
        wanted_ = true;
    }

    void Poke() { wanted_ = true; }

    template <typename PublishFn>
    void Pump(PublishFn publish) {
        if (wanted_) {
            wanted_ = false;
            Read();
        }
        while (window_.size() < kRecordWindow && !queued_.empty()) {
            Pending& next = queued_.front();
            if (!publish(next.json, next.mid)) return;
            window_.push_back(std::move(next));
            queued_.pop_front();
        }
    }

    void Acknowledged(int mid) {
        bool moved = false;
        for (Pending& pending : window_) {
            if (pending.mid == mid) pending.acked = true;
        }
        while (!window_.empty() && window_.front().acked) {
            cursor_.end = window_.front().end;
            cursor_.id = window_.front().id;
            window_.pop_front();
            moved = true;
        }
        unsaved_ = unsaved_ || moved;
    }

    // Keeps the cursor on the disk at most a second behind the broker, and
    // exactly once the feed has nothing in flight: saving (and syncing) it
    // for every acknowledgement would pace a catch-up at the disk's sync
    // rate.  A crash in between only publishes a few records again, under
    // the same ids.
    void SaveCursorIfDue(bool force = false) {
        if (!unsaved_) return;
        const Clock::time_point now = Clock::now();
        if (!force && !Idle() && now - lastSave_ < kCursorSaveInterval) return;
        unsaved_ = false;
        lastSave_ = now;
        if (!SaveCursor(cursorPath_, cursor_)) Console::Error(cursorPath_, SystemReason(errno));
    }

    bool Idle() const { return !wanted_ && queued_.empty() && window_.empty(); }

private:
    struct Pending {
        int64_t end = 0;
        std::string id;
        std::string json;
        int mid = -1;
        bool acked = false;
    };

    bool Matches(const RecordCursor& saved) {
        std::unique_ptr<FileStream> file = SideReader::Open(file_);
        if (file == nullptr || file->Size() < saved.end) return false;
        RecordList records;
        std::vector<int64_t> ends;
        // A record is far shorter than this; the reading finds its start.
        if (!ReadRegistrationFrom(*file, std::max<int64_t>(0, saved.end - 16384), records, ends)) return false;
        for (size_t k = 0; k < ends.size(); ++k) {
            std::string id;
            std::string json;
            if (ends[k] == saved.end) return RecordMessage(converter_, records[k], id, json) && id == saved.id;
        }
        return false;
    }

    void Read() {
        std::unique_ptr<FileStream> file = SideReader::Open(file_);
        RecordList records;
        std::vector<int64_t> ends;
        if (file == nullptr || !ReadRegistrationFrom(*file, readEnd_, records, ends)) return;
        for (size_t k = 0; k < records.size(); ++k) {
            Pending pending;
            pending.end = ends[k];
            if (RecordMessage(converter_, records[k], pending.id, pending.json)) queued_.push_back(std::move(pending));
            readEnd_ = ends[k];
        }
    }

    std::string file_;
    uint32_t converter_;
    std::string cursorPath_;
    RecordCursor cursor_;
    int64_t readEnd_ = 0;
    bool wanted_ = true;
    std::deque<Pending> queued_;
    std::deque<Pending> window_;
    bool unsaved_ = false;  // the cursor moved since it was last saved
    Clock::time_point lastSave_;
};

// The broker's side of the station: its own thread connects, reconnects
// with back-off, and publishes what the recording hands over.
class Publisher {
public:
    Publisher(const ServeOptions& options, std::string file) : options_(options), file_(std::move(file)) {
        if (pipe2(wake_, O_CLOEXEC | O_NONBLOCK) != 0) wake_[0] = wake_[1] = -1;
    }
    ~Publisher() {
        Stop();
        for (int fd : wake_) {
            if (fd >= 0) close(fd);
        }
    }

    // Starts the network thread once the converter's serial is known.
    bool Start(uint32_t converter) {
        converter_ = converter;
        LinkSettings settings = options_.link;
        if (settings.clientId.empty()) settings.clientId = "kx305-" + std::to_string(converter);
        statusTopic_ = ConverterTopic(options_.topicPrefix, converter, "status");
        recordsTopic_ = ConverterTopic(options_.topicPrefix, converter, "records");
        settings.willTopic = statusTopic_;
        settings.willPayload = "offline";
        broker_ = std::string(settings.address.tls ? "mqtts://" : "mqtt://") + settings.address.host + ":" +
                  std::to_string(settings.address.port);
        LinkCallbacks callbacks;
        callbacks.connected = [this](int code, const std::string& refusal) { OnConnected(code, refusal); };
        callbacks.acknowledged = [this](int mid) {
            if (feed_ != nullptr) feed_->Acknowledged(mid);
            if (mid == offlineMid_) offlineAcked_ = true;
        };
        callbacks.message = [this](const std::string& topic, const std::string& payload) {
            // Read-only: Home Assistant's return only asks for the configs again.
            if (topic == options_.discoveryPrefix + "/status" && payload == "online") MarkDiscoveryDirty();
        };
        std::string error;
        link_ = MqttLink::Create(settings, std::move(callbacks), error);
        if (link_ == nullptr) {
            Console::Error(broker_, error);
            return false;
        }
        feed_ = std::make_unique<RecordFeed>(file_, converter);
        feed_->Load();
        thread_ = std::thread([this] { Run(); });
        return true;
    }

    // Topics to (re)publish, retained; an empty payload clears one.  Those
    // of `replaced` are cleared before their new payload goes: a config of
    // another instrument must not update the old one's sensor.
    void Retain(const TopicMap& topics, const std::set<std::string>& replaced) {
        if (topics.empty()) return;
        {
            std::lock_guard<std::mutex> guard(mutex_);
            for (const auto& [topic, payload] : topics) {
                retained_[topic] = payload;
                dirty_.insert(topic);
            }
            replaced_.insert(replaced.begin(), replaced.end());
        }
        Wake();
    }

    void PokeRecords() {
        {
            std::lock_guard<std::mutex> guard(mutex_);
            recordsPoked_ = true;
        }
        Wake();
    }

    // The last records go out (for a while), then "offline", then the
    // connection closes.
    void Stop() {
        if (!thread_.joinable()) return;
        {
            std::lock_guard<std::mutex> guard(mutex_);
            recordsPoked_ = true;
            stopping_ = true;
            stopDeadline_ = Clock::now() + kStopGrace;
        }
        Wake();
        thread_.join();
    }

private:
    void Wake() {
        if (wake_[1] >= 0) {
            const char byte = 1;
            [[maybe_unused]] const ssize_t ignored = write(wake_[1], &byte, 1);
        }
        woken_.notify_all();
    }

    void Drain() {
        char bytes[64];
        while (wake_[0] >= 0 && read(wake_[0], bytes, sizeof bytes) > 0) {
        }
    }

    // One line per change of what is wrong, not one per retry.
    void Report(const std::string& text) {
        if (text == lastReport_) return;
        lastReport_ = text;
        Console::Error(broker_, text);
    }

    void MarkDiscoveryDirty() {
        std::lock_guard<std::mutex> guard(mutex_);
        const std::string prefix = options_.discoveryPrefix + "/";
        for (const auto& [topic, payload] : retained_) {
            if (topic.rfind(prefix, 0) == 0) dirty_.insert(topic);
        }
    }

    void OnConnected(int code, const std::string& refusal) {
        if (code != 0) {
            std::string reason = refusal;
            if (!reason.empty() && reason.back() == '.') reason.pop_back();
            Report("the broker refused the connection: " + reason);
            refused_ = true;
            return;
        }
        connected_ = true;
    }

    // After the broker accepted the connection; outside the library's
    // callback, whose locks a publish would take in the opposite order.
    void Announce() {
        backOff_ = kFirstBackOff;
        if (lastReport_ != "connected") Console::Error("connected to " + broker_);
        lastReport_ = "connected";
        link_->Publish(statusTopic_, "online", 1, true);
        if (options_.discovery) link_->Subscribe(options_.discoveryPrefix + "/status", 1);
        {
            std::lock_guard<std::mutex> guard(mutex_);
            for (const auto& [topic, payload] : retained_) dirty_.insert(topic);
        }
        feed_->Restart();
    }

    bool Stopping() {
        std::lock_guard<std::mutex> guard(mutex_);
        return stopping_;
    }

    // Waits out the back-off; false when the stop came meanwhile.
    bool WaitBackOff() {
        std::unique_lock<std::mutex> guard(mutex_);
        woken_.wait_for(guard, backOff_, [this] { return stopping_; });
        backOff_ = std::min<std::chrono::seconds>(backOff_ * 2, kLongestBackOff);
        return !stopping_;
    }

    // Hands what is waiting to the library.
    void Flush() {
        std::vector<std::pair<std::string, std::string>> out;
        bool poked = false;
        {
            std::lock_guard<std::mutex> guard(mutex_);
            for (const std::string& topic : dirty_) {
                auto found = retained_.find(topic);
                if (found == retained_.end()) continue;
                if (replaced_.count(topic) > 0 && !found->second.empty()) out.emplace_back(topic, "");
                out.emplace_back(topic, found->second);
                if (found->second.empty()) retained_.erase(found);
            }
            dirty_.clear();
            replaced_.clear();
            poked = recordsPoked_;
            recordsPoked_ = false;
        }
        for (const auto& [topic, payload] : out) {
            // Values and state go fast; configs and clears must arrive.
            const bool mustArrive = payload.empty() || topic.rfind(options_.discoveryPrefix + "/", 0) == 0;
            link_->Publish(topic, payload, mustArrive ? 1 : 0, true);
        }
        if (poked) feed_->Poke();
        feed_->Pump([this](const std::string& json, int& mid) {
            return link_->Publish(recordsTopic_, json, 1, false, &mid) == 0;
        });
        feed_->SaveCursorIfDue();
    }

    void Run() {
        while (!Stopping()) {
            if (!connected_) {
                refused_ = false;
                if (const std::string failure = link_->Connect(); !failure.empty()) {
                    Report(failure);
                    if (!WaitBackOff()) break;
                    continue;
                }
                // Until the broker answers the CONNECT.
                while (!connected_ && !refused_ && !Stopping()) {
                    if (const std::string failure = link_->Step(wake_[0], 200); !failure.empty()) {
                        // A refusal closes the connection too; its reason is told.
                        if (!refused_) Report(failure);
                        refused_ = true;
                    }
                }
                if (!connected_) {
                    link_->Disconnect();
                    if (!WaitBackOff()) break;
                    continue;
                }
                Announce();
            }
            Flush();
            if (const std::string failure = link_->Step(wake_[0], 1000); !failure.empty()) {
                connected_ = false;
                feed_->SaveCursorIfDue(true);
                Report("connection lost: " + failure);
                if (!WaitBackOff()) break;
                continue;
            }
            Drain();
        }
        if (connected_) Finish();
        feed_->SaveCursorIfDue(true);
    }

    // The last records, "offline", then a clean goodbye (no will).
    void Finish() {
        Clock::time_point deadline;
        {
            std::lock_guard<std::mutex> guard(mutex_);
            deadline = stopDeadline_;
        }
        while (connected_ && Clock::now() < deadline) {
            Flush();
            if (feed_->Idle()) break;
            if (!link_->Step(wake_[0], 50).empty()) connected_ = false;
        }
        if (!connected_) return;
        offlineMid_ = -2;
        offlineAcked_ = false;
        if (link_->Publish(statusTopic_, "offline", 1, true, &offlineMid_) == 0) {
            while (!offlineAcked_ && Clock::now() < deadline + kStopGrace && link_->Step(wake_[0], 50).empty()) {
            }
        }
        link_->Disconnect();
    }

    ServeOptions options_;
    std::string file_;
    uint32_t converter_ = 0;
    std::string statusTopic_;
    std::string recordsTopic_;
    std::string broker_;
    std::unique_ptr<MqttLink> link_;
    std::unique_ptr<RecordFeed> feed_;
    std::thread thread_;
    int wake_[2] = {-1, -1};

    // Network thread only.
    bool connected_ = false;
    bool refused_ = false;
    std::string lastReport_;
    std::chrono::seconds backOff_ = kFirstBackOff;
    int offlineMid_ = -2;
    bool offlineAcked_ = false;

    std::mutex mutex_;
    std::condition_variable woken_;
    TopicMap retained_;
    std::set<std::string> dirty_;
    std::set<std::string> replaced_;
    bool recordsPoked_ = false;
    bool stopping_ = false;
    Clock::time_point stopDeadline_;
};

// Turns the recording's cycles into topics for the publisher: what changed,
// what is due again, what went away.  Main thread only.
class ServeObserver final : public RecordingObserver {
public:
    ServeObserver(const ServeOptions& options, const std::string& file)
        : options_(options), publisher_(options, file) {}

    void Cycle(AppContext& context) override {
        const LiveState state = ReadLiveState(context);
        LiveInputs live;
        live.serial = state.info.serialNumber;
        std::copy(std::begin(state.inputs), std::end(state.inputs), std::begin(live.inputs));
        if (!started_) {
            started_ = true;
            if (!publisher_.Start(live.serial)) return;
            running_ = true;
        }
        if (!running_) return;
        const Clock::time_point now = Clock::now();
        const bool refresh = now - lastRefresh_ >= kRefresh;
        if (refresh) lastRefresh_ = now;

        TopicMap out;
        Update(ValueTopics(options_.topicPrefix, live), values_, refresh, out);
        const std::string stateTopic = ConverterTopic(options_.topicPrefix, live.serial, "state");
        // The clock moves every cycle: only the readings tell a change.
        const std::string readings = StateJson(CalendarTime{}, live);
        if (refresh || readings != lastReadings_) {
            lastReadings_ = readings;
            out[stateTopic] = StateJson(ClockUtc(state.clock, CurrentUtcTime()), live);
        }
        std::set<std::string> replaced;
        if (options_.discovery) {
            DiscoveryOptions discovery;
            discovery.discoveryPrefix = options_.discoveryPrefix;
            discovery.topicPrefix = options_.topicPrefix;
            char firmware[16];
            std::snprintf(firmware, sizeof firmware, "%d.%02d", state.info.versionMajor, state.info.versionMinor);
            discovery.firmware = firmware;
            Update(DiscoveryConfigs(discovery, live), configs_, false, out, &replaced);
        }
        publisher_.Retain(out, replaced);
    }

    void DownloadEnded() override {
        if (running_) publisher_.PokeRecords();
    }

    void Finish() override {
        if (running_) publisher_.Stop();
    }

private:
    // Into `out`: the topics of `now` that differ from `last` (all of them
    // when `all`), and empty payloads for those that went away; into
    // `changed` those that were there with another payload.
    static void Update(const TopicMap& now, TopicMap& last, bool all, TopicMap& out,
                       std::set<std::string>* changed = nullptr) {
        for (const auto& [topic, payload] : now) {
            auto found = last.find(topic);
            const bool differs = found != last.end() && found->second != payload;
            if (differs && changed != nullptr) changed->insert(topic);
            if (all || found == last.end() || differs) out[topic] = payload;
        }
        for (const auto& [topic, payload] : last) {
            if (now.find(topic) == now.end()) out[topic] = "";
        }
        last = now;
    }

    ServeOptions options_;
    Publisher publisher_;
    bool started_ = false;
    bool running_ = false;
    Clock::time_point lastRefresh_ = Clock::now();
    TopicMap values_;
    TopicMap configs_;
    std::string lastReadings_;
};

}  // namespace

int RunServe(const DeviceOptions& device, const RecordOptions& record, const ServeOptions& serve) {
    ServeObserver observer(serve, record.file);
    return RunRecord(device, record, &observer);
}

}  // namespace kx305cli
