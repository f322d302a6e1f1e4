// The locale in force: a fixed or adjusted locale installed by the tests or
// the command line, else the user's own.
#include "instruments/locale.h"

#include <atomic>

#include "locale_backend.h"

namespace kx305mon {
namespace {

// Read by every formatting call on any thread; installed before workers start.
std::atomic<const NumberLocale*> g_override{nullptr};

}  // namespace

const NumberLocale& CurrentLocale() {
    const NumberLocale* locale = g_override.load();
    return locale != nullptr ? *locale : UserLocale();
}

void SetLocaleOverride(const NumberLocale* locale) { g_override.store(locale); }

}  // namespace kx305mon
