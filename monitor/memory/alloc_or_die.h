// Memory that is obtained or ends the program, and the system's error box
// that tells why.  Below the shell and the DDE server, which both allocate
// this way.  Windows build only.
#pragma once

#include <cstddef>

namespace kx305mon {

// Zero-initialised memory from the global heap; on failure shows the
// system's text of the last error and ends the process with exit code 1.
// Never returns null.
void* AllocOrDie(size_t size);
// Releases a block of AllocOrDie; a failed release ends the process as above.
void FreeOrDie(void* block);
// The system's text of the last error in an error box without owner,
// caption "Konwerter KX-305".
void ShowLastErrorBox();

}  // namespace kx305mon
