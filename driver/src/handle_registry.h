// Process-wide registry of the open handles.  Every exported function checks
// its handle against it; the unload hook closes whatever is still in it.
// All operations take the registry's lock.
#pragma once

#include <cstdint>

#include "kx305.h"

namespace kx305 {

// Appends an entry; false if it cannot be allocated.
bool RegisterHandle(KX305Handle handle);

// True if some entry holds `handle`.
bool IsRegistered(KX305Handle handle);

// Removes the first entry holding `handle`; false if there is none.  Only one
// of two threads closing the same handle gets true.
bool UnregisterHandle(KX305Handle handle);

// Removes the first entry and hands out its handle and the entry's address
// (for the unload report); false when the registry is empty.
bool TakeFirstHandle(KX305Handle& handle, uintptr_t& entryAddress);

// Drops every entry without touching the handles (library load).
void ClearRegistry();

}  // namespace kx305
