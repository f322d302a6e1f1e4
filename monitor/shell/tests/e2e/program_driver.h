// What every driver of kx305mon.exe needs, with or without GoogleTest (the
// end-to-end scenarios and the Wine benchmarks): its settings key, its
// start with KX305MON_EXE, its main window, and the simulated converters'
// ports and control channel as scripts/wine-sim-run announces them.
// Failures are return values with the reason in ui::LastError().
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "uidriver.h"

namespace kx305::e2e {

using ui::Milliseconds;

// The program's settings key below HKEY_CURRENT_USER.
inline constexpr char kSettingsKey[] = "Software\\Velmor\\KX-305V\\2.3";
// Title of the main window and caption of every message box.
inline constexpr char kTitle[] = "Konwerter KX-305";
inline constexpr Milliseconds kStartWait{20000};
inline constexpr Milliseconds kExitWait{20000};

// A variable of this process's environment; "" when unset.
std::string EnvironmentVariable(const char* variable);
// A port variable of scripts/wine-sim-run ("\\.\COM5"); "" when unset.
inline std::string EnvironmentPort(const char* variable) { return EnvironmentVariable(variable); }
// The COM number of "\\.\COM5" or "COM5"; 0 when there is none.
int PortNumber(const std::string& port);
// A Unix path of the build tree as Wine sees it (Z:...); other paths unchanged.
std::string WinePath(const std::string& path);

// The ten settings values as the program keeps them.
struct Settings {
    DWORD flags = 0x1FF;
    DWORD port = 0x7FFFFFFF;
    std::string logfile;
    std::string rainName = "Deszczomierz KX-305";
    DWORD rainSerial = 0;
    DWORD rainCal = 1000;
    DWORD rainPeriod = 1;
    DWORD kx125Average = 1;
    DWORD quickStart = 0;
    DWORD showQmv = 1;
};
// Writes all ten values (a key left by an earlier run is removed first).
bool WriteSettings(const Settings& settings);
// Settings for a start straight into live readings on `port` ("\\.\COMn"),
// recording into `logfile`, no promotion.
Settings QuickStartSettings(const std::string& port, const std::string& logfile);

// "key=value" of a simulator reply ("ok firmware=1.13 serial=3051 ..."); "" when absent.
std::string ReplyField(const std::string& reply, const std::string& key);
// A simulator's reply to `command`, "" when the channel failed.
std::string Simulator(const std::string& port, const std::string& command);
// The start of the converter line 1025 while the program shows live data
// of the simulator on `port` ("KX-305 wersja 1.13, nr 3051" for
// firmware=1.13 serial=3051 in its state); "" when its state is unreadable.
std::string LiveConverterLine(const std::string& port);

// Ends copies of the program that an aborted run left behind: the settings
// key and the single-instance name are the prefix's, and a copy that still
// runs would change what the next run sees.
void EndLeftoverPrograms();
// A directory with everything in it (files, subdirectories).
void RemoveDirectoryTree(const std::string& directory);

// Starts kx305mon.exe (KX305MON_EXE, a Unix path taken as Z:) in
// `workingDirectory` with these arguments.
std::optional<ui::Process> StartProgram(const std::vector<std::string>& arguments, const std::string& workingDirectory);
// The main window of `program` (the "Konwerter KX-305" dialog with the
// converter status 1025; message boxes share the title), also while it is
// not shown yet.  On failure LastError() tells what there was instead.
std::optional<HWND> WaitMainWindow(const ui::Process& program, Milliseconds timeout = kStartWait);

}  // namespace kx305::e2e
