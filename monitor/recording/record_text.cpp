#include "recording/record_text.h"

#include <cstdio>

namespace kx305mon {

std::string FormatRecordTime(const CalendarTime& time, RecordTimeStyle style, const NumberLocale& locale) {
    if (style == RecordTimeStyle::Fixed) {
        char text[64];
        std::snprintf(text, sizeof text, "%04u.%02u.%02u %02u:%02u:%02u", time.year, time.month, time.day,
                      time.hour, time.minute, time.second);
        return text;
    }
    const DateStyle dateStyle = style == RecordTimeStyle::Short ? DateStyle::Short : DateStyle::Long;
    return locale.FormatDate(time, dateStyle) + " " + locale.FormatTime(time);
}

const char* UnitText(int quantityId, UnitForm form) {
    struct Unit {
        const char* bare;
        const char* parenthesised;
    };
    static constexpr Unit kCelsius{"°C", "(°C)"};
    static constexpr Unit kPercent{"%", "(%)"};
    static constexpr Unit kHectopascal{"hPa", "(hPa)"};
    static constexpr Unit kDegree{"°", "(°)"};
    static constexpr Unit kMetresPerSecond{"m/s", "(m/s)"};
    static constexpr Unit kMillimetre{"mm", "(mm)"};
    static constexpr Unit kIrradiance{"W/m2", "(W/m2)"};
    static constexpr Unit kKilolux{"kLx", "(kLx)"};
    static constexpr Unit kPascal{"Pa", "(Pa)"};
    static constexpr Unit kPhotonFlux{"µmol/sm2", "(µmol/sm2)"};
    static constexpr Unit kOhm{"Ohm", "(Ohm)"};
    static constexpr Unit kMetre{"m", "(m)"};
    static constexpr Unit kNone{"", ""};

    const Unit* unit = &kNone;
    switch (quantityId) {
    case 25:
    case 30: case 31: case 32: case 33: case 34: case 35: case 36: case 37:
        unit = &kCelsius;
        break;
    case 26:
        unit = &kPercent;
        break;
    case 27:
        unit = &kHectopascal;
        break;
    case 28:
        unit = &kDegree;
        break;
    case 29:
        unit = &kMetresPerSecond;
        break;
    case 40:
    case 65:
        unit = &kMillimetre;
        break;
    case 45:
    case 54:
        unit = &kIrradiance;
        break;
    case 46:
    case 55:
        unit = &kKilolux;
        break;
    case 47:
        unit = &kPascal;
        break;
    case 53:
    case 56:
        unit = &kPhotonFlux;
        break;
    case 61:
        unit = &kOhm;
        break;
    case 66:
        unit = &kMetre;
        break;
    default:
        break;
    }
    return form == UnitForm::Bare ? unit->bare : unit->parenthesised;
}

}  // namespace kx305mon
