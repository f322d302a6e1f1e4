// "Ustaw czas" (124): the converter's clock set by hand in local time.  The
// dialog shows and collects; small_dialogs.h decides.  After OK the polling
// worker sets the clock (operation 6) and tells the main window.
#include <windows.h>

#include <mutex>

#include "program_win32.h"
#include "resources/resource.h"
#include "shell/program/dialog_frame_win32.h"
#include "shell/program/dialogs.h"
#include "shell/small_dialogs.h"
#include "time/local_time.h"

namespace kx305mon {
namespace {

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

// No context help: 124 has no help-id table.
class SetTimeDialog final : public DialogFrame {
public:
    explicit SetTimeDialog(AppContext& context) : DialogFrame(context, false) {}

private:
    void Open(HWND dialog) override {
        ClockRecord clock;
        {
            MutexLock guard(Context().plumbing.lock);
            clock = Context().clock;
        }
        ShowFields(dialog, SetTimeOpeningFields(clock, CurrentUtcTime()));
    }

    void Accept(HWND dialog) override {
        const TimeFields fields = ReadFields(dialog);
        if (const char* message = CheckTimeFields(fields)) {
            ShowMessage(dialog, message, MB_ICONERROR);
            return;
        }
        ClockRecord clock{};
        if (!SetTimeClock(fields, CurrentUtcTime(), clock)) return;
        {
            MutexLock guard(Context().plumbing.lock);
            Context().setTimeClock = clock;
        }
        EndDialog(dialog, 1);
    }

    bool Command(HWND dialog, int id, int code) override {
        if (code == EN_CHANGE) ClampWhileTyping(dialog, id);
        return false;
    }
};

}  // namespace

INT_PTR RunSetTimeDialog(HWND owner, AppContext& context) {
    const INT_PTR result = RunDialog<SetTimeDialog>(owner, IDD_SET_TIME, context);
    if (result == 1) PlaceRequest(context, RequesterOf(MainWindowOr(context, owner)), kOpSetClock, 0);
    return result;
}

}  // namespace kx305mon
