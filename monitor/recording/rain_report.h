// The rain report: amounts of precipitation per hour, day or month, from the
// cumulative rain-gauge totals that the registration file holds.
#pragma once

#include <string>
#include <vector>

#include "recording/registration_file.h"

namespace kx305mon {

// The reporting interval; the values are those of "RainMeter Period".
enum class RainInterval { Hours = 0, Days = 1, Months = 2 };

// One row of the report, as the list shows it and the export writes it.
struct RainReportRow {
    std::string timeLabel;  // start of the interval the row's record opens
    std::string amount;     // whole millimetres, "%d"
    int status = 0;         // status text id of the record that closed the interval
};

// Rows for every interval closed by a later record, in file order.  Only
// records whose first entry is the rain gauge count; the interval of the
// last record is never reported, and intervals without records give no row.
std::vector<RainReportRow> BuildRainReport(const RecordList& records, RainInterval interval);

// Image of the status column: 1 (tick) for "Pomiar --> OK", else 0 (warning).
int RainStatusIcon(int status);

}  // namespace kx305mon
