// kx305cli: the command-line front end of the KX-305 software for headless
// stations and scripts.  This file only parses the arguments; the commands
// live in device_session.cpp and file_commands.cpp.
#include <CLI/CLI.hpp>
#include <charconv>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstdio>
#include <exception>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "console.h"
#include "device_session.h"
#include "file_commands.h"
#include "serve.h"
#include "serve_payloads.h"
#include "instruments/locale.h"

using namespace kx305cli;

namespace {

// Every option of every command; the chosen subcommand reads its part.
struct Arguments {
    bool raw = false;
    std::string decimal;
    std::string listSeparator;

    DeviceOptions device;
    bool noAverage = false;
    int count = 0;
    RecordOptions record;
    std::string date;
    std::string time;
    uint32_t period = 0;

    std::string file;
    std::string output;
    std::string layout = "text";
    std::string separator = "list";
    std::vector<std::string> fields;
    int recordNumber = 0;
    std::string rainPeriod;

    ServeOptions serve;
    std::string broker;
    std::string user;
    std::string passwordFile;
    bool noDiscovery = false;
};

const std::map<std::string, uint32_t> kFieldBits = {
    {"date", 0x008}, {"name", 0x010}, {"serial", 0x020}, {"quantity", 0x040}, {"result", 0x080}, {"status", 0x100},
};

// Number checks that say what is wrong in words a user reads at a glance
// (CLI11's own call "abc" out of range and print a bound of 300 digits).
CLI::Validator WholeNumber(long long min, long long max) {
    const std::string range = "a whole number from " + std::to_string(min) + " to " + std::to_string(max);
    return CLI::Validator(
        [min, max, range](std::string& text) -> std::string {
            long long value = 0;
            const char* end = text.data() + text.size();
            const auto [stop, error] = std::from_chars(text.data(), end, value);
            if (error == std::errc::invalid_argument || stop != end) {
                return "'" + text + "' is not a whole number";
            }
            if (error == std::errc::result_out_of_range || value < min || value > max) {
                return "'" + text + "' is out of range: " + range;
            }
            return "";
        },
        "INT");
}

// Seconds as a decimal number, finite, from `min` to `max`; 0 too when
// `zeroAllowed` (meaning "no limit").
CLI::Validator Seconds(double min, double max, bool zeroAllowed) {
    char bounds[96];
    std::snprintf(bounds, sizeof bounds, "%sseconds from %g to %.0f", zeroAllowed ? "0 or " : "", min, max);
    const std::string range = bounds;
    return CLI::Validator(
        [min, max, zeroAllowed, range](std::string& text) -> std::string {
            double value = 0;
            const char* end = text.data() + text.size();
            const auto [stop, error] = std::from_chars(text.data(), end, value);
            if (error == std::errc::invalid_argument || stop != end || !std::isfinite(value)) {
                return "'" + text + "' is not a number of seconds";
            }
            if (zeroAllowed && value == 0) return "";
            if (error == std::errc::result_out_of_range || value < min || value > max) {
                return "'" + text + "' is out of range: " + range;
            }
            return "";
        },
        "SECONDS");
}

// Longest duration and time-out taken: ten years.  Beyond it the clock
// arithmetic of the waits would overflow, and nobody means it.
constexpr double kLongestSeconds = 10 * 365 * 86400.0;
constexpr double kShortestSeconds = 0.001;

void AddDeviceOptions(CLI::App& command, Arguments& a) {
    CLI::Option* port = command.add_option("--port", a.device.port,
                                           "Serial port of the converter (a tty such as /dev/ttyUSB0); "
                                           "without it the built-in simulator runs");
    // An empty name is a script's unset variable, not a wish for made-up
    // data in the user's file.
    port->check(CLI::Validator(
        [](std::string& text) { return text.empty() ? std::string("the port name is empty") : std::string(); },
        "PORT"));
    command
        .add_option("--sim-option", a.device.simArgs,
                    "An argument for the built-in simulator (repeatable), e.g. --sim-option=--prefill=30")
        ->allow_extra_args(false)
        ->excludes(port);
    command
        .add_option("--timeout", a.device.timeoutSeconds,
                    "Seconds to wait for the converter's first answer and for each operation (0: no limit)")
        ->check(Seconds(kShortestSeconds, kLongestSeconds, true))
        ->capture_default_str();
}

void AddSeparatorOption(CLI::App& command, Arguments& a) {
    command.add_option("--separator", a.separator, "Field separator: tab, or the list separator of the locale")
        ->check(CLI::IsMember({"tab", "list"}))
        ->capture_default_str();
}

// The options of `command` from an INI file, for those the command line
// left unset.  CLI11 2.1 reads the configuration file of the main command
// only, never a subcommand's, so the subcommand reads its own here (while
// CLI11 runs the option callbacks, before it checks what is required).  A
// key that names no option is an error: dropped in silence, it would leave
// a service running on a default its user meant to change.
void ReadConfiguration(CLI::App& command, CLI::Option* positional, const std::string& path) {
    CLI::ConfigINI format;
    for (const CLI::ConfigItem& item : format.from_file(path)) {
        if (item.name == "++" || item.name == "--") continue;  // a section's bounds
        CLI::Option* option = nullptr;
        if (item.parents.empty() && item.name != "config" && item.name != "help") {
            option = item.name == "file" ? positional : command.get_option_no_throw("--" + item.name);
        }
        if (option == nullptr)
            throw CLI::ConfigError(path + ": '" + item.fullname() + "' is no option of " + command.get_name());
        if (option->count() > 0) continue;
        if (option->get_expected_min() == 0) {
            option->add_result(option->get_flag_value(item.name, format.to_flag(item)));
        } else {
            option->add_result(item.inputs);
        }
        option->run_callback();
    }
}

// "MM-DD" and "hh:mm:ss" as dialog 124 takes them; "" or the complaint.
std::string ParseLocalTime(const std::string& date, const std::string& time, int fields[5]) {
    int used = 0;
    if (std::sscanf(date.c_str(), "%d-%d%n", &fields[0], &fields[1], &used) != 2 ||
        static_cast<size_t>(used) != date.size()) {
        return "set-time: the date must be MM-DD";
    }
    if (std::sscanf(time.c_str(), "%d:%d:%d%n", &fields[2], &fields[3], &fields[4], &used) != 3 ||
        static_cast<size_t>(used) != time.size()) {
        return "set-time: the time must be hh:mm:ss";
    }
    if (fields[0] < 1 || fields[0] > 12) return "set-time: the month must be 1 to 12";
    if (fields[1] < 1 || fields[1] > 31) return "set-time: the day must be 1 to 31";
    if (fields[2] < 0 || fields[2] > 23) return "set-time: the hour must be 0 to 23";
    if (fields[3] < 0 || fields[3] > 59) return "set-time: the minute must be 0 to 59";
    if (fields[4] < 0 || fields[4] > 59) return "set-time: the second must be 0 to 59";
    return "";
}

// A one-character option; "" when it is one, else the complaint.
std::string SingleCharacter(const std::string& text, const char* option) {
    if (text.size() == 1) return "";
    return std::string(option) + " takes exactly one character";
}

// Installs the locale with the separators the user gave, for the whole run.
void InstallLocaleOverride(const Arguments& a) {
    static std::unique_ptr<kx305mon::NumberLocale> adjusted;
    if (a.decimal.empty() && a.listSeparator.empty()) return;
    const char decimal = a.decimal.empty() ? 0 : a.decimal[0];
    const char list = a.listSeparator.empty() ? 0 : a.listSeparator[0];
    adjusted = kx305mon::MakeOverrideLocale(kx305mon::CurrentLocale(), decimal, list);
    kx305mon::SetLocaleOverride(adjusted.get());
}

// The broker's address, user and password; a usage error is told here.
int ServeSettings(Arguments& a) {
    LinkSettings& link = a.serve.link;
    std::string error;
    if (!ParseBrokerUrl(a.broker, link.address, error)) {
        Console::Error("--broker: " + error);
        return kExitUsage;
    }
    link.user = !a.user.empty() ? a.user : link.address.user;
    if (!a.passwordFile.empty()) {
        FILE* file = std::fopen(a.passwordFile.c_str(), "r");
        if (file == nullptr) {
            Console::Error(a.passwordFile, SystemReason(errno));
            return kExitUsage;
        }
        char line[1024] = {};
        if (std::fgets(line, sizeof line, file) == nullptr) line[0] = '\0';
        std::fclose(file);
        link.password = line;
        while (!link.password.empty() && (link.password.back() == '\n' || link.password.back() == '\r')) {
            link.password.pop_back();
        }
        link.hasPassword = true;
    } else if (const char* password = std::getenv("KX305_MQTT_PASSWORD"); password != nullptr) {
        link.password = password;
        link.hasPassword = true;
    }
    if (link.hasPassword && link.user.empty()) {
        Console::Error("a password needs a user name (--user or USER@ in the URL)");
        return kExitUsage;
    }
    if (!link.address.tls && (!link.cafile.empty() || !link.certfile.empty() || !link.keyfile.empty())) {
        Console::Error("--cafile, --cert and --key need an mqtts:// broker");
        return kExitUsage;
    }
    if (link.certfile.empty() != link.keyfile.empty()) {
        Console::Error("--cert and --key go together");
        return kExitUsage;
    }
    for (const auto& [prefix, option] :
         {std::pair{a.serve.topicPrefix, "--topic-prefix"}, {a.serve.discoveryPrefix, "--discovery-prefix"}}) {
        if (prefix.empty() || prefix.find_first_of("#+") != std::string::npos || prefix.front() == '/' ||
            prefix.back() == '/') {
            Console::Error(std::string(option) + ": '" + prefix +
                           "' is no topic prefix (empty, '#', '+' or a '/' at an end)");
            return kExitUsage;
        }
    }
    a.serve.discovery = !a.noDiscovery;
    return kExitOk;
}

int Run(int argc, char** argv) {
    Arguments a;
    CLI::App app{"kx305cli: the KX-305 converter from the command line"};
    app.set_version_flag("--version", "kx305cli " KX305_VERSION_TEXT);
    app.require_subcommand(1);
    app.fallthrough();
    app.add_flag("--raw", a.raw, "Print code page 1250 bytes unchanged instead of converting them for the terminal");
    app.add_option("--decimal", a.decimal,
                   "Decimal separator instead of the locale's (one character; the list separator stays)");
    app.add_option("--list-separator", a.listSeparator, "List separator instead of the locale's (one character)");

    CLI::App* info = app.add_subcommand("info", "Firmware version, firmware date and serial number");
    AddDeviceOptions(*info, a);

    CLI::App* time = app.add_subcommand("time", "The converter clock in UTC and in local time");
    AddDeviceOptions(*time, a);

    CLI::App* read = app.add_subcommand("read", "Live readings, one block per polling cycle, until Ctrl-C");
    AddDeviceOptions(*read, a);
    read->add_option("--count", a.count, "Stop after this many polling cycles")->check(WholeNumber(1, INT32_MAX));
    read->add_flag("--no-kx125-average", a.noAverage, "Describe a KX-125 without its average temperature");

    CLI::App* record = app.add_subcommand("record", "Record the converter's logging memory into a registration file");
    AddDeviceOptions(*record, a);
    record->add_option("FILE", a.record.file, "Registration file (*.kxg); new records are appended")->required();
    record->add_option("--duration", a.record.durationSeconds, "Stop after this many seconds (default: Ctrl-C)")
        ->check(Seconds(kShortestSeconds, kLongestSeconds, false));
    record->add_option("--interval", a.record.interval, "Seconds between two downloads, at least 20")
        ->check(WholeNumber(20, UINT32_MAX))
        ->capture_default_str();

    CLI::App* serve =
        app.add_subcommand("serve", "Record like `record` and publish the readings and records to an MQTT broker");
    AddDeviceOptions(*serve, a);
    CLI::Option* serveFile =
        serve->add_option("FILE", a.record.file, "Registration file (*.kxg); new records are appended")->required();
    serve->add_option("--duration", a.record.durationSeconds, "Stop after this many seconds (default: Ctrl-C)")
        ->check(Seconds(kShortestSeconds, kLongestSeconds, false));
    serve->add_option("--interval", a.record.interval, "Seconds between two downloads, at least 20")
        ->check(WholeNumber(20, UINT32_MAX))
        ->capture_default_str();
    serve->add_option("--broker", a.broker, "mqtt://HOST[:PORT] or mqtts://HOST[:PORT] (TLS)")->required();
    serve->add_option("--user", a.user, "User name at the broker (also USER@ in the URL)");
    serve->add_option("--password-file", a.passwordFile,
                      "File whose first line is the password (else $KX305_MQTT_PASSWORD)");
    serve->add_option("--client-id", a.serve.link.clientId, "MQTT client id (default: kx305-<converter serial>)");
    serve->add_option("--topic-prefix", a.serve.topicPrefix, "First level of the topics")->capture_default_str();
    serve->add_option("--discovery-prefix", a.serve.discoveryPrefix, "Home Assistant's discovery prefix")
        ->capture_default_str();
    serve->add_flag("--no-discovery", a.noDiscovery, "Publish no Home Assistant discovery");
    serve->add_option("--cafile", a.serve.link.cafile, "TLS: the certificate authorities to trust (PEM)");
    serve->add_option("--cert", a.serve.link.certfile, "TLS: the client certificate (PEM)");
    serve->add_option("--key", a.serve.link.keyfile, "TLS: the client certificate's key (PEM)");
    serve->add_option_function<std::string>(
        "--config", [serve, serveFile](const std::string& path) { ReadConfiguration(*serve, serveFile, path); },
        "Read the options from an INI file: KEY = VALUE, KEY a long option without its dashes or file; "
        "the command line wins");

    CLI::App* syncClock = app.add_subcommand("sync-clock", "Set the converter clock to the computer's");
    AddDeviceOptions(*syncClock, a);

    CLI::App* setTime = app.add_subcommand("set-time", "Set the converter clock to a local date and time of this year");
    AddDeviceOptions(*setTime, a);
    setTime->add_option("DATE", a.date, "MM-DD")->required();
    setTime->add_option("TIME", a.time, "hh:mm:ss")->required();

    CLI::App* getPeriod = app.add_subcommand("get-period", "Print the converter's log interval in seconds");
    AddDeviceOptions(*getPeriod, a);

    CLI::App* setPeriod = app.add_subcommand("set-period", "Set the converter's log interval (1 to 65535 s)");
    AddDeviceOptions(*setPeriod, a);
    setPeriod->add_option("SECONDS", a.period, "Seconds; larger values are cut to 65535")
        ->check(WholeNumber(1, UINT32_MAX))
        ->required();

    CLI::App* resetRain = app.add_subcommand("reset-rain", "Reset the converter's rain counter");
    AddDeviceOptions(*resetRain, a);

    CLI::App* dump = app.add_subcommand(
        "dump", "Every entry of a registration file: record, time stamp, type, status, serial, quantity, value");
    dump->add_option("FILE", a.file, "Registration file (*.kxg)")->required();

    CLI::App* exportCommand = app.add_subcommand("export", "Export the records of a registration file");
    exportCommand->add_option("FILE", a.file, "Registration file (*.kxg)")->required();
    exportCommand->add_option("--layout", a.layout, "csv, or text (descriptive)")
        ->check(CLI::IsMember({"csv", "text"}))
        ->capture_default_str();
    exportCommand->add_option("--record", a.recordNumber, "Only this record (numbered from 1)")
        ->check(WholeNumber(1, INT32_MAX));
    AddSeparatorOption(*exportCommand, a);
    exportCommand
        ->add_option("--fields", a.fields,
                     "Fields of the text layout, comma-separated: date,name,serial,quantity,result,status")
        ->delimiter(',')
        ->check(CLI::IsMember({"date", "name", "serial", "quantity", "result", "status"}));
    exportCommand->add_flag("--no-kx125-average", a.noAverage, "Leave out the KX-125 average temperature");
    exportCommand->add_option("-o,--output", a.output, "Write to this file (code page 1250, CR LF) instead of stdout");

    CLI::App* rain = app.add_subcommand("rain", "Rain report of a registration file");
    rain->add_option("FILE", a.file, "Registration file (*.kxg)")->required();
    rain->add_option("--period", a.rainPeriod, "hours, days or months")
        ->check(CLI::IsMember({"hours", "days", "months"}))
        ->required();
    AddSeparatorOption(*rain, a);
    rain->add_option("-o,--output", a.output, "Write to this file (code page 1250, CR LF) instead of stdout");

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        const int code = app.exit(e);
        return code == 0 ? kExitOk : kExitUsage;
    }

