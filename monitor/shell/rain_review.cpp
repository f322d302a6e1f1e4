#include "shell/rain_review.h"

#include <mutex>

#include "instruments/catalogue.h"
#include "shell/memory_review.h"
#include "shell/settings.h"

namespace kx305mon {

RainSourceAnswer ConfirmRainSource(AppContext& context, int interval, bool useFileInUse, const std::string& editText,
                                   SettingsStore& store) {
    if (interval < 0 || interval >= kRainIntervalCount) return RainSourceAnswer::NoInterval;
    {
        MutexLock guard(context.plumbing.lock);
        context.rainReportInterval = interval;
    }
    if (!ConfirmReadSource(context, useFileInUse, editText)) return RainSourceAnswer::Unavailable;
    SaveSettings(context, store, kSettingsLogfile);
    return RainSourceAnswer::Accepted;
}

int RainIntervalSelection(AppContext& context) {
    MutexLock guard(context.plumbing.lock);
    const int stored = context.rainReportInterval;
    return stored >= 0 && stored < kRainIntervalCount ? stored : -1;
}

std::vector<RainListRow> RainListRows(const std::vector<RainReportRow>& rows) {
    std::vector<RainListRow> list;
    list.reserve(rows.size());
    for (const RainReportRow& row : rows) {
        const int image = RainStatusIcon(row.status) == 1 ? kRowImageTick : kRowImageWarning;
        list.push_back({image, row.timeLabel, row.amount, StringText(row.status)});
    }
    return list;
}

}  // namespace kx305mon
