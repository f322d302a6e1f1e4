#include "shell/main_window.h"

#include <cinttypes>
#include <cstdio>

namespace kx305mon {

VizoStart ClassifyVizoStart(uintptr_t resultCode) {
    switch (resultCode) {
    case 0:
    case 11:
        return VizoStart::CannotStart;
    case 2:
    case 3:
        return VizoStart::NotFound;
    default:
        return VizoStart::Started;
    }
}

std::string CycleLogLine(const CycleTiming& timing, int64_t liveDataMicros, int64_t displayMicros) {
    char line[200];
    std::snprintf(line, sizeof line,
                  "cycle %" PRId64 " transaction %" PRId64 " operation %" PRId64 " events %" PRId64
                  " livedata %" PRId64 " display %" PRId64 " program %" PRId64 "\n",
                  timing.cycleMicros, timing.transactionMicros, timing.operationMicros, timing.eventsMicros,
                  liveDataMicros, displayMicros, timing.eventsMicros + displayMicros);
    return line;
}

}  // namespace kx305mon
