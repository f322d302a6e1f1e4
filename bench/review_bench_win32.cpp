// Reviewing a large registration file in kx305mon.exe, operated from this
// process as a user would: the time from "O&K" in the read-source dialog
// (122, another file) to the first record in the memory viewer (104),
// beside ReadRegistrationFile alone on the same file; the program's memory
// with the viewer open beside this process's growth for the same
// RecordList; and the viewer's step time near the first and near the last
// record.
//
//   review_bench [MEGABYTES [STEPS]]   (default 100 MB, 50 steps)
//
// Runs under Wine with a display and the simulators (bench/review_bench.sh):
// the program starts live on KX305_PORT_FW113, with KX305MON_EXE.  The file
// and the program's own registration file live in a temporary directory of
// this run, removed at the end, as is the program's settings key.
#include <windows.h>

#include <commctrl.h>
#include <psapi.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "program_driver.h"
#include "recording/file.h"
#include "recording/registration_file.h"
#include "resources/resource.h"
#include "station_records.h"
#include "uidriver.h"

namespace {

using namespace kx305mon;
using kx305::ui::Milliseconds;
using Clock = std::chrono::steady_clock;
namespace e2e = kx305::e2e;
namespace ui = kx305::ui;

constexpr char kReadSourceTitle[] = "Odczyt pamięci";
constexpr char kViewerTitle[] = "Zawartość pamięci rejestrującej";
constexpr Milliseconds kDialogWait{20000};
constexpr Milliseconds kStepWait{20000};
// Reading the whole file in the program's UI thread.
constexpr Milliseconds kOpenWait{600000};

double SecondsSince(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }
double MsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

struct Memory {
    double privateMB = 0;     // PrivateUsage of GetProcessMemoryInfo
    double workingSetMB = 0;  // WorkingSetSize
    double committedMB = 0;   // committed private pages (VirtualQueryEx), -1 when unknown
};

// The committed private pages of the address space: Wine leaves
// PrivateUsage at 0, so this is the private figure that can be compared.
double CommittedPrivateMB(HANDLE process) {
    double bytes = 0;
    MEMORY_BASIC_INFORMATION region;
    for (const char* at = nullptr;
         VirtualQueryEx(process, at, &region, sizeof region) == sizeof region && region.RegionSize > 0;
         at = static_cast<const char*>(region.BaseAddress) + region.RegionSize) {
        if (region.State == MEM_COMMIT && region.Type == MEM_PRIVATE) bytes += static_cast<double>(region.RegionSize);
    }
    return bytes / 1e6;
}

std::optional<Memory> MemoryOf(HANDLE process, HANDLE query) {
    PROCESS_MEMORY_COUNTERS_EX counters = {};
    counters.cb = sizeof counters;
    if (!GetProcessMemoryInfo(process, reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters), sizeof counters))
        return std::nullopt;
    return Memory{counters.PrivateUsage / 1e6, counters.WorkingSetSize / 1e6, query ? CommittedPrivateMB(query) : -1};
}

std::optional<Memory> OwnMemory() { return MemoryOf(GetCurrentProcess(), GetCurrentProcess()); }

// The program's counters through a handle with only the rights they need;
// the walk of its address space needs PROCESS_QUERY_INFORMATION.
std::optional<Memory> MemoryOf(DWORD processId) {
    const HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | PROCESS_VM_READ, FALSE, processId);
    if (!process) return std::nullopt;
    const HANDLE query = OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, processId);
    const auto memory = MemoryOf(process, query);
    if (query) CloseHandle(query);
    CloseHandle(process);
    return memory;
}

Memory Growth(const Memory& from, const Memory& to) {
    return {to.privateMB - from.privateMB, to.workingSetMB - from.workingSetMB,
            from.committedMB < 0 || to.committedMB < 0 ? -1 : to.committedMB - from.committedMB};
}

