// The rain report's two dialogs: what OK of the source dialog (126) accepts
// and what a row of the report (127) shows.  The window code shows the
// dialogs, the message boxes and the list; the decisions live here, the
// aggregation in the recording core (BuildRainReport).
//
// Threads: UI thread.  readPath, readFile and rainReportInterval change under
// the live-state lock.
#pragma once

#include <string>
#include <vector>

#include "acquisition/app_context.h"
#include "recording/rain_report.h"
#include "shell/settings_store.h"

namespace kx305mon {

// Entries of the interval combo box 1072 (messages::kRainIntervals), in the
// order of RainInterval.
inline constexpr int kRainIntervalCount = 3;

enum class RainSourceAnswer {
    NoInterval,   // nothing chosen in the combo box: messages::kChooseInterval, stay
    Unavailable,  // the other file cannot be read: the file message, stay
    Accepted,     // interval and source stored, settings saved: close with 1
};

// OK of dialog 126.  `interval` is the combo box's selection (-1 for none);
// with `useFileInUse` (check box 1059) the registration file in use is the
// source (readPath empty), else readPath takes the edit's text, cut to 259
// characters, and the file is opened.  Accepted saves the registration group
// (which writes "RainMeter Period") into `store`.
RainSourceAnswer ConfirmRainSource(AppContext& context, int interval, bool useFileInUse, const std::string& editText,
                                   SettingsStore& store);

// The combo box's selection at the opening: the stored interval, or none
// when the stored value is out of range.
int RainIntervalSelection(AppContext& context);

// One row of the report's list: "Data i czas", "Wynik [mm]", "Status" and
// the image (kRowImageTick / kRowImageWarning of the viewer's image list).
struct RainListRow {
    int image;
    std::string label;
    std::string amount;
    std::string status;  // code page 1250
};

std::vector<RainListRow> RainListRows(const std::vector<RainReportRow>& rows);

}  // namespace kx305mon
