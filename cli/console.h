// The terminal side of kx305cli.  Every text of the program is code page
// 1250 (the system's texts and the literals of this program alike); what
// goes to stdout and stderr is converted to the terminal's character set,
// unless the user asked for the raw code page 1250 bytes.  Names the user
// gave (paths, ports) are printed as given, never converted.  Files written
// with -o never pass through here.
#pragma once

#include <iconv.h>

#include <string>

namespace kx305cli {

// Exit codes of the program.
constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;  // a device or file error
constexpr int kExitUsage = 2;    // bad arguments
constexpr int kExitInterrupted = 130;

class Console {
public:
    // Reads the terminal's character set from the environment's LC_CTYPE.
    // With `raw` nothing is converted.
    static void Init(bool raw);

    // Writes a code page 1250 text to stdout; false when stdout is gone
    // (a closed pipe).
    static bool Out(const std::string& text);
    // "kx305cli: subject: reason" on stderr, one line; `subject` is a name
    // the user gave (a path, a port) and is printed unchanged.  Also used
    // for notes about a port or file that are not errors.
    static void Error(const std::string& subject, const std::string& reason);
    // "kx305cli: text": English words and the user's names, unchanged.
    static void Error(const std::string& text);
    // A line of information on stderr (not part of the output proper).
    static void Note(const std::string& text);

    // True when stderr is a terminal: progress indicators are shown then.
    static bool ProgressWanted();
    // Replaces the progress line on stderr; an empty text clears it.  The
    // text is printed unchanged (English words and the user's names).
    static void Progress(const std::string& text);

    // The text in the terminal's character set.
    static std::string ToTerminal(const std::string& text);
};

// `text` converted by `converter`, reset first; each byte it cannot take
// becomes `replacement`.  An unusable converter returns the text as it is.
// Callers keep one converter to one thread at a time.
std::string ConvertText(iconv_t converter, const std::string& text, const char* replacement);

// strerror() of errno, in code page 1250 like every other text.
std::string SystemReason(int error);

}  // namespace kx305cli