// The writer writes every line on its own; the file gets them in 1 MB
// pieces, the same bytes in far fewer WriteFile calls.
class BufferedWrites : public FileStream {
public:
    explicit BufferedWrites(std::unique_ptr<FileStream> file) : file_(std::move(file)) { buffer_.reserve(kSize); }
    ~BufferedWrites() override { Drain(); }

    bool Write(const void* data, size_t size) override {
        const char* bytes = static_cast<const char*>(data);
        buffer_.insert(buffer_.end(), bytes, bytes + size);
        return buffer_.size() < kSize || Drain();
    }
    long Read(void* data, size_t size) override { return Drain() ? file_->Read(data, size) : -1; }
    bool SeekToStart() override { return Drain() && file_->SeekToStart(); }
    bool SeekToEnd() override { return Drain() && file_->SeekToEnd(); }
    bool SeekTo(int64_t offset) override { return Drain() && file_->SeekTo(offset); }
    int64_t Position() override { return Drain() ? file_->Position() : -1; }
    bool Truncate() override { return Drain() && file_->Truncate(); }
    bool Flush() override { return Drain() && file_->Flush(); }
    int64_t Size() override { return Drain() ? file_->Size() : -1; }

private:
    static constexpr size_t kSize = 1 << 20;
    bool Drain() {
        const bool ok = buffer_.empty() || file_->Write(buffer_.data(), buffer_.size());
        buffer_.clear();
        return ok;
    }
    std::unique_ptr<FileStream> file_;
    std::vector<char> buffer_;
};

struct WrittenFile {
    int64_t bytes = 0;
    uint32_t records = 0;
    double seconds = 0;
};

std::optional<WrittenFile> WriteStationFile(const std::string& path, int64_t target) {
    auto opened = OpenFile(path, FileMode::Recording);
    if (!opened) return std::nullopt;
    BufferedWrites file(std::move(opened));
    WrittenFile written;
    const auto start = Clock::now();
    while (written.bytes < target) {
        for (int i = 0; i < 1000; ++i) {
            if (!WriteRegistrationRecord(file, kx305bench::StationRecord(written.records++))) return std::nullopt;
        }
        written.bytes = file.Size();
    }
    if (!file.Flush()) return std::nullopt;
    written.seconds = SecondsSince(start);
    return written;
}

// ReadRegistrationFile alone, as the viewer calls it; -1 s when the file
// does not open.
double TimedRead(const std::string& path, RecordList& records, int& count) {
    const auto start = Clock::now();
    auto file = OpenFile(path, FileMode::Reading);
    if (!file) return -1;
    count = ReadRegistrationFile(file.get(), records);
    return SecondsSince(start);
}

// Polls `done` every `pause` until it holds; false after `timeout`.  The
// checks themselves wait for the program's UI thread (they send it
// messages), so with no pause the poll follows the program closely.
bool Poll(const std::function<bool()>& done, Milliseconds timeout, DWORD pause) {
    const auto end = Clock::now() + timeout;
    while (!done()) {
        if (Clock::now() > end) return false;
        Sleep(pause);
    }
    return true;
}

bool StartsWith(const std::string& text, const std::string& head) { return text.rfind(head, 0) == 0; }

std::string RecordHead(int record, int count) {
    return "Rekord " + std::to_string(record) + "/" + std::to_string(count) + " ";
}

int ListRows(HWND list) {
    DWORD_PTR rows = 0;
    if (!SendMessageTimeoutA(list, LVM_GETITEMCOUNT, 0, 0, SMTO_ABORTIFHUNG, 5000, &rows)) return -1;
    return static_cast<int>(rows);
}

struct Steps {
    std::vector<double> ms;
    double Mean() const {
        double sum = 0;
        for (double m : ms) sum += m;
        return ms.empty() ? 0 : sum / ms.size();
    }
    double Median() const {
        if (ms.empty()) return 0;
        std::vector<double> sorted = ms;
        std::sort(sorted.begin(), sorted.end());
        return sorted[sorted.size() / 2];
    }
    double Max() const { return ms.empty() ? 0 : *std::max_element(ms.begin(), ms.end()); }
};

