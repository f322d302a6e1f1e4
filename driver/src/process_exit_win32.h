// Shared by the Win32 files of the library.  DllMain marks the moment the
// process detaches the library because it exits: from then on every other
// thread of the process is gone, killed wherever it was, so nothing may wait
// for one (a thread killed inside a port call never leaves it).
#pragma once

namespace kx305 {

void MarkProcessExit();

}  // namespace kx305
