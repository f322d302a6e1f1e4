// "Ustaw czas" (124): the converter's clock set by hand in local time.  The
// dialog shows and collects; small_dialogs.h decides.  After OK the polling
// worker sets the clock (operation 6) and tells the main window.
#include <windows.h>

#include <mutex>

#include "recording/local_time.h"
#include "resources/resource.h"
#include "shell/program/dialogs.h"
#include "shell/program/small_dialog_support_win32.h"
#include "shell/small_dialogs.h"

namespace kx305mon {
namespace {

using namespace small_dialogs;

// The edit of each field, in the TimeField order.
constexpr int kFieldEdits[kTimeFieldCount] = {IDC_DAY, IDC_MONTH, IDC_HOUR, IDC_MINUTE, IDC_SECOND};

int FieldOfEdit(int id) {
    for (int f = 0; f < kTimeFieldCount; ++f) {
        if (kFieldEdits[f] == id) return f;
    }
    return -1;
}

void ShowFields(HWND dialog, const TimeFields& fields) {
    for (int f = 0; f < kTimeFieldCount; ++f) SetDlgItemInt(dialog, kFieldEdits[f], fields.value[f], TRUE);
}

TimeFields ReadFields(HWND dialog) {
    TimeFields fields;
    for (int f = 0; f < kTimeFieldCount; ++f) {
        fields.value[f] = static_cast<int>(GetDlgItemInt(dialog, kFieldEdits[f], nullptr, FALSE));
    }
    return fields;
}

void ClampWhileTyping(HWND dialog, int id) {
    const int field = FieldOfEdit(id);
    if (field < 0) return;
    BOOL number = FALSE;
    int value = static_cast<int>(GetDlgItemInt(dialog, id, &number, TRUE));
    if (number && ClampTimeField(static_cast<TimeField>(field), value)) SetDlgItemInt(dialog, id, value, TRUE);
}

void Accept(HWND dialog, AppContext& context) {
    const TimeFields fields = ReadFields(dialog);
    if (const char* message = CheckTimeFields(fields)) {
        Tell(dialog, message, MB_ICONERROR);
        return;
    }
    ClockRecord clock{};
    if (!SetTimeClock(fields, CurrentUtcTime(), clock)) return;
    {
        MutexLock guard(context.plumbing.lock);
        context.setTimeClock = clock;
    }
    EndDialog(dialog, 1);
}

INT_PTR CALLBACK SetTimeProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    AppContext* context = StateOf<AppContext>(dialog, message, lParam);
    switch (message) {
    case WM_INITDIALOG: {
        ClockRecord clock;
        {
            MutexLock guard(context->plumbing.lock);
            clock = context->clock;
        }
        ShowFields(dialog, SetTimeOpeningFields(clock, CurrentUtcTime()));
        return TRUE;
    }
    case WM_COMMAND:
        if (context == nullptr) break;
        switch (LOWORD(wParam)) {
        case IDC_OK:
        case IDOK:
            Accept(dialog, *context);
            return TRUE;
        case IDC_CANCEL:
        case IDCANCEL:
            EndDialog(dialog, 0);
            return TRUE;
        default:
            if (HIWORD(wParam) == EN_CHANGE) ClampWhileTyping(dialog, LOWORD(wParam));
            break;
        }
        break;
    default:
        break;
    }
    return FALSE;
}

}  // namespace

INT_PTR RunSetTimeDialog(HWND owner, AppContext& context) {
    const INT_PTR result = DialogBoxParamA(TemplateModule(&context), MAKEINTRESOURCEA(IDD_SET_TIME), owner,
                                           SetTimeProc, reinterpret_cast<LPARAM>(&context));
    if (result == 1) PlaceRequest(context, RefOf(MainWindow(context, owner)), kOpSetClock, 0);
    return result;
}

}  // namespace kx305mon
