#include "recording/registration_file.h"

#include <cstdio>
#include <cstring>

#include "instruments/catalogue.h"
#include "recording/local_time.h"

namespace kx305mon {

namespace {

constexpr uint8_t kLineEnd = '$';     // LINE_END
constexpr uint8_t kRecordMark = '@';  // RECORD_MARK
constexpr size_t kStampDigits = 14;
// The shortest text worth parsing: stamp, "$", one short line and trailer.
constexpr size_t kMinRecordSize = 27;
constexpr size_t kBlockSize = 2000;
// Decoded text held at any time: what is left of a record start shorter
// than kMinRecordSize plus one block.
constexpr size_t kWindowSize = 4096;
static_assert(kWindowSize >= kMinRecordSize + kBlockSize);
// A quantity line: four numbers of at most 11 characters, the value text
// (less than 200 characters) and the separators.
constexpr size_t kLineBufferSize = 320;

// Both directions of the storage transformation.
inline uint8_t Negate(uint8_t byte) {
    return static_cast<uint8_t>(0u - byte);
}

// The two trailer bytes of a checksum (remainders truncated toward zero, as
// the sum of a damaged record may be negative).
inline uint8_t CheckByte(uint32_t sum, int32_t modulus) {
    return static_cast<uint8_t>(static_cast<int32_t>(sum) % modulus + 1);
}

// Accumulates the checksum of a record's text and writes it negated.
class RecordWriter {
public:
    explicit RecordWriter(FileStream& file) : file_(file) {}

    void Text(const char* text, size_t length) {
        for (size_t i = 0; i < length; ++i) {
            sum_ += static_cast<uint32_t>(static_cast<int8_t>(text[i]));
        }
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
        for (size_t i = 0; i < length; ++i) {
            stored[i] = Negate(bytes[i]);
        }
        if (!file_.Write(stored, length)) {
            succeeded_ = false;
        }
    }

    FileStream& file_;
    uint32_t sum_ = 0;  // signed 32-bit sum, kept unsigned to wrap defined
    bool succeeded_ = true;
};

}  // namespace

bool WriteRegistrationRecord(FileStream& file, const LogRecord& record) {
    CalendarTime utc;
    utc.year = record.year;
    utc.month = record.month;
    utc.day = record.day;
    utc.hour = record.hour;
    utc.minute = record.minute;
    utc.second = record.second;
    CalendarTime local;
    if (!UtcToLocal(utc, local)) {
        // No stamp would be true for it: the record is left out.
        return false;
    }

    RecordWriter writer(file);
    char line[kLineBufferSize];
    int length = std::snprintf(line, sizeof line, "%04d%02d%02d%02d%02d%02d%c", local.year, local.month,
                               local.day, local.hour, local.minute, local.second, kLineEnd);
    writer.Text(line, static_cast<size_t>(length));

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
            length = std::snprintf(line, sizeof line, "%01d,%s,%d,%s,%u%c", static_cast<int>(type), serialText,
                                   id, value, status, kLineEnd);
            writer.Text(line, static_cast<size_t>(length));
        }
    }
    writer.Trailer();
    return writer.succeeded();
}

void FreeRecordList(RecordList& records) {
    RecordList().swap(records);
}

namespace {

// Parses the decoded text of a registration file as one stream, block by
// block.  Only the current record's lines are kept besides the list; a
// field never has to fit into the window, so damaged data of any length is
// walked through with constant memory.
class RegistrationReader {
public:
    RegistrationReader(FileStream& file, RecordList& records) : file_(file), records_(records) {
        lines_.reserve(kMaxRecordLines);
    }

    void Run() {
        for (;;) {
            const size_t available = end_ - pos_;
            const bool needMore = available == 0 || (state_ == State::RecordStart && available < kMinRecordSize);
            if (needMore && !Refill()) {
                return;  // end of the data or a failed read
            }
            if (needMore) {
                continue;
            }
            switch (state_) {
            case State::RecordStart:
                StartRecord();
                break;
            case State::AfterLineEnd:
                AfterLineEnd();
                break;
            case State::Field:
                ScanField();
                break;
            case State::Trailer:
                TakeTrailerByte();
                break;
            case State::Resync:
                Resync();
                break;
            }
        }
    }

private:
    enum class State {
        RecordStart,   // at the first digit of a time stamp
        AfterLineEnd,  // just after a "$"
        Field,         // inside a field of a quantity line
        Trailer,       // at "@", T1, T2
        Resync,        // looking for the next "@"
    };

    // Moves the unread text to the front of the window and appends one
    // decoded block.  False at the end of the file or when the read failed
    // (its data is not used).
    bool Refill() {
        if (eof_) {
            return false;
        }
        const size_t unread = end_ - pos_;
        std::memmove(window_, window_ + pos_, unread);
        pos_ = 0;
        end_ = unread;
        const long got = file_.Read(window_ + end_, kBlockSize);
        if (got <= 0) {
            eof_ = true;
            return false;
        }
        uint8_t* block = window_ + end_;
        for (long i = 0; i < got; ++i) {
            block[i] = Negate(block[i]);
        }
        end_ += static_cast<size_t>(got);
        return true;
    }

