#include "shell/settings.h"

#include <cstring>
#include <mutex>

#include "instruments/catalogue.h"

namespace kx305mon {

namespace {

constexpr int32_t kLowestPort = 1;
constexpr int32_t kHighestPort = 256;
// Dialog 119 offers 1..1000, but a value that another tool or an older
// version stored above that still means that many thousandths of a
// millimetre per impulse: every positive calibration is kept.
constexpr int32_t kLowestCalibration = 1;
constexpr int32_t kHighestRainReportInterval = 2;  // months

// A number value read into a 32-bit field, whatever its stored type; a
// shorter value counts from zero.
bool ReadNumber(SettingsStore& store, const char* name, uint32_t& value) {
    uint8_t bytes[4] = {};
    if (store.ReadValue(name, bytes, sizeof bytes) < 0) return false;
    value = static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8 |
            static_cast<uint32_t>(bytes[2]) << 16 | static_cast<uint32_t>(bytes[3]) << 24;
    return true;
}

// A string value read into a field of `size` bytes.  The text ends at its
// first zero byte, and never later than the field's last byte: a value that
// fills the field, or arrives without its zero, is cut inside the field.
template <size_t size>
bool ReadText(SettingsStore& store, const char* name, char (&text)[size]) {
    char bytes[size] = {};
    const long read = store.ReadValue(name, bytes, size);
    if (read < 0) return false;
    size_t length = static_cast<size_t>(read) < size - 1 ? static_cast<size_t>(read) : size - 1;
    const void* zero = std::memchr(bytes, 0, length);
    if (zero != nullptr) length = static_cast<size_t>(static_cast<const char*>(zero) - bytes);
    std::memset(text, 0, size);
    std::memcpy(text, bytes, length);
    return true;
}

bool InRange(int32_t value, int32_t lowest, int32_t highest) { return value >= lowest && value <= highest; }

// Step by step through a chain of values: once a value fails, the rest of
// the chain is not read.
class ReadChain {
public:
    explicit ReadChain(SettingsStore& store) : store_(store) {}

