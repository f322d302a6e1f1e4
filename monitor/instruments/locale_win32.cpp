// The user's locale on Windows: the current user's regional settings, read
// afresh at every call so that a change in the control panel shows at once.
// The -A functions deliver texts in the ANSI code page (1250 on Polish
// systems).
#include <windows.h>

#include "locale_backend.h"
#include "time/system_time_win32.h"

namespace kx305mon {
namespace {

// First character of a locale string, or `fallback` when it cannot be read.
char FirstChar(LCTYPE type, char fallback) {
    char text[16];
    if (GetLocaleInfoA(LOCALE_USER_DEFAULT, type, text, sizeof text) <= 0 || text[0] == '\0') return fallback;
    return text[0];
}

class Win32Locale final : public NumberLocale {
public:
    char DecimalSeparator() const override { return FirstChar(LOCALE_SDECIMAL, '.'); }
    bool LeadingZero() const override { return FirstChar(LOCALE_ILZERO, '1') != '0'; }
    char NegativeSign() const override { return FirstChar(LOCALE_SNEGATIVESIGN, '-'); }
    char ListSeparator() const override { return FirstChar(LOCALE_SLIST, ','); }

    std::string FormatNumber(const std::string& plain, int decimals) const override {
        char decimal[2] = {DecimalSeparator(), '\0'};
        char thousands[2] = " ";
        NUMBERFMTA format;
        format.NumDigits = decimals > 0 ? static_cast<UINT>(decimals) : 0;
        format.LeadingZero = LeadingZero() ? 1 : 0;
        format.Grouping = 0;
        format.lpDecimalSep = decimal;
        format.lpThousandSep = thousands;
        format.NegativeOrder = 1;  // "-1.1"
        char text[256];
        if (GetNumberFormatA(LOCALE_USER_DEFAULT, 0, plain.c_str(), &format, text, sizeof text) <= 0) return "";
        return text;
    }

    // GetDateFormatA and GetTimeFormatA refuse an impossible date or time
    // (and nothing would be shown): it is shown as stored instead.
    std::string FormatDate(const CalendarTime& time, DateStyle style) const override {
        if (!IsCalendarDate(time)) return StoredDateText(time);
        const SYSTEMTIME st = ToSystemTime(time);
        const DWORD flags = style == DateStyle::Short ? DATE_SHORTDATE : DATE_LONGDATE;
        char text[128];
        if (GetDateFormatA(LOCALE_USER_DEFAULT, flags, &st, nullptr, text, sizeof text) <= 0) return "";
        return text;
    }

    std::string FormatTime(const CalendarTime& time) const override {
        if (!IsTimeOfDay(time)) return StoredTimeText(time);
        const SYSTEMTIME st = ToSystemTime(time);
        char text[128];
        if (GetTimeFormatA(LOCALE_USER_DEFAULT, 0, &st, nullptr, text, sizeof text) <= 0) return "";
        return text;
    }
};

}  // namespace

const NumberLocale& UserLocale() {
    static const Win32Locale locale;
    return locale;
}

}  // namespace kx305mon