    // The window holds at least kMinRecordSize bytes from pos_.
    void StartRecord() {
        const uint8_t* p = window_ + pos_;
        // Digits are taken as they come: a damaged stamp is caught by the
        // checksum, not here.
        auto digit = [p](size_t i) { return static_cast<int>(p[i]) - '0'; };
        time_ = CalendarTime{};
        time_.year = static_cast<uint16_t>(digit(0) * 1000 + digit(1) * 100 + digit(2) * 10 + digit(3));
        time_.month = static_cast<uint16_t>(digit(4) * 10 + digit(5));
        time_.day = static_cast<uint16_t>(digit(6) * 10 + digit(7));
        time_.hour = static_cast<uint16_t>(digit(8) * 10 + digit(9));
        time_.minute = static_cast<uint16_t>(digit(10) * 10 + digit(11));
        time_.second = static_cast<uint16_t>(digit(12) * 10 + digit(13));
        sum_ = 0;
        for (size_t i = 0; i < kStampDigits; ++i) {
            sum_ += static_cast<uint32_t>(static_cast<int8_t>(p[i]));
        }
        lines_.clear();
        if (p[kStampDigits] == kLineEnd) {
            sum_ += kLineEnd;
            pos_ += kStampDigits + 1;
            state_ = State::AfterLineEnd;
        } else {
            pos_ += kStampDigits;
            state_ = State::Resync;
        }
    }

    void AfterLineEnd() {
        const uint8_t next = window_[pos_];
        if (next == kRecordMark) {
            // Also right after the stamp: a record without lines ends here
            // instead of taking its neighbour's text as its first line.
            candidate_ = true;
            StartTrailer();
        } else if (lines_.size() < static_cast<size_t>(kMaxRecordLines)) {
            StartField(0);
            line_ = MemoryEntry{};
            valueLength_ = 0;
            state_ = State::Field;
        } else {
            state_ = State::Resync;
        }
    }

    void StartField(int index) {
        field_ = index;
        number_ = 0;
        negative_ = false;
        numberPhase_ = NumberPhase::Blanks;
    }

    void ScanField() {
        const uint8_t terminator = field_ == 4 ? kLineEnd : ',';
        while (pos_ < end_) {
            const uint8_t c = window_[pos_++];
            sum_ += static_cast<uint32_t>(static_cast<int8_t>(c));
            if (c == terminator) {
                EndField();
                return;
            }
            if (field_ == 3) {
                if (valueLength_ < kEntryValueLength) {
                    line_.value[valueLength_++] = static_cast<char>(c);
                }
            } else if (numberPhase_ != NumberPhase::Done) {
                TakeNumberCharacter(c);
            }
        }
    }

    // Decimal conversion as the C library's atoi does it: leading blanks,
    // an optional sign, digits up to the first other character; no digits
    // give 0.  Overlong digit runs wrap instead of being undefined.
    void TakeNumberCharacter(uint8_t c) {
        const bool isDigit = c >= '0' && c <= '9';
        if (numberPhase_ == NumberPhase::Blanks) {
            if (c == ' ' || (c >= '\t' && c <= '\r')) {
                return;
            }
            numberPhase_ = NumberPhase::Digits;
            if (c == '-' || c == '+') {
                negative_ = c == '-';
                return;
            }
        }
        if (isDigit) {
            number_ = number_ * 10 + (c - '0');
        } else {
            numberPhase_ = NumberPhase::Done;
        }
    }

    void EndField() {
        const int32_t number = static_cast<int32_t>(negative_ ? 0u - number_ : number_);
        switch (field_) {
        case 0:
            line_.type = number;
            break;
        case 1:
            line_.serial = number;
            break;
        case 2:
            line_.quantity = number;
            break;
        case 3:
            line_.value[valueLength_] = '\0';
            break;
        case 4:
            line_.status = number;
            lines_.push_back(line_);
            state_ = State::AfterLineEnd;
            return;
        }
        StartField(field_ + 1);
    }

    void StartTrailer() {
        trailerLength_ = 0;
        state_ = State::Trailer;
    }

    void TakeTrailerByte() {
        trailer_[trailerLength_++] = window_[pos_++];
        if (trailerLength_ < 3) {
            return;
        }
        if (candidate_ && !lines_.empty() && trailer_[1] == CheckByte(sum_, 253) &&
            trailer_[2] == CheckByte(sum_, 251)) {
            MemoryRecord& record = records_.emplace_back();
            record.time = time_;
            record.entries.assign(lines_.begin(), lines_.end());
        }
        candidate_ = false;
        state_ = State::RecordStart;
    }

    void Resync() {
        const void* mark = std::memchr(window_ + pos_, kRecordMark, end_ - pos_);
        if (mark == nullptr) {
            pos_ = end_;
            return;
        }
        pos_ = static_cast<size_t>(static_cast<const uint8_t*>(mark) - window_);
        candidate_ = false;
        StartTrailer();
    }

    enum class NumberPhase { Blanks, Digits, Done };

    FileStream& file_;
    RecordList& records_;
    uint8_t window_[kWindowSize];
    size_t pos_ = 0;
    size_t end_ = 0;
    bool eof_ = false;

    State state_ = State::RecordStart;
    CalendarTime time_;
    uint32_t sum_ = 0;  // signed 32-bit checksum, wrapping
    std::vector<MemoryEntry> lines_;
    MemoryEntry line_{};
    int field_ = 0;
    size_t valueLength_ = 0;
    uint32_t number_ = 0;
    bool negative_ = false;
    NumberPhase numberPhase_ = NumberPhase::Blanks;
    bool candidate_ = false;  // the trailer ahead closes a complete record
    uint8_t trailer_[3] = {};
    int trailerLength_ = 0;
};

}  // namespace

int ReadRegistrationFile(FileStream* file, RecordList& records) {
    FreeRecordList(records);
    if (file == nullptr) {
        return 0;
    }
    if (file->SeekToStart()) {
        RegistrationReader(*file, records).Run();
    }
    file->SeekToEnd();
    return static_cast<int>(records.size());
}

}  // namespace kx305mon
