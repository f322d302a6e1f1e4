#include "recording/registration_file.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "instruments/catalogue.h"
#include "recording/registration_format.h"
#include "time/calendar.h"
#include "time/local_time.h"

namespace kx305mon {

namespace {

using namespace registration_format;

// A stamp's digits: year, month, day, hour, minute, second and "$".
constexpr size_t kStampLength = kStampDigits + 1;
// Time zones lie a whole number of quarter hours from UTC, and two of them
// at most 26 hours apart.
constexpr int64_t kZoneStep = 15 * 60;
constexpr int64_t kLargestZoneOffset = 26 * 3600;
// Slack per record for lines whose length changed (the rain gauge's serial).
constexpr int64_t kSlackPerRecord = 16;
// One record of the most lines the writer makes, with room to spare.
constexpr int64_t kLargestRecord = 4096;

bool SameStamp(const CalendarTime& a, const CalendarTime& b) {
    return a.year == b.year && a.month == b.month && a.day == b.day && a.hour == b.hour && a.minute == b.minute &&
           a.second == b.second;
}

// The readings of a measurement.  The rain gauge's serial is the user's
// setting at the time of writing, not part of the measurement.
bool SameReadings(const MemoryRecord& a, const MemoryRecord& b) {
    if (a.entries.size() != b.entries.size()) {
        return false;
    }
    for (size_t i = 0; i < a.entries.size(); ++i) {
        const MemoryEntry& x = a.entries[i];
        const MemoryEntry& y = b.entries[i];
        if (x.type != y.type || x.quantity != y.quantity || x.status != y.status ||
            std::strncmp(x.value, y.value, kEntryValueSize) != 0 ||
            (x.type != static_cast<int32_t>(kTypeRainGauge) && x.serial != y.serial)) {
            return false;
        }
    }
    return true;
}

// Seconds of a stamp's fields on a plain count, false for fields no local
// time has.
bool StampSeconds(const CalendarTime& t, int64_t& seconds) {
    if (t.month < 1 || t.month > 12 || t.day < 1 || t.day > 31 || t.hour > 23 || t.minute > 59 || t.second > 59) {
        return false;
    }
    seconds = SecondsOf(t);
    return true;
}

// One downloaded record: as the file would hold it now, and its UTC time.
struct Downloaded {
    const MemoryRecord* stored;
    bool convertible;  // a UTC time that the stamp was converted from
    int64_t utc;
};

// The download's first k records against the file's last k, with the
// stamps as they would be written now.
bool RunMatchesExactly(const std::vector<Downloaded>& download, const RecordList& file, size_t k) {
    const size_t first = file.size() - k;
    for (size_t i = 0; i < k; ++i) {
        const MemoryRecord& stored = file[first + i];
        if (!SameStamp(download[i].stored->time, stored.time) || !SameReadings(*download[i].stored, stored)) {
            return false;
        }
    }
    return true;
}

// The same with one offset between the file's stamps and the UTC times,
// shared by the whole run.  A record whose time was not converted is
// stored with its own fields in every zone: it must match them exactly.
bool RunMatchesWithOffset(const std::vector<Downloaded>& download, const RecordList& file, size_t k) {
    const size_t first = file.size() - k;
    bool haveOffset = false;
    int64_t offset = 0;
    for (size_t i = 0; i < k; ++i) {
        const MemoryRecord& stored = file[first + i];
        if (!SameReadings(*download[i].stored, stored)) {
            return false;
        }
        if (!download[i].convertible) {
            if (!SameStamp(download[i].stored->time, stored.time)) {
                return false;
            }
            continue;
        }
        int64_t local = 0;
        if (!StampSeconds(stored.time, local)) {
            return false;
        }
        const int64_t difference = local - download[i].utc;
        if (!haveOffset) {
            if (difference % kZoneStep != 0 || std::llabs(difference) > kLargestZoneOffset) {
                return false;
            }
            haveOffset = true;
            offset = difference;
        } else if (difference != offset) {
            return false;
        }
    }
    // Without a converted time the run would have matched exactly.  Readings
    // that never change within the run say nothing about which records they
    // are: new records of a station whose values stand still, a whole number
    // of zone steps after the file's last ones, would line up just as well.
    // Writing such records again is better than taking new ones for old.
    bool varied = false;
    for (size_t i = 1; i < k && !varied; ++i) varied = !SameReadings(*download[i].stored, *download[0].stored);
    return haveOffset && varied;
}

}  // namespace

int64_t TailLengthFor(const std::vector<std::string>& stored) {
    int64_t length = 0;
    for (const std::string& record : stored) {
        length += static_cast<int64_t>(record.size()) + kSlackPerRecord;
    }
    return length + kMaxTornTail + kLargestRecord;
}

bool CutTornTail(FileStream& file, const RegistrationTail& tail) {
    const int64_t torn = tail.size - tail.wholeEnd;
    if (tail.wholeEnd < 0 || torn <= 0) {
        return true;
    }
    if (torn > kMaxTornTail) {
        return false;
    }
    // What the writer left of a record starts with the digits of its stamp
    // and its "$"; anything else is someone else's data.
    uint8_t head[kStampLength];
    const size_t wanted = static_cast<size_t>(std::min<int64_t>(torn, static_cast<int64_t>(kStampLength)));
    size_t got = 0;
    if (file.SeekTo(tail.wholeEnd)) {
        while (got < wanted) {
            const long n = file.Read(head + got, wanted - got);
            if (n <= 0) {
                break;
            }
            got += static_cast<size_t>(n);
        }
    }
    bool ours = got == wanted;
    for (size_t i = 0; ours && i < got; ++i) {
        const uint8_t plain = Negate(head[i]);
        ours = i + 1 < kStampLength ? plain >= '0' && plain <= '9' : plain == kLineEnd;
    }
    const bool cut = ours && file.SeekTo(tail.wholeEnd) && file.Truncate();
    file.SeekToEnd();
    return cut;
}

size_t RecordsAlreadyStored(const RecordList& fileTail, const LogRecord* records,
                            const std::vector<std::string>& stored) {
    const size_t count = stored.size();
    if (count == 0 || fileTail.empty()) {
        return 0;
    }
    std::string bytes;
    for (const std::string& record : stored) {
        bytes += record;
    }
    RecordList asStored;
    ReadRegistrationBytes(bytes, asStored);
    if (asStored.size() != count) {
        return 0;  // not one record per encoding: nothing can be lined up
    }
    std::vector<Downloaded> download(count);
    for (size_t i = 0; i < count; ++i) {
        const LogRecord& r = records[i];
        download[i].stored = &asStored[i];
        download[i].convertible =
            UtcFieldsToSeconds(r.year, r.month, r.day, r.hour, r.minute, r.second, download[i].utc);
    }

    const size_t longest = std::min(count, fileTail.size());
    for (size_t k = longest; k > 0; --k) {
        if (RunMatchesExactly(download, fileTail, k)) {
            return k;
        }
    }
    // Another time zone: the run must be the only one that lines up.
    size_t found = 0;
    for (size_t k = longest; k > 0; --k) {
        if (RunMatchesWithOffset(download, fileTail, k)) {
            if (found != 0) {
                return 0;
            }
            found = k;
        }
    }
    return found >= 2 ? found : 0;
}

}  // namespace kx305mon
