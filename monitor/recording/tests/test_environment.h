// Process settings the recording tests change: the time zone and the
// directory of temporary files.  One implementation per platform.
#pragma once

#include <string>

namespace kx305mon::testing {

// Puts the process into a POSIX time zone ("UTC-1", "CET-1CEST,...").
// False where the platform takes its zone from elsewhere (Windows), so the
// tests that need a particular zone skip there.
bool UseTimeZone(const char* posixZone);

// Makes `directory` the place of new temporary files.
bool UseTemporaryDirectory(const std::string& directory);

}  // namespace kx305mon::testing
