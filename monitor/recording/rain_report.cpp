#include "recording/rain_report.h"

#include <cstdint>
#include <cstdio>

#include "instruments/catalogue.h"

namespace kx305mon {

namespace {

// Status id that marks "no interval started yet"; no status text has it.
constexpr int kNoIntervalYet = 65535;

// The whole millimetres of a cumulative total ("12.5" gives 12): blanks, a
// sign and the digits up to the first other character, as atoi takes them.
int32_t WholeMillimetres(const char* text) {
    while (*text == ' ' || (*text >= '\t' && *text <= '\r')) {
        ++text;
    }
    const bool negative = *text == '-';
    if (*text == '-' || *text == '+') {
        ++text;
    }
    uint32_t value = 0;
    for (; *text >= '0' && *text <= '9'; ++text) {
        value = value * 10 + static_cast<uint32_t>(*text - '0');
    }
    return static_cast<int32_t>(negative ? 0u - value : value);
}

bool SameInterval(const CalendarTime& a, const CalendarTime& b, RainInterval interval) {
    if (a.year != b.year || a.month != b.month) {
        return false;
    }
    if (interval == RainInterval::Months) {
        return true;
    }
    if (a.day != b.day) {
        return false;
    }
    return interval == RainInterval::Days || a.hour == b.hour;
}

std::string TimeLabel(const CalendarTime& time, RainInterval interval) {
    char text[64];
    switch (interval) {
    case RainInterval::Hours:
        std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:00:00", time.year, time.month, time.day, time.hour);
        break;
    case RainInterval::Days:
        std::snprintf(text, sizeof text, "%04d-%02d-%02d 00:00:00", time.year, time.month, time.day);
        break;
    case RainInterval::Months:
        std::snprintf(text, sizeof text, "%04d-%02d-01 00:00:00", time.year, time.month);
        break;
    }
    return text;
}

}  // namespace

std::vector<RainReportRow> BuildRainReport(const RecordList& records, RainInterval interval) {
    std::vector<RainReportRow> rows;
    // The rain entry that opened the running interval.
    const MemoryRecord* start = nullptr;
    int startStatus = kNoIntervalYet;
    for (const MemoryRecord& record : records) {
        if (record.entries.empty() || record.entries.front().type != kTypeRainGauge) {
            continue;
        }
        const MemoryEntry& rain = record.entries.front();
        if (startStatus == kNoIntervalYet) {
            start = &record;
            startStatus = rain.status;
            continue;
        }
        // An interval closes only between two good readings of the counter.
        if (startStatus != kStrMeasurementOk || rain.status != kStrMeasurementOk ||
            SameInterval(start->time, record.time, interval)) {
            continue;
        }
        const int32_t now = WholeMillimetres(rain.value);
        const int32_t before = WholeMillimetres(start->entries.front().value);
        // A smaller total means the counter was reset in between: all of
        // the new total fell since.
        const int64_t amount = now >= before ? int64_t{now} - before : now;
        char amountText[24];
        std::snprintf(amountText, sizeof amountText, "%lld", static_cast<long long>(amount));
        rows.push_back(RainReportRow{TimeLabel(record.time, interval), amountText, rain.status});
        start = &record;
        startStatus = rain.status;
    }
    return rows;
}

int RainStatusIcon(int status) { return status == kStrMeasurementOk ? 1 : 0; }

}  // namespace kx305mon
