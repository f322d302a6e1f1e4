// Compiled, never run, by check.cmake: with KX305_TAKE_LOCK it stores a
// guarded field of the live state under the live-state lock and must
// compile; without, it stores it unguarded and clang's -Wthread-safety must
// reject it.
#include "acquisition/app_context.h"
#include "acquisition/thread_annotations.h"

namespace kx305mon {

void StorePort(AppContext& context, int32_t port) {
#ifdef KX305_TAKE_LOCK
    MutexLock guard(context.plumbing.lock);
#endif
    context.port = port;
}

}  // namespace kx305mon
