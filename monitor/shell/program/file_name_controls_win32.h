// The controls of the dialogs that name a registration file (121, 122 and
// 126): the file name edit 1058 with "..." 1052 and, in 122 and 126, the
// check box 1059 "the file in use" that disables both.  Windows build only.
#pragma once

#include <windows.h>

#include <string>

#include "acquisition/app_context.h"

namespace kx305mon {

// The edit limited to 259 characters, filled with `stored` (read under the
// lock).
void ShowStoredPath(HWND dialog, AppContext& context, const char (&stored)[260]);
// The edit's text (at most 259 characters).
std::string FileNameText(HWND dialog);
// The edit and "..." are there for another file only.
void ApplyReadSourceRule(HWND dialog);
// The opening of 122 and 126: the file read last, with "the file in use"
// ticked.
void ShowReadSource(HWND dialog, AppContext& context);
// "..." (the save-as dialog from the stored name, not the edit's text; the
// chosen name goes into the edit) and a click on 1059 (the rule applied);
// false for any other command.
bool FileNameCommand(HWND dialog, AppContext& context, const char (&stored)[260], int id, int code);
// The chosen file can be neither opened nor created.
void ShowUnavailableFile(HWND owner);

}  // namespace kx305mon
