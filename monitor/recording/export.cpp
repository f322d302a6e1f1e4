#include "recording/export.h"

#include <algorithm>
#include <cstdio>

#include "instruments/catalogue.h"
#include "recording/record_text.h"

namespace kx305mon {

namespace {

constexpr char kLineBreak[] = "\r\n";
constexpr char kTab = '\t';
constexpr char kInvalidSerial[] = "?????";
// The rain report's lines, CR LF included, are cut to this length.
constexpr size_t kRainLineLimit = 260;

bool WriteText(FileStream& file, const std::string& text) {
    return file.Write(text.data(), text.size());
}

std::string InstrumentText(int32_t type, bool longName) {
    char name[256];
    InstrumentName(static_cast<uint32_t>(type), name, sizeof name, longName);
    return name;
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

std::string CsvCell(const MemoryEntry& entry, char separator, char decimal) {
    // On a copy: the record list keeps the dot, whatever the export writes.
    std::string value = entry.value;
    std::replace(value.begin(), value.end(), '.', decimal);
    return NumericPart(value) + separator;
}

std::string DescriptiveLine(const MemoryEntry& entry, char separator, uint32_t flags) {
    std::string line;
    if (flags & kExportFieldName) {
        line += InstrumentText(entry.type, true);
        line += separator;
    }
    if (flags & kExportFieldSerial) {
        line += entry.serial >= INVALID_VALUE ? std::string(kInvalidSerial) : std::to_string(entry.serial);
        line += separator;
    }
    if (flags & kExportFieldQuantity) {
        line += StringText(entry.quantity);
        line += separator;
    }
    if (flags & kExportFieldValue) {
        // Number and unit take two fields; the dot stays a dot here.
        line += NumericPart(entry.value);
        line += separator;
        line += UnitText(entry.quantity, UnitForm::Bare);
        line += separator;
    }
    if (flags & kExportFieldStatus) {
        line += StringText(entry.status);
        line += separator;
    }
    return line + kLineBreak;
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

bool WriteCsvHeader(const ExportContext& context, FileStream& file, const MemoryRecord& record, char separator) {
    bool written = WriteText(file, std::string("Data i Czas") + separator);
    for (const MemoryEntry& entry : record.entries) {
        if (!IsExported(context, entry)) {
            continue;
        }
        // A quantity without unit keeps the blank after its name.
        const std::string title = InstrumentText(entry.type, false) + " " + StringText(entry.quantity) + " " +
                                  UnitText(entry.quantity, UnitForm::Parenthesised) + separator;
        written = WriteText(file, title) && written;
    }
    return WriteText(file, kLineBreak) && written;
}

bool WriteEntry(FileStream& file, const MemoryEntry& entry, char separator, char decimal, uint32_t flags) {
    if (flags & kExportDescriptive) {
        return WriteText(file, DescriptiveLine(entry, separator, flags));
    }
    return WriteText(file, CsvCell(entry, separator, decimal));
}

bool WriteRecordLines(const ExportContext& context, FileStream& file, const MemoryRecord& record, char separator,
                      char decimal, uint32_t flags) {
    const bool descriptive = (flags & kExportDescriptive) != 0;
    bool written = true;
    if (!descriptive) {
        written = WriteText(file, FormatRecordTime(record.time, RecordTimeStyle::Fixed) + separator);
    } else if (flags & kExportFieldTime) {
        const NumberLocale& locale = context.locale != nullptr ? *context.locale : CurrentLocale();
        written = WriteText(file, FormatRecordTime(record.time, RecordTimeStyle::Short, locale) + separator +
                                      kLineBreak);
    }
    for (const MemoryEntry& entry : record.entries) {
        if (IsExported(context, entry)) {
            written = WriteEntry(file, entry, separator, decimal, flags) && written;
        }
    }
    // CSV: the end of the record's line; descriptive: an empty line.
    return WriteText(file, kLineBreak) && written;
}

std::string NumericPart(const std::string& text) {
    auto isDigit = [](char c) { return c >= '0' && c <= '9'; };
    for (size_t i = text.size(); i-- > 1;) {
        const char before = text[i - 1];
        if (isDigit(text[i]) && (isDigit(before) || before == '-' || before == '.' || before == ',')) {
            return text.substr(0, i + 1);
        }
    }
    return !text.empty() && isDigit(text[0]) ? text.substr(0, 1) : std::string();
}

ExportResult ExportRecords(const ExportContext& context, const std::string& path, int choice) {
    ExportResult result;
    result.file = CreateExportFile(path);
    if (result.file == nullptr) {
        return result;
    }
    result.written = true;
    if (context.records == nullptr) {
        return result;
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
    for (size_t k = first; k < last; ++k) {
        const MemoryRecord& record = records[k];
        if (csv && (previous == nullptr || !SameColumns(*previous, record))) {
            // A failed title line is reported, the records still follow.
            result.written = WriteCsvHeader(context, *result.file, record, separator) && result.written;
        }
        previous = &record;
        if (!WriteRecordLines(context, *result.file, record, separator, decimal, context.exportFlags)) {
            result.written = false;
            break;
        }
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
    result.written = WriteText(*result.file, std::string("Data i czas") + separator + "Wynik [mm]" + separator +
                                                 "Status" + kLineBreak);
    for (const RainReportRow& row : rows) {
        std::string line = row.timeLabel + separator + row.amount + separator + StringText(row.status);
        line.resize(std::min(line.size(), kRainLineLimit - 2));
        result.written = WriteText(*result.file, line + kLineBreak) && result.written;
    }
    return result;
}

}  // namespace kx305mon
