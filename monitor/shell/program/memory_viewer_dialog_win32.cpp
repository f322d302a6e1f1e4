// "Zawartość pamięci rejestrującej" (104): the records of a registration
// file one at a time, with save, copy and the export options.  What a row
// shows and where navigation goes is memory_review.h's.
#include <windows.h>

#include <commctrl.h>

#include <mutex>
#include <vector>

#include "resources/resource.h"
#include "shell/memory_review.h"
#include "shell/program/dialogs.h"
#include "shell/program/export_save_dialog_win32.h"
#include "shell/program/status_list_win32.h"

namespace kx305mon {

namespace {

constexpr int kIconSize = 16;

constexpr ListColumn kColumns[] = {
    {"Przyrząd", LVCFMT_LEFT, 78}, {"Numer", LVCFMT_RIGHT, 25},  {"Wielkość", LVCFMT_LEFT, 50},
    {"Wynik", LVCFMT_RIGHT, 35},   {"Status", LVCFMT_LEFT, 100},
};

constexpr struct {
    int control;
    int icon;
    ViewerStep step;
} kNavigation[] = {
    {IDC_FIRST_RECORD, IDI_FIRST, ViewerStep::First},
    {IDC_PREVIOUS_RECORD, IDI_PREVIOUS, ViewerStep::Previous},
    {IDC_NEXT_RECORD, IDI_NEXT, ViewerStep::Next},
    {IDC_LAST_RECORD, IDI_LAST, ViewerStep::Last},
};

// Enabled once there is a record to show.
constexpr int kRecordControls[] = {
    IDC_FIRST_RECORD, IDC_PREVIOUS_RECORD, IDC_NEXT_RECORD, IDC_LAST_RECORD, IDC_RECORD_LIST, IDC_SAVE, IDC_COPY};

// Everything an export of the shown records takes.
struct ViewerExport {
    uint32_t flags;
    bool averageKX125;
    int choice;
};

class Viewer final : public ReviewDialog {
public:
    Viewer(AppContext& context, SettingsStore& settings) : ReviewDialog(context, settings, RunExportParametersDialog) {}
    ~Viewer() override {
        for (HICON icon : icons_) DestroyIcon(icon);
    }

private:
    static HWND List(HWND dialog) { return GetDlgItem(dialog, IDC_RECORD_LIST); }

    void ShowRecord(HWND dialog, int index) {
        const MemoryRecord& record = Context().records[static_cast<size_t>(index)];
        SetDlgItemTextA(dialog, IDC_RECORD_CAPTION, RecordCaption(index, recordCount_, record.time).c_str());
        bool averageKX125;
        {
            MutexLock guard(Context().plumbing.lock);
            averageKX125 = Context().averageKX125;
        }
        HWND list = List(dialog);
        // One repaint for the whole record: while it is shown, the list view
        // repaints and re-measures its scroll bars after every row and cell
        // (a quarter of a second for a station's 21 rows under Wine).
        SendMessageA(list, WM_SETREDRAW, FALSE, 0);
        SendMessageA(list, LVM_DELETEALLITEMS, 0, 0);
        const std::vector<ViewerRow> rows = ViewerRows(record, averageKX125);
        for (size_t i = 0; i < rows.size(); ++i) {
            const ViewerRow& row = rows[i];
            const int at =
                AppendListRow(list, static_cast<int>(i), row.instrument, row.image, static_cast<LPARAM>(row.itemData));
            SetListCell(list, at, 1, row.serial);
            SetListCell(list, at, 2, row.quantity);
            SetListCell(list, at, 3, row.result);
            SetListCell(list, at, 4, row.status);
        }
        SendMessageA(list, WM_SETREDRAW, TRUE, 0);
        InvalidateRect(list, nullptr, TRUE);
        UpdateWindow(list);
    }

    void Open(HWND dialog) override {
        HINSTANCE module = GetModuleHandleA(nullptr);
        for (const auto& button : kNavigation) {
            HICON icon = static_cast<HICON>(
                LoadImageA(module, MAKEINTRESOURCEA(button.icon), IMAGE_ICON, kIconSize, kIconSize, LR_DEFAULTCOLOR));
            icons_.push_back(icon);
            SendDlgItemMessageA(dialog, button.control, BM_SETIMAGE, IMAGE_ICON, reinterpret_cast<LPARAM>(icon));
        }
        images_ = SetUpStatusList(List(dialog), kColumns);
        const int count = ReadRecordsForReview(Context());
        if (count == kReadOutOfMemory) {
            RefuseReviewForMemory(dialog, Context());
            return;
        }
        recordCount_ = count;
        if (recordCount_ == 0) {
            SetDlgItemTextA(dialog, IDC_RECORD_CAPTION, messages::kNoRecords);
            return;
        }
        for (int id : kRecordControls) EnableWindow(GetDlgItem(dialog, id), TRUE);
        currentRecord_ = 0;
        ShowRecord(dialog, 0);
    }

    void Step(HWND dialog, ViewerStep step) {
        if (recordCount_ == 0) return;
        const int next = StepRecord(step, currentRecord_, recordCount_);
        if (next == currentRecord_ && (step == ViewerStep::Previous || step == ViewerStep::Next)) return;
        currentRecord_ = next;
        ShowRecord(dialog, next);
    }

    ViewerExport ExportChoice() const {
        MutexLock guard(Context().plumbing.lock);
        const uint32_t flags = Context().exportFlags;
        return {flags, Context().averageKX125, (flags & kExportAllRecords) != 0 ? kAllRecords : currentRecord_};
    }

    ExportResult Export(const ViewerExport& choice, const std::string& path) const {
        const ExportContext context =
            MakeExportContext(choice.flags, choice.averageKX125, Context().records, CurrentLocale());
        return ExportRecords(context, path, choice.choice);
    }

    void Save(HWND dialog) override {
        const ViewerExport choice = ExportChoice();
        const bool text = (choice.flags & kExportDescriptive) != 0;
        SaveExport(dialog, text ? messages::kMemoryTextFileName : messages::kMemoryCsvFileName, text,
                   [&](const std::string& path) { return Export(choice, path); });
    }

    void Copy(HWND dialog) override {
        const ViewerExport choice = ExportChoice();
        CopyExportToClipboard(dialog, [&] { return Export(choice, std::string()); });
    }

    bool Command(HWND dialog, int id, int code) override {
        for (const auto& button : kNavigation) {
            if (button.control != id) continue;
            Step(dialog, button.step);
            return true;
        }
        return ReviewDialog::Command(dialog, id, code);
    }

    int recordCount_ = 0;
    int currentRecord_ = 0;
    std::vector<HICON> icons_{};
};

}  // namespace

INT_PTR RunMemoryViewer(HWND owner, AppContext& context, SettingsStore& settings) {
    return RunDialog<Viewer>(owner, IDD_MEMORY_VIEWER, context, settings);
}

}  // namespace kx305mon
