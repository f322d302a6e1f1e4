// Time stamps and clock readings as the tests of every module build them.
#pragma once

#include "kx305.h"
#include "time/calendar_time.h"

namespace kx305mon::testing {

// A converter clock reading (the converter keeps no year).
inline ClockRecord ClockAt(int month, int day, int hour, int minute, int second) {
    return ClockFromCalendar(MakeCalendarTime(0, month, day, hour, minute, second));
}

// `record` stamped at the UTC fields of `time` (sub-second left as it is).
inline LogRecord RecordAt(const CalendarTime& time, LogRecord record = {}) {
    record.year = time.year;
    record.month = static_cast<uint8_t>(time.month);
    record.day = static_cast<uint8_t>(time.day);
    record.hour = static_cast<uint8_t>(time.hour);
    record.minute = static_cast<uint8_t>(time.minute);
    record.second = static_cast<uint8_t>(time.second);
    return record;
}

inline LogRecord RecordAt(int year, int month, int day, int hour, int minute, int second, LogRecord record = {}) {
    return RecordAt(MakeCalendarTime(year, month, day, hour, minute, second), record);
}

}  // namespace kx305mon::testing
