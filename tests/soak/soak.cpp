#include "soak.h"

#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <sstream>
#include <thread>

#include "recording/file.h"
#include "recording/registration_file.h"

namespace kx305soak {
namespace {

using Clock = std::chrono::steady_clock;
using kx305cli::testing::Process;
using kx305cli::testing::ProcessResult;

double Now() { return std::chrono::duration<double>(Clock::now().time_since_epoch()).count(); }

void Sleep(double seconds) { std::this_thread::sleep_for(std::chrono::duration<double>(seconds)); }

std::vector<std::string> Words(const std::string& text) {
    std::istringstream in(text);
    std::vector<std::string> words;
    for (std::string w; in >> w;) words.push_back(w);
    return words;
}

std::vector<std::string> Lines(const std::string& text) {
    std::istringstream in(text);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);)
        if (!line.empty()) lines.push_back(line);
    return lines;
}

// "Name: N" among the lines of `out`; 0 when the line is not there.
uint64_t SummaryNumber(const std::string& out, const std::string& name) {
    for (const std::string& line : Lines(out))
        if (line.rfind(name + ": ", 0) == 0) return std::strtoull(line.c_str() + name.size() + 2, nullptr, 10);
    return 0;
}

// "MM-DD HH:MM:SS.hh" (the simulator's stamps) -> "MM-DD HH:MM:SS".
std::string WithoutHundredths(const std::string& date, const std::string& time) {
    return date + " " + time.substr(0, 8);
}

std::string StampOf(const kx305mon::MemoryRecord& record) {
    char text[32];
    std::snprintf(text, sizeof text, "%02u-%02u %02u:%02u:%02u", record.time.month, record.time.day, record.time.hour,
                  record.time.minute, record.time.second);
    return text;
}

// How often each time stamp stands in the registration file, by its reader.
std::map<std::string, uint64_t> StoredStamps(const std::string& path, std::string* last = nullptr) {
    std::map<std::string, uint64_t> stamps;
    std::unique_ptr<kx305mon::FileStream> file = kx305mon::OpenFile(path, kx305mon::FileMode::Reading);
    if (file == nullptr) return stamps;
    kx305mon::RecordList records;
    kx305mon::ReadRegistrationFile(file.get(), records);
    for (const kx305mon::MemoryRecord& record : records) ++stamps[StampOf(record)];
    if (last != nullptr) *last = records.empty() ? "" : StampOf(records[records.size() - 1]);
    return stamps;
}

// Requests for the logging memory (codes 8 and 14) in a "received" reply.
uint64_t DownloadRequests(const std::string& received) {
    uint64_t count = 0;
    for (const std::string& word : Words(received)) {
        if (word.rfind("codes=", 0) != 0) continue;
        std::istringstream in(word.substr(6));
        for (std::string entry; std::getline(in, entry, ',');) {
            const size_t colon = entry.find(':');
            if (colon == std::string::npos) continue;
            const int code = std::atoi(entry.substr(0, colon).c_str());
            if (code == 8 || code == 14) count += std::strtoull(entry.c_str() + colon + 1, nullptr, 10);
        }
    }
    return count;
}

std::string OneLine(const std::string& text, size_t limit) {
    std::string joined;
    for (const std::string& line : Lines(text)) joined += (joined.empty() ? "" : " | ") + line;
    if (joined.size() > limit) joined = joined.substr(0, limit) + "...";
    return joined;
}

}  // namespace

bool Outcome::Clean(bool memoryMayFill) const {
    return problems.empty() && account.doubled == 0 && account.unaccounted == 0 && account.foreign == 0 &&
           (memoryMayFill || account.dropped == 0);
}

