// The user's locale on POSIX systems: the one the environment names
// (LC_ALL, LC_NUMERIC, LC_TIME, LANG), read through a private locale object
// so that neither the program's setlocale state nor other threads interfere.
// Numbers are rendered by hand with the Win32 rules: the decimal point's
// first character, leading zero on, "-" directly before the digits, no
// grouping.  Texts from the C library are converted to code page 1250.
#include <iconv.h>
#include <langinfo.h>
#include <locale.h>
#include <time.h>

#include <cstring>

#include "locale_backend.h"
#include "time/calendar_time.h"

namespace kx305mon {
namespace {

class PosixLocale final : public NumberLocale {
public:
    PosixLocale() {
        locale_ = newlocale(LC_ALL_MASK, "", static_cast<locale_t>(0));
        // A locale the system does not have: the C locale, as setlocale would.
        if (locale_ == static_cast<locale_t>(0)) locale_ = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(0));
    }
    ~PosixLocale() override {
        if (locale_ != static_cast<locale_t>(0)) freelocale(locale_);
    }
    PosixLocale(const PosixLocale&) = delete;
    PosixLocale& operator=(const PosixLocale&) = delete;

    char DecimalSeparator() const override {
        const char* radix = Info(RADIXCHAR);
        return radix[0] != '\0' ? radix[0] : '.';
    }
    bool LeadingZero() const override { return true; }
    char NegativeSign() const override { return '-'; }
    // Where the comma is the decimal point, lists are separated by ";".
    char ListSeparator() const override { return DecimalSeparator() == ',' ? ';' : ','; }
    std::string FormatNumber(const std::string& plain, int decimals) const override {
        return RenderNumber(plain, decimals, DecimalSeparator(), LeadingZero(), NegativeSign());
    }
    std::string FormatDate(const CalendarTime& time, DateStyle style) const override {
        // strftime would index its month and day names with them.
        if (!IsCalendarDate(time)) return StoredDateText(time);
        if (style == DateStyle::Short) return Strftime("%x", time);
        // POSIX has no long date format; day, month name and year in the
        // locale's words come closest.
        return std::to_string(time.day) + " " + Strftime("%B %Y", time);
    }
    std::string FormatTime(const CalendarTime& time) const override {
        if (!IsTimeOfDay(time)) return StoredTimeText(time);
        return Strftime("%X", time);
    }

private:
    const char* Info(nl_item item) const {
        if (locale_ == static_cast<locale_t>(0)) return "";
        const char* text = nl_langinfo_l(item, locale_);
        return text != nullptr ? text : "";
    }

    std::string Strftime(const char* format, const CalendarTime& time) const {
        if (locale_ == static_cast<locale_t>(0)) return "";
        struct tm fields = TmFromCalendar(time);
        fields.tm_wday = DayOfWeek(time.year, time.month, time.day);
        char text[128];
        const size_t length = strftime_l(text, sizeof text, format, &fields, locale_);
        return ToCodePage1250(std::string(text, length));
    }

    std::string ToCodePage1250(const std::string& text) const {
        const char* codeset = Info(CODESET);
        if (std::strcmp(codeset, "ANSI_X3.4-1968") == 0 || std::strcmp(codeset, "CP1250") == 0) return text;
        iconv_t converter = iconv_open("CP1250//TRANSLIT", codeset);
        if (converter == reinterpret_cast<iconv_t>(-1)) return text;
        std::string in = text;
        std::string out(in.size() * 4 + 4, '\0');
        char* inPtr = in.data();
        size_t inLeft = in.size();
        char* outPtr = out.data();
        size_t outLeft = out.size();
        const size_t result = iconv(converter, &inPtr, &inLeft, &outPtr, &outLeft);
        iconv_close(converter);
        if (result == static_cast<size_t>(-1)) return text;
        out.resize(out.size() - outLeft);
        return out;
    }

    locale_t locale_;
};

}  // namespace

const NumberLocale& UserLocale() {
    static const PosixLocale locale;
    return locale;
}

}  // namespace kx305mon
