// Start-up of kx305mon.exe: the command line, the first run on an empty
// settings key, the quick start and what a second copy may do.
#include "program_fixture.h"

#include "resources/messages.h"
#include "resources/resource.h"

namespace kx305::e2e {
namespace {

namespace msg = kx305mon::messages;

using StartUp = ProgramTest;

TEST_F(StartUp, BadCommandLinesEndWithOneAfterTheMessage) {
    for (const std::vector<std::string>& arguments :
         {std::vector<std::string>{"-P"}, {"-P12"}, {"-X"}, {"-Dx"}, {"foo", "-p2", "-q"}}) {
        SCOPED_TRACE(arguments.back());
        ASSERT_TRUE(Launch(arguments));
        const auto box = AnswerMessageBox(msg::kBadCommandLine, IDOK);
        ASSERT_TRUE(box);
        EXPECT_EQ(program().WaitExit(kExitWait), std::optional<DWORD>(1));
        // Nothing is stored on the way out.
        EXPECT_FALSE(ui::RegistryKeyExists(kSettingsKey));
    }
}

TEST_F(StartUp, QuickStartOpensTheMainWindowAndClosesWithZero) {
    const std::string port = EnvironmentPort("KX305_PORT_FW113");
    ASSERT_TRUE(WriteQuickStart(port)) << ui::LastError();
    ASSERT_TRUE(Launch());
    ASSERT_TRUE(WaitMainWindow()) << ui::LastError();
    EXPECT_EQ(ui::WindowText(main()), kTitle);
    EXPECT_FALSE(ui::WaitForMessageBox(program().id(), Milliseconds(1500))) << "a quick start asks nothing";
    EXPECT_EQ(Close(), std::optional<DWORD>(0));
}

}  // namespace
}  // namespace kx305::e2e
