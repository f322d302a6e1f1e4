// Load and unload hooks of libkx305.so.  The destructor runs on dlclose and
// at exit; in both cases the handles' threads still run and can be joined.
#include "library.h"

namespace {

__attribute__((constructor)) void OnLibraryLoad() { kx305::LibraryLoad(); }

__attribute__((destructor)) void OnLibraryUnload() { kx305::LibraryUnload(false); }

}  // namespace
