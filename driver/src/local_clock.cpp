#include "local_clock.h"

#include <atomic>
#include <mutex>

namespace kx305 {
namespace {

constinit std::atomic<LocalDateProvider> g_dateProvider{nullptr};
// std::localtime hands out one shared record; the driver's threads take
// turns with it.
std::mutex g_localtimeMutex;

}  // namespace

bool LocalTimeNow(std::tm& out) {
    const std::time_t now = std::time(nullptr);
    std::lock_guard<std::mutex> lock(g_localtimeMutex);
    const std::tm* local = std::localtime(&now);
    if (local == nullptr) return false;
    out = *local;
    return true;
}

LocalDate CurrentLocalDate() {
    if (const LocalDateProvider provider = g_dateProvider.load()) return provider();
    std::tm now{};
    if (!LocalTimeNow(now)) return LocalDate{1970, 1, 1};
    return LocalDate{now.tm_year + 1900, now.tm_mon + 1, now.tm_mday};
}

void SetLocalDateProvider(LocalDateProvider provider) { g_dateProvider.store(provider); }

}  // namespace kx305
