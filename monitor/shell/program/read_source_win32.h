// The controls that the read-source dialog (122) and the rain report's
// source dialog (126) share: the file name edit 1058 with "..." 1052 and the
// check box 1059 that disables both.  Windows build only.
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
// "...": the save-as dialog from the stored name (not the edit's text); the
// chosen name goes into the edit.
void BrowseFromStoredPath(HWND dialog, AppContext& context, const char (&stored)[260]);
// The edit and "..." are there for another file only.
void ApplyReadSourceRule(HWND dialog);
// Check box 1059 as a user's click leaves it, with the rule applied.
bool IsUseCurrentFileClick(UINT message, WPARAM wParam);

}  // namespace kx305mon
