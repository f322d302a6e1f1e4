// kx305cli as users and scripts run it: the built program in a fresh process
// with LC_ALL=C.UTF-8 and a Central European time zone, against registration
// files written here with the recording core and against kx305sim.  Its
// stdout, stderr, exit code and output files are checked byte for byte.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "instruments/catalogue.h"
#include "instruments/locale.h"
#include "kx305.h"
#include "process.h"
#include "recording/export.h"
#include "recording/file.h"
#include "recording/registration_file.h"
#include "sim_process.h"
#include "temporary_directory.h"
#include "time/local_time.h"
#include "time_builders.h"

namespace kx305cli {
namespace {

using kx305mon::FileMode;
using kx305mon::RecordList;
using kx305sim::SimProcess;
using testing::Process;
using testing::ProcessResult;

namespace fs = std::filesystem;

constexpr const char* kTimeZone = "CET-1CEST,M3.5.0,M10.5.0/3";

// The test process converts time stamps and formats numbers like the
// program it runs.
const bool kEnvironmentSet = [] {
    setenv("TZ", kTimeZone, 1);
    setenv("LC_ALL", "C.UTF-8", 1);
    tzset();
    return true;
}();

// UTF-8 text from a u8 literal (narrow literals here are code page 1250).
std::string Utf8(const char8_t* text) { return reinterpret_cast<const char*>(text); }

std::string ReadFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

void WriteBytes(const std::string& path, const std::string& bytes) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file << bytes;
}

using kx305mon::testing::RecordAt;

// Rain gauge on input 0 with a total of `impulses` (0.1 mm each at the
// calibration these tests use).
void SetRain(LogRecord& record, int impulses) {
    record.results[0].type = kx305mon::kTypeRainGauge;
    record.results[0].data[0] = impulses;
}

void SetKX124(LogRecord& record, int input, int serial, int temperatureTenths, int humidityTenths) {
    InputReading& r = record.results[input];
    r.type = kx305mon::kTypeKX124;
    r.data[3] = serial;
    r.data[5] = temperatureTenths;
    r.data[4] = humidityTenths;
}

// The worked example of the registration file: 2007-02-19 14:16:55 UTC
// (15:16:55 in CET), rain 0.2 mm, a KX-124 no. 5678 with 21.5 °C and 45.3 %.
LogRecord ExampleRecord() {
    LogRecord record = RecordAt(2007, 2, 19, 14, 16, 55);
    SetRain(record, 2);
    SetKX124(record, 1, 5678, 215, 453);
    return record;
}

class CliTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir_.Create("kx305cli_test"));
        fs::create_directory(dir_.Path("tmp"));
        kx305mon::ResetRainGaugeSettings();
        kx305mon::rainGaugeSettings().serial = 1234;
        kx305mon::rainGaugeSettings().calibration = 100;
    }
    void TearDown() override { kx305mon::ResetRainGaugeSettings(); }

    std::string Path(const std::string& name) const { return dir_.Path(name); }

    std::map<std::string, std::string> Environment() const {
        std::map<std::string, std::string> env = {
            {"LC_ALL", "C.UTF-8"},
            {"TZ", kTimeZone},
            {"TMPDIR", dir_.Path("tmp")},
            {"PATH", "/usr/bin:/bin"},
            {"KX305SIM", kx305sim::SimulatorPath()},
        };
        for (const auto& [name, value] : extraEnvironment_) {
            if (value.empty()) {
                env.erase(name);
            } else {
                env[name] = value;
            }
        }
        return env;
    }

    ProcessResult Run(const std::vector<std::string>& args, int timeoutMs = 60000) {
        Process process(KX305CLI_PATH, args, Environment());
        return process.Wait(timeoutMs);
    }

    // A registration file of the given records, written by the recording core.
    std::string WriteRegistration(const std::string& name, const std::vector<LogRecord>& records) {
        const std::string path = Path(name);
        std::unique_ptr<kx305mon::FileStream> file = kx305mon::OpenFile(path, FileMode::Recording);
        EXPECT_NE(file, nullptr);
        for (const LogRecord& record : records) EXPECT_TRUE(kx305mon::WriteRegistrationRecord(*file, record));
        return path;
    }

    RecordList ReadRegistration(const std::string& path) {
        RecordList records;
        std::unique_ptr<kx305mon::FileStream> file = kx305mon::OpenFile(path, FileMode::Reading);
        kx305mon::ReadRegistrationFile(file.get(), records);
        return records;
    }

    kx305::support::TemporaryDirectory dir_;
    std::map<std::string, std::string> extraEnvironment_;
};

// --- registration files: dump, export, rain ---

TEST_F(CliTest, CsvExportToFileIsTheProgramsCodePage1250Text) {
    const std::string kxg = WriteRegistration("example.kxg", {ExampleRecord()});
    const ProcessResult r = Run({"export", kxg, "--layout", "csv", "--separator", "list", "--decimal", ",",
                                 "--list-separator", ";", "-o", Path("out.csv")});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(ReadFile(Path("out.csv")),
              "Data i Czas;KX305 Opad (mm);KX124 Temperatura (°C);KX124 Wilgotność (%);\r\n"
              "2007.02.19 15:16:55;0,2;21,5;45,3;\r\n");
}

TEST_F(CliTest, ExportToStdoutIsConvertedForTheTerminalAndRawKeepsTheFileBytes) {
    const std::string kxg = WriteRegistration("example.kxg", {ExampleRecord()});
    const std::vector<std::string> args = {"export", kxg, "--layout", "csv", "--decimal", ",", "--list-separator", ";"};
    const ProcessResult utf8 = Run(args);
    ASSERT_EQ(utf8.exitCode, 0) << utf8.err;
    EXPECT_EQ(utf8.out, Utf8(u8"Data i Czas;KX305 Opad (mm);KX124 Temperatura (°C);KX124 Wilgotność (%);\r\n"
                             u8"2007.02.19 15:16:55;0,2;21,5;45,3;\r\n"));

    std::vector<std::string> rawArgs = args;
    rawArgs.push_back("--raw");
    const ProcessResult raw = Run(rawArgs);
    rawArgs.insert(rawArgs.end(), {"-o", Path("raw.csv")});
    ASSERT_EQ(Run(rawArgs).exitCode, 0);
    EXPECT_EQ(raw.out, ReadFile(Path("raw.csv")));
    EXPECT_NE(raw.out.find("Wilgotno\x9C\xE6"), std::string::npos);
}

