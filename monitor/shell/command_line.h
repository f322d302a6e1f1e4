// The program's command line: whitespace-separated words; words that do not
// begin with "-" are ignored.  Options:
//   -D, -d    save every settings group after parsing (with the port below)
//   -Pn, -pn  port COMn for this run, n one digit 1..9 (-P0 is accepted and
//             changes nothing); the last one wins
// Anything else beginning with "-" makes the whole line invalid.
#pragma once

#include <cstdint>
#include <string_view>

#include "acquisition/app_context.h"
#include "shell/settings_store.h"

namespace kx305mon {

struct CommandLineOptions {
    bool valid = true;
    int32_t port = 0;           // 0 = not given (or -P0)
    bool saveSettings = false;  // -D
};

CommandLineOptions ParseCommandLineOptions(std::string_view commandLine);

// Parses the line and applies it: the port first, then the -D save, so that
// "-P3 -D" stores port 3.  An invalid line changes nothing and gives false;
// the entry then shows messages::kBadCommandLine and ends with 1.
bool ParseCommandLine(AppContext& context, std::string_view commandLine, SettingsStore& store);

}  // namespace kx305mon
