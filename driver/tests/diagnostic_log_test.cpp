// The diagnostic log: line format, cutting, percent signs, rotation, and the
// lines the exported functions write.
#include "diagnostic_log.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "kx305.h"
#include "temporary_directory.h"

namespace kx305 {
namespace {

namespace fs = std::filesystem;

std::vector<std::string> Lines(const fs::path& path) {
    std::ifstream in(path);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

// The message part of a line, after checking the time stamp.
std::string MessageOf(const std::string& line) {
    static const std::regex stamp(R"(^\d{4}\.\d{2}\.\d{2} \d{2}:\d{2}:\d{2} )");
    EXPECT_TRUE(std::regex_search(line, stamp)) << line;
    return line.size() >= 20 ? line.substr(20) : std::string();
}

class DiagnosticLog : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(
            dir_.Create(std::string("kx305-log-") + ::testing::UnitTest::GetInstance()->current_test_info()->name()));
        path_ = dir_.path() / "driver.log";
    }
    // The log is closed before the directory goes.
    void TearDown() override { CloseDiagnosticLog(); }

    kx305::support::TemporaryDirectory dir_;
    fs::path path_;
};

TEST_F(DiagnosticLog, ClosedSinkWritesNothing) {
    EXPECT_EQ(LogMessage("dropped %d", 1), 0);
    KX305Handle handle = nullptr;
    EXPECT_EQ(KX305Open(&handle, "/dev/kx305-no-such-port"), KX305_STATUS_PORT_ERROR);
    EXPECT_FALSE(fs::exists(path_));
}

TEST_F(DiagnosticLog, LinesCarryTheTimeAndTheMessageUnchanged) {
    {
        std::ofstream earlier(path_);
        earlier << "earlier run\n";
    }
    ASSERT_TRUE(OpenDiagnosticLog(path_.c_str(), 0));
    EXPECT_EQ(LogMessage("Start programu"), 1);
    KX305Handle handle = nullptr;
    // A percent sign in an argument is not read as a format.
    EXPECT_EQ(KX305Open(&handle, "/dev/no%s%d%%port"), KX305_STATUS_PORT_ERROR);
    LogMessage("%s", std::string(400, 'x').c_str());
    LogMessage("GetLog(): błąd - brak pamięci");
    CloseDiagnosticLog();

    const auto lines = Lines(path_);
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_EQ(lines[0], "earlier run") << "the log is appended to";
    EXPECT_EQ(MessageOf(lines[1]), "Start programu");
    EXPECT_EQ(MessageOf(lines[2]), "Open(\"/dev/no%s%d%%port\"): failed, error code = 6");
    EXPECT_EQ(MessageOf(lines[3]), std::string(kMaxLogMessage, 'x'));
    // Compiled in the same code page as the library: the bytes match.
    EXPECT_EQ(MessageOf(lines[4]), "GetLog(): błąd - brak pamięci");
}

TEST_F(DiagnosticLog, GrownFileMovesToOldOnceThenTheSinkCloses) {
    ASSERT_TRUE(OpenDiagnosticLog(path_.c_str(), 100));
    const fs::path old = path_.string() + ".old";
    int written = 0;
    while (!fs::exists(old) && written < 10) written += LogMessage("line %d of the first file", written);
    ASSERT_TRUE(fs::exists(old));
    EXPECT_GT(fs::file_size(old), 100u);
    EXPECT_EQ(fs::file_size(path_), 0u) << "a new, empty file";
    const auto firstFile = Lines(old);
    EXPECT_EQ(static_cast<int>(firstFile.size()), written);

    // The next rotation would replace ".old": it fails and the sink closes.
    int more = 0;
    while (more < 10 && LogMessage("line %d of the second file", more) == 1) ++more;
    EXPECT_LT(more, 10);
    EXPECT_EQ(LogMessage("after the failed rotation"), 0);
    EXPECT_EQ(Lines(old), firstFile);
    for (const auto& line : Lines(path_)) EXPECT_EQ(line.find("after"), std::string::npos);
}

TEST_F(DiagnosticLog, LinesOfManyThreadsDoNotInterleave) {
    ASSERT_TRUE(OpenDiagnosticLog(path_.c_str(), 0));
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([t] {
            for (int i = 0; i < 200; ++i) LogMessage("thread %d line %03d %s", t, i, std::string(100, 'a' + t).c_str());
        });
    for (auto& th : threads) th.join();
    CloseDiagnosticLog();
    const auto lines = Lines(path_);
    ASSERT_EQ(lines.size(), 800u);
    static const std::regex whole(R"(thread (\d) line \d{3} ([a-d])\2{99})");
    for (const auto& line : lines) EXPECT_TRUE(std::regex_match(MessageOf(line), whole)) << line;
}

}  // namespace
}  // namespace kx305
