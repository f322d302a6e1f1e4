// The command line: every option, the words that are ignored, the lines
// that are refused, and what the accepted ones change.
#include <gtest/gtest.h>

#include <string>

#include "shell/command_line.h"
#include "shell_fixture.h"

namespace kx305mon::testing {
namespace {

TEST(CommandLineOptions, AcceptedAndRefusedLines) {
    struct Case {
        const char* line;
        bool valid;
        int32_t port;
        bool save;
    };
    const Case cases[] = {
        {"", true, 0, false},        {"   \t ", true, 0, false},  {"-D", true, 0, true},
        {"-d", true, 0, true},       {"-P5", true, 5, false},     {"-p5", true, 5, false},
        {"-P1", true, 1, false},     {"-P9", true, 9, false},     {"-P0", true, 0, false},
        {"-P3 -P7", true, 7, false}, {"-P3 -P0", true, 3, false}, {"-P5 -D", true, 5, true},
        {"-D\t-p2", true, 2, true},  {"foo -p2", true, 2, false}, {"foo bar=-P3 C:\\plik.kxg", true, 0, false},
        {"-P", false, 0, false},     {"-P12", false, 0, false},   {"-PA", false, 0, false},
        {"-X", false, 0, false},     {"-Dx", false, 0, false},    {"-DD", false, 0, false},
        {"-", false, 0, false},      {"--P3", false, 0, false},   {"-P5 -X -D", false, 0, false},
        {"-P3 -p", false, 0, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        const CommandLineOptions options = ParseCommandLineOptions(c.line);
        EXPECT_EQ(options.valid, c.valid);
        if (!c.valid) continue;
        EXPECT_EQ(options.port, c.port);
        EXPECT_EQ(options.saveSettings, c.save);
    }
}

class CommandLineTest : public ShellTest {};

// -p5 is for this run only: nothing reaches the store.
TEST_F(CommandLineTest, PortWithoutSaveChangesOnlyThisRun) {
    EXPECT_TRUE(ParseCommandLine(context, "-p5", store));
    EXPECT_EQ(context.port, 5);
    EXPECT_EQ(store.ValueCount(), 0u);
    EXPECT_TRUE(ParseCommandLine(context, "-P0", store));
    EXPECT_EQ(context.port, 5);
}

// The port is stored before the save: -P3 -D keeps port 3 with all the
// other settings.
TEST_F(CommandLineTest, SaveStoresThePortOfTheSameLineWithEverySetting) {
    for (const char* line : {"-P3 -D", "-D -P3"}) {
        SCOPED_TRACE(line);
        store = MemorySettingsStore();
        EXPECT_TRUE(ParseCommandLine(context, line, store));
        EXPECT_EQ(store.ValueCount(), 10u);
        EXPECT_EQ(StoredNumber("Port"), 3u);
        EXPECT_EQ(StoredNumber("Flags"), 0x1FFu);
    }
}

TEST_F(CommandLineTest, RefusedLineChangesNothing) {
    EXPECT_FALSE(ParseCommandLine(context, "-P5 -X -D", store));
    EXPECT_EQ(context.port, PORT_NONE);
    EXPECT_EQ(store.ValueCount(), 0u);
    EXPECT_FALSE(store.HasKey(kSettingsKeyPath));
}

}  // namespace
}  // namespace kx305mon::testing
