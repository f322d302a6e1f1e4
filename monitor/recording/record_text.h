// Texts that the memory viewer, the exports and the rain report share: the
// date and time of a record and the unit that belongs to a quantity id.
#pragma once

#include <string>

#include "instruments/locale.h"

namespace kx305mon {

enum class RecordTimeStyle {
    Fixed,  // "yyyy.MM.dd HH:mm:ss" whatever the locale says (CSV export)
    Short,  // the locale's short date and time (descriptive export)
    Long,   // the locale's long date and time (viewer caption)
};

// The date, one blank and the time of a record's local time stamp.
std::string FormatRecordTime(const CalendarTime& time, RecordTimeStyle style,
                             const NumberLocale& locale = CurrentLocale());

enum class UnitForm {
    Bare,           // "°C": viewer rows, descriptive export
    Parenthesised,  // "(°C)": CSV column titles
};

// Unit of a quantity name id (code page 1250); "" for ids without one
// (44 and 64, status and instrument ids, anything unknown).
const char* UnitText(int quantityId, UnitForm form);

}  // namespace kx305mon
