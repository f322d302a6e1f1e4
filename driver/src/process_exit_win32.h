// Shared by the Win32 files of the library: whether the process is detaching
// the library because it exits.  From then on every other thread of the
// process is gone, so nothing may wait for one (a thread killed inside a
// port call never leaves it).
#pragma once

namespace kx305 {

bool ProcessExitInProgress();

}  // namespace kx305
