// The help file lives next to the program under the program's name with
// another extension (the program passes ".HLP").
#pragma once

#include <cstddef>
#include <string>

namespace kx305mon {

// The program's full path with the extension of its file name replaced by
// `extension`, copied into buffer (at most size bytes with the terminating
// zero).  Returns buffer; an empty text when the program's path is unknown.
char* HelpFilePath(char* buffer, size_t size, const char* extension);

// The same for a given program path.  Only a dot inside the file name
// starts its extension: C:\a.b\prog gives C:\a.b\prog.HLP.
std::string HelpPathFor(const std::string& programPath, const char* extension);

}  // namespace kx305mon
