// Checks on the files a user names, made before the recording core opens
// them: the core reads a registration file to its end and would spin on a
// device that never ends (/dev/zero) or block on a FIFO, and an export that
// is pointed at its own input would empty the archive before reading it.
#pragma once

#include <string>

namespace kx305cli {

// Whether `path` may be read or recorded into: true for a regular file (and
// for a missing one when `mayBeNew`).  Never blocks: a FIFO is opened
// without waiting for a writer.  False with the reason in `reason`, the
// system's text (strerror) or "not a regular file".
bool CheckRegularFile(const std::string& path, bool mayBeNew, std::string& reason);

// True when both names lead to the same file (device and inode, so also
// through a hard link or a symbolic link).  False when either is missing.
bool SameFile(const std::string& a, const std::string& b);

}  // namespace kx305cli