TEST_F(CliTest, DescriptiveExportMatchesTheRecordingCore) {
    LogRecord second = RecordAt(2007, 2, 19, 14, 26, 55);
    SetRain(second, 3);
    SetKX124(second, 1, 5678, -15, 999);
    const std::string kxg = WriteRegistration("two.kxg", {ExampleRecord(), second});
    const ProcessResult r = Run({"export", kxg, "--decimal", ",", "--list-separator", ";", "-o", Path("out.txt")});
    ASSERT_EQ(r.exitCode, 0) << r.err;

    // The same export made here, through the same locale rules.
    RecordList records = ReadRegistration(kxg);
    ASSERT_EQ(records.size(), 2u);
    std::unique_ptr<kx305mon::NumberLocale> locale = kx305mon::MakeOverrideLocale(kx305mon::CurrentLocale(), ',', ';');
    const kx305mon::ExportContext context =
        kx305mon::MakeExportContext(kx305mon::kDefaultExportFlags, true, records, *locale);
    const std::string expectedPath = Path("expected.txt");
    kx305mon::ExportRecords(context, expectedPath, kx305mon::kAllRecords);
    const std::string written = ReadFile(Path("out.txt"));
    EXPECT_EQ(written, ReadFile(expectedPath));
    EXPECT_NE(written.find("Deszczomierz KX-305;1234;Opad;0.2;mm;Pomiar --> OK;\r\n"), std::string::npos);
    EXPECT_NE(written.find("Termohigrometr KX-124;5678;Temperatura;-1.5;°C;Pomiar --> OK;\r\n"), std::string::npos);
}

TEST_F(CliTest, ExportChoosesFieldsRecordSeparatorAndKX125Average) {
    LogRecord second = RecordAt(2007, 2, 19, 15, 0, 0);
    SetRain(second, 7);
    SetKX124(second, 1, 5678, 200, 500);
    LogRecord third = second;
    third.hour = 16;
    InputReading& kx125 = third.results[2];
    kx125.type = kx305mon::kTypeKX125;
    kx125.data[3] = 77;    // serial
    kx125.data[2] = 1;     // tenths
    kx125.data[6] = 1;     // channel 1 present
    kx125.data[14] = 183;  // channel 1: 18.3 °C
    const std::string kxg = WriteRegistration("three.kxg", {ExampleRecord(), second, third});

    const ProcessResult values = Run({"export", kxg, "--fields", "result", "--separator", "tab", "--record", "2"});
    ASSERT_EQ(values.exitCode, 0) << values.err;
    EXPECT_EQ(values.out,
              "0.7\tmm\t\r\n20\t\xC2\xB0"
              "C\t\r\n50\t%\t\r\n\r\n");

    const ProcessResult csv =
        Run({"export", kxg, "--layout", "csv", "--separator", "tab", "--record", "3", "--no-kx125-average"});
    ASSERT_EQ(csv.exitCode, 0) << csv.err;
    const std::string title = csv.out.substr(0, csv.out.find("\r\n"));
    EXPECT_EQ(title.find("KX125 Temperatura ("), std::string::npos) << title;
    EXPECT_NE(title.find("KX125 Temperatura1 ("), std::string::npos) << title;
    EXPECT_EQ(csv.out.substr(csv.out.find("\r\n") + 2, 20), "2007.02.19 17:00:00\t");

    const ProcessResult withAverage = Run({"export", kxg, "--layout", "csv", "--record", "3"});
    ASSERT_EQ(withAverage.exitCode, 0) << withAverage.err;
    EXPECT_NE(withAverage.out.find("KX125 Temperatura ("), std::string::npos);
}

TEST_F(CliTest, RainReportSumsWholeMillimetresPerHour) {
    std::vector<LogRecord> records;
    const int totals[] = {102, 110, 125, 127, 129};  // tenths of a millimetre
    const int minutes[] = {0, 30, 60, 90, 120};      // after 13:00 UTC = 14:00 CET
    for (int i = 0; i < 5; ++i) {
        LogRecord record = RecordAt(2007, 2, 19, 13 + minutes[i] / 60, minutes[i] % 60, 0);
        SetRain(record, totals[i]);
        records.push_back(record);
    }
    const std::string kxg = WriteRegistration("rain.kxg", records);
    const ProcessResult hours = Run({"rain", kxg, "--period", "hours", "--list-separator", ";", "-o", Path("r.csv")});
    ASSERT_EQ(hours.exitCode, 0) << hours.err;
    EXPECT_EQ(ReadFile(Path("r.csv")),
              "Data i czas;Wynik [mm];Status\r\n"
              "2007-02-19 15:00:00;2;Pomiar --> OK\r\n"
              "2007-02-19 16:00:00;0;Pomiar --> OK\r\n");

    const ProcessResult days = Run({"rain", kxg, "--period", "days", "--separator", "tab"});
    ASSERT_EQ(days.exitCode, 0) << days.err;
    EXPECT_EQ(days.out, "Data i czas\tWynik [mm]\tStatus\r\n");
}

TEST_F(CliTest, DumpListsEveryEntryAndSkipsADamagedRecord) {
    LogRecord second = RecordAt(2007, 2, 19, 15, 0, 0);
    SetRain(second, 5);
    LogRecord third = RecordAt(2007, 2, 19, 16, 0, 0);
    SetRain(third, 9);
    third.results[3].type = kx305mon::kTypeKX124;
    third.results[3].data[3] = 42;
    third.results[3].data[5] = kx305mon::INVALID_VALUE;
    third.results[3].data[4] = 500;
    const std::string kxg = WriteRegistration("dump.kxg", {ExampleRecord(), second, third});

    const ProcessResult whole = Run({"dump", kxg});
    ASSERT_EQ(whole.exitCode, 0) << whole.err;
    EXPECT_EQ(whole.out,
              "1\t20070219151655\t1\t1\t1234\t40\t0.2\n"
              "1\t20070219151655\t3\t1\t5678\t25\t21.5\n"
              "1\t20070219151655\t3\t1\t5678\t26\t45.3\n"
              "2\t20070219160000\t1\t1\t1234\t40\t0.5\n"
              "3\t20070219170000\t1\t1\t1234\t40\t0.9\n"
              "3\t20070219170000\t3\t1\t42\t25\t????? \n"
              "3\t20070219170000\t3\t1\t42\t26\t50\n");

    // Change one digit of the second record's time stamp (stored negated).
    std::string bytes = ReadFile(kxg);
    const size_t secondStart = 68;  // the example record is 68 bytes
    ASSERT_EQ(static_cast<char>(-bytes[secondStart]), '2');
    bytes[secondStart + 3] = static_cast<char>(-'9');
    WriteBytes(kxg, bytes);
    const ProcessResult damaged = Run({"dump", kxg});
    ASSERT_EQ(damaged.exitCode, 0) << damaged.err;
    EXPECT_EQ(damaged.out,
              "1\t20070219151655\t1\t1\t1234\t40\t0.2\n"
              "1\t20070219151655\t3\t1\t5678\t25\t21.5\n"
              "1\t20070219151655\t3\t1\t5678\t26\t45.3\n"
              "2\t20070219170000\t1\t1\t1234\t40\t0.9\n"
              "2\t20070219170000\t3\t1\t42\t25\t????? \n"
              "2\t20070219170000\t3\t1\t42\t26\t50\n");
}

