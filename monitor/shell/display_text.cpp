#include "shell/display_text.h"

#include <cstdio>

#include "instruments/catalogue.h"
#include "instruments/format.h"
#include "resources/resource.h"
#include "time/calendar_time.h"
#include "time/local_time.h"

namespace kx305mon {

namespace {

class StringSink final : public TextSink {
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

std::string ClockText(const ClockRecord* clock, const CalendarTime& utcNow, const CalendarTime& localNow,
                      const NumberLocale& locale) {
    constexpr const char* kUnknown = "?????, ?????";
    if (clock == nullptr) return kUnknown;
    CalendarTime local;
    if (!UtcToLocal(ClockUtc(*clock, utcNow), local)) return kUnknown;
    local.year = localNow.year;
    local.dayOfWeek = 0;
    return locale.FormatDate(local, DateStyle::Long) + ", " + locale.FormatTime(local);
}

PanelText DescribePanel(const InputReading* reading, bool averageKX125) {
    const InputReading none = {};
    const InputReading& r = reading != nullptr ? *reading : none;
    PanelText panel;
    char name[256];
    InstrumentName(r.type, name, sizeof name, true);
    panel.name = name;
    const int32_t serial = InstrumentSerial(r.type, r);
    if (serial != INVALID_VALUE) panel.name += " nr " + std::to_string(serial);
    StringSink description;
    DescribeReading(r.type, r, averageKX125, description);
    panel.description = description.text();
    const int status = InstrumentStatus(r.type, r);
    if (status != 0) panel.status = StringText(status);
    return panel;
}

std::string LiveBlock(const ConverterInfo* info, const ClockRecord* clock, const InputReading* results,
                      bool averageKX125) {
    std::string block = StatusLine(info) + "\n";
    block += ClockText(clock, CurrentUtcTime(), CurrentLocalTime(), CurrentLocale()) + "\n";
    for (int i = 0; i < KX305_INPUTS; ++i) {
        const PanelText panel = DescribePanel(results != nullptr ? &results[i] : nullptr, averageKX125);
        block += "Wejście nr " + std::to_string(i) + ": " + panel.name + "\n";
        if (!panel.description.empty()) block += "    " + panel.description + "\n";
        if (!panel.status.empty()) block += "    " + panel.status + "\n";
    }
    return block + "\n";
}

int InputIcon(const InputReading* reading) {
    return reading != nullptr && reading->type != kTypeNone ? IDB_INSTRUMENT : IDB_NO_INSTRUMENT;
}

std::string StatusFieldText(const ConverterInfo* info, const ClockRecord* clock, const CalendarTime& utcNow,
                            const CalendarTime& localNow, const NumberLocale& locale) {
    return StatusLine(info) + "\r\n" + ClockText(clock, utcNow, localNow, locale);
}

DisplaySnapshot MakeDisplaySnapshot(const ConverterInfo* info, const ClockRecord* clock, const InputReading* results,
                                    bool averageKX125) {
    DisplaySnapshot snapshot;
    snapshot.status = StatusFieldText(info, clock, CurrentUtcTime(), CurrentLocalTime(), CurrentLocale());
    for (int i = 0; i < KX305_INPUTS; ++i) {
        const InputReading* reading = results != nullptr ? &results[i] : nullptr;
        snapshot.panels[i] = DescribePanel(reading, averageKX125);
        snapshot.icons[i] = InputIcon(reading);
    }
    return snapshot;
}

std::array<ControlText, kDisplayTextControls> DisplayControlTexts(const DisplaySnapshot& snapshot) {
    std::array<ControlText, kDisplayTextControls> texts;
    texts[0] = {IDC_CONVERTER_STATUS, &snapshot.status};
    for (int i = 0; i < KX305_INPUTS; ++i) {
        const PanelText& panel = snapshot.panels[i];
        texts[1 + 3 * i] = {IDC_INPUT_NAME_0 + i, &panel.name};
        texts[2 + 3 * i] = {IDC_INPUT_DESCRIPTION_0 + i, &panel.description};
        texts[3 + 3 * i] = {IDC_INPUT_STATUS_0 + i, &panel.status};
    }
    return texts;
}

bool DisplayMailbox::Put(DisplaySnapshot snapshot) {
    std::lock_guard<std::mutex> guard(mutex_);
    const bool wake = !waiting_.has_value();
    waiting_ = std::move(snapshot);
    return wake;
}

std::optional<DisplaySnapshot> DisplayMailbox::Take() {
    std::lock_guard<std::mutex> guard(mutex_);
    std::optional<DisplaySnapshot> snapshot = std::move(waiting_);
    waiting_.reset();
    return snapshot;
}

std::optional<bool> RainGaugeMenuSwitch::Update(uint32_t typeOfInput0) {
    const bool enable = typeOfInput0 == kTypeRainGauge;
    if (enable == enabled_) return std::nullopt;
    enabled_ = enable;
    return enable;
}

std::optional<bool> RainGaugeMenuSwitch::ConnectionLost() { return Update(kTypeNone); }

}  // namespace kx305mon