    template <typename Store>
    void Number(const char* name, Store store) {
        uint32_t value = 0;
        if (complete_ && (complete_ = ReadNumber(store_, name, value))) store(value);
    }
    template <size_t size, typename Store>
    void Text(const char* name, Store store) {
        char text[size];
        if (complete_ && (complete_ = ReadText(store_, name, text))) store(text);
    }
    bool complete() const { return complete_; }

private:
    SettingsStore& store_;
    bool complete_ = true;
};

bool AnswerFirstRun(AppContext& context, SettingsStore& store, FirstRunQuestions& questions) {
    if (!questions.AskToRegister()) return false;  // the port stays unset
    bool firstInstance;
    {
        MutexLock guard(context.plumbing.lock);
        firstInstance = context.firstInstance;
        context.firstInstance = false;
    }
    if (!questions.ChoosePort(context) || !questions.ChooseExportOptions(context)) return false;
    {
        MutexLock guard(context.plumbing.lock);
        context.firstInstance = firstInstance;
    }
    return SaveSettings(context, store, kSettingsAll);
}

}  // namespace

void SetSettingsStartValues(AppContext& context) {
    {
        MutexLock guard(context.plumbing.lock);
        context.exportFlags = kDefaultExportFlags;
        context.port = PORT_NONE;
        std::memset(context.registrationPath, 0, sizeof context.registrationPath);
        context.averageKX125 = true;
        context.quickStart = false;
        context.showQmv = true;
        context.rainReportInterval = kDefaultRainReportInterval;
    }
    ResetRainGaugeSettings();
}

bool LoadSettings(AppContext& context, SettingsStore& store, FirstRunQuestions& questions) {
    switch (store.OpenForReading()) {
    case SettingsStore::OpenResult::Missing:
        return AnswerFirstRun(context, store, questions);
    case SettingsStore::OpenResult::Failed:
        return false;
    case SettingsStore::OpenResult::Opened:
        break;
    }
    RainGaugeSettings& rain = rainGaugeSettings();
    auto locked = [&context](auto store) {
        MutexLock guard(context.plumbing.lock);
        store();
    };

    ReadChain values(store);
    values.Number("Flags", [&](uint32_t v) { locked([&] { context.exportFlags = v; }); });
    values.Number("Port", [&](uint32_t v) {
        const int32_t port = static_cast<int32_t>(v);
        if (port == PORT_NONE || InRange(port, kLowestPort, kHighestPort)) {
            locked([&]() REQUIRES(context.plumbing.lock) { context.port = port; });
        }
    });
    values.Text<sizeof context.registrationPath>("Logfile", [&](const char* text) {
        locked([&]() REQUIRES(context.plumbing.lock) {
            std::memcpy(context.registrationPath, text, sizeof context.registrationPath);
        });
    });
    values.Text<sizeof rain.name>("RainMeter Name", [&](const char* text) { SetRainGaugeName(text); });
    values.Number("RainMeter Serial", [&](uint32_t v) { rain.serial = v; });
    values.Number("RainMeter Cal", [&](uint32_t v) {
        const int32_t calibration = static_cast<int32_t>(v);
        if (calibration >= kLowestCalibration) rain.calibration = calibration;
    });
    bool complete = values.complete();

    uint32_t period = 0;
    if (ReadNumber(store, "RainMeter Period", period) &&
        InRange(static_cast<int32_t>(period), 0, kHighestRainReportInterval))
        locked([&] { context.rainReportInterval = static_cast<int32_t>(period); });

    ReadChain flags(store);
    flags.Number("KX125AV",
                 [&](uint32_t v) { locked([&]() REQUIRES(context.plumbing.lock) { context.averageKX125 = v != 0; }); });
    flags.Number("QUICK_START", [&](uint32_t v) { locked([&] { context.quickStart = v != 0; }); });
    flags.Number("SHOW_QMV", [&](uint32_t v) { locked([&] { context.showQmv = v != 0; }); });
    complete = complete && flags.complete();

    store.Close();
    return complete;
}

bool SaveSettings(AppContext& context, SettingsStore& store, uint32_t groups) {
    if (!store.OpenForWriting()) return false;
    struct {
        uint32_t exportFlags;
        int32_t port;
        char registrationPath[sizeof context.registrationPath];
        bool averageKX125, quickStart, showQmv;
        int32_t rainReportInterval;
    } copy;
    {
        MutexLock guard(context.plumbing.lock);
        copy.exportFlags = context.exportFlags;
        copy.port = context.port;
        std::memcpy(copy.registrationPath, context.registrationPath, sizeof copy.registrationPath);
        copy.averageKX125 = context.averageKX125;
        copy.quickStart = context.quickStart;
        copy.showQmv = context.showQmv;
        copy.rainReportInterval = context.rainReportInterval;
    }
    if (groups & kSettingsFlags) store.WriteNumber("Flags", copy.exportFlags);
    if (groups & kSettingsPort) store.WriteNumber("Port", static_cast<uint32_t>(copy.port));
    if (groups & kSettingsLogfile) store.WriteString("Logfile", copy.registrationPath, sizeof copy.registrationPath);
    if (groups & kSettingsKX125Average) store.WriteNumber("KX125AV", copy.averageKX125 ? 1 : 0);
    if (groups & kSettingsStart) {
        store.WriteNumber("QUICK_START", copy.quickStart ? 1 : 0);
        store.WriteNumber("SHOW_QMV", copy.showQmv ? 1 : 0);
    }
    store.WriteNumber("RainMeter Period", static_cast<uint32_t>(copy.rainReportInterval));
    if (groups & kSettingsRainGauge) {
        const RainGaugeSettings& rain = rainGaugeSettings();
        char name[sizeof rain.name] = {};
        const std::string current = RainGaugeName();
        std::memcpy(name, current.data(), current.size());
        store.WriteString("RainMeter Name", name, sizeof name);
        store.WriteNumber("RainMeter Serial", rain.serial);
        store.WriteNumber("RainMeter Cal", static_cast<uint32_t>(rain.calibration.load()));
    }
    store.Close();
    return true;
}

bool UninstallSettings(SettingsStore& store) {
    std::string path = store.KeyPath();
    for (;;) {
        const size_t slash = path.rfind('\\');
        if (slash == std::string::npos) return true;
        const std::string parent = path.substr(0, slash);
        uint32_t subkeysLeft = 0;
        if (!store.DeleteChildKey(parent, path.substr(slash + 1), subkeysLeft)) return false;
        if (subkeysLeft != 0) return true;
        path = parent;
    }
}

}  // namespace kx305mon
