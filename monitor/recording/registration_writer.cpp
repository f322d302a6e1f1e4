// The registration file's writer and the opening of a file for recording.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <utility>

#include "instruments/catalogue.h"
#include "recording/registration_file.h"
#include "recording/registration_format.h"
#include "time/calendar.h"
#include "time/calendar_time.h"
#include "time/local_time.h"

namespace kx305mon {

namespace {

using namespace registration_format;

// A quantity line: four numbers of at most 11 characters, the value text
// (less than 200 characters) and the separators.
constexpr size_t kLineBufferSize = 320;

// Accumulates the checksum of a record's text and hands it, negated, line
// by line to `sink` (a file write, or the bytes of an encoding).
template <typename Sink>
class RecordWriter {
public:
    explicit RecordWriter(Sink& sink) : sink_(sink) {}

    // `length` as snprintf reports it; the buffers are sized so that it
    // never exceeds kLineBufferSize - 1, and it is held to that.
    void Text(const char* text, int reported) {
        const size_t length = std::min(static_cast<size_t>(std::max(reported, 0)), kLineBufferSize - 1);
        sum_ += SignedByteSum(reinterpret_cast<const uint8_t*>(text), length);
        WriteNegated(reinterpret_cast<const uint8_t*>(text), length);
    }

    void Trailer() {
        const uint8_t trailer[3] = {kRecordMark, CheckByte(sum_, 253), CheckByte(sum_, 251)};
        WriteNegated(trailer, sizeof trailer);
    }

    bool succeeded() const { return succeeded_; }

private:
    void WriteNegated(const uint8_t* bytes, size_t length) {
        uint8_t stored[kLineBufferSize];
        std::memcpy(stored, bytes, length);
        NegateBytes(stored, length);
        if (!sink_(stored, length)) {
            succeeded_ = false;
        }
    }

    Sink& sink_;
    uint32_t sum_ = 0;  // signed 32-bit sum, kept unsigned to wrap defined
    bool succeeded_ = true;
};

// The time-stamp line's fields: the local time of the record's UTC time, or,
// when that cannot be had (a damaged stamp, a year past the conversion), the
// record's own fields as they came.  A record is never left out for its
// time: the converter would be cleared of it all the same.  Each raw field
// is held to its digit count, so that the line keeps its 14 digits.
CalendarTime StampTime(const LogRecord& record) {
    const CalendarTime utc = CalendarFromLogRecord(record);
    CalendarTime local;
    if (UtcToLocal(utc, local) && local.year <= kLastConvertibleYear) {
        return local;
    }
    CalendarTime raw = utc;
    raw.year = std::min<uint16_t>(raw.year, 9999);
    for (uint16_t* field : {&raw.month, &raw.day, &raw.hour, &raw.minute, &raw.second}) {
        *field = std::min<uint16_t>(*field, 99);
    }
    return raw;
}

template <typename Sink>
bool EncodeRecord(const LogRecord& record, Sink& sink) {
    const CalendarTime stamp = StampTime(record);
    RecordWriter<Sink> writer(sink);
    char line[kLineBufferSize];
    int length = std::snprintf(line, sizeof line, "%04d%02d%02d%02d%02d%02d%c", stamp.year, stamp.month, stamp.day,
                               stamp.hour, stamp.minute, stamp.second, kLineEnd);
    writer.Text(line, length);

    for (const InputReading& reading : record.results) {
        const uint32_t type = reading.type;
        if (type == kTypeNone || type > kTypeKX273) {
            continue;
        }
        const unsigned status = static_cast<unsigned>(InstrumentStatus(type, reading));
        const int32_t serial = InstrumentSerial(type, reading);
        char serialText[16];
        if (serial == INVALID_VALUE) {
            std::snprintf(serialText, sizeof serialText, "0000");
        } else {
            std::snprintf(serialText, sizeof serialText, "%li", static_cast<long>(serial));
        }
        for (int q = 0;; ++q) {
            char value[200];
            const int id = QuantityValue(type, reading, q, value, sizeof value, false, true);
            if (id == 0) {
                break;
            }
            length = std::snprintf(line, sizeof line, "%01d,%s,%d,%s,%u%c", static_cast<int>(type), serialText, id,
                                   value, status, kLineEnd);
            writer.Text(line, length);
        }
    }
    writer.Trailer();
    return writer.succeeded();
}

}  // namespace

bool WriteRegistrationRecord(FileStream& file, const LogRecord& record) {
    auto write = [&file](const uint8_t* bytes, size_t length) { return file.Write(bytes, length); };
    return EncodeRecord(record, write);
}

std::string EncodeRegistrationRecord(const LogRecord& record) {
    std::string out;
    auto append = [&out](const uint8_t* bytes, size_t length) {
        out.append(reinterpret_cast<const char*>(bytes), length);
        return true;
    };
    EncodeRecord(record, append);
    return out;
}

RecordingOpen OpenRecordingFile(const std::string& path, bool appendWithoutAsking,
                                const std::function<ExistingFileChoice()>& ask, std::unique_ptr<FileStream>& file) {
    file.reset();
    bool existed = false;
    std::unique_ptr<FileStream> opened = OpenFile(path, FileMode::Recording, &existed);
    if (!opened) {
        return RecordingOpen::Unavailable;
    }
    if (existed) {
        const ExistingFileChoice choice = appendWithoutAsking ? ExistingFileChoice::Append : ask();
        if (choice == ExistingFileChoice::Cancel) {
            return RecordingOpen::Cancelled;
        }
        // Erasing cuts at the start, where the file was opened.  A file that
        // cannot be moved or cut is not recorded into: the records would
        // land in the wrong place.
        const bool placed =
            choice == ExistingFileChoice::Append ? opened->SeekToEnd() : opened->SeekToStart() && opened->Truncate();
        if (!placed) {
            return RecordingOpen::Unavailable;
        }
    }
    file = std::move(opened);
    return RecordingOpen::Opened;
}

}  // namespace kx305mon
