// The settings store of the tests: a registry-like tree of keys in memory,
// with the failures the registry can have.  Test support only; the program
// has the registry's store alone.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "shell/settings_store.h"

namespace kx305mon {

// A registry-like tree of keys in memory.  Key and value names compare
// without regard to case, as the registry's do.
class MemorySettingsStore final : public SettingsStore {
public:
    enum class ValueType { Number, String, Binary };
    struct Value {
        ValueType type;
        std::vector<uint8_t> bytes;
    };

    explicit MemorySettingsStore(std::string keyPath = kSettingsKeyPath);

    // --- SettingsStore ---
    const std::string& KeyPath() const override { return keyPath_; }
    OpenResult OpenForReading() override;
    bool OpenForWriting() override;
    void Close() override { open_ = false; }
    long ReadValue(const char* name, void* data, size_t size) override;
    bool WriteNumber(const char* name, uint32_t value) override;
    bool WriteString(const char* name, const char* data, size_t size) override;
    bool DeleteChildKey(const std::string& parentPath, const std::string& child, uint32_t& subkeysLeft) override;

    // --- for tests: the tree as another program or the user left it ---
    // Creates `path` and every parent of it.
    void CreateKey(const std::string& path);
    bool HasKey(const std::string& path) const;
    // Values of the settings key (created when missing).
    void Set(const std::string& name, ValueType type, std::vector<uint8_t> bytes);
    void SetNumber(const std::string& name, uint32_t value);
    // The text and its terminating zero.
    void SetString(const std::string& name, const std::string& text);
    void Remove(const std::string& name);
    // A value of the settings key, or null.
    const Value* Find(const std::string& name) const;
    // Number of values of the settings key (0 when it is missing).
    size_t ValueCount() const;

    // Failure injection: the key cannot be opened for reading (other than
    // missing) / cannot be opened or created for writing.
    bool failReading = false;
    bool failWriting = false;

private:
    struct NoCase {
        bool operator()(const std::string& a, const std::string& b) const;
    };
    using Values = std::map<std::string, Value, NoCase>;

    Values* SettingsKey();
    const Values* SettingsKey() const;

    std::string keyPath_;
    std::map<std::string, Values, NoCase> keys_;
    bool open_ = false;
};

}  // namespace kx305mon
