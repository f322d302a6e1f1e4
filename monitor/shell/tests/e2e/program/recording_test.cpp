// Recording for minutes as a user leaves the program running: at a log
// interval of two seconds the converter's memory never fills, and a disk
// that fills up on firmware 1.12 (which lets go of its records as it sends
// them) costs no record.  Every record the converter logged ends in the
// registration file exactly once, or is still in the converter.
#include "live_fixture.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "resources/messages.h"
#include "resources/resource.h"

namespace kx305::e2e {
namespace {

// Stamps that occur more than once, as "stamp xcount".
std::string Doubled(const std::vector<int64_t>& stamps) {
    std::map<int64_t, int> seen;
    for (int64_t s : stamps) ++seen[s];
    std::string text;
    for (const auto& [stamp, n] : seen) {
        if (n > 1) text += " " + std::to_string(stamp) + "x" + std::to_string(n);
    }
    return text;
}

using ShortLogInterval = QuickStart;

// 2-s log period and a memory of 40 records (80 s of logging) on firmware
// 1.13 at the real line rate: recording for three minutes empties the
// memory as it goes, the converter drops nothing, and the records from the
// first after the period was set to the last before logging stopped are
// all there, once: in the file, or still in the converter.
TEST_F(ShortLogInterval, MemoryStaysBelowItsCapacity) {
    constexpr int64_t kPeriod = 2;
    constexpr int64_t kCapacity = 40;
    constexpr auto kRecording = std::chrono::minutes(3);
    const std::string port = EnvironmentPort("KX305_PORT_FW113");
    ASSERT_FALSE(port.empty());
    const std::string before = Simulator(port, "state");
    ASSERT_NO_FATAL_FAILURE(Configure(port, "period 0", "period " + ReplyField(before, "period")));
    ASSERT_NO_FATAL_FAILURE(
        Configure(port, "capacity " + std::to_string(kCapacity), "capacity " + ReplyField(before, "capacity")));
    ASSERT_NO_FATAL_FAILURE(Configure(port, "clear-log"));
    ASSERT_NO_FATAL_FAILURE(Configure(port, "period " + std::to_string(kPeriod)));
    const std::string configured = Simulator(port, "state");
    const auto from = ConverterSeconds(ReplyField(configured, "clock"));
    ASSERT_TRUE(from) << configured;
    const int64_t lostBefore = StateNumber(port, "lost");
    ASSERT_GE(lostBefore, 0);

    ASSERT_NO_FATAL_FAILURE(Start("KX305_PORT_FW113"));
    int64_t most = 0;
    std::string fullest;
    const auto end = std::chrono::steady_clock::now() + kRecording;
    while (std::chrono::steady_clock::now() < end) {
        const std::string state = Simulator(port, "state");
        const int64_t records = std::stoll("0" + ReplyField(state, "records"));
        if (records > most) {
            most = records;
            fullest = state;
        }
        ASSERT_LT(records, kCapacity) << state;
        ASSERT_EQ(std::stoll("0" + ReplyField(state, "lost")), lostBefore) << state;
        Sleep(1000);
    }
    ASSERT_NO_FATAL_FAILURE(Configure(port, "period 0"));
    const std::string stopped = Simulator(port, "state");
    const auto until = ConverterSeconds(ReplyField(stopped, "clock"));
    ASSERT_TRUE(until) << stopped;
    SaveScenarioScreenshot();
    ASSERT_EQ(Close(), std::optional<DWORD>(0));
    // Keeping up also means the memory does not creep towards the top.
    std::cout << "most records held: " << most << " (" << fullest << ")\n";

    const auto stored = FileStamps(TempFile("pomiary.kxg"));
    const auto held = MemoryStamps(port);
    ASSERT_TRUE(stored && held);
    EXPECT_EQ(Doubled(*stored), "") << "records written twice";
    std::set<int64_t> all(stored->begin(), stored->end());
    all.insert(held->begin(), held->end());
    ASSERT_FALSE(all.empty());
    // The converter logs on whole multiples of the period: the first record
    // falls within a period of the clock read after the period was set, the
    // last within one of the clock read after logging stopped, and none is
    // missing between them.
    EXPECT_LE(std::abs(*all.begin() - *from), kPeriod + 1) << "first record " << *all.begin() << ", clock " << *from;
    EXPECT_LE(std::abs(*all.rbegin() - *until), kPeriod + 1) << "last record " << *all.rbegin() << ", clock " << *until;
    std::string missing;
    for (int64_t expected = *all.begin(); expected <= *all.rbegin(); expected += kPeriod) {
        if (!all.count(expected)) missing += " " + std::to_string(expected);
    }
    EXPECT_EQ(missing, "") << "of " << all.size() << " records, " << stored->size() << " in the file, " << held->size()
                           << " held";
    for (int64_t stamp : all) EXPECT_EQ((stamp - *all.begin()) % kPeriod, 0) << stamp;
}

// The registration file lives on a file system of its own, 32 KiB of tmpfs
// bound onto its path, so that it fills up while its waiting file beside it
// (on the ordinary file system) still takes writes.  Mounting needs root;
// the host's shell does it (Wine starts Unix programs too).
class FullDisk : public QuickStart {
protected:
    void SetUp() override {
        QuickStart::SetUp();
        unixDirectory_ = "/tmp/kx305-e2e-disk-" + std::to_string(GetCurrentProcessId());
        directory_ = "Z:" + unixDirectory_;
        std::replace(directory_.begin(), directory_.end(), '/', '\\');
        RemoveDirectoryTree(directory_);
        ASSERT_TRUE(CreateDirectoryA(directory_.c_str(), nullptr)) << directory_;
    }
    void TearDown() override {
        // The program first: it holds the file open.
        QuickStart::TearDown();
        if (mounted_)
            HostShell("umount -l " + unixDirectory_ + "/rec/pomiary.kxg; umount -l " + unixDirectory_ + "/disk");
        RemoveDirectoryTree(directory_);
    }

