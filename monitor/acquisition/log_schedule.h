// When the converter's logging memory may be cleared after a download.
//
// The converter keeps storing records while a transfer runs (a hundred
// records take some eleven seconds at 9600 baud), and a record stored
// after the transfer began is not in it: a clear then would erase it
// before it ever reached the file.  The clear is therefore allowed only
// when no log instant can have fallen between the clock read before the
// transfer and the clear.  Where the converter places its instants is not
// known for sure, so every plausible schedule counts: whole multiples of the
// period on its clock (from 1970 and from the start of the day) and the
// period counted on from the newest record of the download.
#pragma once

#include <cstdint>

#include "acquisition/events.h"
#include "instruments/locale.h"
#include "kx305.h"

namespace kx305mon {

// Seconds added after the clock read that follows the write: the clock
// shows whole seconds, and the clear itself still has to reach the
// converter.
constexpr int64_t kClearMarginSeconds = 2;

// `start` and `end` are the converter clock read before the transfer and
// after the records were written, `periodSeconds` its log period (0: it
// does not log), `newest` the last record of the download and `nowUtc` the
// computer's UTC time (for the year the converter's clock lacks).
// Cleared when the clear may go, else why not.
DownloadReport::Clear ClearVerdict(const ClockRecord& start, const ClockRecord& end, uint32_t periodSeconds,
                                   const LogRecord& newest, const CalendarTime& nowUtc);

}  // namespace kx305mon
