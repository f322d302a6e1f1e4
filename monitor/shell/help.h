// Context help of the dialogs.  The program-wide helpers for memory and
// system errors are memory/alloc_or_die.h's.
//
// A dialog answers WM_HELP on one of its controls with ShowContextHelp and
// its help-id table: pairs (control id, help context id) ended by (0, 0),
// in the layout the help viewer takes.  A help context id is
// 0x80000000 + (dialog id << 16) + control id; OK and Cancel carry the ids
// of the registration dialog (121) in every dialog, and the rain report's
// export options (128) share the export-option dialog's (106) ids.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kx305mon {

constexpr uint32_t HelpContextId(int dialogId, int controlId) {
    return 0x80000000u + (static_cast<uint32_t>(dialogId) << 16) + static_cast<uint32_t>(controlId);
}

// The help-id table of dialog `dialogId` (103, 104, 105, 106, 119, 121,
// 122, 125, 127, 128), or null for a dialog without one.  Static data,
// ended by the pair (0, 0).
const uint32_t* HelpIdTable(int dialogId);

// Whether a help request of `dialogId` for control `controlId` goes to the
// help viewer at all: the additional-settings dialog (125) ignores its
// unnumbered static texts.  A control without a row still goes (the viewer
// answers for a missing entry).
bool WantsContextHelp(int dialogId, int controlId);

// --- Windows (helpers_win32.cpp) ---

// For a help request on a control window (`helpInfo` is the HELPINFO of
// WM_HELP): opens the help file next to the program at that control's
// popup with `table` (HELP_WM_HELP), and returns the viewer's result; any
// other request returns 0.  `dialogId` only selects the requests the
// dialog ignores (WantsContextHelp).
intptr_t ShowContextHelp(const void* helpInfo, const uint32_t* table, int dialogId = 0);

}  // namespace kx305mon
