#include "recording/export.h"

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <cstring>

#include "instruments/catalogue.h"
#include "recording/record_text.h"

namespace kx305mon {

namespace {

constexpr char kLineBreak[] = "\r\n";
constexpr char kTab = '\t';
constexpr char kInvalidSerial[] = "?????";
// The rain report's lines, CR LF included, are cut to this length.
constexpr size_t kRainLineLimit = 260;

// Records are written in batches of whole records of about this size.
constexpr size_t kBatchBytes = 64 * 1024;

bool WriteText(FileStream& file, const std::string& text) { return file.Write(text.data(), text.size()); }

void AppendInstrument(std::string& out, int32_t type, bool longName) {
    char name[256];
    InstrumentName(static_cast<uint32_t>(type), name, sizeof name, longName);
    out += name;
}

// Two records get the same CSV columns when their entries, hidden ones
// included, name the same instruments, quantities and serial numbers.
bool SameColumns(const MemoryRecord& a, const MemoryRecord& b) {
    return std::equal(a.entries.begin(), a.entries.end(), b.entries.begin(), b.entries.end(),
                      [](const MemoryEntry& x, const MemoryEntry& y) {
                          return x.type == y.type && x.quantity == y.quantity && x.serial == y.serial;
                      });
}

std::unique_ptr<FileStream> CreateExportFile(const std::string& path) {
    return OpenFile(path, path.empty() ? FileMode::Temporary : FileMode::Export);
}

// The length of the number at the start of `text` (see NumericPart).
size_t NumericLength(const char* text, size_t size) {
    auto isDigit = [](char c) { return c >= '0' && c <= '9'; };
    for (size_t i = size; i-- > 1;) {
        const char before = text[i - 1];
        if (isDigit(text[i]) && (isDigit(before) || before == '-' || before == '.' || before == ',')) {
            return i + 1;
        }
    }
    return size > 0 && isDigit(text[0]) ? 1 : 0;
}

size_t ValueLength(const MemoryEntry& entry) { return strnlen(entry.value, sizeof entry.value); }

void AppendCsvCell(std::string& out, const MemoryEntry& entry, char separator, char decimal) {
    // The record list keeps the dot, whatever the export writes.
    const size_t start = out.size();
    out.append(entry.value, NumericLength(entry.value, ValueLength(entry)));
    std::replace(out.begin() + static_cast<std::ptrdiff_t>(start), out.end(), '.', decimal);
    out += separator;
}

void AppendDescriptiveLine(std::string& out, const MemoryEntry& entry, char separator, uint32_t flags) {
    if (flags & kExportFieldName) {
        AppendInstrument(out, entry.type, true);
        out += separator;
    }
    if (flags & kExportFieldSerial) {
        out += entry.serial >= INVALID_VALUE ? std::string(kInvalidSerial) : std::to_string(entry.serial);
        out += separator;
    }
    if (flags & kExportFieldQuantity) {
        out += StringText(entry.quantity);
        out += separator;
    }
    if (flags & kExportFieldValue) {
        // Number and unit take two fields; the dot stays a dot here.
        out.append(entry.value, NumericLength(entry.value, ValueLength(entry)));
        out += separator;
        out += UnitText(entry.quantity, UnitForm::Bare);
        out += separator;
    }
    if (flags & kExportFieldStatus) {
        out += StringText(entry.status);
        out += separator;
    }
    out += kLineBreak;
}

}  // namespace

ExportContext MakeExportContext(uint32_t exportFlags, bool averageKX125, const RecordList& records,
                                const NumberLocale& locale) {
    ExportContext context;
    context.exportFlags = exportFlags;
    context.averageKX125 = averageKX125;
    context.records = &records;
    context.listSeparator = locale.ListSeparator();
    context.decimalSeparator = locale.DecimalSeparator();
    context.locale = &locale;
    return context;
}

char ExportSeparator(const ExportContext& context) {
    return (context.exportFlags & kExportListSeparator) ? context.listSeparator : kTab;
}

bool IsExported(const ExportContext& context, const MemoryEntry& entry) {
    // Quantity 0 of a KX-125, its average, is the only one named "Temperatura".
    return context.averageKX125 || entry.type != kTypeKX125 || entry.quantity != kStrTemperature;
}

void AppendCsvHeader(const ExportContext& context, std::string& out, const MemoryRecord& record, char separator) {
    out += "Data i Czas";
    out += separator;
    for (const MemoryEntry& entry : record.entries) {
        if (!IsExported(context, entry)) {
            continue;
        }
        // A quantity without unit keeps the blank after its name.
        AppendInstrument(out, entry.type, false);
        out += ' ';
        out += StringText(entry.quantity);
        out += ' ';
        out += UnitText(entry.quantity, UnitForm::Parenthesised);
        out += separator;
    }
    out += kLineBreak;
}

void AppendEntry(std::string& out, const MemoryEntry& entry, char separator, char decimal, uint32_t flags) {
    if (flags & kExportDescriptive) {
        AppendDescriptiveLine(out, entry, separator, flags);
    } else {
        AppendCsvCell(out, entry, separator, decimal);
    }
}

void AppendRecordLines(const ExportContext& context, std::string& out, const MemoryRecord& record, char separator,
                       char decimal, uint32_t flags) {
    const bool descriptive = (flags & kExportDescriptive) != 0;
    if (!descriptive) {
        out += FormatRecordTime(record.time, RecordTimeStyle::Fixed);
        out += separator;
    } else if (flags & kExportFieldTime) {
        const NumberLocale& locale = context.locale != nullptr ? *context.locale : CurrentLocale();
        out += FormatRecordTime(record.time, RecordTimeStyle::Short, locale);
        out += separator;
        out += kLineBreak;
    }
    for (const MemoryEntry& entry : record.entries) {
        if (IsExported(context, entry)) {
            AppendEntry(out, entry, separator, decimal, flags);
        }
    }
    // CSV: the end of the record's line; descriptive: an empty line.
    out += kLineBreak;
}

std::string NumericPart(const std::string& text) { return text.substr(0, NumericLength(text.data(), text.size())); }

bool WriteRecords(const ExportContext& context, FileStream& file, int choice) {
    if (context.records == nullptr) {
        return true;
    }
    const RecordList& records = *context.records;
    size_t first = 0;
    size_t last = records.size();
    if (choice >= 0) {
        first = static_cast<size_t>(choice);
        last = std::min(records.size(), first + 1);
    }
    const char separator = ExportSeparator(context);
    const char decimal = context.decimalSeparator;
    const bool csv = (context.exportFlags & kExportDescriptive) == 0;
    const MemoryRecord* previous = nullptr;
    std::string batch;
    batch.reserve(kBatchBytes + 4096);
    for (size_t k = first; k < last; ++k) {
        const MemoryRecord& record = records[k];
        if (csv && (previous == nullptr || !SameColumns(*previous, record))) {
            AppendCsvHeader(context, batch, record, separator);
        }
        previous = &record;
        AppendRecordLines(context, batch, record, separator, decimal, context.exportFlags);
        if (batch.size() >= kBatchBytes) {
            if (!WriteText(file, batch)) {
                return false;
            }
            batch.clear();
        }
    }
    return WriteText(file, batch);
}

ExportResult ExportRecords(const ExportContext& context, const std::string& path, int choice) {
    ExportResult result;
    result.file = CreateExportFile(path);
    if (result.file != nullptr) {
        result.written = WriteRecords(context, *result.file, choice);
    }
    return result;
}

ExportResult ExportRainReport(const ExportContext& context, const std::string& path,
                              const std::vector<RainReportRow>& rows) {
    ExportResult result;
    result.file = CreateExportFile(path);
    if (result.file == nullptr) {
        return result;
    }
    const char separator = ExportSeparator(context);
    result.written = WriteText(
        *result.file, std::string("Data i czas") + separator + "Wynik [mm]" + separator + "Status" + kLineBreak);
    for (const RainReportRow& row : rows) {
        std::string line = row.timeLabel + separator + row.amount + separator + StringText(row.status);
        line.resize(std::min(line.size(), kRainLineLimit - 2));
        result.written = WriteText(*result.file, line + kLineBreak) && result.written;
    }
    return result;
}

}  // namespace kx305mon
