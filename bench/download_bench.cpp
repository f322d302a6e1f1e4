// A download of the logging memory at the line's pace, as the program runs
// it: the polling worker's download operation against kx305sim --pace
// (firmware 1.12, which hands its memory over on the request, and 1.13,
// which is read and then cleared), from the operation's start to the flush
// that puts the last record in the registration file, beside the time the
// bytes the converter sent take on a 9600-baud 8N1 line (10 bits a byte),
// the physical limit.  The converter's bytes are counted by a relay between
// the simulator's terminal and the one the driver opens, which also tells
// when the last of them arrived.  Each run starts a fresh converter holding
// the records and an empty registration file; the two firmwares' runs go
// side by side.  Sizes 0 and 30 show the fixed cost.
//
//   download_bench [RUNS]     (default 3 of each size, about 2 minutes)
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "acquisition/app_context.h"
#include "acquisition/events.h"
#include "acquisition/polling_worker.h"
#include "instruments/catalogue.h"
#include "recording/file.h"
#include "recording/registration_file.h"
#include "line_tap.h"
#include "sim_process.h"

namespace {

using namespace kx305mon;
using kx305bench::Clock;
using kx305bench::LineTap;
using kx305bench::NowNs;

constexpr double kLineBytesPerSecond = 960.0;  // 9600 baud, 8N1: 10 bits a byte

// The registration file, noting every flush: when, how large the file was
// then, and how far the converter's bytes had come.
class TimedFile final : public ForwardingFile {
public:
    struct FlushMark {
        int64_t atNs;
        int64_t size;
        uint64_t converterBytes;
        int64_t lastByteNs;
    };
    TimedFile(std::unique_ptr<FileStream> file, const LineTap& tap)
        : ForwardingFile(*file), file_(std::move(file)), tap_(tap) {}

    bool Flush() override {
        bool flushed = file_->Flush();
        FlushMark mark{NowNs(), file_->Size(), tap_.toHost(), tap_.lastToHostNs()};
        std::lock_guard<std::mutex> guard(mutex_);
        marks_.push_back(mark);
        return flushed;
    }

    void ForgetMarks() {
        std::lock_guard<std::mutex> guard(mutex_);
        marks_.clear();
    }
    std::vector<FlushMark> Marks() {
        std::lock_guard<std::mutex> guard(mutex_);
        return marks_;
    }

private:
    std::unique_ptr<FileStream> file_;
    const LineTap& tap_;
    std::mutex mutex_;
    std::vector<FlushMark> marks_;
};

// Marks the start of the download operation (zeroing the line's counts)
// and waits for its end; everything else the worker reports is ignored.
class DownloadWatch final : public AcquisitionEvents {
public:
    DownloadWatch(LineTap& tap, TimedFile& file) : tap_(tap), file_(file) {}

    void InputChanged(WindowRef, int) override {}
    void LiveData(WindowRef, const ConverterInfo*, const ClockRecord*, const InputReading*, AppContext&) override {}
    void RainGauge(WindowRef, uint32_t) override {}
    void CycleDone(WindowRef) override {}
    void ConnectionLost(WindowRef) override {}
    void DownloadProgress(WindowRef, unsigned) override {}
    void ClockSet(Requester, bool) override {}
    void LogPeriodRead(Requester, unsigned) override {}
    void LogPeriodWritten(Requester, bool) override {}
    void Failure(WindowRef, AcquisitionFailure) override {}

    void DownloadStarted(WindowRef) override {
        // The worker's cycle traffic stays out of the download's count.
        tap_.Reset();
        file_.ForgetMarks();
        startedNs_ = NowNs();
    }
    void DownloadFinished(WindowRef, const DownloadReport& report) override {
        std::lock_guard<std::mutex> guard(mutex_);
        if (finished_) return;
        finished_ = true;
        finishedNs_ = NowNs();
        report_ = report;
        converterBytes_ = tap_.toHost();
        hostBytes_ = tap_.toConverter();
        done_.notify_all();
    }

    bool Wait(std::chrono::seconds timeout) {
        std::unique_lock<std::mutex> guard(mutex_);
        return done_.wait_for(guard, timeout, [&] { return finished_; });
    }