TEST_F(CliTest, FileWithoutRecordsSaysSoAndPrintsNothing) {
    WriteBytes(Path("empty.kxg"), "");
    const ProcessResult r = Run({"dump", Path("empty.kxg")});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, Utf8(u8"Brak rekordów do odczytania\n"));
}

// What cannot be read is named as the user typed it (a UTF-8 name stays
// UTF-8) with the system's reason; a device or FIFO that would never end,
// or never open, is refused at once.
TEST_F(CliTest, UnreadableInputsFailAtOnceWithTheirNamesAndReasons) {
    ASSERT_EQ(mkfifo(Path("fifo").c_str(), 0600), 0);
    fs::create_directory(Path("dir.kxg"));
    const struct {
        std::string path;
        std::string reason;
    } inputs[] = {
        {Path(Utf8(u8"zażółć.kxg")), "No such file or directory"},
        {Path("dir.kxg"), "Is a directory"},
        {Path("fifo"), "not a regular file"},
        {"/dev/zero", "not a regular file"},
    };
    for (const auto& input : inputs) {
        for (const std::vector<std::string>& args : {std::vector<std::string>{"dump", input.path},
                                                     {"export", input.path},
                                                     {"rain", input.path, "--period", "days"}}) {
            const ProcessResult r = Run(args, 10000);
            EXPECT_EQ(r.exitCode, 1) << args[0] << " " << input.path;
            EXPECT_EQ(r.out, "");
            EXPECT_EQ(r.err,
                      "kx305cli: " + input.path + ": the registration file cannot be read (" + input.reason + ")\n");
        }
    }
    const std::string kxg = WriteRegistration("example.kxg", {ExampleRecord()});
    const std::string nowhere = Path("no/such/dir/out.csv");
    const ProcessResult r = Run({"export", kxg, "-o", nowhere});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err, "kx305cli: " + nowhere + ": the file cannot be created (No such file or directory)\n");
    EXPECT_FALSE(fs::exists(nowhere));
}

// Every mistake in the arguments ends with 2 before any file or converter
// is touched, with a complaint a user can act on (never a bound of 300
// digits).
TEST_F(CliTest, BadArgumentsAreUsageErrors) {
    const std::string kxg = WriteRegistration("example.kxg", {ExampleRecord()});
    const std::string x = Path("x.kxg");
    struct Case {
        std::vector<std::string> args;
        std::string complaint;  // part of stderr; "" = any
    };
    std::vector<Case> cases = {
        {{}, ""},
        {{"frobnicate"}, ""},
        {{"export"}, ""},
        {{"export", kxg, "--layout", "xml"}, ""},
        {{"export", kxg, "--record", "0"}, "'0' is out of range: a whole number from 1 to 2147483647"},
        {{"export", kxg, "--record", "2"}, "there is no record 2"},
        {{"export", kxg, "--fields", "date,colour"}, ""},
        {{"export", kxg, "--decimal", "ab"}, "exactly one character"},
        {{"export", kxg, "--decimal", ",", "--list-separator", ","}, "must differ"},
        // The C locale's list separator is the comma too.
        {{"export", kxg, "--layout", "csv", "--decimal", ","}, "both ','"},
        {{"rain", kxg}, ""},
        {{"rain", kxg, "--period", "weeks"}, ""},
        {{"read", "--count", "0"}, "from 1 to 2147483647"},
        {{"read", "--count", "abc"}, "'abc' is not a whole number"},
        {{"read", "--count", "2.5"}, "'2.5' is not a whole number"},
        {{"read", "--timeout", "inf"}, "'inf' is not a number of seconds"},
        {{"read", "--timeout", "1e300"}, "'1e300' is out of range: 0 or seconds from 0.001 to 315360000"},
        {{"record", x, "--interval", "10"}, "from 20 to 4294967295"},
        {{"record", x, "--duration", "nan"}, "'nan' is not a number of seconds"},
        {{"record", x, "--duration", "1e-300"}, "out of range: seconds from 0.001 to 315360000"},
        {{"record", x, "--duration", "-5"}, "out of range"},
        {{"record", x, "--port", ""}, "the port name is empty"},
        {{"info", "--port", ""}, "the port name is empty"},
        {{"info", "--sim-option=--bogus"}, "refused the --sim-option arguments"},
        {{"set-time", "13-01", "10:00:00"}, "month"},
        {{"set-time", "04-32", "10:00:00"}, "day"},
        {{"set-time", "02-30", "10:00:00"}, "no such day: 02-30"},
        {{"set-time", "04-31", "10:00:00"}, "no such day: 04-31"},
        {{"set-time", "01-01", "24:00:00"}, "hour"},
        {{"set-time", "01-01", "10:00"}, ""},
        {{"set-period", "0"}, "'0' is out of range: a whole number from 1 to 4294967295"},
        {{"set-period", "-1"}, "'-1' is out of range"},
        {{"set-period", "99999999999"}, "out of range"},
        {{"set-period", "many"}, "'many' is not a whole number"},
        {{"info", "--port", "/dev/null", "--sim-option=--prefill=3"}, ""},
    };
    // 29 February exists in leap years only; set-time takes this year's.
    const int year = kx305mon::CurrentLocalTime().year;
    if (!kx305mon::IsLeapYear(year)) {
        cases.push_back({{"set-time", "02-29", "10:00:00"}, "no such day: 02-29"});
    }
    for (const Case& c : cases) {
        const ProcessResult r = Run(c.args);
        std::string line;
        for (const std::string& a : c.args) line += a + " ";
        EXPECT_EQ(r.exitCode, 2) << line << "\n" << r.err;
        EXPECT_FALSE(r.err.empty()) << line;
        EXPECT_NE(r.err.find(c.complaint), std::string::npos) << line << "\n" << r.err;
        EXPECT_LT(r.err.size(), 200u) << line << "\n" << r.err;
        EXPECT_EQ(r.out, "") << line;
    }
    EXPECT_FALSE(fs::exists(x));
    EXPECT_TRUE(fs::is_empty(Path("tmp"))) << "a simulator's directory stayed behind";
}

// An export or rain report pointed at its own registration file, by its
// name, a hard link or a symbolic link, is refused and the file keeps every
// byte.
TEST_F(CliTest, OutputThatIsTheInputIsRefused) {
    const std::string kxg = WriteRegistration("example.kxg", {ExampleRecord()});
    const std::string bytes = ReadFile(kxg);
    ASSERT_EQ(link(kxg.c_str(), Path("hard.kxg").c_str()), 0);
    ASSERT_EQ(symlink(kxg.c_str(), Path("soft.kxg").c_str()), 0);
    for (const std::string& output : {kxg, Path("hard.kxg"), Path("soft.kxg"), Path("./example.kxg")}) {
        for (const std::vector<std::string>& args : {std::vector<std::string>{"export", kxg, "-o", output},
                                                     {"rain", kxg, "--period", "days", "-o", output},
                                                     {"export", Path("soft.kxg"), "--layout", "csv", "-o", kxg}}) {
            const ProcessResult r = Run(args);
            EXPECT_EQ(r.exitCode, 2) << args[0] << " -o " << output << "\n" << r.err;
            EXPECT_EQ(r.err,
                      "kx305cli: " + args.back() + ": is the registration file being read; name another output file\n");
            EXPECT_EQ(ReadFile(kxg), bytes) << args[0] << " -o " << output;
        }
    }
    // A copy is another file.
    WriteBytes(Path("copy.kxg"), bytes);
    const ProcessResult r = Run({"export", kxg, "-o", Path("copy.kxg")});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(ReadFile(Path("copy.kxg")), bytes);
}

