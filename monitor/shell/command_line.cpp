#include "shell/command_line.h"

#include "shell/settings.h"

namespace kx305mon {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f'; }

// One word beginning with "-"; false when it is not an option.
bool ApplyOption(std::string_view word, CommandLineOptions& options) {
    if (word.size() == 2 && (word[1] == 'D' || word[1] == 'd')) {
        options.saveSettings = true;
        return true;
    }
    if (word.size() == 3 && (word[1] == 'P' || word[1] == 'p') && word[2] >= '0' && word[2] <= '9') {
        if (word[2] != '0') options.port = word[2] - '0';
        return true;
    }
    return false;
}

}  // namespace

CommandLineOptions ParseCommandLineOptions(std::string_view commandLine) {
    CommandLineOptions options;
    size_t at = 0;
    while (at < commandLine.size()) {
        while (at < commandLine.size() && IsBlank(commandLine[at])) ++at;
        const size_t start = at;
        while (at < commandLine.size() && !IsBlank(commandLine[at])) ++at;
        const std::string_view word = commandLine.substr(start, at - start);
        if (word.empty() || word[0] != '-') continue;
        if (!ApplyOption(word, options)) return CommandLineOptions{false, 0, false};
    }
    return options;
}

bool ParseCommandLine(AppContext& context, std::string_view commandLine, SettingsStore& store) {
    const CommandLineOptions options = ParseCommandLineOptions(commandLine);
    if (!options.valid) return false;
    if (options.port != 0) SetPort(context, options.port);
    if (options.saveSettings) SaveSettings(context, store, kSettingsAll);
    return true;
}

}  // namespace kx305mon
