// The registration file (*.kxg): the program's archive of every record
// downloaded from the converter's logging memory.  Opening for recording
// and the writer (registration_writer.cpp), the reader into a RecordList
// (registration_reader.cpp, the list in record_list.h), and what a
// download finds at the file's end (known_records.cpp).
//
// Format: records follow each other with no header or padding.  A record is
// an ASCII text, a time-stamp line of 14 digits (local time) and "$", then
// one line "type,serial,quantity,value,status$" per measured quantity, then
// the trailer "@", T1, T2 with T1 = S % 253 + 1 and T2 = S % 251 + 1, S being
// the sum of the text's bytes as signed 8-bit numbers.  Every stored byte is
// the negation (256 - b) % 256 of the plain byte.
//
// Threads: the writer runs on the polling worker, the reader on the UI
// thread; both move the one position of the recording handle, so callers
// hold the live-state lock around a download burst and around a read.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "kx305.h"
#include "recording/file.h"
#include "recording/record_list.h"

namespace kx305mon {

// What the user wants done with a registration file that exists already.
enum class ExistingFileChoice { Append, Erase, Cancel };

enum class RecordingOpen {
    Opened,       // `file` is open, positioned where the next record goes
    Unavailable,  // could not be opened (or not emptied): tell the user
    Cancelled,    // the user cancelled the question: no message
};

// Opens or creates the registration file `path` for recording.  An existing
// file is appended to when `appendWithoutAsking` is set, else `ask` (the
// Yes/No/Cancel question of the window code) decides: append, erase (cut
// to length 0) or cancel (closed again).  A new file is used from its start.
RecordingOpen OpenRecordingFile(const std::string& path, bool appendWithoutAsking,
                                const std::function<ExistingFileChoice()>& ask, std::unique_ptr<FileStream>& file);

// Appends one record at the file's current position (the writer neither
// seeks nor flushes).  The UTC time of the record is converted to local
// time; a record whose time cannot be converted (a damaged stamp: month 0,
// day 32, hour 24 ...) is stored with its own fields as they came, so a
// record is never left out for its time.  A failed write does not stop the
// record: every line and the trailer are still attempted.  True when every
// write succeeded.
bool WriteRegistrationRecord(FileStream& file, const LogRecord& record);

// The bytes WriteRegistrationRecord stores for `record` (negated text and
// trailer), in one piece: what a download compares with the file and keeps
// aside when the file refuses it.
std::string EncodeRegistrationRecord(const LogRecord& record);

// Rewinds the file, reads it whole in 2000-byte blocks and fills `records`
// with every valid record (anything there before is dropped).  Damaged,
// foreign or cut-off records are skipped silently; reading resumes after the
// next "@" trailer.  Leaves the position at the end of the file so that
// recording can go on appending.  A null file gives 0 records.
// Returns the number of records, or kReadOutOfMemory when the list
// outgrew the memory (a file of several gigabytes): `records` is then
// empty and the file positioned at its end all the same.
constexpr int kReadOutOfMemory = -1;
int ReadRegistrationFile(FileStream* file, RecordList& records);

// Reads stored bytes held in memory (EncodeRegistrationRecord's output) as
// the reader reads a file, keeping valid records without lines too, with
// no entries, so that they line up one to one with the records encoded.
void ReadRegistrationBytes(std::string_view stored, RecordList& records);

// Reads the valid records (those with lines) that start at `offset` or
// later, in file order, and in `ends` the file offset just past each: where
// a reader that has taken it goes on.  Reading from inside a record passes
// over it.  The file is read through its own position, which is left
// wherever the reading stopped.  False when the file could not be read
// from there (or the records outgrew the memory); both lists are empty then.
bool ReadRegistrationFrom(FileStream& file, int64_t offset, RecordList& records, std::vector<int64_t>& ends);

// The end of a registration file as a download finds it before appending.
struct RegistrationTail {
    // The valid records that start in the part read, in file order; valid
    // records without lines are kept too (with no entries).
    RecordList records;
    int64_t from = 0;   // file offset where the part read begins
    int64_t size = -1;  // the file's size
    // Offset just past the last valid record in the part read; `from` is 0
    // and this is 0 when the whole file holds none; -1 when unknown.
    int64_t wholeEnd = -1;
};

// Reads the last `length` bytes of the file (all of it when shorter) with
// the reader, which passes over a torn or damaged tail, and leaves the
// position at the end.  False when the file could not be read.
bool ReadRegistrationTail(FileStream& file, int64_t length, RegistrationTail& tail);

// --- What a download finds at the end of the file ------------------------
//
// A converter that was not cleared after a download (the clear was refused,
// lost, or the program ended first) delivers again records that the file
// has.  They are recognised by what identifies a measurement, its time
// stamp and its readings, not by the bytes the file holds: the file may end
// with a torn record, may have been written in another time zone, and the
// rain gauge's serial is a user setting that may have changed since.

// Bytes after the last whole record that a download cuts off before it
// appends (a record torn by a power loss or a kill during the write burst).
// A longer unreadable tail is no torn record of ours and stays.
constexpr int64_t kMaxTornTail = 8192;

// How much of the file's end to read for a download whose records encode
// to `stored`: their length, room for lines that differ a little in length
// (a renamed rain gauge), a torn tail and one more record.
int64_t TailLengthFor(const std::vector<std::string>& stored);

// Cuts the bytes after the last whole record of `tail` off the file, when
// there are at most kMaxTornTail of them and they begin like a record.  The
// position is left at the end.  True when the file now ends with its last
// whole record (or with nothing to cut).
bool CutTornTail(FileStream& file, const RegistrationTail& tail);

// How many records at the head of a download (`records`, oldest first, with
// `stored[i]` their encodings) the file already ends with: the longest run
// of the download's first k records that equals the file's last k valid
// records, in order.  Records are equal when their readings are (type,
// quantity, value text and status of every line; the serial too, except
// the rain gauge's) and their time stamps are: first as the records would be
// stamped now; only when that finds none, with one offset between the
// file's local stamps and the records' UTC times, a whole number of quarter
// hours of at most 26 hours, shared by the whole run (the file was written
// in another time zone).  Such a run is taken only when it is the one way,
// of at least two records, to line the download up with the file: readings
// that repeat (a quiet station) cannot tell a shifted clock from new
// records, and a new record is never taken for a stored one.
size_t RecordsAlreadyStored(const RecordList& fileTail, const LogRecord* records,
                            const std::vector<std::string>& stored);

}  // namespace kx305mon
