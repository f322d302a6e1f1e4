// "Port szeregowy" (103): the COM ports of the machine, the one in use, and
// OK that tests a new choice before it is stored.  What OK does is ports.h's.
#include <windows.h>

#include <mutex>

#include "acquisition/polling_worker.h"
#include "resources/resource.h"
#include "shell/ports.h"
#include "shell/program/dialog_frame_win32.h"
#include "shell/program/dialogs.h"
#include "shell/settings_store.h"

namespace kx305mon {

namespace {

constexpr int kComboTextSize = 200;

class PortDialog final : public DialogFrame {
public:
    PortDialog(AppContext& context, SettingsStore& settings) : DialogFrame(context), settings_(settings) {}

private:
    void Open(HWND dialog) override {
        {
            MutexLock guard(Context().plumbing.lock);
            portAtOpening_ = Context().port;
        }
        SetDlgItemTextA(dialog, IDC_CURRENT_PORT, CurrentPortText(portAtOpening_).c_str());
        FillPortCombo(WindowRefOf(dialog), Context());
    }

    void Accept(HWND dialog) override {
        char text[kComboTextSize] = {};
        GetDlgItemTextA(dialog, IDC_PORT_COMBO, text, sizeof text);
        const auto test = [&](int32_t port) { return PortTest(Context(), WindowRefOf(dialog), port); };
        if (ConfirmPortChoice(Context(), text, portAtOpening_, test, settings_)) EndDialog(dialog, 1);
    }

    SettingsStore& settings_;
    int32_t portAtOpening_ = PORT_NONE;
};

}  // namespace

INT_PTR RunPortDialog(HWND owner, AppContext& context, SettingsStore& settings) {
    return RunDialog<PortDialog>(owner, IDD_PORT, context, settings);
}

}  // namespace kx305mon