// kx305mon.exe from its start to its end; whatever is left running when
// this ends is closed, and killed when it does not end.
class ProgramRun {
public:
    ~ProgramRun() {
        if (!program_ || !program_->Running()) return;
        if (main_) PostMessageA(main_, WM_CLOSE, 0, 0);
        if (!program_->WaitExit(Milliseconds(10000))) program_->Kill(1);
    }

    bool Start(const std::string& port, const std::string& directory) {
        e2e::EndLeftoverPrograms();
        if (!e2e::WriteSettings(e2e::QuickStartSettings(port, directory + "\\pomiary.kxg"))) return Failed("settings");
        program_ = e2e::StartProgram({}, directory);
        if (!program_) return Failed("start");
        const auto main = e2e::WaitMainWindow(*program_);
        if (!main) return Failed("start");
        main_ = *main;
        // Live data: the start-up (port test, registration file, first
        // download of the converter's records) is over.
        const std::string line = e2e::LiveConverterLine(port);
        const auto status = ui::FindControl(main_, IDC_CONVERTER_STATUS);
        if (line.empty() || !status ||
            !ui::WaitUntil([&] { return StartsWith(ui::WindowText(*status), line); }, e2e::kStartWait))
            return Failed("live readings");
        // The converter logs nothing more: no download during the review.
        if (!StartsWith(e2e::Simulator(port, "period 0"), "ok")) return Failed("simulator");
        return true;
    }

    DWORD id() const { return program_->id(); }

    // Dialog 122 with another file: the box 1059 unticked, `path` typed in;
    // the O&K button, not yet clicked.
    std::optional<HWND> PrepareReadSource(const std::string& path) {
        if (!ui::PostCommand(main_, IDM_READ_MEMORY)) return FailedHwnd("menu");
        const auto dialog = ui::WaitForWindow({kReadSourceTitle, "#32770", id(), true}, kDialogWait);
        if (!dialog) return FailedHwnd("dialog 122");
        const auto box = ui::FindControl(*dialog, IDC_USE_CURRENT_FILE);
        const auto edit = ui::FindControl(*dialog, IDC_FILE_NAME);
        const auto ok = ui::FindControl(*dialog, IDC_OK);
        if (!box || !edit || !ok || !ui::Click(*box) ||
            !ui::WaitUntil([&] { return IsWindowEnabled(*edit) != FALSE; }, kDialogWait) ||
            !ui::SetEditText(*edit, path))
            return FailedHwnd("dialog 122");
        return ok;
    }

    // From the click on O&K (at `clicked`): when dialog 122 was hidden,
    // when the viewer's window was there (still hidden: it reads the file
    // while it initialises), and when the viewer showed record 1 of `count`
    // with its rows.
    struct Opening {
        HWND viewer = nullptr;
        double sourceHiddenMs = -1, viewerCreatedMs = -1, firstRecordMs = -1;
    };
    std::optional<Opening> WaitFirstRecord(HWND source, Clock::time_point clicked, int count) {
        Opening opening;
        // Light checks while the program works: a search of every window
        // each millisecond would take a core from it.
        const auto failed = [&](const char* what) {
            const auto caption = opening.viewer ? ui::FindControl(opening.viewer, IDC_RECORD_CAPTION) : std::nullopt;
            std::fprintf(stderr, "the viewer did not show record 1/%d: %s (caption \"%s\")\n", count, what,
                         caption ? ui::WindowText(*caption).c_str() : "");
            return std::nullopt;
        };
        if (!Poll([&] { return !IsWindowVisible(source); }, kDialogWait, 1)) return failed("dialog 122 stayed");
        opening.sourceHiddenMs = MsSince(clicked);
        const auto created = [&] {
            const auto found = ui::FindWindows({kViewerTitle, "#32770", id(), false});
            if (!found.empty()) opening.viewer = found.front();
            return opening.viewer != nullptr;
        };
        if (!Poll(created, kDialogWait, 10)) return failed("no window");
        opening.viewerCreatedMs = MsSince(clicked);
        if (!Poll([&] { return IsWindowVisible(opening.viewer) != FALSE; }, kOpenWait, 1)) return failed("hidden");
        const auto firstRecord = [&] {
            const auto caption = ui::FindControl(opening.viewer, IDC_RECORD_CAPTION);
            const auto list = ui::FindControl(opening.viewer, IDC_RECORD_LIST);
            return caption && list && StartsWith(ui::WindowText(*caption), RecordHead(1, count)) && ListRows(*list) > 0;
        };
        if (!Poll(firstRecord, kStepWait, 1)) return failed("another caption or no rows");
        opening.firstRecordMs = MsSince(clicked);
        return opening;
    }

