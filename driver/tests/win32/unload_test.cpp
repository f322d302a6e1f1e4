// Unloading kx305.dll with handles still open, in a child process
// (kx305_unload_child) so that a hang or a crash of the unload is seen as
// such: by FreeLibrary, where DllMain runs under the loader lock while the
// handles' threads still run, and by process exit, where those threads are
// already gone.  Both must finish, report both handles in the log and, for
// FreeLibrary, release the ports.
#include <windows.h>

#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "test_support.h"

namespace kx305::wintest {
namespace {

std::string ExeDirectory() {
    char path[MAX_PATH] = {};
    const DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string dir(path, n);
    return dir.substr(0, dir.find_last_of("\\/") + 1);
}

class UnloadTest : public ::testing::Test {
protected:
    void SetUp() override {
        char dir[MAX_PATH] = {};
        GetTempPathA(MAX_PATH, dir);
        char file[MAX_PATH] = {};
        ASSERT_NE(GetTempFileNameA(dir, "kxl", 0, file), 0u);
        logPath_ = file;
        DeleteFileA(logPath_.c_str());
    }
    void TearDown() override { DeleteFileA(logPath_.c_str()); }

    // Runs the child with the library's log in logPath_; its exit code.
    DWORD RunChild(const std::string& mode, const std::string& portA, const std::string& portB) {
        std::string command = "\"" + ExeDirectory() + "kx305_unload_child.exe\" " + mode + " " + portA + " " + portB;
        SetEnvironmentVariableA("KX305_LOG", logPath_.c_str());
        STARTUPINFOA startup{};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION process{};
        const BOOL started =
            CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process);
        SetEnvironmentVariableA("KX305_LOG", nullptr);
        if (!started) {
            ADD_FAILURE() << "cannot start " << command << ": error " << GetLastError();
            return 0xFFFFFFFF;
        }
        CloseHandle(process.hThread);
        DWORD code = 0xFFFFFFFF;
        if (WaitForSingleObject(process.hProcess, 60000) == WAIT_OBJECT_0) {
            GetExitCodeProcess(process.hProcess, &code);
        } else {
            ADD_FAILURE() << mode << ": the child did not finish within 60 s";
            TerminateProcess(process.hProcess, 0xDEAD);
            WaitForSingleObject(process.hProcess, 10000);
        }
        CloseHandle(process.hProcess);
        return code;
    }

    // The log's messages about start, stop, opening and left-over handles,
    // without their time stamps; every line must carry one.
    std::vector<std::string> LoggedEvents() {
        std::ifstream in(logPath_);
        const std::regex line(R"(\d{4}\.\d{2}\.\d{2} \d{2}:\d{2}:\d{2} (.*))");
        const std::regex event(R"((Start programu|Koniec programu|Open\(.*|Niezamkniety uchwyt: .*))");
        std::vector<std::string> events;
        std::string text;
        while (std::getline(in, text)) {
            std::smatch m;
            if (!std::regex_match(text, m, line)) {
                ADD_FAILURE() << "log line without time stamp: " << text;
                continue;
            }
            if (std::regex_match(m[1].str(), event)) events.push_back(m[1].str());
        }
        return events;
    }

    std::string logPath_;
};

// Checks "Niezamkniety uchwyt: %x" and gives the number.
unsigned long LeftOpenEntry(const std::string& event) {
    std::smatch m;
    const std::regex pattern(R"(Niezamkniety uchwyt: ([0-9a-f]+))");
    if (!std::regex_match(event, m, pattern)) {
        ADD_FAILURE() << "not a left-open handle line: " << event;
        return 0;
    }
    return std::stoul(m[1].str(), nullptr, 16);
}

std::string Opened(const std::string& port) { return "Open(\"" + port + "\"): Ok"; }

// One load of the library from `first` on: start, both ports opened, end,
// and then, if any, two different left-open handles.
void ExpectSession(const std::vector<std::string>& events, size_t first, const std::string& a, const std::string& b,
                   bool handlesLeftOpen) {
    ASSERT_GE(events.size(), first + (handlesLeftOpen ? 6 : 4)) << ::testing::PrintToString(events);
    EXPECT_EQ(events[first], "Start programu");
    EXPECT_EQ(events[first + 1], Opened(a));
    EXPECT_EQ(events[first + 2], Opened(b));
    EXPECT_EQ(events[first + 3], "Koniec programu");
    if (handlesLeftOpen) {
        EXPECT_NE(LeftOpenEntry(events[first + 4]), LeftOpenEntry(events[first + 5]));
    }
}

TEST_F(UnloadTest, FreeLibraryWithTwoOpenHandlesClosesThemAndReleasesThePorts) {
    const std::string a = SimPort("KX305_PORT_FW113");
    const std::string b = SimPort("KX305_PORT_SILENT");
    ASSERT_EQ(RunChild("free", a, b), 0u);

    const std::vector<std::string> events = LoggedEvents();
    EXPECT_EQ(events.size(), 10u) << ::testing::PrintToString(events);
    ExpectSession(events, 0, a, b, true);
    // The second load opened both ports again and closed them itself.
    ExpectSession(events, 6, a, b, false);
}

TEST_F(UnloadTest, ProcessExitWithTwoOpenHandlesReportsThem) {
    const std::string a = SimPort("KX305_PORT_FW112");
    const std::string b = SimPort("KX305_PORT_SILENT");
    ASSERT_EQ(RunChild("exit", a, b), 0u);

    const std::vector<std::string> events = LoggedEvents();
    EXPECT_EQ(events.size(), 6u) << ::testing::PrintToString(events);
    ExpectSession(events, 0, a, b, true);
}

}  // namespace
}  // namespace kx305::wintest
