// Locales that do not depend on the machine: Polish and English (US) as the
// tests and the command line install them, a locale with replaced
// separators, and the hand rendering of numbers they share with the POSIX
// backend.
#include <cstdio>

#include "instruments/locale.h"
#include "locale_backend.h"

namespace kx305mon {
namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

std::string Printf(const char* format, auto... args) {
    char text[128];
    std::snprintf(text, sizeof text, format, args...);
    return text;
}

// Month names as a Polish long date uses them ("19 lutego 2007").
constexpr const char* kPolishMonths[] = {"stycznia", "lutego",   "marca",    "kwietnia",     "maja",      "czerwca",
                                         "lipca",    "sierpnia", "września", "października", "listopada", "grudnia"};
constexpr const char* kEnglishMonths[] = {"January", "February", "March",     "April",   "May",      "June",
                                          "July",    "August",   "September", "October", "November", "December"};
constexpr const char* kEnglishDays[] = {"Sunday", "Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday"};

class PolishLocale final : public NumberLocale {
public:
    char DecimalSeparator() const override { return ','; }
    bool LeadingZero() const override { return true; }
    char NegativeSign() const override { return '-'; }
    char ListSeparator() const override { return ';'; }
    std::string FormatNumber(const std::string& plain, int decimals) const override {
        return RenderNumber(plain, decimals, ',', true, '-');
    }
    std::string FormatDate(const CalendarTime& t, DateStyle style) const override {
        if (!IsCalendarDate(t)) return StoredDateText(t);
        if (style == DateStyle::Short) return Printf("%02d.%02d.%04d", t.day, t.month, t.year);
        return Printf("%d %s %04d", t.day, kPolishMonths[t.month - 1], t.year);
    }
    std::string FormatTime(const CalendarTime& t) const override {
        if (!IsTimeOfDay(t)) return StoredTimeText(t);
        return Printf("%02d:%02d:%02d", t.hour, t.minute, t.second);
    }
};

class EnglishLocale final : public NumberLocale {
public:
    char DecimalSeparator() const override { return '.'; }
    bool LeadingZero() const override { return true; }
    char NegativeSign() const override { return '-'; }
    char ListSeparator() const override { return ','; }
    std::string FormatNumber(const std::string& plain, int decimals) const override {
        return RenderNumber(plain, decimals, '.', true, '-');
    }
    std::string FormatDate(const CalendarTime& t, DateStyle style) const override {
        if (!IsCalendarDate(t)) return StoredDateText(t);
        if (style == DateStyle::Short) return Printf("%d/%d/%04d", t.month, t.day, t.year);
        return Printf("%s, %s %d, %04d", kEnglishDays[DayOfWeek(t.year, t.month, t.day)], kEnglishMonths[t.month - 1],
                      t.day, t.year);
    }
    std::string FormatTime(const CalendarTime& t) const override {
        if (!IsTimeOfDay(t)) return StoredTimeText(t);
        const int hour12 = t.hour % 12 == 0 ? 12 : t.hour % 12;
        return Printf("%d:%02d:%02d %s", hour12, t.minute, t.second, t.hour < 12 ? "AM" : "PM");
    }
};

// `base` with other separators; everything else, dates included, is base's.
class OverrideLocale final : public NumberLocale {
public:
    OverrideLocale(const NumberLocale& base, char decimal, char list) : base_(base), decimal_(decimal), list_(list) {}
    char DecimalSeparator() const override { return decimal_ != 0 ? decimal_ : base_.DecimalSeparator(); }
    bool LeadingZero() const override { return base_.LeadingZero(); }
    char NegativeSign() const override { return base_.NegativeSign(); }
    char ListSeparator() const override { return list_ != 0 ? list_ : base_.ListSeparator(); }
    std::string FormatNumber(const std::string& plain, int decimals) const override {
        if (decimal_ == 0) return base_.FormatNumber(plain, decimals);
        return RenderNumber(plain, decimals, decimal_, LeadingZero(), NegativeSign());
    }
    std::string FormatDate(const CalendarTime& time, DateStyle style) const override {
        return base_.FormatDate(time, style);
    }
    std::string FormatTime(const CalendarTime& time) const override { return base_.FormatTime(time); }

private:
    const NumberLocale& base_;
    char decimal_;
    char list_;
};

}  // namespace

std::string RenderNumber(const std::string& plain, int decimals, char separator, bool leadingZero, char minus) {
    size_t i = 0;
    const bool negative = i < plain.size() && plain[i] == '-';
    if (negative) ++i;
    std::string integer, fraction;
    while (i < plain.size() && IsDigit(plain[i])) integer += plain[i++];
    if (i < plain.size() && plain[i] == '.') {
        ++i;
        while (i < plain.size() && IsDigit(plain[i])) fraction += plain[i++];
    }
    if (i != plain.size() || (integer.empty() && fraction.empty())) return "";
    if (decimals < 0) decimals = 0;
    const size_t kept = static_cast<size_t>(decimals);

    const bool roundUp = fraction.size() > kept && fraction[kept] >= '5';
    fraction.resize(kept, '0');
    if (roundUp) {
        std::string digits = integer + fraction;
        size_t k = digits.size();
        while (k > 0 && digits[k - 1] == '9') digits[--k] = '0';
        if (k == 0)
            digits.insert(digits.begin(), '1');
        else
            ++digits[k - 1];
        integer = digits.substr(0, digits.size() - kept);
        fraction = digits.substr(digits.size() - kept);
    }
    const size_t firstDigit = integer.find_first_not_of('0');
    integer = firstDigit == std::string::npos ? "0" : integer.substr(firstDigit);

    const bool isZero = integer == "0" && fraction.find_first_not_of('0') == std::string::npos;
    std::string out;
    if (negative && !isZero) out += minus;
    if (integer != "0" || leadingZero || kept == 0) out += integer;
    if (kept > 0) {
        out += separator;
        out += fraction;
    }
    return out;
}

std::string StoredDateText(const CalendarTime& t) {
    return Printf("%04u.%02u.%02u", unsigned{t.year}, unsigned{t.month}, unsigned{t.day});
}

std::string StoredTimeText(const CalendarTime& t) {
    return Printf("%02u:%02u:%02u", unsigned{t.hour}, unsigned{t.minute}, unsigned{t.second});
}

std::unique_ptr<NumberLocale> MakePolishLocale() { return std::make_unique<PolishLocale>(); }
std::unique_ptr<NumberLocale> MakeEnglishLocale() { return std::make_unique<EnglishLocale>(); }

std::unique_ptr<NumberLocale> MakeOverrideLocale(const NumberLocale& base, char decimal, char list) {
    return std::make_unique<OverrideLocale>(base, decimal, list);
}

}  // namespace kx305mon