    Console::Init(a.raw);
    for (const auto& [text, option] : {std::pair{a.decimal, "--decimal"}, {a.listSeparator, "--list-separator"}}) {
        if (text.empty()) continue;
        if (std::string complaint = SingleCharacter(text, option); !complaint.empty()) {
            Console::Error(complaint);
            return kExitUsage;
        }
    }
    if (!a.decimal.empty() && a.decimal == a.listSeparator) {
        // Numbers with a decimal comma in a comma-separated list cannot be
        // told apart again.
        Console::Error("--decimal and --list-separator must differ (both are '" + a.decimal + "')");
        return kExitUsage;
    }
    InstallLocaleOverride(a);
    a.device.averageKX125 = !a.noAverage;

    if (app.got_subcommand(dump)) return RunDump(a.file);
    if (app.got_subcommand(exportCommand)) {
        ExportOptions options;
        options.file = a.file;
        options.output = a.output;
        options.descriptive = a.layout == "text";
        options.listSeparator = a.separator == "list";
        options.record = a.recordNumber;
        options.averageKX125 = !a.noAverage;
        if (exportCommand->count("--fields") > 0) {
            options.fields = 0;
            for (const std::string& field : a.fields) options.fields |= kFieldBits.at(field);
        }
        return RunExport(options);
    }
    if (app.got_subcommand(rain)) {
        RainOptions options;
        options.file = a.file;
        options.output = a.output;
        options.listSeparator = a.separator == "list";
        options.interval = a.rainPeriod == "hours"  ? kx305mon::RainInterval::Hours
                           : a.rainPeriod == "days" ? kx305mon::RainInterval::Days
                                                    : kx305mon::RainInterval::Months;
        return RunRain(options);
    }

