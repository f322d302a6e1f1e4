// Where an export goes from a dialog: a file the user names through the
// save-as dialog, or the clipboard through a temporary file.  Windows build
// only.
#pragma once

#include <windows.h>

#include <functional>

#include "recording/export.h"

namespace kx305mon {

// The save-as dialog of an export (overwrite question): the text layout
// ("*.txt") or the CSV layout ("*.csv").  `path` holds the proposed name on
// entry, the chosen one on return.  False when cancelled.
bool ChooseExportFile(HWND owner, char (&path)[260], bool textLayout);

// Runs `exportInto` (an export with an empty path: a temporary file) and
// hands the file's text, zero-terminated, to the clipboard as CF_TEXT.
// Failures are told as AfterCopyExport says (owned by `owner`, or without
// owner for a failed write, whose partial text is still copied).  The clipboard is
// tried for about 100 ms before it counts as unavailable; a block it did not
// take is freed.
void CopyExportToClipboard(HWND owner, const std::function<ExportResult()>& exportInto);

// Saves through `exportInto(path)` after the save-as dialog; a file that
// cannot be created or written is told.
void SaveExport(HWND owner, const char* proposedName, bool textLayout,
                const std::function<ExportResult(const std::string& path)>& exportInto);

}  // namespace kx305mon
