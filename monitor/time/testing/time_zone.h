// The time zone a test runs in.  One implementation per platform.
#pragma once

#include <optional>
#include <string>

namespace kx305mon::testing {

// Puts the process into a POSIX time zone ("UTC-1", "CET-1CEST,...").
// False where the platform takes its zone from elsewhere (Windows), so the
// tests that need a particular zone skip there.
bool UseTimeZone(const char* posixZone);

// Natively: the process in a POSIX time zone for the object's life, the
// zone before (or none) back afterwards.  Not on Windows, whose zone a
// running process cannot change.
class ScopedTimeZone {
public:
    explicit ScopedTimeZone(const char* posixZone);
    ~ScopedTimeZone();
    ScopedTimeZone(const ScopedTimeZone&) = delete;
    ScopedTimeZone& operator=(const ScopedTimeZone&) = delete;

private:
    std::optional<std::string> saved_;
};

}  // namespace kx305mon::testing