Soak::Soak(std::string name, const std::vector<std::string>& simArgs) {
    outcome_.name = std::move(name);
    startSeconds_ = Now();
    char pattern[] = "/tmp/kx305soak.XXXXXX";
    if (mkdtemp(pattern) == nullptr) {
        Problem("no temporary directory");
        return;
    }
    dir_ = pattern;
    file_ = dir_ + "/record.kxg";
    journal_ = dir_ + "/journal";
    std::vector<std::string> args = simArgs;
    args.insert(args.end(), {"--journal", journal_});
    std::string error;
    sim_ = kx305sim::SimProcess::Start(args, &error);
    if (sim_ == nullptr) Problem("kx305sim did not start: " + error);
}

Soak::~Soak() {
    sim_.reset();
    std::error_code ignored;
    if (!dir_.empty()) std::filesystem::remove_all(dir_, ignored);
}

std::string Soak::Control(const std::string& command) {
    if (sim_ == nullptr) return "error no simulator";
    const std::string reply = sim_->Control(command);
    if (reply.rfind("ok", 0) != 0) Problem("control '" + command + "': " + reply);
    return reply;
}

std::unique_ptr<Process> Soak::Launch(const std::vector<std::string>& extraArgs, uint64_t fileSizeLimit) {
    // A converter still sending the rest of a download that its recorder
    // gave up keeps the line busy for many seconds; the next recorder is
    // started once it has finished.
    WaitForQuietLine(120000);
    const std::map<std::string, std::string> environment = {
        {"TZ", "UTC"},
        {"LC_ALL", "C.UTF-8"},
        {"PATH", "/usr/bin:/bin"},
        {"TMPDIR", dir_},
        {"KX305SIM", kx305sim::SimulatorPath()},
    };
    std::vector<std::string> args = {"record", file_, "--port", sim_ ? sim_->port() : "/dev/null", "--timeout", "30"};
    args.insert(args.end(), extraArgs.begin(), extraArgs.end());
    if (fileSizeLimit == 0) return std::make_unique<Process>(KX305CLI_PATH, args, environment);
    args.insert(args.begin(), {"--fsize=" + std::to_string(fileSizeLimit), "--", KX305CLI_PATH});
    return std::make_unique<Process>("/usr/bin/prlimit", args, environment);
}

void Soak::Finish(Process& run, int timeoutMs) {
    const ProcessResult result = run.Wait(timeoutMs);
    const uint64_t written = SummaryNumber(result.out, "Records written");
    const uint64_t lost = SummaryNumber(result.out, "Records lost");
    outcome_.account.written += written;
    outcome_.account.reportedLost += lost;
    std::string text = "run " + std::to_string(outcome_.runs.size() + 1) + ": exit " +
                       (result.exitCode < 0 ? std::string("by signal or killed") : std::to_string(result.exitCode)) +
                       "; " + OneLine(result.out, 200);
    if (!result.err.empty()) text += "; stderr: " + OneLine(result.err, 400);
    outcome_.runs.push_back(text);
}

void Soak::Record(double seconds, uint64_t fileSizeLimit) {
    char duration[32];
    std::snprintf(duration, sizeof duration, "%g", seconds);
    std::unique_ptr<Process> run = Launch({"--duration", duration}, fileSizeLimit);
    Finish(*run, static_cast<int>(seconds * 1000) + 90000);
}

bool Soak::WaitForDownload(int timeoutMs) {
    if (sim_ == nullptr) return false;
    const uint64_t before = DownloadRequests(sim_->Control("received"));
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (Clock::now() < deadline) {
        if (DownloadRequests(sim_->Control("received")) > before) return true;
        Sleep(0.01);
    }
    Problem("no download began within " + std::to_string(timeoutMs) + " ms");
    return false;
}

bool Soak::WaitForQuietLine(int timeoutMs) {
    if (sim_ == nullptr) return false;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (Clock::now() < deadline) {
        const std::string sent = sim_->Control("sent");
        if (sent.rfind("ok", 0) == 0 && sent.find(" queued=0") != std::string::npos) return true;
        Sleep(0.05);
    }
    Problem("the converter was still sending after " + std::to_string(timeoutMs) + " ms");
    return false;
}

