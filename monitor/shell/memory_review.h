// Reviewing recorded data: where the records come from (the read-source
// dialog, 122) and what the memory viewer (104) shows of them.  The window
// code shows the dialogs, the message boxes and the list; the decisions live
// here.
//
// Threads: UI thread.  readPath, readFile, registrationFile and records
// change under the live-state lock.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "acquisition/app_context.h"
#include "instruments/locale.h"
#include "recording/registration_file.h"

namespace kx305mon {

// Opens the file named by readPath for reading into readFile.  The
// registration file in use is refused by its name: its recording handle
// admits no second reader that does not share writing, and its records come
// through that handle instead.  False: the caller shows
// messages::kRegistrationFileUnavailable.
bool OpenReadFile(AppContext& context);

// OK of the read-source dialog.  With `useFileInUse` (check box 1059) the
// records come from the registration file in use (readPath empty); else
// readPath takes the edit's text (cut to 259 characters) and the file is
// opened.  False: the file cannot be read (show the message, the dialog
// stays open).
bool ConfirmReadSource(AppContext& context, bool useFileInUse, const std::string& editText);

// The read at the opening of the viewer (and the rain report): under the
// lock, readFile if open, else the recording handle, read whole into
// records; readFile is closed.  The number of records (0 with neither file),
// or kReadOutOfMemory when the file's records do not fit in the memory:
// records stays empty and the dialog refuses the file (messages::kNoMemory).
int ReadRecordsForReview(AppContext& context);

// --- the viewer ---

// Images of the entry rows (image list from bitmaps 109 and 110).
constexpr int kRowImageWarning = 0;
constexpr int kRowImageTick = 1;

// Longest caption line, in characters.
constexpr size_t kRecordCaptionLength = 200;

// One row of the viewer's list: the texts of its five columns ("Przyrząd",
// "Numer", "Wielkość", "Wynik", "Status"; code page 1250).
struct ViewerRow {
    int image;          // kRowImageTick for status 1, else kRowImageWarning
    uint32_t itemData;  // type << 24 | quantity << 16 | serial (low 16 bits)
    std::string instrument;
    std::string serial;
    std::string quantity;
    std::string result;  // value, one blank, the bare unit
    std::string status;
};

// The rows of `record`: one per entry in order, without the KX-125 average
// when `averageKX125` ("KX125AV") is off.
std::vector<ViewerRow> ViewerRows(const MemoryRecord& record, bool averageKX125);

// "Rekord k+1/count z dnia " and the long date and time of `time`, cut to
// kRecordCaptionLength characters.
std::string RecordCaption(int index, int count, const CalendarTime& time, const NumberLocale& locale = CurrentLocale());

enum class ViewerStep { First, Previous, Next, Last };

// The record shown after `step` from `current` of `count` (count > 0): the
// ends stay where they are.
int StepRecord(ViewerStep step, int current, int count);

}  // namespace kx305mon
