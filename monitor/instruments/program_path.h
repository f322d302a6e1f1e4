// Inside the instruments library: the running program's own full path, or
// "" when the platform cannot tell.  One backend file per platform.
#pragma once

#include <string>

namespace kx305mon {

std::string ProgramPath();

}  // namespace kx305mon
