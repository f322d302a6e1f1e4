#include "file_commands.h"

#include <cerrno>
#include <cstdio>
#include <functional>
#include <memory>

#include "console.h"
#include "file_checks.h"
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

// Output goes to stdout in pieces of about this size, so that a long
// listing never sits whole in memory.
constexpr size_t kOutputPiece = 64 * 1024;

// Prints a piece of output; false (reported) when stdout failed.
bool PrintPiece(const std::string& text) {
    errno = 0;
    if (Console::Out(text)) return true;
    Console::Error("standard output", SystemReason(errno != 0 ? errno : EIO));
    return false;
}

// Reads every valid record of a registration file; false (reported) when
// the file is not a regular file or cannot be opened.
bool LoadRecords(const std::string& path, RecordList& records) {
    std::string reason;
    if (!CheckRegularFile(path, false, reason)) {
        Console::Error(path, "the registration file cannot be read (" + reason + ")");
        return false;
    }
    errno = 0;
    std::unique_ptr<FileStream> file = OpenFile(path, FileMode::Reading);
    if (file == nullptr) {
        Console::Error(path, "the registration file cannot be read (" + FailureReason(errno) + ")");
        return false;
    }
    const int count = ReadRegistrationFile(file.get(), records);
    if (count == kReadOutOfMemory) {
        Console::Error(path, "the registration file does not fit into memory");
        return false;
    }
    if (count == 0) Console::Note(messages::kNoRecords);
    return true;
}

// An output file that is the registration file being read would be emptied
// before it is read; true (reported) in that case.
bool OutputIsInput(const std::string& input, const std::string& output) {
    if (output.empty() || !SameFile(input, output)) return false;
    Console::Error(output, "is the registration file being read; name another output file");
    return true;
}

// Runs an export into `output`, or into a temporary file that is then
// printed piece by piece; the exit code.
int FinishExport(const std::string& output, const std::function<ExportResult(const std::string&)>& exporter) {
    const std::string name = output.empty() ? std::string("temporary file") : output;
    errno = 0;
    ExportResult result = exporter(output);
    // The export stops at its first failed write, so errno still tells why.
    const int error = errno;
    if (result.file == nullptr) {
        Console::Error(name, "the file cannot be created (" + FailureReason(error) + ")");
        return kExitFailure;
    }
    if (!result.written) {
        Console::Error(name, error != 0 ? "the export cannot be written (" + SystemReason(error) + ")"
                                        : std::string("the export cannot be written"));
        return kExitFailure;
    }
    if (!output.empty()) return kExitOk;

    if (!result.file->SeekToStart()) {
        Console::Error(name, SystemReason(errno));
        return kExitFailure;
    }
    std::string piece(kOutputPiece, '\0');
    long n;
    while ((n = result.file->Read(piece.data(), piece.size())) > 0) {
        if (!PrintPiece(piece.substr(0, static_cast<size_t>(n)))) return kExitFailure;
    }
    if (n < 0) {
        Console::Error(name, SystemReason(errno));
        return kExitFailure;
    }
    return kExitOk;
}

}  // namespace

int RunDump(const std::string& file) {
    RecordList records;
    if (!LoadRecords(file, records)) return kExitFailure;
    std::string text;
    bool printed = true;
    for (size_t r = 0; r < records.size() && printed; ++r) {
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
        if (text.size() >= kOutputPiece) {
            printed = PrintPiece(text);
            text.clear();
        }
    }
    FreeRecordList(records);
    if (printed && !text.empty()) printed = PrintPiece(text);
    return printed ? kExitOk : kExitFailure;
}

int RunExport(const ExportOptions& options) {
    if (OutputIsInput(options.file, options.output)) return kExitUsage;
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
    if (!options.descriptive && options.listSeparator && context.listSeparator == context.decimalSeparator) {
        // The locale's separator and the one given (or two given alike): the
        // columns of such a CSV cannot be told from the decimals.
        Console::Error(std::string("the decimal separator and the list separator are both '") + context.listSeparator +
                       "'; choose another with --decimal or --list-separator");
        FreeRecordList(records);
        return kExitUsage;
    }
    const int choice = options.record > 0 ? options.record - 1 : kAllRecords;
    const int result =
        FinishExport(options.output, [&](const std::string& path) { return ExportRecords(context, path, choice); });
    FreeRecordList(records);
    return result;
}

int RunRain(const RainOptions& options) {
    if (OutputIsInput(options.file, options.output)) return kExitUsage;
    RecordList records;
    if (!LoadRecords(options.file, records)) return kExitFailure;
    const std::vector<RainReportRow> rows = BuildRainReport(records, options.interval);
    const uint32_t flags = options.listSeparator ? kExportListSeparator : 0;
    const ExportContext context = MakeExportContext(flags, true, records, CurrentLocale());
    const int result =
        FinishExport(options.output, [&](const std::string& path) { return ExportRainReport(context, path, rows); });
    FreeRecordList(records);
    return result;
}

}  // namespace kx305cli
