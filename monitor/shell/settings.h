// The program's settings: ten named values of one per-user key, read once at
// start-up, written group-wise when a dialog is confirmed, removed on
// uninstall.
//
//   "Flags"            number  AppContext::exportFlags        group 1
//   "Port"             number  AppContext::port               group 2
//   "Logfile"          string  AppContext::registrationPath   group 8 (whole 260-byte field)
//   "RainMeter Name"   string  RainGaugeSettings::name        group 4 (whole 200-byte field)
//   "RainMeter Serial" number  RainGaugeSettings::serial      group 4
//   "RainMeter Cal"    number  RainGaugeSettings::calibration group 4
//   "RainMeter Period" number  AppContext::rainReportInterval every save
//   "KX125AV"          number  AppContext::averageKX125       group 16
//   "QUICK_START"      number  AppContext::quickStart         group 32
//   "SHOW_QMV"         number  AppContext::showQmv            group 32
//
// Threads: UI thread only.  Fields of AppContext are read and written under
// its live-state lock; the store is never called with the lock held.
#pragma once

#include <cstdint>

#include "acquisition/app_context.h"
#include "recording/export.h"
#include "shell/settings_store.h"

namespace kx305mon {

enum SettingsGroup : uint32_t {
    kSettingsFlags = 1,
    kSettingsPort = 2,
    kSettingsRainGauge = 4,
    kSettingsLogfile = 8,
    kSettingsKX125Average = 16,
    kSettingsStart = 32,  // QUICK_START and SHOW_QMV
    kSettingsAll = 0x3F,
};

// Export flags when nothing is stored (kDefaultExportFlags of the export
// writers): all records, descriptive layout, the locale's list separator
// and every field.
constexpr int32_t kDefaultRainCalibration = 1000;  // 1.000 mm per impulse
constexpr int32_t kDefaultRainReportInterval = 1;  // days

// The start values of every settings field (AppContext and the rain-gauge
// settings), set by the entry before the settings are loaded.  Values that
// cannot be read keep them.
void SetSettingsStartValues(AppContext& context);

// What the first start on an account asks the user.  The window code
// implements it with a message box and the port and export-option dialogs,
// all without owner window; each dialog saves its own group when confirmed.
class FirstRunQuestions {
public:
    virtual ~FirstRunQuestions() = default;
    // "Czy chcesz zarejestrować ten program w systemie Windows?" (Yes/No).
    virtual bool AskToRegister() = 0;
    // The port dialog; true when confirmed.
    virtual bool ChoosePort(AppContext& context) = 0;
    // The export-parameter dialog; true when confirmed.
    virtual bool ChooseExportOptions(AppContext& context) = 0;
};

// Reads the settings: "Flags", "Port", "Logfile", "RainMeter Name",
// "RainMeter Serial", "RainMeter Cal" in this order, stopping at the first
// value that cannot be read (it and the later ones keep their start
// values); "RainMeter Period" on its own; then "KX125AV", "QUICK_START",
// "SHOW_QMV", again stopping at the first failure.  A stored number out of
// its range ("Port" 1..256 or PORT_NONE, "RainMeter Cal" 1..1000,
// "RainMeter Period" 0..2) is ignored without stopping the chain.  A string
// is cut within its field even when the stored value fills it.
//
// Without a key, asks the first-run question: Yes runs the port and export
// dialogs (the uninstall command stays off for the run unless both are
// confirmed) and saves every group; No leaves the port unset.
// True when every value was read (or the first-run save succeeded).
bool LoadSettings(AppContext& context, SettingsStore& store, FirstRunQuestions& questions);

// Writes the values of `groups` (SettingsGroup bits) and always
// "RainMeter Period".  False when the key cannot be opened or created
// (nothing written); single write failures are not reported.
bool SaveSettings(AppContext& context, SettingsStore& store, uint32_t groups);

// Removes the settings key and every parent that becomes empty, from the
// innermost outwards, never the topmost ("Software").  False when a parent
// cannot be opened, a key cannot be deleted or counted.
bool UninstallSettings(SettingsStore& store);

}  // namespace kx305mon
