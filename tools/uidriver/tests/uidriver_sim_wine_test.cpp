// The simulators' control channel from a Windows program: each COM port's
// simulator is reached through its TCP bridge (scripts/wine-sim-run).
#include <fstream>
#include <sstream>

#include <gtest/gtest.h>

#include "uidriver.h"

namespace kx305::ui {
namespace {

std::string PortOf(const char* variable) {
    char value[64] = {};
    GetEnvironmentVariableA(variable, value, sizeof value);
    return value;
}

TEST(SimulatorControl, EachPortReachesItsOwnSimulator) {
    struct Case {
        const char* variable;
        const char* serial;
    };
    for (const Case c : {Case{"KX305_PORT_FW113", "3051"}, Case{"KX305_PORT_FW101", "1011"},
                         Case{"KX305_PORT_FW104", "1041"}, Case{"KX305_PORT_FW112", "1121"}}) {
        const std::string port = PortOf(c.variable);
        ASSERT_FALSE(port.empty()) << c.variable;
        const auto reply = SimulatorCommand(port, "state");
        ASSERT_TRUE(reply) << c.variable << ": " << LastError();
        EXPECT_EQ(reply->rfind("ok ", 0), 0u) << *reply;
        EXPECT_NE(reply->find(std::string(" serial=") + c.serial + " "), std::string::npos) << *reply;
    }
}

TEST(SimulatorControl, CommandsChangeTheSimulatorAndErrorsComeBack) {
    const std::string port = PortOf("KX305_PORT_FW112");
    auto rain = [&]() -> long {
        const auto reply = SimulatorCommand(port, "state");
        if (!reply) return -1;
        const size_t at = reply->find(" rain=");
        return at == std::string::npos ? -1 : std::stol(reply->substr(at + 6));
    };
    const long before = rain();
    ASSERT_GE(before, 0) << LastError();
    const auto added = SimulatorCommand(port, "rain 25");
    ASSERT_TRUE(added) << LastError();
    EXPECT_EQ(added->rfind("ok", 0), 0u) << *added;
    EXPECT_EQ(rain(), before + 25);

    const auto unknown = SimulatorCommand(port, "nonsense");
    ASSERT_TRUE(unknown) << LastError();
    EXPECT_EQ(unknown->rfind("error", 0), 0u) << *unknown;
    EXPECT_FALSE(SimulatorCommand(port, "state\nstate"));
    // No simulator, no channel.
    EXPECT_FALSE(SimulatorCommand(PortOf("KX305_PORT_MISSING"), "state"));
    EXPECT_FALSE(SimulatorControlAddress("COM77"));
    EXPECT_EQ(SimulatorControlAddress("\\\\.\\com5"), SimulatorControlAddress("COM5"));
}

TEST(SimulatorControl, ConsoleToolRelaysCommandsAndReplies) {
    struct Case {
        std::vector<std::string> arguments;
        DWORD exitCode;
        const char* replyStart;
    };
    const std::string out = ExecutableDirectory() + "\\kx305ui-sim.out";
    // The firmware 1.12 port by its plain name, the 1.13 one by its device
    // path (the ports differ between runs that overlap).
    const std::string fw112 = PortOf("KX305_PORT_FW112");
    ASSERT_NE(fw112.find("COM"), std::string::npos) << "run through scripts/wine-sim-run";
    const std::string plain112 = fw112.substr(fw112.find("COM"));
    const std::string fw113 = PortOf("KX305_PORT_FW113");
    for (const Case& c :
         {Case{{"sim", plain112, "state"}, 0, "ok firmware=1.12 serial=1121 "},
          Case{{"sim", fw113, "input", "1"}, 0, "ok "}, Case{{"sim", plain112, "rain", "minus"}, 1, "error"}}) {
        StartOptions options;
        options.arguments = c.arguments;
        options.standardOutput = out;
        auto run = Start(ExecutableDirectory() + "\\kx305ui.exe", options);
        ASSERT_TRUE(run) << LastError();
        EXPECT_EQ(run->WaitExit(std::chrono::seconds(10)), c.exitCode) << c.arguments[2];
        std::ifstream in(out, std::ios::binary);
        std::ostringstream text;
        text << in.rdbuf();
        EXPECT_EQ(text.str().rfind(c.replyStart, 0), 0u) << text.str();
        EXPECT_EQ(text.str().find('\r'), std::string::npos);
    }
}

}  // namespace
}  // namespace kx305::ui
