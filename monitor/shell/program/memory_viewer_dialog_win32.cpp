// "Zawartość pamięci rejestrującej" (104): the records of a registration
// file one at a time, with save, copy and the export options.  What a row
// shows and where navigation goes is memory_review.h's.
#include <windows.h>

#include <commctrl.h>

#include <mutex>
#include <vector>

#include "resources/resource.h"
#include "shell/memory_review.h"
#include "shell/program/dialog_frame_win32.h"
#include "shell/program/dialogs.h"
#include "shell/program/export_save_dialog_win32.h"
#include "shell/program/status_list_win32.h"

namespace kx305mon {

namespace {

constexpr int kIconSize = 16;

constexpr ListColumn kColumns[] = {
    {"Przyrząd", LVCFMT_LEFT, 78}, {"Numer", LVCFMT_RIGHT, 25}, {"Wielkość", LVCFMT_LEFT, 50},
    {"Wynik", LVCFMT_RIGHT, 35},   {"Status", LVCFMT_LEFT, 100},
};

constexpr struct {
    int control;
    int icon;
} kNavigationIcons[] = {
    {IDC_FIRST_RECORD, IDI_FIRST},
    {IDC_PREVIOUS_RECORD, IDI_PREVIOUS},
    {IDC_NEXT_RECORD, IDI_NEXT},
    {IDC_LAST_RECORD, IDI_LAST},
};

// Enabled once there is a record to show.
constexpr int kRecordControls[] = {IDC_FIRST_RECORD, IDC_PREVIOUS_RECORD, IDC_NEXT_RECORD, IDC_LAST_RECORD,
                                   IDC_RECORD_LIST,  IDC_SAVE,            IDC_COPY};

struct Viewer {
    AppContext& context;
    int recordCount = 0;
    int currentRecord = 0;
    HIMAGELIST images = nullptr;
    std::vector<HICON> icons{};
};

HWND List(HWND dialog) { return GetDlgItem(dialog, IDC_RECORD_LIST); }

void ShowRecord(HWND dialog, Viewer& viewer, int index) {
    const MemoryRecord& record = viewer.context.records[static_cast<size_t>(index)];
    SetDlgItemTextA(dialog, IDC_RECORD_CAPTION, RecordCaption(index, viewer.recordCount, record.time).c_str());
    bool averageKX125;
    {
        MutexLock guard(viewer.context.plumbing.lock);
        averageKX125 = viewer.context.averageKX125;
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

void Open(HWND dialog, Viewer& viewer) {
    HINSTANCE module = GetModuleHandleA(nullptr);
    for (const auto& button : kNavigationIcons) {
        HICON icon = static_cast<HICON>(
            LoadImageA(module, MAKEINTRESOURCEA(button.icon), IMAGE_ICON, kIconSize, kIconSize, LR_DEFAULTCOLOR));
        viewer.icons.push_back(icon);
        SendDlgItemMessageA(dialog, button.control, BM_SETIMAGE, IMAGE_ICON, reinterpret_cast<LPARAM>(icon));
    }
    viewer.images = SetUpStatusList(List(dialog), kColumns);
    const int count = ReadRecordsForReview(viewer.context);
    if (count == kReadOutOfMemory) {
        RefuseReviewForMemory(dialog, viewer.context);
        return;
    }
    viewer.recordCount = count;
    if (viewer.recordCount == 0) {
        SetDlgItemTextA(dialog, IDC_RECORD_CAPTION, messages::kNoRecords);
        return;
    }
    for (int id : kRecordControls) EnableWindow(GetDlgItem(dialog, id), TRUE);
    viewer.currentRecord = 0;
    ShowRecord(dialog, viewer, 0);
}

void Step(HWND dialog, Viewer& viewer, ViewerStep step) {
    if (viewer.recordCount == 0) return;
    const int next = StepRecord(step, viewer.currentRecord, viewer.recordCount);
    if (next == viewer.currentRecord && (step == ViewerStep::Previous || step == ViewerStep::Next)) return;
    viewer.currentRecord = next;
    ShowRecord(dialog, viewer, next);
}

// Everything an export of the shown records takes.
struct ViewerExport {
    uint32_t flags;
    bool averageKX125;
    int choice;
};

ViewerExport ExportChoice(const Viewer& viewer) {
    MutexLock guard(viewer.context.plumbing.lock);
    const uint32_t flags = viewer.context.exportFlags;
    return {flags, viewer.context.averageKX125, (flags & kExportAllRecords) != 0 ? kAllRecords : viewer.currentRecord};
}

ExportResult Export(const Viewer& viewer, const ViewerExport& choice, const std::string& path) {
    const ExportContext context =
        MakeExportContext(choice.flags, choice.averageKX125, viewer.context.records, CurrentLocale());
    return ExportRecords(context, path, choice.choice);
}

void Save(HWND dialog, const Viewer& viewer) {
    const ViewerExport choice = ExportChoice(viewer);
    const bool text = (choice.flags & kExportDescriptive) != 0;
    SaveExport(dialog, text ? messages::kMemoryTextFileName : messages::kMemoryCsvFileName, text,
               [&](const std::string& path) { return Export(viewer, choice, path); });
}

void Copy(HWND dialog, const Viewer& viewer) {
    const ViewerExport choice = ExportChoice(viewer);
    CopyExportToClipboard(dialog, [&] { return Export(viewer, choice, std::string()); });
}

bool Command(HWND dialog, Viewer& viewer, int id) {
    switch (id) {
        case IDC_FIRST_RECORD: Step(dialog, viewer, ViewerStep::First); return true;
        case IDC_PREVIOUS_RECORD: Step(dialog, viewer, ViewerStep::Previous); return true;
        case IDC_NEXT_RECORD: Step(dialog, viewer, ViewerStep::Next); return true;
        case IDC_LAST_RECORD: Step(dialog, viewer, ViewerStep::Last); return true;
        case IDC_OPTIONS: RunExportParametersDialog(dialog, viewer.context); return true;
        case IDC_SAVE: Save(dialog, viewer); return true;
        case IDC_COPY: Copy(dialog, viewer); return true;
        case IDC_CLOSE:
        case IDCANCEL:
        case IDOK: CloseReview(dialog, viewer.context); return true;
        default: return false;
    }
}

INT_PTR CALLBACK ViewerProcedure(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    Viewer* viewer = small_dialogs::StateOf<Viewer>(dialog, message, lParam);
    if (viewer == nullptr) return FALSE;
    switch (message) {
        case WM_INITDIALOG:
            Open(dialog, *viewer);
            return TRUE;
        case WM_COMMAND:
            return Command(dialog, *viewer, LOWORD(wParam)) ? TRUE : FALSE;
        case WM_CLOSE:
            CloseReview(dialog, viewer->context);
            return TRUE;
        case WM_HELP:
            return AnswerHelp(lParam, IDD_MEMORY_VIEWER);
        default:
            return FALSE;
    }
}

}  // namespace

INT_PTR RunMemoryViewer(HWND owner, AppContext& context) {
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_LISTVIEW_CLASSES};
    InitCommonControlsEx(&controls);
    Viewer viewer{context};
    const INT_PTR result = RunDialog(context, IDD_MEMORY_VIEWER, owner, ViewerProcedure, &viewer);
    if (viewer.images != nullptr) ImageList_Destroy(viewer.images);
    for (HICON icon : viewer.icons) DestroyIcon(icon);
    return result;
}

}  // namespace kx305mon