void Soak::TearTail(uint64_t bytes) {
    std::error_code error;
    const uint64_t size = std::filesystem::file_size(file_, error);
    if (error || size < bytes) {
        Problem("cannot tear " + std::to_string(bytes) + " bytes off the file");
        return;
    }
    std::filesystem::resize_file(file_, size - bytes, error);
    if (error) Problem("cannot tear the file: " + error.message());
}

std::vector<std::string> Soak::Held() {
    const std::vector<std::string> words = Words(Control("memory"));
    std::vector<std::string> stamps;
    // "ok count=N" and then a date and a time per record.
    for (size_t i = 2; i + 1 < words.size(); i += 2) stamps.push_back(WithoutHundredths(words[i], words[i + 1]));
    return stamps;
}

std::string Soak::LastStored() {
    std::string last;
    StoredStamps(file_, &last);
    return last;
}

Outcome Soak::Conclude() {
    Account& a = outcome_.account;
    if (sim_ == nullptr) return outcome_;
    // No record is logged from here on, so the memory and the journal agree.
    Control("period 0");
    std::map<std::string, int> held;
    for (const std::string& stamp : Held()) ++held[stamp];
    const std::map<std::string, uint64_t> stored = StoredStamps(file_);

    std::map<std::string, int> logged;
    std::ifstream journal(journal_);
    for (std::string line; std::getline(journal, line);) {
        const std::vector<std::string> words = Words(line);
        if (words.size() != 3) {
            Problem("journal line '" + line + "'");
            continue;
        }
        if (words[0] == "dropped") {
            ++a.dropped;
        } else if (++logged[WithoutHundredths(words[1], words[2])] == 2) {
            Problem("two records logged at " + WithoutHundredths(words[1], words[2]));
        }
    }
    for (const auto& [stamp, count] : logged) {
        a.logged += static_cast<uint64_t>(count);
        const auto copies = stored.find(stamp);
        if (copies != stored.end()) {
            ++a.stored;
            a.doubled += copies->second - 1;
        } else if (held.count(stamp) != 0) {
            ++a.held;
        } else {
            ++a.missing;
        }
    }
    for (const auto& [stamp, copies] : stored)
        if (logged.count(stamp) == 0) a.foreign += copies;
    a.unaccounted = a.missing > a.reportedLost ? a.missing - a.reportedLost : 0;
    a.overReported = a.reportedLost > a.missing ? a.reportedLost - a.missing : 0;
    a.seconds = Now() - startSeconds_;
    return outcome_;
}

std::vector<Outcome> RunScenarios(const std::vector<Scenario>& scenarios) {
    std::vector<Outcome> outcomes(scenarios.size());
    std::vector<std::thread> threads;
    // Each simulator is tied to the thread that starts it, which lives
    // until its scenario is over.
    for (size_t i = 0; i < scenarios.size(); ++i) {
        threads.emplace_back([&, i] {
            Soak soak(scenarios[i].name, scenarios[i].simArgs);
            if (soak.ok()) scenarios[i].script(soak);
            outcomes[i] = soak.Conclude();
        });
    }
    for (std::thread& t : threads) t.join();
    return outcomes;
}

