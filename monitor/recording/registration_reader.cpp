// The registration file's reader: stored bytes, from a file or from
// memory, into a RecordList.
#include <algorithm>
#include <bit>
#include <cstring>
#include <new>
#include <string_view>

#include "recording/registration_file.h"
#include "recording/registration_format.h"
#include "instruments/catalogue.h"
#include "time/calendar_time.h"
#include "time/local_time.h"

namespace kx305mon {

namespace {

using namespace registration_format;

// Resynchronising looks this far past an "@" for a record starting inside
// its check bytes: "@", two bytes, the stamp's digits and its "$".
constexpr size_t kResyncLookahead = 3 + kStampDigits + 1;
// The shortest text worth parsing: stamp, "$", one short line and trailer.
constexpr size_t kMinRecordSize = 27;
// A record without lines: stamp, "$" and trailer.
constexpr size_t kEmptyRecordSize = kStampDigits + 1 + 3;
constexpr size_t kBlockSize = 2000;
// Decoded text held at any time: what is left of a record start shorter
// than kMinRecordSize plus one block.
constexpr size_t kWindowSize = 4096;
static_assert(kWindowSize >= kMinRecordSize + kBlockSize + 16);
static_assert(std::endian::native == std::endian::little, "line heads are compared as little-endian words");

// Parses the decoded text of a registration file as one stream, block by
// block.  Only the current record's lines are kept besides the list; a
// field never has to fit into the window, so damaged data of any length is
// walked through with constant memory.
class RegistrationReader {
public:
    // `start` is the file offset the reading begins at; `keepEmpty` keeps
    // the valid records without lines too (with no entries), as a download
    // that is to be lined up with the file's records needs them.
    RegistrationReader(FileStream& file, RecordList& records, int64_t start = 0, bool keepEmpty = false,
                       std::vector<int64_t>* ends = nullptr)
        : file_(&file), records_(records), base_(start), keepEmpty_(keepEmpty), ends_(ends) {
        // Line heads are compared a word at a time, past the data too.
        std::memset(window_, 0, sizeof window_);
    }
    // Stored bytes already in memory, handed out a block at a time as a
    // file's are.
    RegistrationReader(std::string_view stored, RecordList& records, bool keepEmpty)
        : stored_(stored), records_(records), base_(0), keepEmpty_(keepEmpty), ends_(nullptr) {
        std::memset(window_, 0, sizeof window_);
    }

    // File offset just past the last record with valid check bytes, or -1
    // when none was read.
    int64_t LastWholeEnd() const { return lastWholeEnd_; }

