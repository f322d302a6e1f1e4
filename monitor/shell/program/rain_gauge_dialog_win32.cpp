// "Deszczomierz (Wejście nr 0)" (119): name, serial and calibration of the
// rain gauge on input 0.  The spin moves the typed calibration by a
// thousandth of a millimetre per step; OK stores and saves group 4 and, for
// a new serial, has the main window build the rain gauge's DDE topic anew.
#include <windows.h>

#include <commctrl.h>

#include <string>

#include "instruments/catalogue.h"
#include "program_win32.h"
#include "resources/messages.h"
#include "resources/resource.h"
#include "shell/program/dialog_frame_win32.h"
#include "shell/program/dialogs.h"
#include "shell/settings_store.h"
#include "shell/small_dialogs.h"

namespace kx305mon {
namespace {

void ShowSettings(HWND dialog) {
    const RainGaugeSettings& rain = rainGaugeSettings();
    const int32_t calibration = rain.calibration.load();
    HWND spin = GetDlgItem(dialog, IDC_CALIBRATION_SPIN);
    static UDACCEL acceleration[] = {{1, 1}, {2, 10}, {3, 100}};
    SendMessageA(spin, UDM_SETBASE, 10, 0);
    SendMessageA(spin, UDM_SETRANGE32, kRainCalibrationMin, kRainCalibrationMax);
    SendMessageA(spin, UDM_SETACCEL, sizeof acceleration / sizeof acceleration[0],
                 reinterpret_cast<LPARAM>(acceleration));
    SendMessageA(spin, UDM_SETPOS32, 0, calibration);
    SetDlgItemTextA(dialog, IDC_CALIBRATION, CalibrationText(calibration).c_str());
    SendDlgItemMessageA(dialog, IDC_RAIN_GAUGE_NAME, EM_LIMITTEXT, sizeof rain.name - 1, 0);
    SetDlgItemTextA(dialog, IDC_RAIN_GAUGE_NAME, rain.name);
    SetDlgItemInt(dialog, IDC_RAIN_GAUGE_SERIAL, rain.serial.load(), FALSE);
}

// The spin's position is about to change: TRUE refuses the change.
LRESULT SpinStep(HWND dialog, const NMUPDOWN& change) {
    std::string text = ItemText(dialog, IDC_CALIBRATION);
    if (!StepCalibration(text, change.iDelta)) return TRUE;
    SetDlgItemTextA(dialog, IDC_CALIBRATION, text.c_str());
    return FALSE;
}

class RainGaugeDialog final : public DialogFrame {
public:
    RainGaugeDialog(AppContext& context, SettingsStore& settings, HWND mainWindow)
        : DialogFrame(context), settings_(settings), mainWindow_(mainWindow) {}

private:
    void Open(HWND dialog) override { ShowSettings(dialog); }

    void Accept(HWND dialog) override {
        const std::string name = ItemText(dialog, IDC_RAIN_GAUGE_NAME);
        const std::string serial = ItemText(dialog, IDC_RAIN_GAUGE_SERIAL);
        const std::string calibration = ItemText(dialog, IDC_CALIBRATION);
        switch (StoreRainGauge(Context(), settings_, name.c_str(), serial.c_str(), calibration.c_str())) {
        case RainGaugeOutcome::Refused:
            ShowMessage(dialog, messages::kInvalidValue, MB_ICONERROR);
            return;
        case RainGaugeOutcome::SerialChanged:
            if (mainWindow_ != nullptr) PostMessageA(mainWindow_, WMU_INPUT_CHANGED, 0, 0);
            break;
        case RainGaugeOutcome::Stored:
            break;
        }
        EndDialog(dialog, 1);
    }

    bool Message(HWND dialog, UINT message, WPARAM, LPARAM lParam) override {
        if (message != WM_NOTIFY) return false;
        const NMHDR* header = reinterpret_cast<const NMHDR*>(lParam);
        if (header->idFrom != IDC_CALIBRATION_SPIN || header->code != UDN_DELTAPOS) return false;
        SetWindowLongPtrA(dialog, DWLP_MSGRESULT, SpinStep(dialog, *reinterpret_cast<const NMUPDOWN*>(lParam)));
        return true;
    }

    SettingsStore& settings_;
    HWND mainWindow_;
};

}  // namespace

INT_PTR RunRainGaugeDialog(HWND owner, AppContext& context, SettingsStore& settings) {
    RainGaugeDialog dialog(context, settings, MainWindowOr(context, owner));
    return dialog.Run(owner, IDD_RAIN_GAUGE);
}

}  // namespace kx305mon