// Listing and exporting to stdout hold nothing beyond the record list: the
// peak memory stays near that of an export of one record, which reads the
// same list.  The peak is taken by time(1): a child forked from this test
// would count this process's memory too.  (Sanitizers keep freed memory in
// quarantine: not measured.)
TEST_F(CliTest, DumpAndExportToStdoutStreamTheirOutput) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "peak memory is not meaningful under a sanitizer";
#endif
    std::vector<LogRecord> records;
    for (int k = 0; k < 10000; ++k) {
        LogRecord record = RecordAt(2007, 1, 1 + k / 1440 % 28, k / 60 % 24, k % 60, 0);
        SetRain(record, k / 7);
        for (int input = 1; input <= 4; ++input) SetKX124(record, input, 5000 + input, 200 + k % 50, 400 + k % 90);
        records.push_back(record);
    }
    const std::string kxg = WriteRegistration("big.kxg", records);
    // Peak resident memory in KiB and the length of the output.
    const auto measure = [&](std::vector<std::string> args) {
        args.insert(args.begin(), {"-f", "%M", "-o", Path("peak"), KX305CLI_PATH});
        Process process("/usr/bin/time", args, Environment());
        const ProcessResult r = process.Wait();
        EXPECT_EQ(r.exitCode, 0) << r.err;
        return std::pair{std::atol(ReadFile(Path("peak")).c_str()), r.out.size()};
    };
    const auto [listKiB, oneRecord] = measure({"export", kxg, "--record", "1"});
    ASSERT_GT(listKiB, 0);
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"dump", kxg}, {"export", kxg}, {"export", kxg, "--layout", "csv"}}) {
        const auto [peakKiB, printed] = measure(args);
        EXPECT_GT(printed, records.size() * 20) << args[0];
        EXPECT_LT(peakKiB, listKiB * 12 / 10)
            << args[0] << " " << args.size() << ": " << peakKiB << " KiB against " << listKiB << " KiB";
    }
}

// --- the converter ---

std::string SimState(const SimProcess& sim, const std::string& key) {
    const std::string state = sim.Control("state");
    const size_t at = state.find(" " + key + "=");
    if (at == std::string::npos) return "";
    const size_t start = at + key.size() + 2;
    return state.substr(start, state.find(' ', start) - start);
}

std::unique_ptr<SimProcess> StartSim(const std::vector<std::string>& args) {
    std::string error;
    std::unique_ptr<SimProcess> sim = SimProcess::Start(args, &error);
    EXPECT_NE(sim, nullptr) << error;
    return sim;
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

TEST_F(CliTest, InfoShowsFirmwareAndSerial) {
    auto sim = StartSim({"--firmware", "1.12", "--firmware-date", "2008-01-02", "--serial", "4321"});
    ASSERT_NE(sim, nullptr);
    const ProcessResult r = Run({"info", "--port", sim->port()});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "Firmware version: 1.12\nFirmware date: 2008-01-02\nSerial number: 4321\n");
    EXPECT_EQ(r.err, "");
}

TEST_F(CliTest, ReadPrintsOneBlockPerCycleAsTheMainWindowShowsIt) {
    auto sim = StartSim({"--no-drift", "--clock", "07-01 10:00:00", "--input", "1=kx124,t=21.5,h=45.3,serial=5678",
                         "--input", "2=none", "--input", "3=none", "--rain", "3"});
    ASSERT_NE(sim, nullptr);
    const ProcessResult r = Run({"read", "--port", sim->port(), "--count", "2", "--decimal", ","});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const std::vector<std::string> lines = Lines(r.out);
    ASSERT_EQ(lines.size(), 24u) << r.out;
    const int year = kx305mon::CurrentLocalTime().year;
    for (int block = 0; block < 2; ++block) {
        const auto first = lines.begin() + block * 12;
        const std::vector<std::string> got(first, first + 12);
        EXPECT_EQ(got[0], "KX-305 wersja 1.13, nr 3051");
        // The clock runs; 10:00 UTC is 12:00 in summer time.
        EXPECT_EQ(got[1].rfind("1 July " + std::to_string(year) + ", 12:00:0", 0), 0u) << got[1];
        // The rain gauge takes the converter's serial; 3 impulses of 1 mm.
        EXPECT_EQ(got[2], Utf8(u8"Wejście nr 0: Deszczomierz KX-305 nr 3051"));
        EXPECT_EQ(got[3], Utf8(u8"    Ilość opadów atmosferycznych: 3,0 mm"));
        EXPECT_EQ(got[4], "    Pomiar --> OK");
        EXPECT_EQ(got[5], Utf8(u8"Wejście nr 1: Termohigrometr KX-124 nr 5678"));
        EXPECT_EQ(got[6], Utf8(u8"    Temperatura: 21,5 °C, Wilgotność: 45,3  %"));
        EXPECT_EQ(got[7], "    Pomiar --> OK");
        EXPECT_EQ(got[8], Utf8(u8"Wejście nr 2: Brak przyrządu lub przyrząd nieznany"));
        EXPECT_EQ(got[9], Utf8(u8"Wejście nr 3: Brak przyrządu lub przyrząd nieznany"));
        EXPECT_EQ(got[10], Utf8(u8"Wejście nr 4: Brak przyrządu lub przyrząd nieznany"));
        EXPECT_EQ(got[11], "");
    }
    EXPECT_EQ(r.out.substr(r.out.size() - 2), "\n\n");
}

TEST_F(CliTest, TimeShowsTheClockInUtcAndLocalTime) {
    auto sim = StartSim({"--clock", "01-15 10:20:30"});
    ASSERT_NE(sim, nullptr);
    const ProcessResult r = Run({"time", "--port", sim->port()});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const kx305mon::CalendarTime now = kx305mon::CurrentUtcTime();
    // A January clock read in December belongs to the next year.
    const int year = now.month == 12 ? now.year + 1 : now.year;
    const std::vector<std::string> lines = Lines(r.out);
    ASSERT_EQ(lines.size(), 2u) << r.out;
    EXPECT_EQ(lines[0].rfind("UTC:   " + std::to_string(year) + "-01-15 10:20:3", 0), 0u) << lines[0];
    EXPECT_EQ(lines[1].rfind("Local: 15 January " + std::to_string(kx305mon::CurrentLocalTime().year) + ", 11:20:3", 0),
              0u)
        << lines[1];
}

