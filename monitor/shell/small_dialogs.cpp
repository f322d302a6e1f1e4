// The small dialogs' decisions; see small_dialogs.h.
#include "shell/small_dialogs.h"

#include <cctype>
#include <cfloat>
#include <cmath>
#include <cstring>
#include <mutex>
#include <vector>

#include "instruments/catalogue.h"
#include "instruments/format.h"
#include "resources/messages.h"
#include "shell/display_text.h"
#include "shell/settings.h"
#include "time/calendar_time.h"
#include "time/local_time.h"

namespace kx305mon {
namespace {

struct TimeFieldRule {
    int low;
    int high;
    const char* message;
};

// In the order OK checks them (the TimeField order).
constexpr TimeFieldRule kTimeRules[kTimeFieldCount] = {
    {1, 31, messages::kSetDays},    {1, 12, messages::kSetMonths},  {0, 23, messages::kSetHours},
    {0, 59, messages::kSetMinutes}, {0, 59, messages::kSetSeconds},
};

TimeFields FieldsOf(const CalendarTime& time) {
    TimeFields fields;
    fields.value[kTimeDay] = time.day;
    fields.value[kTimeMonth] = time.month;
    fields.value[kTimeHour] = time.hour;
    fields.value[kTimeMinute] = time.minute;
    fields.value[kTimeSecond] = time.second;
    return fields;
}

}  // namespace

TimeFields SetTimeOpeningFields(const ClockRecord& clock, const CalendarTime& utcNow) {
    CalendarTime local;
    if (UtcToLocal(ClockUtc(clock, utcNow), local)) return FieldsOf(local);
    if (UtcToLocal(utcNow, local)) return FieldsOf(local);
    return FieldsOf(CurrentLocalTime());
}

bool ClampTimeField(TimeField field, int& value) {
    if (field < 0 || field >= kTimeFieldCount) return false;
    const int high = kTimeRules[field].high;
    if (value > high) {
        value = high;
        return true;
    }
    if (value < 0) {
        value = 0;
        return true;
    }
    return false;
}

const char* CheckTimeFields(const TimeFields& fields) {
    for (int f = 0; f < kTimeFieldCount; ++f) {
        const int value = fields.value[f] & 0xFF;
        if (value < kTimeRules[f].low || value > kTimeRules[f].high) return kTimeRules[f].message;
    }
    return nullptr;
}

bool SetTimeClock(const TimeFields& fields, const CalendarTime& utcNow, ClockRecord& clock) {
    CalendarTime local = utcNow;
    local.month = static_cast<uint16_t>(fields.value[kTimeMonth] & 0xFF);
    local.day = static_cast<uint16_t>(fields.value[kTimeDay] & 0xFF);
    local.hour = static_cast<uint16_t>(fields.value[kTimeHour] & 0xFF);
    local.minute = static_cast<uint16_t>(fields.value[kTimeMinute] & 0xFF);
    local.second = static_cast<uint16_t>(fields.value[kTimeSecond] & 0xFF);
    CalendarTime utc;
    if (!LocalToUtc(local, utc)) return false;
    clock = ClockFromCalendar(utc);
    return true;
}

uint32_t UnsignedFromText(const char* text) {
    if (text == nullptr) return 0;
    while (*text == ' ' || *text == '\t') ++text;
    uint64_t value = 0;
    bool digits = false;
    for (; *text >= '0' && *text <= '9'; ++text) {
        value = value * 10 + static_cast<uint64_t>(*text - '0');
        if (value > 0xFFFFFFFFull) return 0;
        digits = true;
    }
    while (*text == ' ' || *text == '\t') ++text;
    if (!digits || *text != '\0') return 0;
    return static_cast<uint32_t>(value);
}

const char* LogIntervalToWrite(const char* text, uint32_t& seconds) {
    const uint32_t value = UnsignedFromText(text);
    if (value == 0) return messages::kIntervalNotPositive;
    seconds = value > 0xFFFF ? 0xFFFF : value;
    return nullptr;
}

std::string CalibrationText(int32_t calibration) {
    char buffer[32];
    FormatValue("", calibration, 1000, "", buffer, sizeof buffer, false);
    // The display form ends with the blank before its (here empty) unit.
    std::string text = buffer;
    while (!text.empty() && text.back() == ' ') text.pop_back();
    return text;
}

int32_t CalibrationFromValue(double millimetres) {
    const double thousandths = std::trunc(millimetres * 1000.0);
    if (thousandths > 2e9) return 2000000000;
    if (thousandths < -2e9) return -2000000000;
    return static_cast<int32_t>(thousandths);
}

namespace {

// ParseLocaleNumber rewrites its text: work on a copy.  False when the text
// is not a number.
bool ParseCalibration(const std::string& text, double& value) {
    std::vector<char> copy(text.begin(), text.end());
    copy.push_back('\0');
    value = ParseLocaleNumber(copy.data());
    return value != DBL_MAX;
}

}  // namespace

bool StepCalibration(std::string& text, int delta) {
    double value = 0;
    if (!ParseCalibration(text, value)) return false;
    int64_t moved = int64_t{delta} + CalibrationFromValue(value);
    if (moved < kRainCalibrationMin) moved = kRainCalibrationMin;
    if (moved > kRainCalibrationMax) moved = kRainCalibrationMax;
    text = CalibrationText(static_cast<int32_t>(moved));
    return true;
}

RainGaugeOutcome StoreRainGauge(AppContext& context, SettingsStore& store, const char* name, const char* serialText,
                                const char* calibrationText) {
    const uint32_t serial = UnsignedFromText(serialText);
    double value = 0;
    if (!ParseCalibration(calibrationText != nullptr ? calibrationText : "", value) || !(value > 0.0) || value > 1.0 ||
        serial < 1) {
        return RainGaugeOutcome::Refused;
    }
    RainGaugeSettings& rain = rainGaugeSettings();
    const uint32_t before = rain.serial.load();
    SetRainGaugeName(name);
    rain.serial.store(serial);
    rain.calibration.store(CalibrationFromValue(value));
    SaveSettings(context, store, kSettingsRainGauge);
    return serial != before ? RainGaugeOutcome::SerialChanged : RainGaugeOutcome::Stored;
}

ExtraSettingsBoxes ReadExtraSettings(AppContext& context) {
    MutexLock guard(context.plumbing.lock);
    ExtraSettingsBoxes boxes;
    boxes.kx125Average = context.averageKX125;
    boxes.quickStart = context.quickStart;
    boxes.hidePromotion = !context.showQmv;
    return boxes;
}

bool StoreExtraSettings(AppContext& context, SettingsStore& store, const ExtraSettingsBoxes& boxes) {
    {
        MutexLock guard(context.plumbing.lock);
        context.averageKX125 = boxes.kx125Average;
        context.quickStart = boxes.quickStart;
        context.showQmv = !boxes.hidePromotion;
    }
    return SaveSettings(context, store, kSettingsKX125Average | kSettingsStart);
}

}  // namespace kx305mon
