// What the platform's load and unload notifications do (library_posix.cpp:
// constructor and destructor; library_win32.cpp: DllMain).
#pragma once

namespace kx305 {

// Process attach: empties the handle registry, opens the diagnostic log
// named by the environment (KX305_LOG = file, appended to; KX305_LOG_LIMIT =
// size in bytes after which it rotates to ".old", absent or 0 = never) and
// logs the start.
void LibraryLoad();

// Process detach: logs the end, reports and closes every handle still open,
// closes the log.  With `processExit` the handles' threads are taken to be
// gone already (as on Windows at process exit): their ports are released but
// nothing waits for the threads and the handle objects are left to the
// system.
void LibraryUnload(bool processExit);

}  // namespace kx305