    bool CloseProgram() {
        PostMessageA(main_, WM_CLOSE, 0, 0);
        return program_->WaitExit(e2e::kExitWait) == std::optional<DWORD>(0);
    }

private:
    bool Failed(const char* what) {
        std::fprintf(stderr, "kx305mon: %s failed: %s\n", what, ui::LastError().c_str());
        return false;
    }
    std::optional<HWND> FailedHwnd(const char* what) {
        Failed(what);
        return std::nullopt;
    }

    std::optional<ui::Process> program_;
    HWND main_ = nullptr;
};

// The viewer's navigation: one click at a time, each timed until the
// caption names the record it leads to.
class Navigation {
public:
    Navigation(HWND viewer, int count)
        : caption_(*ui::FindControl(viewer, IDC_RECORD_CAPTION)), viewer_(viewer), count_(count) {}

    // `steps` clicks of `button` from `from` (1-based), each `delta` records on.
    std::optional<Steps> Repeat(int button, int from, int delta, int steps) {
        Steps result;
        for (int i = 1; i <= steps; ++i) {
            const auto ms = Click(button, from + i * delta);
            if (!ms) return std::nullopt;
            result.ms.push_back(*ms);
        }
        return result;
    }

    // One click; the time until record `to` (1-based) is shown.
    std::optional<double> Click(int button, int to) {
        const auto control = ui::FindControl(viewer_, button);
        const std::string head = RecordHead(to, count_);
        const auto start = Clock::now();
        if (!control || !ui::Click(*control) ||
            !Poll([&] { return StartsWith(ui::WindowText(caption_), head); }, kStepWait, 0)) {
            std::fprintf(stderr, "button %d did not lead to \"%s\" (caption \"%s\")\n", button, head.c_str(),
                         ui::WindowText(caption_).c_str());
            return std::nullopt;
        }
        return MsSince(start);
    }

private:
    HWND caption_;
    HWND viewer_;
    int count_;
};

std::string TemporaryDirectory() {
    char temp[MAX_PATH] = {};
    if (GetTempPathA(sizeof temp, temp) == 0) return "";
    const std::string directory = std::string(temp) + "kx305-review-bench-" + std::to_string(GetCurrentProcessId());
    e2e::RemoveDirectoryTree(directory);
    return CreateDirectoryA(directory.c_str(), nullptr) ? directory : "";
}

void PrintSteps(const char* name, const Steps& steps) {
    std::printf("  %-34s %8.2f %8.2f %8.2f\n", name, steps.Mean(), steps.Median(), steps.Max());
}

