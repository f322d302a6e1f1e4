#include "shell/help.h"
#include "resources/resource.h"

namespace kx305mon {

namespace {

// OK and Cancel: the registration dialog's ids, in every dialog.
constexpr uint32_t kOkHelp = HelpContextId(IDD_REGISTRATION, IDC_OK);
constexpr uint32_t kCancelHelp = HelpContextId(IDD_REGISTRATION, IDC_CANCEL);

#define KX305_HELP(dialog, control) control, HelpContextId(dialog, control)
#define KX305_HELP_BUTTONS          IDC_OK, kOkHelp, IDC_CANCEL, kCancelHelp

constexpr uint32_t kPortHelp[] = {
    KX305_HELP(IDD_PORT, IDC_PORT_COMBO),
    KX305_HELP_BUTTONS,
    0,
    0,
};

constexpr uint32_t kMemoryViewerHelp[] = {
    KX305_HELP(IDD_MEMORY_VIEWER, IDC_FIRST_RECORD),
    KX305_HELP(IDD_MEMORY_VIEWER, IDC_PREVIOUS_RECORD),
    KX305_HELP(IDD_MEMORY_VIEWER, IDC_NEXT_RECORD),
    KX305_HELP(IDD_MEMORY_VIEWER, IDC_LAST_RECORD),
    KX305_HELP(IDD_MEMORY_VIEWER, IDC_RECORD_LIST),
    KX305_HELP(IDD_MEMORY_VIEWER, IDC_SAVE),
    KX305_HELP(IDD_MEMORY_VIEWER, IDC_COPY),
    KX305_HELP(IDD_MEMORY_VIEWER, IDC_OPTIONS),
    KX305_HELP(IDD_MEMORY_VIEWER, IDC_CLOSE),
    0,
    0,
};

constexpr uint32_t kLogIntervalHelp[] = {
    KX305_HELP(IDD_LOG_INTERVAL, IDC_INTERVAL),
    KX305_HELP_BUTTONS,
    0,
    0,
};

// Controls 1040 to 1051 of the export options.
#define KX305_EXPORT_HELP(n) KX305_HELP(IDD_EXPORT_PARAMETERS, IDC_CURRENT_RECORD + (n))

constexpr uint32_t kExportOptionsHelp[] = {
    KX305_EXPORT_HELP(0),
    KX305_EXPORT_HELP(1),
    KX305_EXPORT_HELP(2),
    KX305_EXPORT_HELP(3),
    KX305_EXPORT_HELP(4),
    KX305_EXPORT_HELP(5),
    KX305_EXPORT_HELP(6),
    KX305_EXPORT_HELP(7),
    KX305_EXPORT_HELP(8),
    KX305_EXPORT_HELP(9),
    KX305_EXPORT_HELP(10),
    KX305_EXPORT_HELP(11),
    KX305_HELP_BUTTONS,
    0,
    0,
};

// The rain report's export options: controls 1040 to 1045 with the ids of
// dialog 106.
constexpr uint32_t kRainExportOptionsHelp[] = {
    KX305_EXPORT_HELP(0),
    KX305_EXPORT_HELP(1),
    KX305_EXPORT_HELP(2),
    KX305_EXPORT_HELP(3),
    KX305_EXPORT_HELP(4),
    KX305_EXPORT_HELP(5),
    KX305_HELP_BUTTONS,
    0,
    0,
};

constexpr uint32_t kRainGaugeHelp[] = {
    KX305_HELP(IDD_RAIN_GAUGE, IDC_RAIN_GAUGE_NAME),
    KX305_HELP(IDD_RAIN_GAUGE, IDC_RAIN_GAUGE_SERIAL),
    KX305_HELP(IDD_RAIN_GAUGE, IDC_CALIBRATION),
    KX305_HELP(IDD_RAIN_GAUGE, IDC_CALIBRATION_SPIN),
    KX305_HELP_BUTTONS,
    0,
    0,
};

// Registration and read source: OK and Cancel only.
constexpr uint32_t kButtonsHelp[] = {
    KX305_HELP_BUTTONS,
    0,
    0,
};

constexpr uint32_t kAdditionalSettingsHelp[] = {
    KX305_HELP(IDD_EXTRA_SETTINGS, IDC_SHOW_KX125_AVERAGE),
    KX305_HELP(IDD_EXTRA_SETTINGS, IDC_QUICK_START),
    KX305_HELP(IDD_EXTRA_SETTINGS, IDC_HIDE_PROMOTION),
    KX305_HELP_BUTTONS,
    0,
    0,
};

constexpr uint32_t kRainReportHelp[] = {
    KX305_HELP(IDD_RAIN_REPORT, IDC_RECORD_LIST),
    KX305_HELP(IDD_RAIN_REPORT, IDC_SAVE),
    KX305_HELP(IDD_RAIN_REPORT, IDC_COPY),
    KX305_HELP(IDD_RAIN_REPORT, IDC_OPTIONS),
    KX305_HELP(IDD_RAIN_REPORT, IDC_CLOSE),
    0,
    0,
};

#undef KX305_EXPORT_HELP
#undef KX305_HELP_BUTTONS
#undef KX305_HELP

}  // namespace

const uint32_t* HelpIdTable(int dialogId) {
    switch (dialogId) {
    case IDD_PORT:
        return kPortHelp;
    case IDD_MEMORY_VIEWER:
        return kMemoryViewerHelp;
    case IDD_LOG_INTERVAL:
        return kLogIntervalHelp;
    case IDD_EXPORT_PARAMETERS:
        return kExportOptionsHelp;
    case IDD_RAIN_EXPORT_PARAMETERS:
        return kRainExportOptionsHelp;
    case IDD_RAIN_GAUGE:
        return kRainGaugeHelp;
    case IDD_REGISTRATION:
    case IDD_READ_SOURCE:
        return kButtonsHelp;
    case IDD_EXTRA_SETTINGS:
        return kAdditionalSettingsHelp;
    case IDD_RAIN_REPORT:
        return kRainReportHelp;
    default:
        return nullptr;
    }
}

bool WantsContextHelp(int dialogId, int controlId) {
    // Unnumbered statics arrive as id -1 or, in a 16-bit field, 0xFFFF.
    const bool unnumbered = controlId == IDC_STATIC || controlId == 0xFFFF;
    return !(dialogId == IDD_EXTRA_SETTINGS && unnumbered);
}

}  // namespace kx305mon
