#include "memory_settings_store.h"

#include <algorithm>
#include <cctype>
#include <cstring>

namespace kx305mon {

namespace {

bool StartsWithNoCase(const std::string& text, const std::string& head) {
    if (text.size() <= head.size()) return false;
    for (size_t i = 0; i < head.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(text[i])) != std::tolower(static_cast<unsigned char>(head[i])))
            return false;
    }
    return true;
}

}  // namespace

bool MemorySettingsStore::NoCase::operator()(const std::string& a, const std::string& b) const {
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return std::tolower(static_cast<unsigned char>(x)) < std::tolower(static_cast<unsigned char>(y));
    });
}

MemorySettingsStore::MemorySettingsStore(std::string keyPath) : keyPath_(std::move(keyPath)) {}

MemorySettingsStore::Values* MemorySettingsStore::SettingsKey() {
    auto key = keys_.find(keyPath_);
    return key == keys_.end() ? nullptr : &key->second;
}

const MemorySettingsStore::Values* MemorySettingsStore::SettingsKey() const {
    auto key = keys_.find(keyPath_);
    return key == keys_.end() ? nullptr : &key->second;
}

SettingsStore::OpenResult MemorySettingsStore::OpenForReading() {
    if (failReading) return OpenResult::Failed;
    if (SettingsKey() == nullptr) return OpenResult::Missing;
    open_ = true;
    return OpenResult::Opened;
}

bool MemorySettingsStore::OpenForWriting() {
    if (failWriting) return false;
    CreateKey(keyPath_);
    open_ = true;
    return true;
}

long MemorySettingsStore::ReadValue(const char* name, void* data, size_t size) {
    const Values* key = SettingsKey();
    if (!open_ || key == nullptr) return -1;
    auto value = key->find(name);
    if (value == key->end() || value->second.bytes.size() > size) return -1;
    std::memcpy(data, value->second.bytes.data(), value->second.bytes.size());
    return static_cast<long>(value->second.bytes.size());
}

bool MemorySettingsStore::WriteNumber(const char* name, uint32_t value) {
    if (!open_) return false;
    SetNumber(name, value);
    return true;
}

bool MemorySettingsStore::WriteString(const char* name, const char* data, size_t size) {
    if (!open_) return false;
    Set(name, ValueType::String, std::vector<uint8_t>(data, data + size));
    return true;
}

bool MemorySettingsStore::DeleteChildKey(const std::string& parentPath, const std::string& child,
                                         uint32_t& subkeysLeft) {
    if (!HasKey(parentPath)) return false;
    const std::string path = parentPath + "\\" + child;
    auto key = keys_.find(path);
    if (key == keys_.end()) return false;
    for (const auto& entry : keys_) {
        if (StartsWithNoCase(entry.first, path + "\\")) return false;  // a key with subkeys stays
    }
    keys_.erase(key);
    subkeysLeft = 0;
    const std::string parentBelow = parentPath + "\\";
    for (const auto& entry : keys_) {
        if (StartsWithNoCase(entry.first, parentBelow) &&
            entry.first.find('\\', parentBelow.size()) == std::string::npos)
            ++subkeysLeft;
    }
    return true;
}

void MemorySettingsStore::CreateKey(const std::string& path) {
    for (size_t slash = path.find('\\'); slash != std::string::npos; slash = path.find('\\', slash + 1)) {
        keys_[path.substr(0, slash)];
    }
    keys_[path];
}

bool MemorySettingsStore::HasKey(const std::string& path) const { return keys_.count(path) != 0; }

void MemorySettingsStore::Set(const std::string& name, ValueType type, std::vector<uint8_t> bytes) {
    CreateKey(keyPath_);
    (*SettingsKey())[name] = Value{type, std::move(bytes)};
}

void MemorySettingsStore::SetNumber(const std::string& name, uint32_t value) {
    Set(name, ValueType::Number,
        {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value >> 16),
         static_cast<uint8_t>(value >> 24)});
}

void MemorySettingsStore::SetString(const std::string& name, const std::string& text) {
    std::vector<uint8_t> bytes(text.begin(), text.end());
    bytes.push_back(0);
    Set(name, ValueType::String, std::move(bytes));
}

void MemorySettingsStore::Remove(const std::string& name) {
    if (Values* key = SettingsKey()) key->erase(name);
}

const MemorySettingsStore::Value* MemorySettingsStore::Find(const std::string& name) const {
    const Values* key = SettingsKey();
    if (key == nullptr) return nullptr;
    auto value = key->find(name);
    return value == key->end() ? nullptr : &value->second;
}

size_t MemorySettingsStore::ValueCount() const {
    const Values* key = SettingsKey();
    return key == nullptr ? 0 : key->size();
}

}  // namespace kx305mon
