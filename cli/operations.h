// Device operations run through the polling worker: the request is placed
// and the command waits for the acquisition to tell how it went.
#pragma once

#include <cstdint>

#include "session.h"

namespace kx305cli {

enum class Outcome { Done, Failed, Interrupted };

struct OperationResult {
    Outcome outcome = Outcome::Failed;
    unsigned value = 0;  // operation 2: the interval read
};

// Places `operation` and waits for its end: its notice (1, 3, 6), the
// interval it reads (2), or the end of the cycle that ran it (5).  Each
// comes before the end of its cycle; a lost connection or the time-out is a
// failure.
OperationResult RunOperation(Session& session, uint32_t operation, uint32_t parameter);

int OperationExit(const Session& session, Outcome outcome, const char* failure);

}  // namespace kx305cli