    // The device commands.
    int localTime[5] = {};
    if (app.got_subcommand(setTime)) {
        if (std::string complaint = ParseLocalTime(a.date, a.time, localTime); !complaint.empty()) {
            Console::Error(complaint);
            return kExitUsage;
        }
    }
    InstallStopSignals();
    if (app.got_subcommand(info)) return RunInfo(a.device);
    if (app.got_subcommand(time)) return RunTime(a.device);
    if (app.got_subcommand(read)) return RunRead(a.device, a.count);
    if (app.got_subcommand(record)) return RunRecord(a.device, a.record);
    if (app.got_subcommand(serve)) {
        if (int result = ServeSettings(a); result != kExitOk) return result;
        return RunServe(a.device, a.record, a.serve);
    }
    if (app.got_subcommand(syncClock)) return RunSyncClock(a.device);
    if (app.got_subcommand(setTime)) {
        return RunSetTime(a.device, localTime[0], localTime[1], localTime[2], localTime[3], localTime[4]);
    }
    if (app.got_subcommand(getPeriod)) return RunGetPeriod(a.device);
    if (app.got_subcommand(setPeriod)) return RunSetPeriod(a.device, a.period);
    if (app.got_subcommand(resetRain)) return RunResetRain(a.device);
    return kExitUsage;
}

}  // namespace

int main(int argc, char** argv) {
    try {
        return Run(argc, argv);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "kx305cli: %s\n", e.what());
        return kExitFailure;
    }
}
