// The driver's diagnostic log: one text line per operation's outcome,
// "YYYY.MM.DD hh:mm:ss " and the message, written by every thread of every
// handle.  The sink is process-wide and starts closed; while it is closed
// every message is dropped without being formatted.
#pragma once

#include <cstdint>

namespace kx305 {

// Longest message; longer ones are cut.
constexpr unsigned kMaxLogMessage = 255;

// Opens `path` for appending, so that earlier runs stay in the file.  With a
// non-zero `sizeLimit` (bytes) a file grown past it is renamed to `path` +
// ".old" (never replacing an existing one) and started anew; if any step of
// that fails the sink stays closed.  False if the file cannot be opened.
bool OpenDiagnosticLog(const char* path, uint64_t sizeLimit);

// Closes the sink if it is open.
void CloseDiagnosticLog();

// Formats the message (at most kMaxLogMessage characters; it is not used as a
// format again) and writes one line.  1 if the line was written and the sink
// is still open, else 0.  Lines of different threads never interleave.
int LogMessage(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace kx305