TEST_F(CliTest, SetTimeSendsTheLocalTimeAsUtcWithTheSummerTimeOfThatDate) {
    auto sim = StartSim({});
    ASSERT_NE(sim, nullptr);
    const struct {
        const char* date;
        const char* time;
        const char* utc;  // what the converter must hold afterwards (seconds run on)
    } cases[] = {
        {"07-01", "12:00:00", "07-01T10:00:0"},
        {"01-15", "12:00:00", "01-15T11:00:0"},
        {"03-31", "08:30:00", "03-31T06:30:0"},
    };
    for (const auto& c : cases) {
        const ProcessResult r = Run({"set-time", c.date, c.time, "--port", sim->port()});
        ASSERT_EQ(r.exitCode, 0) << r.err;
        EXPECT_EQ(r.out, "Converter clock set.\n");
        EXPECT_EQ(SimState(*sim, "clock").rfind(c.utc, 0), 0u) << c.date << " " << SimState(*sim, "clock");
    }
}

TEST_F(CliTest, SyncClockSetsTheConverterToTheComputersUtcTime) {
    auto sim = StartSim({"--clock", "03-03 03:03:03"});
    ASSERT_NE(sim, nullptr);
    const ProcessResult r = Run({"sync-clock", "--port", sim->port()});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "Converter clock set.\n");
    int month, day, hour, minute, second;
    ASSERT_EQ(std::sscanf(SimState(*sim, "clock").c_str(), "%d-%dT%d:%d:%d", &month, &day, &hour, &minute, &second), 5);
    const kx305mon::CalendarTime now = kx305mon::CurrentUtcTime();
    EXPECT_EQ(month, now.month);
    EXPECT_EQ(day, now.day);
    const int difference = (now.hour * 3600 + now.minute * 60 + now.second) - (hour * 3600 + minute * 60 + second);
    EXPECT_LE(std::abs(difference), 5);
}

TEST_F(CliTest, LogIntervalIsReadAndWrittenAndCutTo65535) {
    auto sim = StartSim({"--period", "300"});
    ASSERT_NE(sim, nullptr);
    ProcessResult r = Run({"get-period", "--port", sim->port()});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "300\n");

    r = Run({"set-period", "70000", "--port", sim->port()});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "65535\n");
    EXPECT_EQ(SimState(*sim, "period"), "65535");

    r = Run({"set-period", "5", "--port", sim->port()});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(SimState(*sim, "period"), "5");
    r = Run({"get-period", "--port", sim->port()});
    EXPECT_EQ(r.out, "5\n");
}

TEST_F(CliTest, ResetRainEmptiesTheRainCounter) {
    auto sim = StartSim({"--rain", "500"});
    ASSERT_NE(sim, nullptr);
    const ProcessResult r = Run({"reset-rain", "--port", sim->port()});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(SimState(*sim, "rain"), "0");
}

