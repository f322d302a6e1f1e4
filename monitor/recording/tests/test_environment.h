// Process settings the recording tests change: the time zone (the time
// module's) and the directory of temporary files.  One implementation per
// platform.
#pragma once

#include <string>

#include "time_zone.h"

namespace kx305mon::testing {

// Makes `directory` the place of new temporary files.
bool UseTemporaryDirectory(const std::string& directory);

}  // namespace kx305mon::testing
