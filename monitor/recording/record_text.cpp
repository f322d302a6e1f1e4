#include "recording/record_text.h"

#include <cstdio>

#include "instruments/catalogue.h"

namespace kx305mon {

std::string FormatRecordTime(const CalendarTime& time, RecordTimeStyle style, const NumberLocale& locale) {
    if (style == RecordTimeStyle::Fixed) {
        char text[64];
        std::snprintf(text, sizeof text, "%04u.%02u.%02u %02u:%02u:%02u", time.year, time.month, time.day, time.hour,
                      time.minute, time.second);
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
    case kStrTemperature:
    case kStrTemperature1:
    case kStrTemperature2:
    case kStrTemperature3:
    case kStrTemperature4:
    case kStrTemperature5:
    case kStrTemperature6:
    case kStrTemperature7:
    case kStrTemperature8:
        unit = &kCelsius;
        break;
    case kStrHumidity:
        unit = &kPercent;
        break;
    case kStrPressureHpa:
        unit = &kHectopascal;
        break;
    case kStrWindDirection:
        unit = &kDegree;
        break;
    case kStrWindSpeed:
        unit = &kMetresPerSecond;
        break;
    case kStrRain:
    case kStrDistanceMm:
        unit = &kMillimetre;
        break;
    case kStrIntensityWm2:
    case kStrIntensity2Wm2:
        unit = &kIrradiance;
        break;
    case kStrIntensityKlx:
    case kStrIntensity2Klx:
        unit = &kKilolux;
        break;
    case kStrPressurePa:
        unit = &kPascal;
        break;
    case kStrIntensityUmol:
    case kStrIntensity2Umol:
        unit = &kPhotonFlux;
        break;
    case kStrResistance:
        unit = &kOhm;
        break;
    case kStrDistanceM:
        unit = &kMetre;
        break;
    default:
        break;
    }
    return form == UnitForm::Bare ? unit->bare : unit->parenthesised;
}

}  // namespace kx305mon
