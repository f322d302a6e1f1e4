// Process-wide registry of the open handles.  Every exported function checks
// its handle against it; the unload hook closes whatever is still in it.
// All operations take the registry's lock.
//
// A call on a handle holds a HandleUse for as long as it touches the handle:
// the use is counted in the entry under the registry's lock, and the closing
// thread withdraws the entry (no new use can start) and then waits until the
// uses already running have ended before it frees the handle.  So a call
// racing KX305Close either runs on the live handle or finds it gone (9).
#pragma once

#include <cstdint>

#include "kx305.h"

namespace kx305 {

struct RegistryEntry;

// One call's hold on a registered handle; empty when the handle was not
// registered.  Move-only; the hold ends with the object.
class HandleUse {
public:
    HandleUse() = default;
    ~HandleUse();
    HandleUse(HandleUse&& other) noexcept : entry_(other.entry_) { other.entry_ = nullptr; }
    HandleUse& operator=(HandleUse&&) = delete;
    HandleUse(const HandleUse&) = delete;

    explicit operator bool() const { return entry_ != nullptr; }
    KX305Handle handle() const;

private:
    friend HandleUse UseHandle(KX305Handle handle);
    explicit HandleUse(RegistryEntry* entry) : entry_(entry) {}
    RegistryEntry* entry_ = nullptr;
};

// Appends an entry; false if it cannot be allocated.
bool RegisterHandle(KX305Handle handle);

// Holds the first entry holding `handle`, if there is one.
HandleUse UseHandle(KX305Handle handle);

// Takes the first entry holding `handle` out of the registry: later
// look-ups miss it, and only one of two threads closing the same handle gets
// the entry.  Null if there is none.  The caller ends it with ReleaseEntry.
RegistryEntry* WithdrawHandle(KX305Handle handle);

// Takes the first entry out (see WithdrawHandle) and hands out its handle;
// null when the registry is empty.
RegistryEntry* WithdrawFirst(KX305Handle& handle);

// The entry's address, as the unload report names it.
uintptr_t EntryAddress(const RegistryEntry* entry);

// Waits until no call holds the withdrawn entry any more, then frees it.
// Afterwards nothing but the caller uses the entry's handle.
void ReleaseEntry(RegistryEntry* entry);

// Drops every entry without touching the handles (library load).
void ClearRegistry();

}  // namespace kx305