    int64_t startedNs() const { return startedNs_; }
    int64_t finishedNs() const { return finishedNs_; }
    const DownloadReport& report() const { return report_; }
    uint64_t converterBytes() const { return converterBytes_; }
    uint64_t hostBytes() const { return hostBytes_; }

private:
    LineTap& tap_;
    TimedFile& file_;
    std::mutex mutex_;
    std::condition_variable done_;
    bool finished_ = false;
    std::atomic<int64_t> startedNs_{0};
    int64_t finishedNs_ = 0;
    DownloadReport report_;
    uint64_t converterBytes_ = 0;
    uint64_t hostBytes_ = 0;
};

struct Run {
    bool ok = false;
    std::string problem;
    double storedMs = 0;             // operation start -> flush with every record in the file
    double finishedMs = 0;           // operation start -> its end (1.13: after the clear)
    double afterLastByteMs = 0;      // the converter's last byte before that flush -> the flush
    uint64_t converterBytes = 0;     // by that flush
    uint64_t converterBytesAll = 0;  // the whole operation
    uint64_t hostBytes = 0;          // the whole operation's requests
};

Run Download(const std::string& firmware, unsigned records) {
    Run run;
    LineTap tap;
    if (!tap.Start()) {
        run.problem = "no pty pair";
        return run;
    }
    std::string error;
    auto sim = kx305sim::SimProcess::Start({"--tty", tap.converterPath(), "--firmware", firmware, "--prefill",
                                            std::to_string(records), "--period", "0", "--no-drift", "--pace"},
                                           &error);
    if (!sim) {
        run.problem = "kx305sim: " + error;
        return run;
    }
    const std::string path = sim->dir() + "/pomiary.kxg";
    std::unique_ptr<FileStream> plain = OpenFile(path, FileMode::Recording);
    if (!plain) {
        run.problem = "cannot create " + path;
        return run;
    }
    auto timed = std::make_unique<TimedFile>(std::move(plain), tap);
    TimedFile& file = *timed;
    DownloadWatch watch(tap, file);

    {
        AppContext context;
        context.plumbing.events = &watch;
        context.mainWindow = 102;
        const std::string hostPath = tap.hostPath();
        context.plumbing.portNamer = [hostPath](int32_t) { return hostPath; };
        context.port = 1;
        context.recordingInterval = 3600;  // one download per run
        std::snprintf(context.registrationPath, sizeof context.registrationPath, "%s", path.c_str());
        context.registrationFile = std::move(timed);
        if (!StartPollingWorker(context)) {
            run.problem = "the polling worker did not start";
            return run;
        }
        const bool finished = watch.Wait(std::chrono::seconds(records / 5 + 60));
        StopPollingWorker(context);
        if (!finished) {
            run.problem = "no download within the time allowed";
            return run;
        }

        RecordList stored;
        {
            MutexLock guard(context.plumbing.lock);
            ReadRegistrationFile(context.registrationFile.get(), stored);
        }
        const DownloadReport& report = watch.report();
        if (stored.size() != records || report.store != DownloadReport::Store::Stored) {
            run.problem = "the file holds " + std::to_string(stored.size()) + " records";
            return run;
        }
        const std::vector<TimedFile::FlushMark> marks = file.Marks();
        if (marks.empty()) {
            run.problem = "the file was never flushed";
            return run;
        }
        const TimedFile::FlushMark& last = marks.back();
        run.storedMs = double(last.atNs - watch.startedNs()) / 1e6;
        run.afterLastByteMs = double(last.atNs - last.lastByteNs) / 1e6;
        run.converterBytes = last.converterBytes;
        run.finishedMs = double(watch.finishedNs() - watch.startedNs()) / 1e6;
        run.converterBytesAll = watch.converterBytes();
        run.hostBytes = watch.hostBytes();
    }
    const std::string state = sim->Control("state");
    if (state.find(" records=0 ") == std::string::npos) {
        run.problem = "the converter still holds records: " + state;
        return run;
    }
    run.ok = true;
    return run;
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

}  // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::atoi(argv[1]) : 3;
    if (runs < 1) {
        std::fprintf(stderr, "usage: download_bench [RUNS]\n");
        return 2;
    }
    // The records' rain-gauge serial comes from the settings, not the converter.
    rainGaugeSettings().serial = 1234;