    // Runs `script` with the host's /bin/sh and returns its exit status and
    // output; -1 when it did not end within 20 s.  Wine gives no handle to
    // wait for on a Unix process, so the script leaves its status in a file.
    std::pair<int, std::string> HostShell(const std::string& script) {
        const std::string status = directory_ + "\\status", output = directory_ + "\\output";
        DeleteFileA(status.c_str());
        {
            std::ofstream file(directory_ + "\\run.sh", std::ios::binary);
            file << "cd " << unixDirectory_ << "\n(\n"
                 << script << "\n) >output 2>&1\n"
                 << "echo $? >status.new && mv status.new status\n";
        }
        std::string command = "Z:\\bin\\sh " + unixDirectory_ + "/run.sh";
        STARTUPINFOA startup = {};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION process = {};
        if (!CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
            return {-1, "CreateProcess " + std::to_string(GetLastError())};
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
        std::optional<std::string> code;
        ui::WaitUntil([&] { return (code = FileBytes(status)).has_value() && !code->empty(); }, Milliseconds(20000));
        return {code ? std::atoi(code->c_str()) : -1, FileBytes(output).value_or("")};
    }

    std::string RegistrationFile() const { return directory_ + "\\rec\\pomiary.kxg"; }
    std::string WaitingFile() const { return RegistrationFile() + ".pending"; }

    std::string unixDirectory_, directory_;
    bool mounted_ = false;
};

// Firmware 1.12 hands over 200 records; the file takes what fits in 32 KiB.
// The program tells it from the UI thread (the live display goes on under
// the box), the rest wait in the waiting file, and once the disk has room
// the next download writes them first: all 200 in the file, once each.
TEST_F(FullDisk, RefusedRecordsWaitBesideTheFileUntilItTakesThem) {
    constexpr size_t kRecords = 200;
    const std::string port = EnvironmentPort("KX305_PORT_FW112");
    ASSERT_FALSE(port.empty());
    const std::string before = Simulator(port, "state");
    // No logging while the scenario runs: the converter logs only these.
    ASSERT_NO_FATAL_FAILURE(Configure(port, "period 0", "period " + ReplyField(before, "period")));
    ASSERT_NO_FATAL_FAILURE(Configure(port, "clear-log"));
    ASSERT_NO_FATAL_FAILURE(Configure(port, "fill " + std::to_string(kRecords)));
    const auto logged = MemoryStamps(port);
    ASSERT_TRUE(logged);
    ASSERT_EQ(logged->size(), kRecords);

    const auto [mountStatus, mountOutput] = HostShell(
        "mkdir -p disk rec && mount -t tmpfs -o size=32k kx305-e2e disk && touch disk/pomiary.kxg rec/pomiary.kxg &&"
        " mount --bind disk/pomiary.kxg rec/pomiary.kxg");
    mounted_ = mountStatus != -1;
    if (mountStatus != 0) GTEST_SKIP() << "no small file system here (mount as root): " << mountOutput;

    ASSERT_NO_FATAL_FAILURE(Start("KX305_PORT_FW112", RegistrationFile()));
    const auto box = WaitMessageBox(Milliseconds(60000));
    ASSERT_TRUE(box) << "no message: " << ui::LastError();
    EXPECT_EQ(box->text, kx305mon::messages::kExportFailed);
    // The box belongs to the UI thread: the worker goes on polling and the
    // converter's clock moves on under it.
    const std::string clock = Panel(IDC_CONVERTER_STATUS);
    EXPECT_TRUE(WaitPanel(
        IDC_CONVERTER_STATUS, [&](const std::string& t) { return t != clock; }, Milliseconds(5000)))
        << clock;
    SaveScenarioScreenshot();

    // The converter let go of everything; the file holds a part, the
    // waiting file the rest, in order, and together exactly the records.
    EXPECT_EQ(StateNumber(port, "records"), 0);
    const auto written = FileStamps(RegistrationFile());
    const auto waiting = FileStamps(WaitingFile());
    ASSERT_TRUE(written && waiting) << "unreadable: " << (written ? WaitingFile() : RegistrationFile());
    EXPECT_GT(written->size(), 0u);
    EXPECT_GT(waiting->size(), 0u);
    std::vector<int64_t> together = *written;
    together.insert(together.end(), waiting->begin(), waiting->end());
    EXPECT_EQ(together, *logged) << written->size() << " in the file, " << waiting->size() << " waiting";
    std::cout << "disk full: " << written->size() << " records in the file, " << waiting->size() << " waiting\n";
    EXPECT_TRUE(ui::PressMessageBoxButton(*box, IDOK));

    // Room again: the next download stores what waits.  Boxes of the
    // downloads before it are answered as they come.
    const auto [growStatus, growOutput] = HostShell("mount -o remount,size=4m disk");
    ASSERT_EQ(growStatus, 0) << growOutput;
    std::optional<std::vector<int64_t>> stored;
    EXPECT_TRUE(ui::WaitUntil(
        [&] {
            if (auto again = ui::WaitForMessageBox(program().id(), Milliseconds(0))) {
                EXPECT_EQ(again->text, kx305mon::messages::kExportFailed);
                ui::PressMessageBoxButton(*again, IDOK);
            }
            stored = FileStamps(RegistrationFile());
            return stored && stored->size() >= kRecords &&
                   GetFileAttributesA(WaitingFile().c_str()) == INVALID_FILE_ATTRIBUTES;
        },
        Milliseconds(90000)))
        << (stored ? stored->size() : 0) << " records in the file";
    EXPECT_EQ(Close(), std::optional<DWORD>(0));
    stored = FileStamps(RegistrationFile());
    ASSERT_TRUE(stored);
    EXPECT_EQ(*stored, *logged) << "doubled:" << Doubled(*stored);
}

}  // namespace
}  // namespace kx305::e2e
