#include "file_commands.h"

#include <cerrno>
#include <cstdio>
#include <functional>
#include <memory>

#include "console.h"
#include "instruments/locale.h"
#include "recording/export.h"
#include "recording/file.h"
#include "recording/registration_file.h"
#include "resources/messages.h"

namespace kx305cli {

using namespace kx305mon;

namespace {

std::string FailureReason(int error) {
    if (error == EWOULDBLOCK) return "in use by another program";
    return SystemReason(error);
}

// Reads every valid record of a registration file; false (reported) when
// the file cannot be opened.
bool LoadRecords(const std::string& path, RecordList& records) {
    errno = 0;
    std::unique_ptr<FileStream> file = OpenFile(path, FileMode::Reading);
    if (file == nullptr) {
        Console::Error(path, std::string(messages::kRegistrationFileUnavailable) + " (" + FailureReason(errno) + ")");
        return false;
    }
    if (ReadRegistrationFile(file.get(), records) == 0) Console::Note(messages::kNoRecords);
    return true;
}

// Runs an export into `output`, or into a temporary file that is then
// printed; the exit code.
int FinishExport(const std::string& output, const std::function<ExportResult(const std::string&)>& exporter) {
    errno = 0;
    ExportResult result = exporter(output);
    if (result.file == nullptr) {
        const std::string reason = "the file cannot be created (" + FailureReason(errno) + ")";
        if (output.empty()) {
            Console::Error("temporary file", reason);
        } else {
            Console::Error(output, reason);
        }
        return kExitFailure;
    }
    if (!result.written) {
        Console::Error(output.empty() ? std::string("temporary file") : output, messages::kExportFailed);
        return kExitFailure;
    }
    if (!output.empty()) return kExitOk;

    std::string text;
    if (!result.file->SeekToStart()) {
        Console::Error("temporary file", SystemReason(errno));
        return kExitFailure;
    }
    char buffer[4096];
    long n;
    while ((n = result.file->Read(buffer, sizeof buffer)) > 0) text.append(buffer, static_cast<size_t>(n));
    if (n < 0) {
        Console::Error("temporary file", SystemReason(errno));
        return kExitFailure;
    }
    Console::Out(text);
    return kExitOk;
}

}  // namespace

int RunDump(const std::string& file) {
    RecordList records;
    if (!LoadRecords(file, records)) return kExitFailure;
    std::string text;
    for (size_t r = 0; r < records.size(); ++r) {
        const MemoryRecord& record = records[r];
        const CalendarTime& t = record.time;
        char stamp[32];
        std::snprintf(stamp, sizeof stamp, "%04d%02d%02d%02d%02d%02d", t.year, t.month, t.day, t.hour, t.minute,
                      t.second);
        for (const MemoryEntry& entry : record.entries) {
            char line[160];
            std::snprintf(line, sizeof line, "%zu\t%s\t%d\t%d\t%d\t%d\t%s\n", r + 1, stamp, entry.type, entry.status,
                          entry.serial, entry.quantity, entry.value);
            text += line;
        }
    }
    FreeRecordList(records);
    Console::Out(text);
    return kExitOk;
}

int RunExport(const ExportOptions& options) {
    RecordList records;
    if (!LoadRecords(options.file, records)) return kExitFailure;
    if (options.record > 0 && static_cast<size_t>(options.record) > records.size()) {
        Console::Error(options.file, "there is no record " + std::to_string(options.record) + " (the file has " +
                                         std::to_string(records.size()) + ")");
        return kExitUsage;
    }
    uint32_t flags = options.fields & kExportFields;
    if (options.record == 0) flags |= kExportAllRecords;
    if (options.descriptive) flags |= kExportDescriptive;
    if (options.listSeparator) flags |= kExportListSeparator;
    const ExportContext context = MakeExportContext(flags, options.averageKX125, records, CurrentLocale());
    const int choice = options.record > 0 ? options.record - 1 : kAllRecords;
    const int result = FinishExport(
        options.output, [&](const std::string& path) { return ExportRecords(context, path, choice); });
    FreeRecordList(records);
    return result;
}

int RunRain(const RainOptions& options) {
    RecordList records;
    if (!LoadRecords(options.file, records)) return kExitFailure;
    const std::vector<RainReportRow> rows = BuildRainReport(records, options.interval);
    const uint32_t flags = options.listSeparator ? kExportListSeparator : 0;
    const ExportContext context = MakeExportContext(flags, true, records, CurrentLocale());
    const int result = FinishExport(
        options.output, [&](const std::string& path) { return ExportRainReport(context, path, rows); });
    FreeRecordList(records);
    return result;
}

}  // namespace kx305cli