std::vector<Scenario> BoundedScenarios() {
    std::vector<Scenario> s;
    // The driver asks again after a lost frame; firmware up to 1.12 has let
    // go of its memory with the first request.
    s.push_back(
        {"1.12 drop 2%", {"--firmware", "1.12", "--period", "1", "--prefill", "150", "--seed", "7"}, [](Soak& soak) {
             soak.Control("fault drop 2%");
             soak.Record(4);
             soak.Record(4);
             soak.Control("fault off");
             soak.Record(2);
         }});
    // The converter takes a GetLog (its memory emptied) and falls silent
    // before it answers; the driver asks again until it speaks, and gets
    // only what was logged since: the silent try's records are reported
    // lost with their number.
    s.push_back({"1.12 silent in download",
                 {"--firmware", "1.12", "--period", "1", "--prefill", "20", "--pace"},
                 [](Soak& soak) {
                     std::unique_ptr<Process> run = soak.Launch({"--duration", "35"});
                     if (soak.WaitForDownload(40000)) {
                         soak.Control("fault silent-from 8");
                         if (soak.WaitForDownload(40000)) Sleep(4);
                     }
                     soak.Control("fault silent off");
                     soak.Finish(*run);
                     soak.Record(3);
                 }});
    s.push_back({"1.12 Ctrl-C in download",
                 {"--firmware", "1.12", "--period", "2", "--prefill", "80", "--pace"},
                 [](Soak& soak) {
                     std::unique_ptr<Process> run = soak.Launch({});
                     if (soak.WaitForDownload()) Sleep(0.5);
                     run->Signal(SIGINT);
                     soak.Finish(*run, 60000);
                     soak.Record(3);
                 }});
    // At a short log interval the memory must be emptied as fast as it fills.
    s.push_back({"1.13 2-s interval 40 s",
                 {"--firmware", "1.13", "--period", "2", "--capacity", "16", "--pace"},
                 [](Soak& soak) { soak.Record(40); },
                 false});
    // A record cut short at the end of the file while the converter still
    // holds it (at a 1-s interval a paced download is never followed by a
    // clear): only that record may be written again.
    s.push_back(
        {"1.13 torn tail", {"--firmware", "1.13", "--period", "1", "--prefill", "10", "--pace"}, [](Soak& soak) {
             soak.Record(2);
             const std::string last = soak.LastStored();
             const std::vector<std::string> held = soak.Held();
             if (last.empty() || std::find(held.begin(), held.end(), last) == held.end())
                 soak.Problem("the converter no longer holds the record to be torn (" + last + ")");
             soak.TearTail(4);
             soak.Record(2);
         }});
    s.push_back({"1.05 vanish in download",
                 {"--firmware", "1.05", "--period", "2", "--prefill", "60", "--pace"},
                 [](Soak& soak) {
                     std::unique_ptr<Process> run = soak.Launch({"--duration", "8"});
                     if (soak.WaitForDownload()) Sleep(0.3);
                     soak.Control("vanish 2");
                     soak.Finish(*run);
                     soak.Record(3);
                 }});
    s.push_back({"1.12 file size limit", {"--firmware", "1.12", "--period", "1", "--prefill", "30"}, [](Soak& soak) {
                     soak.Record(2, 3000);
                     soak.Record(2);
                 }});
    s.push_back({"1.13 60-s corrupt delay silent",
                 {"--firmware", "1.13", "--period", "60", "--prefill", "30", "--seed", "3"},
                 [](Soak& soak) {
                     soak.Control("fault corrupt 3%");
                     soak.Control("fault delay 200");
                     std::unique_ptr<Process> run = soak.Launch({"--duration", "8"});
                     Sleep(2);
                     soak.Control("fault silent on");
                     Sleep(3);
                     soak.Control("fault silent off");
                     soak.Finish(*run);
                     soak.Control("fault off");
                     soak.Record(2);
                 }});
    return s;
}

