// Polish texts are UTF-8 in the sources and code page 1250 in the Windows
// binaries, and the Wine runner gives programs a Polish ANSI code page, so
// a text from outside arrives in the same bytes as our own literals.
#include <windows.h>

#include <cstring>
#include <string>

#include <gtest/gtest.h>

namespace {

// Every Polish letter, small and capital.
const char kPolish[] = "zażółć gęślą jaźń ĄĆĘŁŃÓŚŹŻ";
const unsigned char kPolishCp1250[] = {0x7A, 0x61, 0xBF, 0xF3, 0xB3, 0xE6, 0x20, 0x67, 0xEA,
                                       0x9C, 0x6C, 0xB9, 0x20, 0x6A, 0x61, 0x9F, 0xF1, 0x20,
                                       0xA5, 0xC6, 0xCA, 0xA3, 0xD1, 0xD3, 0x8C, 0x8F, 0xAF};

std::string Bytes(const void* data, size_t size) { return std::string(static_cast<const char*>(data), size); }

TEST(PolishText, LiteralsAreCompiledToCodePage1250ByteForByte) {
    EXPECT_EQ(Bytes(kPolish, sizeof kPolish - 1), Bytes(kPolishCp1250, sizeof kPolishCp1250));
}

TEST(PolishText, ProgramsRunWithThePolishAnsiCodePage) {
    EXPECT_EQ(GetACP(), 1250u);
    // The system reads our bytes as the Polish letters.
    wchar_t wide[64] = {};
    const int n = MultiByteToWideChar(CP_ACP, 0, kPolish, -1, wide, 64);
    EXPECT_EQ(std::wstring(wide, n > 0 ? n - 1 : 0), L"zażółć gęślą jaźń ĄĆĘŁŃÓŚŹŻ");
}

// ctest sets KX305_POLISH_SAMPLE in UTF-8; Wine converts it on the way in.
TEST(PolishText, TextFromTheEnvironmentArrivesInCodePage1250) {
    char value[256] = {};
    const DWORD n = GetEnvironmentVariableA("KX305_POLISH_SAMPLE", value, sizeof value);
    ASSERT_GT(n, 0u) << "KX305_POLISH_SAMPLE is not set";
    EXPECT_EQ(Bytes(value, n), Bytes(kPolishCp1250, sizeof kPolishCp1250));
}

}  // namespace
