// "Ustawienia dodatkowe" (125): the KX-125 average, the quick start and the
// promotion at start (its box is ticked to hide it); saved as groups 16 and
// 32.
#include <windows.h>

#include "resources/resource.h"
#include "shell/program/dialog_frame_win32.h"
#include "shell/program/dialogs.h"
#include "shell/settings_store.h"
#include "shell/small_dialogs.h"

namespace kx305mon {
namespace {

void Check(HWND dialog, int id, bool ticked) { CheckDlgButton(dialog, id, ticked ? BST_CHECKED : BST_UNCHECKED); }
bool Ticked(HWND dialog, int id) { return IsDlgButtonChecked(dialog, id) == BST_CHECKED; }

class ExtraSettingsDialog final : public DialogFrame {
public:
    ExtraSettingsDialog(AppContext& context, SettingsStore& settings) : DialogFrame(context), settings_(settings) {}

private:
    void Open(HWND dialog) override {
        const ExtraSettingsBoxes boxes = ReadExtraSettings(Context());
        Check(dialog, IDC_SHOW_KX125_AVERAGE, boxes.kx125Average);
        Check(dialog, IDC_QUICK_START, boxes.quickStart);
        Check(dialog, IDC_HIDE_PROMOTION, boxes.hidePromotion);
    }

    void Accept(HWND dialog) override {
        ExtraSettingsBoxes boxes;
        boxes.kx125Average = Ticked(dialog, IDC_SHOW_KX125_AVERAGE);
        boxes.quickStart = Ticked(dialog, IDC_QUICK_START);
        boxes.hidePromotion = Ticked(dialog, IDC_HIDE_PROMOTION);
        StoreExtraSettings(Context(), settings_, boxes);
        EndDialog(dialog, 1);
    }

    SettingsStore& settings_;
};

}  // namespace

INT_PTR RunExtraSettingsDialog(HWND owner, AppContext& context, SettingsStore& settings) {
    return RunDialog<ExtraSettingsDialog>(owner, IDD_EXTRA_SETTINGS, context, settings);
}

}  // namespace kx305mon
