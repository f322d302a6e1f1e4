// The user's regional settings as the program needs them: decimal separator,
// leading zero, negative sign, list separator, number formatting and date and
// time formatting.  One backend per platform (Win32 locale functions of the
// current user; the C library's locale natively); tests and the command line
// install fixed locales.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "time/calendar.h"

namespace kx305mon {

enum class DateStyle { Short, Long };

class NumberLocale {
public:
    virtual ~NumberLocale() = default;
    virtual char DecimalSeparator() const = 0;  // first character only
    virtual bool LeadingZero() const = 0;
    virtual char NegativeSign() const = 0;   // first character only
    virtual char ListSeparator() const = 0;  // first character only
    // Renders a plain number text ("-21.5", dot, no grouping) with exactly
    // `decimals` decimals, the locale's separator and leading-zero choice,
    // no grouping and the minus sign directly before the digits.
    virtual std::string FormatNumber(const std::string& plain, int decimals) const = 0;
    // The user's short or long date format and time format (code page 1250).
    virtual std::string FormatDate(const CalendarTime& time, DateStyle style) const = 0;
    virtual std::string FormatTime(const CalendarTime& time) const = 0;
};

// The locale in force: an override when one is installed, else the user's.
const NumberLocale& CurrentLocale();
// Installs (or with nullptr removes) an override; the caller keeps it alive.
void SetLocaleOverride(const NumberLocale* locale);

// Fixed locales for tests and command-line overrides.  Polish: "," decimal,
// leading zero, "-", ";" list, dates "dd.MM.yyyy" / "d MMMM yyyy", time
// "HH:mm:ss".  English (US): "." decimal, "," list, "M/d/yyyy" /
// "dddd, MMMM d, yyyy", time "h:mm:ss tt".
std::unique_ptr<NumberLocale> MakePolishLocale();
std::unique_ptr<NumberLocale> MakeEnglishLocale();
// `base` with the decimal and/or list separator replaced (0 = keep); all
// else, dates included, still comes from base, which must outlive it.
std::unique_ptr<NumberLocale> MakeOverrideLocale(const NumberLocale& base, char decimal, char list);

}  // namespace kx305mon
