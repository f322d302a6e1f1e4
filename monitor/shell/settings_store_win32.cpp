// The settings in the registry of the current user: one key below
// HKEY_CURRENT_USER, numbers as REG_DWORD, texts as REG_SZ.
#include <windows.h>

#include "shell/settings_store.h"

namespace kx305mon {

namespace {

class RegistrySettingsStore final : public SettingsStore {
public:
    explicit RegistrySettingsStore(std::string keyPath) : keyPath_(std::move(keyPath)) {}
    ~RegistrySettingsStore() override { Close(); }

    const std::string& KeyPath() const override { return keyPath_; }

    OpenResult OpenForReading() override {
        Close();
        const LONG result = RegOpenKeyExA(HKEY_CURRENT_USER, keyPath_.c_str(), 0, KEY_READ, &key_);
        if (result == ERROR_SUCCESS) return OpenResult::Opened;
        key_ = nullptr;
        return result == ERROR_FILE_NOT_FOUND ? OpenResult::Missing : OpenResult::Failed;
    }

    bool OpenForWriting() override {
        Close();
        if (RegCreateKeyExA(HKEY_CURRENT_USER, keyPath_.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_WRITE,
                            nullptr, &key_, nullptr) == ERROR_SUCCESS)
            return true;
        key_ = nullptr;
        return false;
    }

    void Close() override {
        if (key_ != nullptr) RegCloseKey(key_);
        key_ = nullptr;
    }

    long ReadValue(const char* name, void* data, size_t size) override {
        if (key_ == nullptr) return -1;
        DWORD bytes = static_cast<DWORD>(size);
        // The stored type is not looked at: the field's size alone decides.
        if (RegQueryValueExA(key_, name, nullptr, nullptr, static_cast<BYTE*>(data), &bytes) != ERROR_SUCCESS)
            return -1;
        return static_cast<long>(bytes);
    }

    bool WriteNumber(const char* name, uint32_t value) override {
        const DWORD number = value;
        return key_ != nullptr && RegSetValueExA(key_, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number),
                                                 sizeof number) == ERROR_SUCCESS;
    }

    bool WriteString(const char* name, const char* data, size_t size) override {
        return key_ != nullptr && RegSetValueExA(key_, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(data),
                                                 static_cast<DWORD>(size)) == ERROR_SUCCESS;
    }

    bool DeleteChildKey(const std::string& parentPath, const std::string& child, uint32_t& subkeysLeft) override {
        HKEY parent = nullptr;
        if (RegOpenKeyExA(HKEY_CURRENT_USER, parentPath.c_str(), 0, KEY_ALL_ACCESS, &parent) != ERROR_SUCCESS)
            return false;
        DWORD subkeys = 0;
        const bool done = RegDeleteKeyA(parent, child.c_str()) == ERROR_SUCCESS &&
                          RegQueryInfoKeyA(parent, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, nullptr,
                                           nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
        RegCloseKey(parent);
        subkeysLeft = subkeys;
        return done;
    }

private:
    std::string keyPath_;
    HKEY key_ = nullptr;
};

}  // namespace

std::unique_ptr<SettingsStore> MakeRegistrySettingsStore(const std::string& keyPath) {
    return std::make_unique<RegistrySettingsStore>(keyPath);
}

}  // namespace kx305mon
