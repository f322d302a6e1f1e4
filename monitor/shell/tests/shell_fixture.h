// What the shell's tests share: a program context with the start values of
// the entry, an in-memory settings store, and readers of what was stored.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <set>
#include <string>

#include "acquisition/app_context.h"
#include "memory_settings_store.h"
#include "shell/settings.h"
#include "shell/settings_store.h"

namespace kx305mon::testing {

class ShellTest : public ::testing::Test {
protected:
    void SetUp() override {
        SetSettingsStartValues(context);
        context.firstInstance = true;
    }

    // Names of the values the settings key holds.
    std::set<std::string> StoredNames() const {
        std::set<std::string> names;
        for (const char* name : kValueNames) {
            if (store.Find(name) != nullptr) names.insert(name);
        }
        return names;
    }

    uint32_t StoredNumber(const std::string& name) const {
        const MemorySettingsStore::Value* value = store.Find(name);
        EXPECT_NE(value, nullptr) << name;
        if (value == nullptr) return 0;
        EXPECT_EQ(value->type, MemorySettingsStore::ValueType::Number) << name;
        EXPECT_EQ(value->bytes.size(), 4u) << name;
        uint32_t number = 0;
        for (size_t i = 0; i < value->bytes.size() && i < 4; ++i) number |= uint32_t{value->bytes[i]} << (8 * i);
        return number;
    }

    static constexpr const char* kValueNames[] = {
        "Flags",   "Port",        "Logfile", "RainMeter Name", "RainMeter Serial", "RainMeter Cal", "RainMeter Period",
        "KX125AV", "QUICK_START", "SHOW_QMV"};

    AppContext context;
    MemorySettingsStore store;
};

}  // namespace kx305mon::testing
