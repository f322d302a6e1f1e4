// Export writers: the records of a registration file as CSV or descriptive
// text, and the rows of the rain report, into a file the user names or into
// a temporary file for the clipboard.  Texts are code page 1250, lines end
// with CR LF.  The writers never change the record list they export.
//
// Everything runs on the UI thread; the window code asks for the file name,
// shows the failure messages and hands a temporary file to the clipboard.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "instruments/locale.h"
#include "recording/file.h"
#include "recording/rain_report.h"
#include "recording/registration_file.h"

namespace kx305mon {

// ExportFlags bits (settings value "Flags").
constexpr uint32_t kExportAllRecords = 0x001;     // else only the current record
constexpr uint32_t kExportDescriptive = 0x002;    // else CSV
constexpr uint32_t kExportListSeparator = 0x004;  // else TAB
constexpr uint32_t kExportFieldTime = 0x008;      // "Data i czas pomiaru"
constexpr uint32_t kExportFieldName = 0x010;      // "Nazwa przyrządu"
constexpr uint32_t kExportFieldSerial = 0x020;    // "Numer seryjny"
constexpr uint32_t kExportFieldQuantity = 0x040;  // "Nazwa wielkości mierzonej"
constexpr uint32_t kExportFieldValue = 0x080;     // "Wynik pomiaru"
constexpr uint32_t kExportFieldStatus = 0x100;    // "Status pomiaru"
constexpr uint32_t kExportFields = 0x1F8;
constexpr uint32_t kDefaultExportFlags = 0x1FF;

// What an export needs from the program's state, taken explicitly so that
// the writers run without the application context.
struct ExportContext {
    uint32_t exportFlags = kDefaultExportFlags;
    bool averageKX125 = true;  // "KX125AV": export the KX-125 average
    const RecordList* records = nullptr;
    char listSeparator = ';';              // first character of the locale's list separator
    char decimalSeparator = ',';           // first character of the locale's decimal separator
    const NumberLocale* locale = nullptr;  // short dates; null: CurrentLocale()
};

// The context for the given settings with the separators of `locale`.
ExportContext MakeExportContext(uint32_t exportFlags, bool averageKX125, const RecordList& records,
                                const NumberLocale& locale);

// An export's file, open and positioned at its end, or null when it could
// not be created (the caller closes it; a temporary file vanishes then).
// `written` is false when a write failed; the file keeps what was written.
struct ExportResult {
    std::unique_ptr<FileStream> file;
    bool written = false;
};

// Record choice of ExportRecords: all records, else the index of one.
constexpr int kAllRecords = -1;

// Writes the records of context.records (all, or record `choice` only) into
// the file `path`, or a temporary file when `path` is empty.  In CSV a title
// line precedes every record whose columns differ from the previous one's.
ExportResult ExportRecords(const ExportContext& context, const std::string& path, int choice);

// The records of ExportRecords into an open file, written in batches of
// whole records.  A write that fails ends the export: false, and the file
// keeps the batches written before it.
bool WriteRecords(const ExportContext& context, FileStream& file, int choice);

// The separator of the exports: the list separator or TAB (flag bit 2).
char ExportSeparator(const ExportContext& context);

// False for the KX-125 average when the average option is off.
bool IsExported(const ExportContext& context, const MemoryEntry& entry);

// The CSV title line of a record, appended to `out`.
void AppendCsvHeader(const ExportContext& context, std::string& out, const MemoryRecord& record, char separator);

// The CSV line or the descriptive lines of a record, by `flags`.
void AppendRecordLines(const ExportContext& context, std::string& out, const MemoryRecord& record, char separator,
                       char decimal, uint32_t flags);

// One entry: its CSV cell (value with `decimal` for the dot) or, with the
// descriptive flag, its line of the chosen fields.
void AppendEntry(std::string& out, const MemoryEntry& entry, char separator, char decimal, uint32_t flags);

// The number at the start of a value text without what follows it:
// "21.5" stays, "5 mm" gives "5", "?????" and a blank give "".
std::string NumericPart(const std::string& text);

// Writes the rain report: a title line and one line per row, three fields
// separated by the export separator.
ExportResult ExportRainReport(const ExportContext& context, const std::string& path,
                              const std::vector<RainReportRow>& rows);

}  // namespace kx305mon
