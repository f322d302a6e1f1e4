// Loading and unloading libkx305.so: the log opened from the environment,
// and handles left open closed at unload.
#include <dlfcn.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <future>
#include <regex>
#include <string>
#include <vector>

#include "fake_converter.h"
#include "kx305.h"

namespace kx305 {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

std::vector<std::string> Messages(const fs::path& path) {
    std::ifstream in(path);
    std::vector<std::string> messages;
    for (std::string line; std::getline(in, line);) messages.push_back(line.size() > 20 ? line.substr(20) : line);
    return messages;
}

TEST(LibraryUnload, ReportsAndClosesHandlesLeftOpen) {
    const fs::path log = fs::temp_directory_path() / ("kx305-unload-" + std::to_string(getpid()) + ".log");
    fs::remove(log);
    ASSERT_EQ(setenv("KX305_LOG", log.c_str(), 1), 0);

    void* library = dlopen(KX305_LIBRARY_PATH, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(library, nullptr) << dlerror();
    auto open = reinterpret_cast<decltype(&KX305Open)>(dlsym(library, "KX305Open"));
    ASSERT_NE(open, nullptr);

    testing::FakeConverter first;
    testing::FakeConverter second;
    KX305Handle a = nullptr;
    KX305Handle b = nullptr;
    ASSERT_EQ(open(&a, first.path().c_str()), KX305_STATUS_OK);
    ASSERT_EQ(open(&b, second.path().c_str()), KX305_STATUS_OK);

    auto unloading = std::async(std::launch::async, [library] { return dlclose(library); });
    ASSERT_EQ(unloading.wait_for(5s), std::future_status::ready) << "unload hangs";
    EXPECT_EQ(unloading.get(), 0);
    EXPECT_TRUE(first.SlaveClosed());
    EXPECT_TRUE(second.SlaveClosed());
    unsetenv("KX305_LOG");

    const auto messages = Messages(log);
    fs::remove(log);
    ASSERT_EQ(messages.size(), 8u);
    EXPECT_EQ(messages[0], "Start programu");
    EXPECT_EQ(messages[1], "Open(\"" + first.path() + "\"): Ok");
    EXPECT_EQ(messages[2], "Open(\"" + second.path() + "\"): Ok");
    EXPECT_EQ(messages[3], "Koniec programu");
    static const std::regex unclosed("Niezamkniety uchwyt: [0-9a-f]+");
    EXPECT_TRUE(std::regex_match(messages[4], unclosed)) << messages[4];
    EXPECT_EQ(messages[5], "Close(): Ok");
    EXPECT_TRUE(std::regex_match(messages[6], unclosed)) << messages[6];
    EXPECT_NE(messages[4], messages[6]);
    EXPECT_EQ(messages[7], "Close(): Ok");
}

}  // namespace
}  // namespace kx305
