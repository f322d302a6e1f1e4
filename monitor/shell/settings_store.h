// Where the program keeps its settings: one key of the current user holding
// named values.  The Windows program uses the registry (HKEY_CURRENT_USER,
// REG_DWORD and REG_SZ values), created once at start-up and handed to
// whatever saves; the tests use an in-memory store (shell/testing/).  The
// logic above the store (reading order, groups, first-run question,
// uninstall walk) is the same for both.
//
// Threads: a store is used from the UI thread only.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace kx305mon {

// The key below the current user's root that holds the settings.
inline constexpr char kSettingsKeyPath[] = "Software\\Velmor\\KX-305V\\2.3";

class SettingsStore {
public:
    enum class OpenResult {
        Opened,
        Missing,  // the key does not exist (the platform says "not found")
        Failed,   // any other failure
    };

    virtual ~SettingsStore() = default;

    // Path of the settings key below the user's root.
    virtual const std::string& KeyPath() const = 0;

    // Opens the settings key for reading.
    virtual OpenResult OpenForReading() = 0;
    // Opens the settings key for writing, creating it (and its parents)
    // when missing.
    virtual bool OpenForWriting() = 0;
    // Closes what an open call opened; harmless when nothing is open.
    virtual void Close() = 0;

    // Reads value `name` of the open key into `data`, whatever its stored
    // type: the number of bytes read, or -1 when the value is missing or
    // larger than `size`.  A string may arrive without its terminating zero.
    virtual long ReadValue(const char* name, void* data, size_t size) = 0;
    // A 32-bit number value (REG_DWORD, little-endian).
    virtual bool WriteNumber(const char* name, uint32_t value) = 0;
    // A string value (REG_SZ) of exactly `size` bytes from `data`.
    virtual bool WriteString(const char* name, const char* data, size_t size) = 0;

    // Deletes key `child` below `parentPath` (a path below the user's root,
    // opened with full access) and tells how many subkeys the parent has
    // left.  False when the parent cannot be opened, the child cannot be
    // deleted (missing, or it has subkeys) or the count cannot be read.
    virtual bool DeleteChildKey(const std::string& parentPath, const std::string& child, uint32_t& subkeysLeft) = 0;
};

// The registry of the current user (Windows build only).
std::unique_ptr<SettingsStore> MakeRegistrySettingsStore(const std::string& keyPath = kSettingsKeyPath);

}  // namespace kx305mon
