// The dialogs of kx305mon.exe as the main window opens them.  Each runs its
// dialog modally over `owner` (null: no owner) with the program's one
// AppContext and returns the dialog's result (EndDialog's value; 0 after
// Cancel).  A dialog that saves settings, or opens one that does, writes
// them to the program's one store, `settings`.  What a dialog decides lives
// in the portable shell code; the dialogs, on dialog_frame_win32.h, show and
// collect.  Windows build only.
#pragma once

#include <windows.h>

#include "acquisition/app_context.h"
#include "shell/settings_store.h"

namespace kx305mon {

// "Port szeregowy" (103): choose, test and store a COM port.  1 = a usable
// port was chosen and stored in the context.
INT_PTR RunPortDialog(HWND owner, AppContext& context, SettingsStore& settings);

// "Rejestracja" (121): choose the registration file.  1 = recording goes on
// into the chosen file.
INT_PTR RunRegistrationDialog(HWND owner, AppContext& context, SettingsStore& settings);

// "Parametry eksportu" (106): the export options, saved as group 1.
INT_PTR RunExportParametersDialog(HWND owner, AppContext& context, SettingsStore& settings);
// "Parametry eksportu" (128) of the rain report: separator and layout
// only, the other export flags kept; saved as group 1.
INT_PTR RunRainExportParametersDialog(HWND owner, AppContext& context, SettingsStore& settings);

// "Odczyt pamięci" (122): where the records to review come from; non-zero
// means open the viewer.
INT_PTR RunReadSourceDialog(HWND owner, AppContext& context);
// "Zawartość pamięci rejestrującej" (104): the memory records viewer.
INT_PTR RunMemoryViewer(HWND owner, AppContext& context, SettingsStore& settings);
// "Odczyt danych z deszczomierza" (126); non-zero means open the report.
INT_PTR RunRainSourceDialog(HWND owner, AppContext& context, SettingsStore& settings);
// "Raport opadów" (127).
INT_PTR RunRainReport(HWND owner, AppContext& context, SettingsStore& settings);

// "Interwał rejestracji" (105).  Receives WMU_PERIOD_READ (the converter's
// interval) and WMU_PERIOD_SET (the write's outcome) from the worker.
INT_PTR RunLogIntervalDialog(HWND owner, AppContext& context);
// "O programie" (107), without a creation parameter.
INT_PTR RunAboutDialog(HWND owner);
// "Deszczomierz (Wejście nr 0)" (119).
INT_PTR RunRainGaugeDialog(HWND owner, AppContext& context, SettingsStore& settings);
// "Ustaw czas" (124); places request 6 after it ends with OK.
INT_PTR RunSetTimeDialog(HWND owner, AppContext& context);
// "Ustawienia dodatkowe" (125).
INT_PTR RunExtraSettingsDialog(HWND owner, AppContext& context, SettingsStore& settings);
// "Velmor - promocja QMV" (157), shown at start-up while SHOW_QMV is set.
INT_PTR RunPromotionDialog(HWND owner, AppContext& context);

}  // namespace kx305mon