Scenario MixedScenario(const std::string& firmware, int period, double seconds, uint32_t seed) {
    Scenario scenario;
    scenario.name = firmware + " " + std::to_string(period) + "-s mixed";
    scenario.simArgs = {"--firmware",         firmware,    "--period", std::to_string(period), "--pace", "--seed",
                        std::to_string(seed), "--prefill", "50"};
    scenario.script = [seconds, seed](Soak& soak) {
        std::mt19937 random(seed);
        auto pick = [&](int n) { return static_cast<int>(random() % static_cast<uint32_t>(n)); };
        const double end = Now() + seconds;
        while (Now() < end) {
            soak.Control("fault off");
            const char* const drops[] = {"0", "1%", "3%"};
            const char* const corrupts[] = {"0", "1%", "3%"};
            const char* const delays[] = {"0", "100", "400"};
            soak.Control(std::string("fault drop ") + drops[pick(3)]);
            soak.Control(std::string("fault corrupt ") + corrupts[pick(3)]);
            soak.Control(std::string("fault delay ") + delays[pick(3)]);
            const double length = 4 + pick(22);
            switch (pick(6)) {
            case 0: {  // Ctrl-C in the middle of a download
                std::unique_ptr<Process> run = soak.Launch({});
                if (soak.WaitForDownload()) Sleep(0.05 * pick(20));
                run->Signal(SIGINT);
                soak.Finish(*run, 60000);
                break;
            }
            case 1: {  // the converter leaves the line in a download
                std::unique_ptr<Process> run = soak.Launch({"--duration", std::to_string(length)});
                if (soak.WaitForDownload()) Sleep(0.05 * pick(20));
                soak.Control("vanish " + std::to_string(1 + pick(3)));
                soak.Finish(*run);
                break;
            }
            case 2: {  // a silent spell
                std::unique_ptr<Process> run = soak.Launch({"--duration", std::to_string(length)});
                Sleep(length / 3);
                soak.Control("fault silent on");
                Sleep(1 + pick(4));
                soak.Control("fault silent off");
                soak.Finish(*run);
                break;
            }
            case 3: {  // a torn tail from the run before
                // A write burst is torn only before the converter lets go of
                // its records (the clear follows the flush; firmware up to
                // 1.12 let go before the burst, and a crash then loses them
                // beyond any account): tear only what the converter holds.
                const std::string last = soak.LastStored();
                const std::vector<std::string> held = soak.Held();
                if (!last.empty() && std::find(held.begin(), held.end(), last) != held.end())
                    soak.TearTail(1 + static_cast<uint64_t>(pick(6)));
                soak.Record(length);
                break;
            }
            case 4: {  // a disk that takes only a little more
                std::error_code error;
                const uint64_t size = std::filesystem::file_size(soak.file(), error);
                soak.Record(length, (error ? 0 : size) + 500 + static_cast<uint64_t>(pick(3000)));
                break;
            }
            default:
                soak.Record(length);
                break;
            }
        }
        soak.Control("fault off");
        soak.Record(3);
    };
    return scenario;
}

std::string Table(const std::vector<Outcome>& outcomes) {
    std::string text;
    char line[256];
    std::snprintf(line, sizeof line, "%-32s %7s %7s %5s %6s %8s %12s %8s %8s\n", "scenario", "logged", "stored", "held",
                  "lost", "doubled", "unaccounted", "dropped", "foreign");
    text += line;
    for (const Outcome& o : outcomes) {
        const Account& a = o.account;
        std::snprintf(line, sizeof line, "%-32s %7llu %7llu %5llu %6llu %8llu %12llu %8llu %8llu\n", o.name.c_str(),
                      (unsigned long long)a.logged, (unsigned long long)a.stored, (unsigned long long)a.held,
                      (unsigned long long)a.reportedLost, (unsigned long long)a.doubled,
                      (unsigned long long)a.unaccounted, (unsigned long long)a.dropped, (unsigned long long)a.foreign);
        text += line;
    }
    return text;
}

std::string Details(const Outcome& outcome) {
    std::string text = outcome.name + ":\n";
    const Account& a = outcome.account;
    text += "  missing " + std::to_string(a.missing) + ", reported lost beyond the missing " +
            std::to_string(a.overReported) + ", records written by the runs' count " + std::to_string(a.written) + "\n";
    for (const std::string& run : outcome.runs) text += "  " + run + "\n";
    for (const std::string& problem : outcome.problems) text += "  problem: " + problem + "\n";
    return text;
}

}  // namespace kx305soak
