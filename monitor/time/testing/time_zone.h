// The time zone a test runs in.  One implementation per platform.
#pragma once

namespace kx305mon::testing {

// Puts the process into a POSIX time zone ("UTC-1", "CET-1CEST,...").
// False where the platform takes its zone from elsewhere (Windows), so the
// tests that need a particular zone skip there.
bool UseTimeZone(const char* posixZone);

}  // namespace kx305mon::testing