TEST_F(CliTest, OperationOnASilentConverterFailsNamingThePort) {
    auto sim = StartSim({"--fault", "silent on"});
    ASSERT_NE(sim, nullptr);
    const ProcessResult r = Run({"reset-rain", "--port", sim->port(), "--timeout", "1"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err, "kx305cli: " + sim->port() + ": no answer from the converter\n");
}

// The converter's command codes of the download of its logging memory:
// firmware up to 1.12 hands it over, 1.13 and later are peeked at.
constexpr int kGetLogCode = 8;
constexpr int kPeekLogCode = 14;

// Waits until the converter has received a request with command `code`.
bool WaitForRequest(const SimProcess& sim, int code) {
    const std::string entry = std::to_string(code) + ":";
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (std::chrono::steady_clock::now() < deadline) {
        const std::string received = sim.Control("received");
        if (received.find("=" + entry) != std::string::npos || received.find("," + entry) != std::string::npos) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

TEST_F(CliTest, RecordAppendsTheLoggingMemoryAndReportsWhatItWrote) {
    auto sim = StartSim({"--period", "0", "--prefill", "5", "--no-drift", "--clock", "06-01 10:00:00"});
    ASSERT_NE(sim, nullptr);
    const std::string kxg = Path("rec.kxg");
    ProcessResult r = Run({"record", kxg, "--duration", "1", "--port", sim->port()});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(Lines(r.out), (std::vector<std::string>{"Records written: 5", "Records lost: 0", "Downloads: 2",
                                                      "Failed downloads: 0", "Reconnections: 0"}))
        << r.out;
    EXPECT_EQ(ReadRegistration(kxg).size(), 5u);
    // The converter's memory was emptied after the records were safe.
    EXPECT_EQ(SimState(*sim, "records"), "0");

    // An hour later: three new records.  (Stored in the same minute they
    // would equal the file's last three, which a new run takes for records
    // delivered again.)
    ASSERT_EQ(sim->Control("clock 06-01 11:00:00").rfind("ok", 0), 0u);
    ASSERT_EQ(sim->Control("fill 3").rfind("ok", 0), 0u);
    r = Run({"record", kxg, "--duration", "1", "--port", sim->port()});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(Lines(r.out).at(0), "Records written: 3") << r.out;
    EXPECT_EQ(ReadRegistration(kxg).size(), 8u);
    EXPECT_EQ(SimState(*sim, "records"), "0");
}

// A paced download of ten records takes longer than a log interval of one
// second, so the memory is never cleared: every record reaches the file
// once, the converter keeps them all, and the user is told once why.
TEST_F(CliTest, LogIntervalShorterThanADownloadIsToldOnceAndNothingIsLost) {
    auto sim = StartSim({"--period", "1", "--prefill", "10", "--pace", "--clock", "06-01 10:00:00"});
    ASSERT_NE(sim, nullptr);
    const std::string kxg = Path("fast.kxg");
    const ProcessResult r = Run({"record", kxg, "--duration", "1", "--port", sim->port()});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const std::string warning = "kx305cli: " + sim->port() +
                                ": a download takes longer than the log interval, so the logging memory is never "
                                "cleared (a clear would erase a record not yet downloaded) and fills up; lengthen "
                                "the log interval\n";
    EXPECT_EQ(r.err, warning);
    const std::vector<std::string> lines = Lines(r.out);
    ASSERT_EQ(lines.size(), 5u) << r.out;
    EXPECT_EQ(lines[1], "Records lost: 0");
    EXPECT_NE(lines[2], "Downloads: 0");
    EXPECT_EQ(lines[3], "Failed downloads: 0");
    const size_t stored = ReadRegistration(kxg).size();
    EXPECT_GE(stored, 10u);
    EXPECT_EQ(lines[0], "Records written: " + std::to_string(stored));
    EXPECT_GE(std::stoul(SimState(*sim, "records")), stored);
}

TEST_F(CliTest, InterruptedRecordingLeavesOnlyWholeRecords) {
    for (const int signalNumber : {SIGINT, SIGTERM}) {
        auto sim = StartSim({"--period", "0", "--prefill", "3"});
        ASSERT_NE(sim, nullptr);
        const std::string kxg = Path("int" + std::to_string(signalNumber) + ".kxg");
        Process process(KX305CLI_PATH, {"record", kxg, "--port", sim->port()}, Environment());
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (SimState(*sim, "records") != "0" && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        process.Signal(signalNumber);
        const ProcessResult r = process.Wait(10000);
        EXPECT_EQ(r.exitCode, 0) << signalNumber << " " << r.err;
        EXPECT_EQ(Lines(r.out).at(0), "Records written: 3") << r.out;
        const std::string bytes = ReadFile(kxg);
        ASSERT_GE(bytes.size(), 3u);
        EXPECT_EQ(static_cast<char>(-bytes[bytes.size() - 3]), '@');
        EXPECT_EQ(ReadRegistration(kxg).size(), 3u);
    }
}

// Firmware up to 1.12 let go of its records as the download was asked for.
// Ctrl-C or SIGTERM during it: the download is finished and stored first,
// and the user is told so.  A second signal stops at once and says what
// that loses.
TEST_F(CliTest, StopSignalDuringAGetLogDownloadFinishesItFirst) {
    const struct {
        int signalNumber;
        int signals;
        int exitCode;
        size_t inFile;
        const char* told;
    } cases[] = {
        {SIGINT, 1, 0, 30,
         "finishing the running download of the logging memory before stopping (Ctrl-C again "
         "stops at once)\n"},
        {SIGTERM, 1, 0, 30,
         "finishing the running download of the logging memory before stopping (Ctrl-C again "
         "stops at once)\n"},
        {SIGINT, 2, 130, 0,
         "stopped at once: the records of the running download are lost (the converter no "
         "longer holds them)\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.signalNumber) + " x" + std::to_string(c.signals));
        // At the line's pace: 30 records take about three seconds.
        auto sim = StartSim({"--firmware", "1.12", "--period", "0", "--prefill", "30", "--pace"});
        ASSERT_NE(sim, nullptr);
        const std::string kxg = Path("getlog" + std::to_string(c.signalNumber) + std::to_string(c.signals) + ".kxg");
        Process process(KX305CLI_PATH, {"record", kxg, "--port", sim->port()}, Environment());
        ASSERT_TRUE(WaitForRequest(*sim, kGetLogCode));
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        for (int i = 0; i < c.signals; ++i) {
            process.Signal(c.signalNumber);
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
        }
        const ProcessResult r = process.Wait(20000);
        EXPECT_EQ(r.exitCode, c.exitCode) << r.err;
        EXPECT_NE(r.err.find("kx305cli: " + sim->port() + ": " + c.told), std::string::npos) << r.err;
        EXPECT_EQ(Lines(r.out).at(0), "Records written: " + std::to_string(c.inFile)) << r.out;
        EXPECT_EQ(Lines(r.out).at(1), "Records lost: 0") << r.out;
        EXPECT_EQ(ReadRegistration(kxg).size(), c.inFile);
        EXPECT_EQ(SimState(*sim, "records"), "0");
    }
}

// Firmware up to 1.12 on a line that drops frames: a transfer that lost
// records is never sent again (the converter has let go of its memory), so
// what arrived is stored and the rest is reported lost, with its number.
// Every record is accounted for: written or lost.
TEST_F(CliTest, RecordsLostOnTheLineAreCountedToldAndFailTheRecording) {
    auto sim =
        StartSim({"--firmware", "1.12", "--period", "0", "--prefill", "200", "--seed", "3", "--fault", "drop 0.05"});
    ASSERT_NE(sim, nullptr);
    const std::string kxg = Path("lossy.kxg");
    const ProcessResult r = Run({"record", kxg, "--duration", "3", "--port", sim->port()});
    EXPECT_EQ(r.exitCode, 1) << r.err;
    const std::vector<std::string> lines = Lines(r.out);
    ASSERT_GE(lines.size(), 2u) << r.out;
    unsigned long written = 0;
    unsigned long lost = 0;
    ASSERT_EQ(std::sscanf(lines[0].c_str(), "Records written: %lu", &written), 1) << r.out;
    ASSERT_EQ(std::sscanf(lines[1].c_str(), "Records lost: %lu", &lost), 1) << r.out;
    EXPECT_GT(lost, 0u);
    EXPECT_EQ(ReadRegistration(kxg).size(), written);
    EXPECT_EQ(SimState(*sim, "records"), "0");
    // Told per download; the known numbers add up to the summary's.
    unsigned long told = 0;
    bool unknown = false;
    for (const std::string& line : Lines(r.err)) {
        unsigned long n = 0;
        if (std::sscanf(line.c_str(), ("kx305cli: " + sim->port() + ": %lu record").c_str(), &n) == 1) told += n;
        unknown =
            unknown || line == "kx305cli: " + sim->port() + ": records were lost on the line; how many is unknown";
    }
    EXPECT_EQ(told, lost) << r.err;
    if (!unknown) {
        EXPECT_EQ(written + lost, 200u);
    }
}

// The registration file is deleted (or renamed, or its file system
// unmounted) while recording: the converter's memory is not cleared into
// it, and the recording ends with an error.
TEST_F(CliTest, RecordingIntoADeletedFileStopsAndTheConverterKeepsItsRecords) {
    auto sim = StartSim({"--period", "0", "--prefill", "5", "--pace"});
    ASSERT_NE(sim, nullptr);
    const std::string kxg = Path("gone.kxg");
    Process process(KX305CLI_PATH, {"record", kxg, "--port", sim->port()}, Environment());
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!fs::exists(kxg) && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ASSERT_TRUE(fs::remove(kxg));
    const ProcessResult r = process.Wait(20000);
    EXPECT_EQ(r.exitCode, 1) << r.err;
    EXPECT_NE(r.err.find("kx305cli: " + kxg +
                         ": the registration file was deleted, renamed or unmounted; the converter keeps its "
                         "records\n"),
              std::string::npos)
        << r.err;
    EXPECT_FALSE(fs::exists(kxg));
    EXPECT_EQ(SimState(*sim, "records"), "5");
    const std::string received = sim->Control("received");  // no clear (code 15)
    EXPECT_EQ(received.find("=15:"), std::string::npos) << received;
    EXPECT_EQ(received.find(",15:"), std::string::npos) << received;
}

// Recording into a device or FIFO would read it for ever before the first
// download and ignore Ctrl-C meanwhile: refused before the converter is
// touched, and nothing is created.
TEST_F(CliTest, RecordingIntoWhatIsNotARegularFileIsRefused) {
    ASSERT_EQ(mkfifo(Path("fifo").c_str(), 0600), 0);
    fs::create_directory(Path("dir.kxg"));
    const struct {
        std::string path;
        std::string reason;
    } targets[] = {
        {"/dev/zero", "not a regular file"},
        {"/dev/full", "not a regular file"},
        {Path("fifo"), "not a regular file"},
        {Path("dir.kxg"), "Is a directory"},
        {Path("no/such/dir/x.kxg"), "No such file or directory"},
    };
    for (const auto& target : targets) {
        const ProcessResult r = Run({"record", target.path, "--duration", "1", "--port", "/dev/null"}, 10000);
        EXPECT_EQ(r.exitCode, 1) << target.path;
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err,
                  "kx305cli: " + target.path + ": the registration file cannot be opened (" + target.reason + ")\n");
    }
}

// The download breaks off when the converter leaves the line in the middle
// of it; the recording ends while it is away.  Nothing reached the file and
// the converter keeps its records: a failure, not "0 records, exit 0".
TEST_F(CliTest, DownloadThatBreaksOffIsAFailedDownload) {
    auto sim = StartSim({"--period", "0", "--prefill", "40", "--pace"});
    ASSERT_NE(sim, nullptr);
    const std::string kxg = Path("broken.kxg");
    Process record(KX305CLI_PATH, {"record", kxg, "--duration", "1.5", "--port", sim->port()}, Environment());
    // Pull the line once the logging memory is being read.
    ASSERT_TRUE(WaitForRequest(*sim, kPeekLogCode));
    ASSERT_EQ(sim->Control("vanish 3").rfind("ok", 0), 0u);
    const ProcessResult r = record.Wait(20000);
    EXPECT_EQ(r.exitCode, 1) << r.out << r.err;
    EXPECT_EQ(Lines(r.out), (std::vector<std::string>{"Records written: 0", "Records lost: 0", "Downloads: 0",
                                                      "Failed downloads: 1", "Reconnections: 0"}))
        << r.out;
    EXPECT_NE(r.err.find("kx305cli: " + sim->port() + ": the download of the logging memory broke off\n"),
              std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find("kx305cli: " + sim->port() + ": no download completed; nothing was recorded\n"),
              std::string::npos)
        << r.err;
    EXPECT_TRUE(sim->WaitForPort());
    EXPECT_EQ(SimState(*sim, "records"), "40");
}

// A file that takes no more bytes (here a file size limit, EFBIG) is told
// with the file's name and the system's reason.  Firmware 1.13 keeps the
// records that did not reach the file; firmware 1.12 has let go of them
// with the download, so they wait in the file's waiting file, which the
// next recording writes first.  Where the waiting file refuses them too
// (the same limit, or no file can be made there) they exist nowhere else
// but in this program, which says how many are lost.
TEST_F(CliTest, RecordsTheFileRefusesAreReportedWithTheReason) {
    const struct {
        std::string name;
        std::string firmware;
        size_t recordsInFile;  // the limit is the file's size
        bool waitingFileBlocked;
        std::string leftInConverter;
        size_t lost;
        size_t waiting;
    } cases[] = {
        {"converter keeps them", "1.13", 1, false, "4", 0, 0},
        {"waiting file too small", "1.12", 1, false, "0", 4, 0},
        {"waiting file takes them", "1.12", 200, false, "0", 0, 4},
        {"waiting file cannot be made", "1.12", 200, true, "0", 4, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto sim = StartSim({"--firmware", c.firmware, "--period", "0", "--prefill", "4"});
        ASSERT_NE(sim, nullptr);
        const std::string kxg = WriteRegistration(std::to_string(&c - cases) + ".kxg",
                                                  std::vector<LogRecord>(c.recordsInFile, ExampleRecord()));
        const std::string waitingFile = kxg + ".pending";
        if (c.waitingFileBlocked) fs::create_directories(waitingFile + "/occupied");
        const std::string size = std::to_string(fs::file_size(kxg));
        Process record(
            "/usr/bin/prlimit",
            {"--fsize=" + size, "--", KX305CLI_PATH, "record", kxg, "--duration", "0.5", "--port", sim->port()},
            Environment());
        const ProcessResult r = record.Wait(20000);
        EXPECT_EQ(r.exitCode, 1) << r.err;
        ASSERT_GE(Lines(r.out).size(), 4u) << r.out;
        EXPECT_EQ(Lines(r.out)[0], "Records written: 0");
        EXPECT_EQ(Lines(r.out)[1], "Records lost: " + std::to_string(c.lost));
        EXPECT_EQ(Lines(r.out)[2], "Downloads: 0");
        EXPECT_NE(Lines(r.out)[3], "Failed downloads: 0");
        EXPECT_NE(r.err.find("kx305cli: " + kxg + ": the records cannot be written (File too large)\n"),
                  std::string::npos)
            << r.err;
        const std::string lost = "kx305cli: " + kxg + ": " + std::to_string(c.lost) +
                                 " downloaded records could not be written and are lost (the converter no "
                                 "longer holds them)\n";
        EXPECT_EQ(r.err.find(lost) != std::string::npos, c.lost > 0) << r.err;
        const std::string waits = "kx305cli: " + std::to_string(c.waiting) + " records wait in " + waitingFile +
                                  " and are written first when recording resumes\n";
        EXPECT_EQ(r.err.find(waits) != std::string::npos, c.waiting > 0) << r.err;
        EXPECT_EQ(r.err.find(Utf8(u8"Wystąpił")), std::string::npos) << r.err;
        EXPECT_EQ(ReadRegistration(kxg).size(), c.recordsInFile);
        EXPECT_EQ(SimState(*sim, "records"), c.leftInConverter);
        if (c.waiting == 0) continue;

        // Without the limit the waiting records go first, each once, and
        // the waiting file is gone.
        const RecordList waited = ReadRegistration(waitingFile);
        ASSERT_EQ(waited.size(), c.waiting);
        ASSERT_EQ(sim->Control("fill 2").rfind("ok", 0), 0u);
        const ProcessResult again = Run({"record", kxg, "--duration", "0.5", "--port", sim->port()});
        EXPECT_EQ(again.exitCode, 0) << again.err;
        ASSERT_GE(Lines(again.out).size(), 2u) << again.out;
        EXPECT_EQ(Lines(again.out)[0], "Records written: " + std::to_string(c.waiting + 2));
        EXPECT_EQ(Lines(again.out)[1], "Records lost: 0");
        EXPECT_FALSE(fs::exists(waitingFile));
        const RecordList stored = ReadRegistration(kxg);
        ASSERT_EQ(stored.size(), c.recordsInFile + c.waiting + 2);
        for (size_t i = 0; i < c.waiting; ++i) {
            const kx305mon::CalendarTime& a = stored[c.recordsInFile + i].time;
            const kx305mon::CalendarTime& b = waited[i].time;
            EXPECT_TRUE(a.year == b.year && a.month == b.month && a.day == b.day && a.hour == b.hour &&
                        a.minute == b.minute && a.second == b.second)
                << i;
        }
    }
}

// Waits until the converter has received a few requests since now: a
// program is polling it.
bool WaitForPolling(const SimProcess& sim) {
    sim.Control("received reset");
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (std::chrono::steady_clock::now() < deadline) {
        int frames = 0;
        if (std::sscanf(sim.Control("received").c_str(), "ok frames=%d", &frames) == 1 && frames >= 4) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

// Splits the output of read into its blocks (each ends with an empty line).
std::vector<std::string> Blocks(const std::string& text) {
    std::vector<std::string> blocks;
    size_t start = 0;
    for (size_t end; (end = text.find("\n\n", start)) != std::string::npos; start = end + 2) {
        blocks.push_back(text.substr(start, end + 1 - start));
    }
    return blocks;
}

// Takes the converter off the line for a second while `process` polls it,
// waits until it polls again and stops the process with Ctrl-C.
ProcessResult InterruptAfterReconnection(Process& process, const SimProcess& sim) {
    EXPECT_TRUE(WaitForPolling(sim));
    EXPECT_EQ(sim.Control("vanish 1").rfind("ok", 0), 0u);
    std::this_thread::sleep_for(std::chrono::milliseconds(1200));
    EXPECT_TRUE(sim.WaitForPort());
    EXPECT_TRUE(WaitForPolling(sim));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    process.Signal(SIGINT);
    return process.Wait();
}

TEST_F(CliTest, LostConnectionShowsQuestionMarksOnceAndReadingGoesOn) {
    auto sim = StartSim({});
    ASSERT_NE(sim, nullptr);
    Process read(KX305CLI_PATH, {"read", "--port", sim->port()}, Environment());
    const ProcessResult r = InterruptAfterReconnection(read, *sim);
    EXPECT_EQ(r.exitCode, 0) << r.err;

    const std::vector<std::string> blocks = Blocks(r.out);
    ASSERT_GE(blocks.size(), 3u) << r.out;
    size_t lostAt = 0;
    for (size_t i = 0; i < blocks.size(); ++i) {
        if (blocks[i] + "\n" == Utf8(u8"KX-305 wersja ?.?, nr ????\n?????, ?????\n"
                                     u8"Wejście nr 0: Brak przyrządu lub przyrząd nieznany\n"
                                     u8"Wejście nr 1: Brak przyrządu lub przyrząd nieznany\n"
                                     u8"Wejście nr 2: Brak przyrządu lub przyrząd nieznany\n"
                                     u8"Wejście nr 3: Brak przyrządu lub przyrząd nieznany\n"
                                     u8"Wejście nr 4: Brak przyrządu lub przyrząd nieznany\n\n")) {
            EXPECT_EQ(lostAt, 0u) << "a second block of question marks";
            lostAt = i;
        } else {
            EXPECT_EQ(blocks[i].rfind("KX-305 wersja 1.13, nr 3051\n", 0), 0u) << blocks[i];
        }
    }
    EXPECT_GT(lostAt, 0u) << r.out;
    EXPECT_LT(lostAt, blocks.size() - 1) << r.out;
    EXPECT_EQ(r.err, "kx305cli: " + sim->port() + ": connection lost, reconnecting\n" + "kx305cli: " + sim->port() +
                         ": connection restored\n");
}

TEST_F(CliTest, RecordingCountsAReconnection) {
    auto sim = StartSim({"--period", "0"});
    ASSERT_NE(sim, nullptr);
    Process record(KX305CLI_PATH, {"record", Path("lost.kxg"), "--port", sim->port()}, Environment());
    // The first download is over before the line goes (a broken one would
    // make the recording a failure); the next is 20 s away.
    ASSERT_TRUE(WaitForRequest(*sim, kPeekLogCode));
    const ProcessResult r = InterruptAfterReconnection(record, *sim);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(Lines(r.out).at(4), "Reconnections: 1") << r.out;
}

TEST_F(CliTest, RecordIntoAFileInUseFailsBeforeTouchingTheConverter) {
    const std::string kxg = WriteRegistration("busy.kxg", {ExampleRecord()});
    std::unique_ptr<kx305mon::FileStream> holder = kx305mon::OpenFile(kxg, FileMode::Recording);
    ASSERT_NE(holder, nullptr);
    const ProcessResult r = Run({"record", kxg, "--duration", "1", "--port", "/dev/null"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err, "kx305cli: " + kxg + ": the registration file cannot be opened (in use by another program)\n");
}

TEST_F(CliTest, MissingPortOrNoSerialPortFailsNamingIt) {
    const std::string port = Path("ttyNONE");
    ProcessResult r = Run({"info", "--port", port});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "kx305cli: " + port + ": No such file or directory\n");

    // A recording that cannot begin leaves no new file behind.
    r = Run({"record", Path("never.kxg"), "--port", port});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err, "kx305cli: " + port + ": No such file or directory\n");
    EXPECT_FALSE(fs::exists(Path("never.kxg")));

    WriteBytes(Path("plain"), "");
    r = Run({"get-period", "--port", Path("plain")});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err, "kx305cli: " + Path("plain") + ": not a serial port\n");
}

TEST_F(CliTest, PortInUseFailsNamingIt) {
    auto sim = StartSim({});
    ASSERT_NE(sim, nullptr);
    KX305Handle handle = nullptr;
    ASSERT_EQ(KX305Open(&handle, sim->port().c_str()), 0);
    const ProcessResult r = Run({"get-period", "--port", sim->port()});
    KX305Close(&handle);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err, "kx305cli: " + sim->port() + ": in use by another program\n");
}

TEST_F(CliTest, WithoutPortTheBuiltInSimulatorRunsAndIsStoppedAfterwards) {
    // Found beside the program's build directory, without KX305SIM.
    extraEnvironment_["KX305SIM"] = "";
    const ProcessResult r = Run({"read", "--count", "1", "--raw"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const std::vector<std::string> lines = Lines(r.out);
    ASSERT_EQ(lines.size(), 16u) << r.out;
    EXPECT_EQ(lines[2].rfind("Wej\x9C"
                             "cie nr 0: Deszczomierz KX-305 nr ",
                             0),
              0u);
    EXPECT_EQ(lines[5].rfind("Wej\x9C"
                             "cie nr 1: Termohigrometr KX-124 nr ",
                             0),
              0u);
    EXPECT_EQ(lines[8].rfind("Wej\x9C"
                             "cie nr 2: Termometr KX-125 nr ",
                             0),
              0u);
    EXPECT_EQ(lines[11].rfind("Wej\x9C"
                              "cie nr 3: Termohigrobarometr KX-129 nr ",
                              0),
              0u);
    EXPECT_EQ(lines[14],
              "Wej\x9C"
              "cie nr 4: Brak przyrz\xB9"
              "du lub przyrz\xB9"
              "d nieznany");
    // Its private directory (port link) is gone with it.
    EXPECT_TRUE(fs::is_empty(Path("tmp")));
}

TEST_F(CliTest, SimulatorThatCannotBeFoundIsReported) {
    extraEnvironment_["KX305SIM"] = Path("kx305sim-missing");
    const ProcessResult r = Run({"info"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err, "kx305cli: KX305SIM names " + Path("kx305sim-missing") + ", which is not an executable program\n");
}

}  // namespace
}  // namespace kx305cli
