#include "diagnostic_log.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <mutex>

#include "local_clock.h"

namespace kx305 {
namespace {

constexpr char kOldSuffix[] = ".old";

// Plain members only: the sink outlives the library's static destructors,
// since the unload hook still writes to it.
struct Sink {
    std::mutex mutex;
    std::FILE* file = nullptr;
    char path[4096] = {};
    char oldPath[4096 + sizeof kOldSuffix] = {};
    uint64_t sizeLimit = 0;
};
Sink g_sink;

void CloseLocked() {
    if (g_sink.file != nullptr) std::fclose(g_sink.file);
    g_sink.file = nullptr;
}

// After every line: a file grown past the limit moves to ".old" and a new,
// empty one takes its place.  Any failing step leaves the sink closed.
void RotateLocked() {
    if (g_sink.sizeLimit == 0 || g_sink.file == nullptr) return;
    const long size = std::ftell(g_sink.file);
    if (size >= 0 && static_cast<uint64_t>(size) <= g_sink.sizeLimit) return;
    const int closed = std::fclose(g_sink.file);
    g_sink.file = nullptr;
    if (closed != 0) return;
    std::error_code error;
    if (std::filesystem::exists(g_sink.oldPath, error) || error) return;
    if (std::rename(g_sink.path, g_sink.oldPath) != 0) return;
    g_sink.file = std::fopen(g_sink.path, "wt");
}

}  // namespace

bool OpenDiagnosticLog(const char* path, uint64_t sizeLimit) {
    std::lock_guard<std::mutex> lock(g_sink.mutex);
    CloseLocked();
    const size_t length = std::strlen(path);
    if (length == 0 || length >= sizeof g_sink.path) return false;
    std::memcpy(g_sink.path, path, length + 1);
    std::memcpy(g_sink.oldPath, path, length);
    std::memcpy(g_sink.oldPath + length, kOldSuffix, sizeof kOldSuffix);
    g_sink.sizeLimit = sizeLimit;
    g_sink.file = std::fopen(path, "at");
    return g_sink.file != nullptr;
}

void CloseDiagnosticLog() {
    std::lock_guard<std::mutex> lock(g_sink.mutex);
    CloseLocked();
}

int LogMessage(const char* format, ...) {
    std::lock_guard<std::mutex> lock(g_sink.mutex);
    if (g_sink.file == nullptr) return 0;

    char message[kMaxLogMessage + 1];
    va_list args;
    va_start(args, format);
    std::vsnprintf(message, sizeof message, format, args);
    va_end(args);

    std::tm now{};
    LocalTimeNow(now);
    std::fprintf(g_sink.file, "%04d.%02d.%02d %02d:%02d:%02d ", now.tm_year + 1900, now.tm_mon + 1, now.tm_mday,
                 now.tm_hour, now.tm_min, now.tm_sec);
    std::fputs(message, g_sink.file);
    std::fputc('\n', g_sink.file);
    std::fflush(g_sink.file);
    RotateLocked();
    return g_sink.file != nullptr ? 1 : 0;
}

}  // namespace kx305
