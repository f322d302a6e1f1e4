#include "live_fixture.h"

#include <cstdio>
#include <sstream>

#include "recording/registration_file.h"
#include "resources/resource.h"
#include "time/calendar_time.h"
#include "time/local_time.h"

namespace kx305::e2e {

void QuickStart::TearDown() {
    for (auto it = undo_.rbegin(); it != undo_.rend(); ++it) Simulator(it->first, it->second);
    undo_.clear();
    ProgramTest::TearDown();
}

void QuickStart::Start(const char* variable, const std::string& logfile) {
    port_ = EnvironmentPort(variable);
    ASSERT_FALSE(port_.empty()) << variable << ": run through scripts/wine-sim-run";
    const Settings settings = logfile.empty() ? QuickStartSettings(port_) : e2e::QuickStartSettings(port_, logfile);
    ASSERT_TRUE(WriteSettings(settings)) << ui::LastError();
    ASSERT_TRUE(Launch());
    ASSERT_TRUE(WaitMainWindow()) << ui::LastError();
    ASSERT_TRUE(WaitLive(port_)) << Panel(IDC_CONVERTER_STATUS);
}

void QuickStart::Configure(const std::string& port, const std::string& command, const std::string& undo) {
    if (!undo.empty()) undo_.emplace_back(port, undo);
    const std::string reply = Simulator(port, command);
    ASSERT_EQ(reply.rfind("ok", 0), 0u) << command << ": " << reply;
}

int64_t QuickStart::StateNumber(const std::string& port, const std::string& key) {
    const std::string value = ReplyField(Simulator(port, "state"), key);
    return value.empty() ? -1 : std::stoll(value);
}

namespace {

// Seconds of a UTC time on the program's count; none for fields that name
// no time.
std::optional<int64_t> Seconds(const kx305mon::CalendarTime& utc) {
    if (!kx305mon::IsCalendarDate(utc) || !kx305mon::IsTimeOfDay(utc)) return std::nullopt;
    return kx305mon::SecondsOf(utc);
}

}  // namespace

std::optional<int64_t> ConverterSeconds(const std::string& stamp) {
    int month = 0, day = 0, hour = 0, minute = 0, second = 0;
    char separator = 0;
    if (std::sscanf(stamp.c_str(), "%2d-%2d%c%2d:%2d:%2d", &month, &day, &separator, &hour, &minute, &second) != 6)
        return std::nullopt;
    return Seconds(kx305mon::MakeCalendarTime(kx305mon::CurrentUtcTime().year, month, day, hour, minute, second));
}

std::optional<std::vector<int64_t>> MemoryStamps(const std::string& port) {
    const std::string reply = Simulator(port, "memory");
    const std::string count = ReplyField(reply, "count");
    if (count.empty()) return std::nullopt;
    // "ok", "count=N", then a date and a time per record.
    std::vector<std::string> words;
    std::istringstream in(reply);
    for (std::string word; in >> word;) words.push_back(word);
    std::vector<int64_t> stamps;
    for (size_t i = 2; i + 1 < words.size(); i += 2) {
        const auto seconds = ConverterSeconds(words[i] + " " + words[i + 1]);
        if (!seconds) return std::nullopt;
        stamps.push_back(*seconds);
    }
    if (stamps.size() != std::stoull(count)) return std::nullopt;
    return stamps;
}

std::optional<std::vector<int64_t>> FileStamps(const std::string& path) {
    // Read also while the program writes it.
    const auto bytes = FileBytes(path);
    if (!bytes) return std::nullopt;
    kx305mon::RecordList records;
    kx305mon::ReadRegistrationBytes(*bytes, records);
    std::vector<int64_t> stamps;
    for (const kx305mon::MemoryRecord& record : records) {
        kx305mon::CalendarTime utc;
        std::optional<int64_t> seconds;
        if (Seconds(record.time) && kx305mon::LocalToUtc(record.time, utc)) seconds = Seconds(utc);
        stamps.push_back(seconds.value_or(-1));
    }
    kx305mon::FreeRecordList(records);
    return stamps;
}

}  // namespace kx305::e2e
