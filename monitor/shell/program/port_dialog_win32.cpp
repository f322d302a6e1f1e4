// "Port szeregowy" (103): the COM ports of the machine, the one in use, and
// OK that tests a new choice before it is stored.  What OK does is ports.h's.
#include <windows.h>

#include <memory>
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

struct PortDialog {
    AppContext& context;
    int32_t portAtOpening = PORT_NONE;
};

void Open(HWND dialog, PortDialog& state) {
    {
        MutexLock guard(state.context.plumbing.lock);
        state.portAtOpening = state.context.port;
    }
    SetDlgItemTextA(dialog, IDC_CURRENT_PORT, CurrentPortText(state.portAtOpening).c_str());
    FillPortCombo(reinterpret_cast<WindowRef>(dialog), state.context);
}

void Accept(HWND dialog, PortDialog& state) {
    char text[kComboTextSize] = {};
    GetDlgItemTextA(dialog, IDC_PORT_COMBO, text, sizeof text);
    std::unique_ptr<SettingsStore> store = MakeRegistrySettingsStore();
    const auto test = [&](int32_t port) { return PortTest(state.context, reinterpret_cast<WindowRef>(dialog), port); };
    if (ConfirmPortChoice(state.context, text, state.portAtOpening, test, *store)) EndDialog(dialog, 1);
}

INT_PTR CALLBACK PortProcedure(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    PortDialog* state = small_dialogs::StateOf<PortDialog>(dialog, message, lParam);
    if (state == nullptr) return FALSE;
    if (IsCancel(message, wParam, IDC_CANCEL)) {
        EndDialog(dialog, 0);
        return TRUE;
    }
    switch (message) {
        case WM_INITDIALOG:
            Open(dialog, *state);
            return TRUE;
        case WM_COMMAND:
            if (LOWORD(wParam) != IDC_OK && LOWORD(wParam) != IDOK) return FALSE;
            Accept(dialog, *state);
            return TRUE;
        case WM_HELP:
            return AnswerHelp(lParam, IDD_PORT);
        default:
            return FALSE;
    }
}

}  // namespace

INT_PTR RunPortDialog(HWND owner, AppContext& context) {
    PortDialog state{context};
    return RunDialog(context, IDD_PORT, owner, PortProcedure, &state);
}

}  // namespace kx305mon
