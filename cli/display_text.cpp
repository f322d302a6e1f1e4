#include "display_text.h"

#include <cstdio>

#include "instruments/catalogue.h"
#include "instruments/format.h"
#include "recording/local_time.h"

namespace kx305cli {

using kx305mon::CalendarTime;

namespace {

class StringSink final : public kx305mon::TextSink {
public:
    void SetText(const char* text) override { text_ = text; }
    const std::string& text() const { return text_; }

private:
    std::string text_;
};

}  // namespace

std::string StatusLine(const ConverterInfo* info) {
    if (info == nullptr) return "KX-305 wersja ?.?, nr ????";
    char text[64];
    std::snprintf(text, sizeof text, "KX-305 wersja %d.%d, nr %d", info->versionMajor, info->versionMinor,
                  info->serialNumber);
    return text;
}

int ClockYear(const ClockRecord& clock, const CalendarTime& utcNow) {
    int year = utcNow.year;
    if (clock.month == 12 && utcNow.month == 1) return year - 1;
    if (clock.month == 1 && utcNow.month == 12) return year + 1;
    return year;
}

CalendarTime ClockUtc(const ClockRecord& clock, const CalendarTime& utcNow) {
    CalendarTime utc;
    utc.year = static_cast<uint16_t>(ClockYear(clock, utcNow));
    utc.month = clock.month;
    utc.day = clock.day;
    utc.hour = clock.hour;
    utc.minute = clock.minute;
    utc.second = clock.second;
    return utc;
}

std::string ClockText(const ClockRecord* clock, const CalendarTime& utcNow, const CalendarTime& localNow,
                      const kx305mon::NumberLocale& locale) {
    constexpr const char* kUnknown = "?????, ?????";
    if (clock == nullptr) return kUnknown;
    CalendarTime local;
    if (!kx305mon::UtcToLocal(ClockUtc(*clock, utcNow), local)) return kUnknown;
    local.year = localNow.year;
    local.dayOfWeek = 0;
    return locale.FormatDate(local, kx305mon::DateStyle::Long) + ", " + locale.FormatTime(local);
}

PanelText DescribePanel(const InputReading* reading, bool averageKX125) {
    const InputReading none = {};
    const InputReading& r = reading != nullptr ? *reading : none;
    PanelText panel;
    char name[256];
    kx305mon::InstrumentName(r.type, name, sizeof name, true);
    panel.name = name;
    const int32_t serial = kx305mon::InstrumentSerial(r.type, r);
    if (serial != kx305mon::INVALID_VALUE) panel.name += " nr " + std::to_string(serial);
    StringSink description;
    kx305mon::DescribeReading(r.type, r, averageKX125, description);
    panel.description = description.text();
    const int status = kx305mon::InstrumentStatus(r.type, r);
    if (status != 0) panel.status = kx305mon::StringText(status);
    return panel;
}

std::string LiveBlock(const ConverterInfo* info, const ClockRecord* clock, const InputReading* results,
                      bool averageKX125) {
    std::string block = StatusLine(info) + "\n";
    block += ClockText(clock, kx305mon::CurrentUtcTime(), kx305mon::CurrentLocalTime(), kx305mon::CurrentLocale()) +
             "\n";
    for (int i = 0; i < KX305_INPUTS; ++i) {
        const PanelText panel = DescribePanel(results != nullptr ? &results[i] : nullptr, averageKX125);
        block += "Wejście nr " + std::to_string(i) + ": " + panel.name + "\n";
        if (!panel.description.empty()) block += "    " + panel.description + "\n";
        if (!panel.status.empty()) block += "    " + panel.status + "\n";
    }
    return block + "\n";
}

}  // namespace kx305cli
