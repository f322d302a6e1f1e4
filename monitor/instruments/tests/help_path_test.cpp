#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "instruments/help_path.h"

namespace kx305mon {
namespace {

TEST(HelpPath, ReplacesTheProgramsExtension) {
    EXPECT_EQ(HelpPathFor("C:\\prog\\konw.exe", ".HLP"), "C:\\prog\\konw.HLP");
    EXPECT_EQ(HelpPathFor("C:\\prog\\kx305mon.v2.exe", ".HLP"), "C:\\prog\\kx305mon.v2.HLP");
    EXPECT_EQ(HelpPathFor("/opt/kx305/kx305mon.bin", ".HLP"), "/opt/kx305/kx305mon.HLP");
}

TEST(HelpPath, DotsInDirectoriesAreNotExtensions) {
    EXPECT_EQ(HelpPathFor("C:\\a.b\\prog.exe", ".HLP"), "C:\\a.b\\prog.HLP");
    EXPECT_EQ(HelpPathFor("C:\\a.b\\prog", ".HLP"), "C:\\a.b\\prog.HLP");
    EXPECT_EQ(HelpPathFor("/home/u/v1.2/kx305mon", ".HLP"), "/home/u/v1.2/kx305mon.HLP");
    EXPECT_EQ(HelpPathFor("C:/a.b/prog", ".HLP"), "C:/a.b/prog.HLP");
}

TEST(HelpPath, ALeadingDotNamesAHiddenFile) {
    EXPECT_EQ(HelpPathFor("/home/u/.kx305mon", ".HLP"), "/home/u/.kx305mon.HLP");
    EXPECT_EQ(HelpPathFor("prog.exe", ".HLP"), "prog.HLP");
}

TEST(HelpPath, UnknownProgramPathGivesNoHelpFile) { EXPECT_EQ(HelpPathFor("", ".HLP"), ""); }

TEST(HelpPath, UsesTheRunningProgramsOwnPath) {
    char buffer[4096];
    EXPECT_EQ(HelpFilePath(buffer, sizeof buffer, ".HLP"), buffer);
    const std::string path = buffer;
    ASSERT_GT(path.size(), 4u);
    EXPECT_EQ(path.substr(path.size() - 4), ".HLP");
    const size_t nameStart = path.find_last_of("\\/");
    ASSERT_NE(nameStart, std::string::npos);
    EXPECT_EQ(path.substr(nameStart + 1), "instruments_test.HLP");
}

TEST(HelpPath, ResultIsCutToTheBuffer) {
    char full[4096];
    HelpFilePath(full, sizeof full, ".HLP");
    char small[6];
    std::memset(small, 'x', sizeof small);
    EXPECT_EQ(HelpFilePath(small, sizeof small, ".HLP"), small);
    EXPECT_EQ(std::string(small), std::string(full, 5));
    char untouched[4] = "abc";
    HelpFilePath(untouched, 0, ".HLP");
    EXPECT_STREQ(untouched, "abc");
}

}  // namespace
}  // namespace kx305mon