    void Run() {
        for (;;) {
            const size_t available = end_ - pos_;
            const bool needMore = available == 0 || (state_ == State::RecordStart && available < kMinRecordSize) ||
                                  (state_ == State::Resync && resyncWaits_);
            if (needMore) {
                if (!Refill()) {
                    // A record without lines is shorter than kMinRecordSize:
                    // at the very end of the data it is still taken whole.
                    if (keepEmpty_ && state_ == State::RecordStart && available >= kEmptyRecordSize) {
                        StartRecord();
                        continue;
                    }
                    return;  // end of the data or a failed read
                }
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
                ScanLines(false);
                break;
            case State::Trailer:
                TakeTrailer();
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
    enum class NumberPhase { Blanks, Digits, Done };

    bool InRecordText() const { return state_ == State::AfterLineEnd || state_ == State::Field; }

    // Moves the unread text to the front of the window and appends one
    // decoded block.  False at the end of the file or when the read failed
    // (its data is not used).
    bool Refill() {
        if (eof_) {
            return false;
        }
        if (InRecordText()) {
            AddToSum();
        }
        // Text that a damaged record may have to be searched again for a
        // record inside it stays, as long as a block still fits behind it.
        size_t keep = pos_;
        if (state_ == State::Resync) {
            // Resync has searched the window (it always runs before a
            // refill): it has seen every start whose "$" is in it.
            resyncWaits_ = false;
            resyncFrom_ = std::max(resyncFrom_, end_ >= kStampDigits ? end_ - kStampDigits : 0);
            keep = std::min(keep, resyncFrom_);
        } else if (recordStart_ != kNone) {
            if (end_ - recordStart_ + kBlockSize + 16 <= kWindowSize) {
                keep = recordStart_;
            } else {
                recordStart_ = kNone;
            }
        }
        const size_t unread = end_ - keep;
        std::memmove(window_, window_ + keep, unread);
        base_ += static_cast<int64_t>(keep);
        pos_ -= keep;
        summedTo_ = pos_;
        if (recordStart_ != kNone) {
            recordStart_ -= keep;
        }
        resyncFrom_ = resyncFrom_ >= keep ? resyncFrom_ - keep : 0;
        end_ = unread;
        const long got = ReadBlock(window_ + end_);
        if (got <= 0) {
            eof_ = true;
            return false;
        }
        NegateBytes(window_ + end_, static_cast<size_t>(got));
        end_ += static_cast<size_t>(got);
        return true;
    }

    // Up to one block of stored bytes: the count, 0 at the end, -1 when the
    // file's read failed.
    long ReadBlock(uint8_t* into) {
        if (file_ != nullptr) {
            return file_->Read(into, kBlockSize);
        }
        const size_t count = std::min(kBlockSize, stored_.size());
        std::memcpy(into, stored_.data(), count);
        stored_.remove_prefix(count);
        return static_cast<long>(count);
    }

    // The checksum runs over whole stretches of the window rather than byte
    // by byte in the field loops: from summedTo_ up to the read position.
    void AddToSum() {
        sum_ += SignedByteSum(window_ + summedTo_, pos_ - summedTo_);
        summedTo_ = pos_;
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
        summedTo_ = pos_;
        lineCount_ = 0;
        if (p[kStampDigits] == kLineEnd) {
            recordStart_ = pos_;
            pos_ += kStampDigits + 1;
            state_ = State::AfterLineEnd;
        } else {
            // Not a record start: the next one may begin anywhere after it.
            ++pos_;
            BeginResync(pos_);
        }
    }

    // Looks for the next record from pos_ on, or for one that starts at
    // `from` or later inside text already read (a damaged stretch).
    void BeginResync(size_t from) {
        recordStart_ = kNone;
        resyncFrom_ = from;
        state_ = State::Resync;
    }

    // A record whose check bytes were wrong: a good record may start inside
    // it (a torn record followed by a whole one).  Its text is searched
    // again from its second byte, before the reader goes on after the
    // trailer at `trailer`.
    void RetryInside(size_t trailer) {
        if (recordStart_ == kNone) {
            state_ = State::RecordStart;
            return;
        }
        const size_t from = recordStart_ + 1;
        pos_ = trailer;
        BeginResync(from);
    }

    static bool AllDigits(const uint8_t* p, size_t count) {
        for (size_t i = 0; i < count; ++i) {
            if (static_cast<uint32_t>(p[i]) - '0' >= 10) {
                return false;
            }
        }
        return true;
    }

    // The first record start (14 digits and "$") at `from` or later and
    // before `before` whose "$" is in the window, or kNone.
    size_t FindStamp(size_t from, size_t before) const {
        for (size_t x = from + kStampDigits; x < end_;) {
            const void* found = std::memchr(window_ + x, kLineEnd, end_ - x);
            if (found == nullptr) {
                return kNone;
            }
            x = static_cast<size_t>(static_cast<const uint8_t*>(found) - window_);
            const size_t start = x - kStampDigits;
            if (start >= before) {
                return kNone;
            }
            if (AllDigits(window_ + start, kStampDigits)) {
                return start;
            }
            ++x;
        }
        return kNone;
    }

    void AfterLineEnd() {
        const uint8_t next = window_[pos_];
        if (next == kRecordMark) {
            // Also right after the stamp: a record without lines ends here
            // instead of taking its neighbour's text as its first line.
            AddToSum();
            candidate_ = true;
            StartTrailer();
        } else if (lineCount_ < kMaxRecordLines) {
            lines_[lineCount_] = MemoryEntry{};
            state_ = State::Field;
            ScanLines(true);
        } else {
            BeginResync(recordStart_ != kNone ? recordStart_ + 1 : pos_);
        }
    }

    // Where the scan of a quantity line stands; kept in a local while the
    // hot loop runs, so that the compiler holds it in registers (the value
    // copy writes characters, which may alias any member).
    struct FieldScan {
        int field = 0;  // 0 type, 1 serial, 2 quantity, 3 value, 4 status
        size_t valueLength = 0;
        // Decimal conversion as the C library's atoi does it: leading
        // blanks, an optional sign, digits up to the first other character;
        // no digits give 0.  Overlong digit runs wrap instead of being
        // undefined.
        NumberPhase phase = NumberPhase::Blanks;
        bool negative = false;
        uint32_t number = 0;

        int32_t Number() const { return static_cast<int32_t>(negative ? 0u - number : number); }
        void NextField() {
            ++field;
            phase = NumberPhase::Blanks;
            negative = false;
            number = 0;
        }
    };

    // Scans fields and lines as far as the window goes, from a line start
    // or from where field_ stands.  The loop keeps its scan in a local, in
    // registers.
    void ScanLines(bool lineStart) {
        const uint8_t* p = window_ + pos_;
        const uint8_t* const end = window_ + end_;
        FieldScan scan = lineStart ? FieldScan{} : field_;
        while (p < end) {
            MemoryEntry& line = lines_[lineCount_];
            if (scan.field == 0 && scan.phase == NumberPhase::Blanks && ScanPlainLine(line, p, end)) {
                scan.field = 4;  // the whole line at once
            } else {
                const bool ended = scan.field == 3 ? ScanValue(scan, line, p, end)
                                                   : ScanNumber(scan, p, end, scan.field == 4 ? kLineEnd : ',');
                if (!ended) {
                    break;  // the field goes on in the next block
                }
                switch (scan.field) {
                case 0:
                    line.type = scan.Number();
                    break;
                case 1:
                    line.serial = scan.Number();
                    break;
                case 2:
                    line.quantity = scan.Number();
                    break;
                case 3:
                    line.value[scan.valueLength] = '\0';
                    break;
                case 4:
                    line.status = scan.Number();
                    break;
                }
                if (scan.field < 4) {
                    scan.NextField();
                    continue;
                }
            }
            // A whole line: what follows is decided here when the next byte
            // is at hand, else by AfterLineEnd after the next block.
            ++lineCount_;
            pos_ = static_cast<size_t>(p - window_);
            if (p == end) {
                state_ = State::AfterLineEnd;
                return;
            }
            if (*p == kRecordMark || lineCount_ == kMaxRecordLines) {
                AfterLineEnd();
                return;
            }
            lines_[lineCount_] = MemoryEntry{};
            scan = FieldScan{};
        }
        pos_ = static_cast<size_t>(p - window_);
        field_ = scan;
    }

    // The lines the writer makes, whole in the window, with numbers of bare
    // digits: read in one go, without the field-by-field bookkeeping.
    // Anything else (blanks, signs, a line cut by the block end) is left to
    // the field-by-field scan, which gives the same result for these lines;
    // `line` is left empty then.
    bool ScanPlainLine(MemoryEntry& line, const uint8_t*& p, const uint8_t* end) {
        const uint8_t* q = p;
        uint32_t type;
        uint32_t serial;
        uint32_t quantity;
        uint32_t status;
        // Type, serial and quantity of a line mostly repeat those of the
        // same line of the record before: the same bytes give the same
        // numbers, so they are compared instead of converted again.
        LineHead& head = heads_[lineCount_];
        if (head.Matches(q, end)) {
            type = head.type;
            serial = head.serial;
            quantity = head.quantity;
            q += head.length;
        } else {
            if (!ScanDigits(q, end, ',', type) || !ScanDigits(q, end, ',', serial) ||
                !ScanDigits(q, end, ',', quantity)) {
                return false;
            }
            head.Remember(p, static_cast<size_t>(q - p), type, serial, quantity);
        }
        // The value and the "," after it, a word at a time (the 16 bytes
        // from q are in the window, see Matches).  The writer's values are
        // short: one whose "," is not among those bytes, or not in the data,
        // is left to the field-by-field scan.
        const uint64_t low = Load8(q);
        const uint64_t high = Load8(q + 8);
        const uint64_t commas = CommaBytes(low);
        const size_t comma = commas != 0 ? static_cast<size_t>(std::countr_zero(commas)) / 8
                                         : 8 + static_cast<size_t>(std::countr_zero(CommaBytes(high))) / 8;
        if (comma >= 16 || comma >= static_cast<size_t>(end - q)) {
            line = MemoryEntry{};
            return false;
        }
        const size_t length = std::min(comma, kEntryValueLength);
        // The text and zeros up to the field's end, as the field-by-field
        // scan leaves it.
        const uint64_t value[2] = {low & LowBytes(std::min<size_t>(length, 8)),
                                   high & LowBytes(length > 8 ? length - 8 : 0)};
        std::memcpy(line.value, value, sizeof value);
        q += comma + 1;
        if (!ScanDigits(q, end, kLineEnd, status)) {
            line = MemoryEntry{};
            return false;
        }
        line.type = static_cast<int32_t>(type);
        line.serial = static_cast<int32_t>(serial);
        line.quantity = static_cast<int32_t>(quantity);
        line.status = static_cast<int32_t>(status);
        p = q;
        return true;
    }

    // The first three fields of a line as last read at one line index:
    // their text with the third "," (at most 16 bytes) and their numbers.
    struct LineHead {
        uint64_t text[2] = {};
        uint64_t mask[2] = {};  // the bytes of text that count
        size_t length = 0;      // 0: nothing remembered
        uint32_t type = 0;
        uint32_t serial = 0;
        uint32_t quantity = 0;

        // Compares whole words; the window has room and defined bytes for
        // 16 bytes past any position that holds data.
        bool Matches(const uint8_t* p, const uint8_t* end) const {
            if (length == 0 || static_cast<size_t>(end - p) < length) {
                return false;
            }
            return (((Load8(p) ^ text[0]) & mask[0]) | ((Load8(p + 8) ^ text[1]) & mask[1])) == 0;
        }

        void Remember(const uint8_t* p, size_t textLength, uint32_t t, uint32_t s, uint32_t q) {
            length = textLength <= 16 ? textLength : 0;
            mask[0] = LowBytes(std::min<size_t>(length, 8));
            mask[1] = LowBytes(length > 8 ? length - 8 : 0);
            text[0] = Load8(p) & mask[0];
            text[1] = Load8(p + 8) & mask[1];
            type = t;
            serial = s;
            quantity = q;
        }
    };

    // A word with the top bit of every byte that is a "," set and nothing
    // below the first such byte (bytes above it may be flagged wrongly).
    static constexpr uint64_t kOnes = 0x0101010101010101ull;
    static uint64_t CommaBytes(uint64_t word) {
        const uint64_t x = word ^ (kOnes * ',');
        return (x - kOnes) & ~x & (kOnes * 0x80);
    }

    static uint64_t Load8(const uint8_t* p) {
        uint64_t word;
        std::memcpy(&word, p, sizeof word);
        return word;
    }

    // A mask of the low `count` bytes (0 to 8), in memory order.
    static uint64_t LowBytes(size_t count) { return count >= 8 ? ~0ull : (1ull << (8 * count)) - 1; }

    // Bare digits (possibly none) up to `terminator`, wrapping as the
    // field-by-field conversion does.  False on any other character or at
    // the window's end.
    static bool ScanDigits(const uint8_t*& p, const uint8_t* end, uint8_t terminator, uint32_t& number) {
        uint32_t value = 0;
        const uint8_t* q = p;
        for (; q < end; ++q) {
            const uint32_t digit = static_cast<uint32_t>(*q) - '0';
            if (digit >= 10) {
                break;
            }
            value = value * 10 + digit;
        }
        if (q == end || *q != terminator) {
            return false;
        }
        number = value;
        p = q + 1;
        return true;
    }

    // The value field up to ","; its first kEntryValueLength characters are
    // kept.  True when the terminator was reached.
    static bool ScanValue(FieldScan& scan, MemoryEntry& line, const uint8_t*& p, const uint8_t* end) {
        size_t length = scan.valueLength;
        bool ended = false;
        while (p < end) {
            const uint8_t c = *p++;
            if (c == ',') {
                ended = true;
                break;
            }
            if (length < kEntryValueLength) {
                line.value[length++] = static_cast<char>(c);
            }
        }
        scan.valueLength = length;
        return ended;
    }

    // A number field up to `terminator`.  True when it was reached.
    static bool ScanNumber(FieldScan& scan, const uint8_t*& p, const uint8_t* end, uint8_t terminator) {
        while (p < end) {
            const uint8_t c = *p++;
            if (c == terminator) {
                return true;
            }
            const uint32_t digit = static_cast<uint32_t>(c) - '0';
            if (scan.phase == NumberPhase::Digits) {
                if (digit < 10) {
                    scan.number = scan.number * 10 + digit;
                } else {
                    scan.phase = NumberPhase::Done;
                }
            } else if (scan.phase == NumberPhase::Blanks) {
                if (c == ' ' || (c >= '\t' && c <= '\r')) {
                    continue;
                }
                scan.phase = NumberPhase::Digits;
                if (c == '-' || c == '+') {
                    scan.negative = c == '-';
                } else if (digit < 10) {
                    scan.number = digit;
                } else {
                    scan.phase = NumberPhase::Done;
                }
            }
        }
        return false;
    }

    void StartTrailer() {
        trailerLength_ = 0;
        state_ = State::Trailer;
    }

    void TakeTrailer() {
        while (trailerLength_ < 3 && pos_ < end_) {
            trailer_[trailerLength_++] = window_[pos_++];
        }
        if (trailerLength_ < 3) {
            return;
        }
        const bool closed = candidate_;
        candidate_ = false;
        if (closed && trailer_[1] == CheckByte(sum_, 253) && trailer_[2] == CheckByte(sum_, 251)) {
            if (lineCount_ > 0 || keepEmpty_) {
                records_.Add(time_, lines_, static_cast<size_t>(lineCount_));
                if (ends_ != nullptr) {
                    ends_->push_back(base_ + static_cast<int64_t>(pos_));
                }
            }
            lastWholeEnd_ = base_ + static_cast<int64_t>(pos_);
            recordStart_ = kNone;
            state_ = State::RecordStart;
        } else if (closed) {
            RetryInside(pos_ - 3);
        } else {
            state_ = State::RecordStart;
        }
    }

    // The next record starts after the next "@" and its check bytes, unless
    // one starts earlier inside the damaged text.
    void Resync() {
        const void* mark = std::memchr(window_ + pos_, kRecordMark, end_ - pos_);
        const size_t markAt = mark == nullptr ? end_ : static_cast<size_t>(static_cast<const uint8_t*>(mark) - window_);
        // A start inside the check bytes of that "@" counts as well (the
        // mark may be damaged text, or a trailer cut short).
        const size_t stamp = FindStamp(resyncFrom_, mark == nullptr ? end_ : markAt + 3);
        if (stamp != kNone) {
            pos_ = stamp;
            state_ = State::RecordStart;
            return;
        }
        if (mark == nullptr) {
            pos_ = end_;
            return;
        }
        pos_ = markAt;
        resyncWaits_ = end_ - markAt < kResyncLookahead && !eof_;
        if (resyncWaits_) {
            return;  // the text after the mark decides; Run reads more first
        }
        candidate_ = false;
        StartTrailer();
    }

    FileStream* file_ = nullptr;  // null: the bytes come from stored_
    std::string_view stored_;     // what is left of the bytes in memory
    RecordList& records_;
    int64_t base_;  // file offset of window_[0]
    bool keepEmpty_;
    std::vector<int64_t>* ends_;  // file offset just past each record kept, when wanted
    int64_t lastWholeEnd_ = -1;
    uint8_t window_[kWindowSize];
    size_t pos_ = 0;
    size_t end_ = 0;
    bool eof_ = false;

    State state_ = State::RecordStart;
    CalendarTime time_;
    uint32_t sum_ = 0;     // signed 32-bit checksum, wrapping
    size_t summedTo_ = 0;  // window position up to which sum_ is taken
    MemoryEntry lines_[kMaxRecordLines];
    LineHead heads_[kMaxRecordLines];
    int lineCount_ = 0;
    FieldScan field_;
    bool candidate_ = false;  // the trailer ahead closes a complete record
    static constexpr size_t kNone = SIZE_MAX;
    size_t recordStart_ = kNone;  // window position of the current record's stamp
    size_t resyncFrom_ = 0;       // Resync: a record may start here or later
    bool resyncWaits_ = false;    // Resync: an "@" was found too near the end of the text
    uint8_t trailer_[3] = {};
    int trailerLength_ = 0;
};

}  // namespace

int ReadRegistrationFile(FileStream* file, RecordList& records) {
    try {
        FreeRecordList(records);
        if (file == nullptr) {
            return 0;
        }
        if (file->SeekToStart()) {
            RegistrationReader(*file, records).Run();
        }
    } catch (const std::bad_alloc&) {
        // The reader's own buffers are gone with it; what it read so far
        // goes too (clear() releases without allocating anew), and the
        // caller refuses the file.
        records.clear();
        if (file != nullptr) {
            file->SeekToEnd();
        }
        return kReadOutOfMemory;
    }
    file->SeekToEnd();
    return static_cast<int>(records.size());
}

void ReadRegistrationBytes(std::string_view stored, RecordList& records) {
    FreeRecordList(records);
    RegistrationReader(stored, records, true).Run();
}

bool ReadRegistrationFrom(FileStream& file, int64_t offset, RecordList& records, std::vector<int64_t>& ends) {
    FreeRecordList(records);
    ends.clear();
    try {
        if (offset < 0 || !file.SeekTo(offset)) {
            return false;
        }
        RegistrationReader(file, records, offset, false, &ends).Run();
    } catch (const std::bad_alloc&) {
        records.clear();
        ends.clear();
        return false;
    }
    return true;
}

bool ReadRegistrationTail(FileStream& file, int64_t length, RegistrationTail& tail) {
    FreeRecordList(tail.records);
    tail.wholeEnd = -1;
    tail.size = file.Size();
    bool read = false;
    if (tail.size >= 0) {
        tail.from = std::max<int64_t>(0, tail.size - std::max<int64_t>(length, 0));
        if (file.SeekTo(tail.from)) {
            RegistrationReader reader(file, tail.records, tail.from, true);
            reader.Run();
            // With no record read, the file's start is the last known end
            // only when the reading began there.
            tail.wholeEnd = reader.LastWholeEnd() >= 0 ? reader.LastWholeEnd() : (tail.from == 0 ? 0 : -1);
            read = true;
        }
    }
    file.SeekToEnd();
    return read;
}

}  // namespace kx305mon