    struct Firmware {
        const char* version;
        const char* how;
    };
    const Firmware firmwares[] = {{"1.12", "GetLog"}, {"1.13", "PeekLog+clear"}};
    const unsigned sizes[] = {0, 30, 300};

    std::printf(
        "Paced download (kx305sim --pace) through the polling worker into a registration file, %d run%s "
        "each;\nline time = the converter's bytes up to the last record stored at 9600 baud 8N1; "
        "requests = the host's bytes\n(not paced by the simulator: a real line adds their time)\n\n",
        runs, runs == 1 ? "" : "s");
    std::fflush(stdout);
    std::printf("%-19s %7s %28s %9s %9s %6s %11s %11s %9s\n", "firmware", "records", "request->stored ms med (min-max)",
                "bytes", "line ms", "ratio", "last byte->", "to end ms", "requests");
    std::printf("%-19s %7s %28s %9s %9s %6s %11s %11s %9s\n", "", "", "", "", "", "", "stored ms", "(clear)", "bytes");
    // The two firmwares' converters run side by side (each download waits
    // on its own line's pace); the runs of one size follow each other.
    constexpr size_t kFirmwares = sizeof firmwares / sizeof firmwares[0];
    std::vector<Run> results[kFirmwares][sizeof sizes / sizeof sizes[0]];
    for (size_t s = 0; s < sizeof sizes / sizeof sizes[0]; ++s) {
        for (int i = 0; i < runs; ++i) {
            std::vector<std::thread> side;
            for (size_t f = 0; f < kFirmwares; ++f) {
                results[f][s].emplace_back();
                Run* slot = &results[f][s].back();
                side.emplace_back(
                    [slot, &firmwares, f, size = sizes[s]] { *slot = Download(firmwares[f].version, size); });
            }
            for (std::thread& t : side) t.join();
        }
    }

    bool clean = true;
    for (size_t f = 0; f < kFirmwares; ++f) {
        const Firmware& fw = firmwares[f];
        for (size_t s = 0; s < sizeof sizes / sizeof sizes[0]; ++s) {
            const unsigned size = sizes[s];
            std::vector<double> stored, afterLast, finished;
            uint64_t bytes = 0, bytesAll = 0, hostBytes = 0;
            int i = 0;
            for (const Run& run : results[f][s]) {
                ++i;
                if (!run.ok) {
                    std::printf("  %s, %u records, run %d: %s\n", fw.version, size, i, run.problem.c_str());
                    clean = false;
                    continue;
                }
                stored.push_back(run.storedMs);
                afterLast.push_back(run.afterLastByteMs);
                finished.push_back(run.finishedMs);
                bytes = std::max(bytes, run.converterBytes);
                bytesAll = std::max(bytesAll, run.converterBytesAll);
                hostBytes = std::max(hostBytes, run.hostBytes);
            }
            if (stored.empty()) continue;
            const double lineMs = double(bytes) / kLineBytesPerSecond * 1000;
            const double median = Median(stored);
            char spread[64];
            std::snprintf(spread, sizeof spread, "%.0f (%.0f-%.0f)", median,
                          *std::min_element(stored.begin(), stored.end()),
                          *std::max_element(stored.begin(), stored.end()));
            std::string name = std::string(fw.version) + " " + fw.how;
            std::printf("%-19s %7u %28s %9llu %9.0f %6.3f %11.1f %11.0f %9llu\n", name.c_str(), size, spread,
                        (unsigned long long)bytes, lineMs, median / lineMs, Median(afterLast), Median(finished),
                        (unsigned long long)hostBytes);
            if (bytesAll != bytes) {
                std::printf("%-19s %7s   after the store (clock read, clear): %llu more bytes\n", "", "",
                            (unsigned long long)(bytesAll - bytes));
            }
        }
    }
    return clean ? 0 : 1;
}
