#include "shell/main_window.h"

#include <cinttypes>
#include <cstdio>

#include "resources/messages.h"

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
                  "cycle %" PRId64 " transaction %" PRId64 " operation %" PRId64 " events %" PRId64 " livedata %" PRId64
                  " display %" PRId64 " program %" PRId64 "\n",
                  timing.cycleMicros, timing.transactionMicros, timing.operationMicros, timing.eventsMicros,
                  liveDataMicros, displayMicros, timing.eventsMicros + displayMicros);
    return line;
}

NoticeBox NoticeMessage(uint32_t notice, size_t count) {
    switch (static_cast<Notice>(notice)) {
    case Notice::PortInUse:
        return {messages::kPortInUse, NoticeIcon::Warning};
    case Notice::RecordsNotStored:
        return {messages::kExportFailed, NoticeIcon::Exclamation};
    case Notice::RecordsLost: {
        char text[sizeof messages::kRecordsLost + 16];
        std::snprintf(text, sizeof text, messages::kRecordsLost, static_cast<unsigned>(count));
        return {text, NoticeIcon::Exclamation};
    }
    case Notice::RecordsLostUnknown:
        return {messages::kRecordsLostUnknown, NoticeIcon::Exclamation};
    case Notice::LogIntervalTooShort:
        return {messages::kLogIntervalTooShort, NoticeIcon::Information};
    }
    return {"", NoticeIcon::Information};
}

Notice FailureNotice(AcquisitionFailure failure) {
    switch (failure) {
    case AcquisitionFailure::PortInUse:
        return Notice::PortInUse;
    case AcquisitionFailure::RecordsNotStored:
        break;
    }
    return Notice::RecordsNotStored;
}

std::vector<PendingNotice> DownloadNotices::After(const DownloadReport& report) {
    std::vector<PendingNotice> notices;
    if (report.lostUnknown) {
        notices.push_back({Notice::RecordsLostUnknown, 0});
    } else if (report.lost > 0) {
        notices.push_back({Notice::RecordsLost, report.lost});
    }
    if (report.clear == DownloadReport::Clear::TransferLongerThanLogPeriod && !intervalTold_) {
        intervalTold_ = true;
        notices.push_back({Notice::LogIntervalTooShort, 0});
    }
    return notices;
}

}  // namespace kx305mon
