// What the small dialogs of the program decide: set the clock by hand (124),
// the logging interval (105), the rain gauge (119) and the additional
// settings (125).  The window procedures (shell/program/*_dialog_win32.cpp)
// read their controls, call these and show the outcome.
//
// Threads: UI thread.  Fields of AppContext are read and written under its
// live-state lock here; the settings store is called without it.
#pragma once

#include <cstdint>
#include <string>

#include "acquisition/app_context.h"
#include "instruments/locale.h"
#include "shell/settings_store.h"

namespace kx305mon {

// ---------------------------------------------------------------- 124 "Ustaw czas"

// The five edits in the order OK checks them.
enum TimeField { kTimeDay, kTimeMonth, kTimeHour, kTimeMinute, kTimeSecond, kTimeFieldCount };

struct TimeFields {
    int value[kTimeFieldCount] = {};
};

// The local time the dialog shows on opening: the converter clock of the
// last poll, completed with its year (ClockYear) and turned into local time;
// the computer's local time when no valid clock was read yet (the record is
// still all zeros before the first poll) or it cannot be converted.
TimeFields SetTimeOpeningFields(const ClockRecord& clock, const CalendarTime& utcNow);

// While typing: a number above the field's maximum becomes the maximum (31,
// 12, 23, 59, 59), a negative one 0.  True when `value` was replaced.
bool ClampTimeField(TimeField field, int& value);

// OK's checks in order (each number taken as its low 8 bits): day 1..31,
// month 1..12, hour 0..23, minute and second 0..59.  The message of the
// first failure, or null when all pass.
const char* CheckTimeFields(const TimeFields& fields);

// The converter's time for the entered local fields: the UTC date-time
// `utcNow` with month, day, hour, minute and second replaced (the year
// stays), read as local time with the platform's summer-time decision
// (a day past the month's end runs into the next month) and converted to
// UTC.  False when the platform cannot convert it.
bool SetTimeClock(const TimeFields& fields, const CalendarTime& utcNow, ClockRecord& clock);

// ---------------------------------------------------------------- 105 "Interwał rejestracji"

// An edit's text as an unsigned number, as the dialogs read their numeric
// edits: decimal digits with optional surrounding blanks; anything else, an
// empty text and a number past 32 bits count as 0.
uint32_t UnsignedFromText(const char* text);

// OK of the interval dialog: the seconds to write (above 65535 cut to
// 65535), or the warning's text for 0 / a text that is not a number, with
// `seconds` left alone.
const char* LogIntervalToWrite(const char* text, uint32_t& seconds);

// ---------------------------------------------------------------- 119 "Deszczomierz (Wejście nr 0)"

constexpr int32_t kRainCalibrationMin = 1;     // 0.001 mm per impulse
constexpr int32_t kRainCalibrationMax = 1000;  // 1.000 mm per impulse

// Calibration in thousandths of a millimetre as edit 1111 shows it: three
// decimals in the user's locale, no unit.
std::string CalibrationText(int32_t calibration);

// Thousandths of a millimetre of a value typed in millimetres, cut towards
// zero (0,0015 is 1).
int32_t CalibrationFromValue(double millimetres);

// A spin click on the calibration: `text` is edit 1111's text.  False when it
// is not a number (the click is refused, the text stays); else `text`
// becomes the value moved by `delta` thousandths, held within 1..1000.
bool StepCalibration(std::string& text, int delta);

// What OK did with the rain-gauge entries.
enum class RainGaugeOutcome {
    Refused,        // "Podana wartość jest niepoprawna!"; nothing stored
    Stored,         // name and calibration stored, serial unchanged
    SerialChanged,  // stored; the rain gauge's DDE topic must be built anew
};

// OK of the rain-gauge dialog: accepts a calibration that parses in the
// user's locale with 0 < value <= 1.0 and a serial of at least 1; then
// stores name (cut to its field), serial and calibration in the program's
// rain-gauge settings and saves settings group 4.
RainGaugeOutcome StoreRainGauge(AppContext& context, SettingsStore& store, const char* name, const char* serialText,
                                const char* calibrationText);

// ---------------------------------------------------------------- 125 "Ustawienia dodatkowe"

// The three boxes as the dialog shows them; the third is ticked when the
// promotion is NOT shown at start.
struct ExtraSettingsBoxes {
    bool kx125Average = false;
    bool quickStart = false;
    bool hidePromotion = false;
};

ExtraSettingsBoxes ReadExtraSettings(AppContext& context);
// Sets KX125AV, QUICK_START and SHOW_QMV from the boxes and saves settings
// groups 16 and 32.  False when the settings key could not be written.
bool StoreExtraSettings(AppContext& context, SettingsStore& store, const ExtraSettingsBoxes& boxes);

}  // namespace kx305mon
