// Choosing the registration file: the quick-start open at start-up and what
// OK in the registration dialog (121) does.  The window code shows the
// dialog, asks the existing-file question and shows the message; the
// decisions live here.
//
// The file in use is given up only once its successor is open: a new file
// that cannot be opened, or a cancelled question, leaves recording going on
// into the file in use.  Choosing the file in use again does not open it a
// second time (its own handle admits no second writer): the question is
// asked and answered on the open handle.
//
// Threads: UI thread.  registrationFile, registrationPath and
// recordingInterval change under the live-state lock; the question is asked
// outside it.
#pragma once

#include <functional>
#include <string>

#include "acquisition/app_context.h"
#include "recording/registration_file.h"
#include "shell/settings_store.h"

namespace kx305mon {

// Paths that name the same file as far as their text tells: the same
// letters regardless of case, "/" and "\" alike.
bool SameFilePath(const std::string& a, const std::string& b);

// `path` names the registration file in use (`open`, opened from `openPath`):
// the same file on the same volume, however the path spells it; where
// either identity is unknown (a file in memory, a path that names no
// existing file), the texts compare as SameFilePath does.
bool IsFileInUse(FileStream& open, const std::string& openPath, const std::string& path);

// Opens the stored registration file (registrationPath) for recording, if
// none is open yet (then Opened at once).  Unavailable: the caller shows
// messages::kRegistrationFileUnavailable.
RecordingOpen OpenRegistrationFile(AppContext& context, bool appendWithoutAsking,
                                   const std::function<ExistingFileChoice()>& ask);

// OK of the registration dialog with the edit's text (cut to 259
// characters).  Opened: the file records from now on, the interval is 20 s,
// the recording gate is signalled, "Logfile" is saved; the dialog ends
// with 1.  Unavailable (show the message) or Cancelled: the dialog stays
// open and nothing changed.
RecordingOpen ConfirmRegistrationFile(AppContext& context, const std::string& editText,
                                      const std::function<ExistingFileChoice()>& ask, SettingsStore& store);

// The platform's save-as dialog for a registration file (Windows build,
// registration_win32.cpp): `owner` is the window (an HWND), `path` holds the
// initial name on entry and the chosen one on return (260 bytes).  No
// overwrite question: the file is appended to.  False when cancelled.
bool ChooseRegistrationFile(WindowRef owner, char (&path)[260]);

}  // namespace kx305mon