int Run(int64_t megabytes, int stepCount, const std::string& directory) {
    const std::string port = e2e::EnvironmentPort("KX305_PORT_FW113");
    if (port.empty()) {
        std::fprintf(stderr, "KX305_PORT_FW113 is not set: run under scripts/wine-sim-run (bench/review_bench.sh)\n");
        return 1;
    }
    const std::string path = directory + "\\przeglad.kxg";
    const auto written = WriteStationFile(path, megabytes * 1000 * 1000);
    if (!written) {
        std::fprintf(stderr, "cannot write %s\n", path.c_str());
        return 1;
    }
    std::printf("file: %.1f MB, %u records of %.0f bytes, written in %.1f s\n", written->bytes / 1e6, written->records,
                static_cast<double>(written->bytes) / written->records, written->seconds);

    // This process: the read alone, and its growth while it holds the list.
    RecordList records;
    const auto benchBefore = OwnMemory();
    int count = 0;
    const double firstRead = TimedRead(path, records, count);
    const auto benchHolding = OwnMemory();
    FreeRecordList(records);
    if (firstRead < 0 || count <= 0 || !benchBefore || !benchHolding) {
        std::fprintf(stderr, "cannot read %s back\n", path.c_str());
        return 1;
    }
    std::printf("ReadRegistrationFile alone: %.3f s, %d records\n", firstRead, count);
    const Memory benchGrowth = Growth(*benchBefore, *benchHolding);
    std::fflush(stdout);

    ProgramRun program;
    if (!program.Start(port, directory)) return 1;
    const auto before = MemoryOf(program.id());
    const auto ok = program.PrepareReadSource(path);
    if (!before || !ok) return 1;
    const HWND source = GetParent(*ok);
    const auto clicked = Clock::now();
    if (!ui::Click(*ok)) return 1;
    const auto opening = program.WaitFirstRecord(source, clicked, count);
    if (!opening) return 1;
    const HWND viewer = opening->viewer;
    const auto open = MemoryOf(program.id());
    if (!open) return 1;

    Navigation navigation(viewer, count);
    const int steps = std::min(stepCount, count - 1);
    // The viewer's first steps after its opening are slower than the later
    // ones wherever they go: a round of their own, not counted for near the
    // first record.
    const int warmSteps = std::min(10, steps);
    const auto warmNext = navigation.Repeat(IDC_NEXT_RECORD, 1, +1, warmSteps);
    const auto warmPrevious = navigation.Repeat(IDC_PREVIOUS_RECORD, 1 + warmSteps, -1, warmSteps);
    if (!warmNext || !warmPrevious) return 1;
    const auto nextNearFirst = navigation.Repeat(IDC_NEXT_RECORD, 1, +1, steps);
    const auto previousNearFirst = navigation.Repeat(IDC_PREVIOUS_RECORD, 1 + steps, -1, steps);
    const auto last = navigation.Click(IDC_LAST_RECORD, count);
    const auto previousNearLast = navigation.Repeat(IDC_PREVIOUS_RECORD, count, -1, steps);
    const auto nextNearLast = navigation.Repeat(IDC_NEXT_RECORD, count - steps, +1, steps);
    const auto first = navigation.Click(IDC_FIRST_RECORD, 1);
    // Near the first record once more: tells a difference by position from
    // one by the time of the run.
    const auto nextAgain = navigation.Repeat(IDC_NEXT_RECORD, 1, +1, steps);
    const auto previousAgain = navigation.Repeat(IDC_PREVIOUS_RECORD, 1 + steps, -1, steps);
    if (!nextNearFirst || !previousNearFirst || !last || !previousNearLast || !nextNearLast || !first || !nextAgain ||
        !previousAgain)
        return 1;

    const auto closeButton = ui::FindControl(viewer, IDC_CLOSE);
    const auto closing = Clock::now();
    if (!closeButton || !ui::Click(*closeButton) ||
        !Poll([&] { return !IsWindow(viewer) || !IsWindowVisible(viewer); }, kStepWait, 1))
        return 1;
    const double closeMs = MsSince(closing);
    const auto closed = MemoryOf(program.id());
    const bool ended = program.CloseProgram();

    // The read alone once more, after the program, on the same file.
    const double secondRead = TimedRead(path, records, count);
    FreeRecordList(records);
    const double alone = std::min(firstRead, secondRead);

    std::printf("ReadRegistrationFile alone, again after the program: %.3f s\n", secondRead);
    const double toFirst = opening->firstRecordMs / 1000;
    std::printf("\n\"O&K\" in dialog 122 to record 1/%d shown in the viewer 104: %.3f s\n", count, toFirst);
    std::printf("  ratio to ReadRegistrationFile alone (the faster read, %.3f s): %.2f (goal at most 1.5)\n", alone,
                toFirst / alone);
    std::printf(
        "  of which: dialog 122 hidden after %.1f ms, the viewer's window there after %.1f ms,\n"
        "  its opening (reading included) to record 1 shown %.3f s, ratio %.2f to the read alone\n",
        opening->sourceHiddenMs, opening->viewerCreatedMs, (opening->firstRecordMs - opening->viewerCreatedMs) / 1000,
        (opening->firstRecordMs - opening->viewerCreatedMs) / 1000 / alone);

    const auto memoryLine = [](const char* name, const Memory& m, bool growth) {
        const char* format =
            growth ? "  %-30s %+10.1f MB %+10.1f MB %+10.1f MB\n" : "  %-30s %10.1f MB %10.1f MB %10.1f MB\n";
        std::printf(format, name, m.privateMB, m.workingSetMB, m.committedMB);
    };
    std::printf("\nmemory                           PrivateUsage    working set committed private\n");
    memoryLine("kx305mon before dialog 122", *before, false);
    memoryLine("kx305mon with the viewer open", *open, false);
    if (closed) memoryLine("kx305mon, the viewer closed", *closed, false);
    const Memory viewerGrowth = Growth(*before, *open);
    memoryLine("growth with the viewer", viewerGrowth, true);
    memoryLine("this process with the list", benchGrowth, true);
    const auto ratio = [](double a, double b) { return b > 0 ? a / b : 0.0; };
    std::printf("  %-30s %10s    %10.2f    %10.2f\n", "ratio viewer / list", "-",
                ratio(viewerGrowth.workingSetMB, benchGrowth.workingSetMB),
                ratio(viewerGrowth.committedMB, benchGrowth.committedMB));

    std::printf("\nviewer steps, click to caption (ms)  %8s %8s %8s\n", "mean", "median", "max");
    const std::string firstLabel = "near the first record, " + std::to_string(steps) + " x";
    const std::string lastLabel = "near the last record, " + std::to_string(steps) + " x";
    std::printf("  warm-up after the opening, %d x (not counted)\n", warmSteps);
    PrintSteps("next", *warmNext);
    PrintSteps("previous", *warmPrevious);
    std::printf("  %s\n", firstLabel.c_str());
    PrintSteps("next", *nextNearFirst);
    PrintSteps("previous", *previousNearFirst);
    std::printf("  %s\n", lastLabel.c_str());
    PrintSteps("previous", *previousNearLast);
    PrintSteps("next", *nextNearLast);
    std::printf("  %s, again at the end\n", firstLabel.c_str());
    PrintSteps("next", *nextAgain);
    PrintSteps("previous", *previousAgain);
    std::printf("  %-34s %8.2f\n", "last (from record 1)", *last);
    std::printf("  %-34s %8.2f\n", "first (from the last record)", *first);
    // Against both rounds near the first record, the one before and the
    // one after the rounds near the last.
    const auto perStep = [](const Steps& a, const Steps& b) { return (a.Median() + b.Median()) / 2; };
    std::printf(
        "  ratio last/first of the medians (first: both rounds): next %.2f, previous %.2f"
        " (goal: constant)\n",
        nextNearLast->Median() / perStep(*nextNearFirst, *nextAgain),
        previousNearLast->Median() / perStep(*previousNearFirst, *previousAgain));
    std::printf("\n\"Zamknij\" to the viewer gone: %.1f ms; the program ended %s\n", closeMs,
                ended ? "with 0" : "otherwise");
    return ended ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    const int64_t megabytes = argc > 1 ? std::max(1, std::atoi(argv[1])) : 100;
    const int steps = argc > 2 ? std::max(1, std::atoi(argv[2])) : 50;
    const std::string directory = TemporaryDirectory();
    if (directory.empty()) {
        std::fprintf(stderr, "no temporary directory\n");
        return 1;
    }
    const int status = Run(megabytes, steps, directory);
    e2e::RemoveDirectoryTree(directory);
    ui::DeleteRegistryTree(e2e::kSettingsKey);
    return status;
}
