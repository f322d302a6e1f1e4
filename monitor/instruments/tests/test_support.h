// Shared by the instruments tests: readings built word by word and a fixture
// that installs a fixed locale and the default rain-gauge settings.
#pragma once

#include <gtest/gtest.h>

#include <initializer_list>
#include <memory>
#include <string>
#include <utility>

#include "instruments/catalogue.h"
#include "instruments/format.h"
#include "instruments/locale.h"

namespace kx305mon::test {

// A reading of `type` with the listed (word, value) pairs set, all others 0.
inline InputReading Reading(uint32_t type, std::initializer_list<std::pair<int, int32_t>> words = {}) {
    InputReading reading = {};
    reading.type = type;
    for (const auto& [word, value] : words) reading.data[word] = value;
    return reading;
}

class StringSink : public TextSink {
public:
    void SetText(const char* text) override { text_ = text; }
    const std::string& text() const { return text_; }

private:
    std::string text_ = "(not set)";
};

inline std::string Describe(const InputReading& reading, bool averageKX125 = true) {
    StringSink sink;
    DescribeReading(reading.type, reading, averageKX125, sink);
    return sink.text();
}

// Display form with unit, as the live display and the DDE service ask.
inline std::string Value(const InputReading& reading, int q, bool withUnit = true, bool plain = false) {
    char buffer[200];
    QuantityValue(reading.type, reading, q, buffer, sizeof buffer, withUnit, plain);
    return buffer;
}

inline std::string Format(int32_t raw, int divisor, const char* unit = "", bool plain = false,
                          const char* prefix = "") {
    char buffer[200];
    FormatValue(prefix, raw, divisor, unit, buffer, sizeof buffer, plain);
    return buffer;
}

// Installs `locale` for the test's duration.
class LocaleTest : public ::testing::Test {
protected:
    explicit LocaleTest(std::unique_ptr<NumberLocale> locale = MakePolishLocale()) : locale_(std::move(locale)) {}
    void SetUp() override {
        SetLocaleOverride(locale_.get());
        ResetRainGaugeSettings();
    }
    void TearDown() override {
        SetLocaleOverride(nullptr);
        ResetRainGaugeSettings();
    }
    void Use(const NumberLocale& locale) { SetLocaleOverride(&locale); }

    std::unique_ptr<NumberLocale> locale_;
};

}  // namespace kx305mon::test
