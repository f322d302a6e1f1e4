// "Raport opadów" (127): the rain amounts per interval of the chosen
// registration file, with save, copy and the export options.  The rows are
// the recording core's (BuildRainReport); their texts and images
// rain_review.h's.
#include <windows.h>

#include <commctrl.h>

#include <mutex>
#include <string>
#include <vector>

#include "recording/export.h"
#include "recording/rain_report.h"
#include "resources/messages.h"
#include "resources/resource.h"
#include "shell/memory_review.h"
#include "shell/program/dialog_frame_win32.h"
#include "shell/program/dialogs.h"
#include "shell/program/export_save_dialog_win32.h"
#include "shell/program/status_list_win32.h"
#include "shell/rain_review.h"

namespace kx305mon {

namespace {

constexpr ListColumn kColumns[] = {
    {"Data i czas", LVCFMT_LEFT, 100},
    {"Wynik [mm]", LVCFMT_RIGHT, 35},
    {"Status", LVCFMT_LEFT, 100},
};

struct Report {
    AppContext& context;
    std::vector<RainReportRow> rows{};
    HIMAGELIST images = nullptr;
};

void Open(HWND dialog, Report& report) {
    HWND list = GetDlgItem(dialog, IDC_RECORD_LIST);
    report.images = SetUpStatusList(list, kColumns);
    const int count = ReadRecordsForReview(report.context);
    if (count == kReadOutOfMemory) {
        RefuseReviewForMemory(dialog, report.context);
        return;
    }
    if (count == 0) return;
    RainInterval interval;
    {
        MutexLock guard(report.context.plumbing.lock);
        interval = static_cast<RainInterval>(report.context.rainReportInterval);
    }
    report.rows = BuildRainReport(report.context.records, interval);
    const std::vector<RainListRow> shown = RainListRows(report.rows);
    for (size_t i = 0; i < shown.size(); ++i) {
        const int at = AppendListRow(list, static_cast<int>(i), shown[i].label, shown[i].image);
        SetListCell(list, at, 1, shown[i].amount);
        SetListCell(list, at, 2, shown[i].status);
    }
    EnableWindow(list, TRUE);
    if (!shown.empty()) SendMessageA(list, LVM_ENSUREVISIBLE, shown.size() - 1, FALSE);
}

ExportResult Export(const Report& report, uint32_t flags, const std::string& path) {
    const ExportContext context = MakeExportContext(flags, true, report.context.records, CurrentLocale());
    return ExportRainReport(context, path, report.rows);
}

uint32_t Flags(const Report& report) {
    MutexLock guard(report.context.plumbing.lock);
    return report.context.exportFlags;
}

void Save(HWND dialog, const Report& report) {
    const uint32_t flags = Flags(report);
    const bool text = (flags & kExportDescriptive) != 0;
    SaveExport(dialog, text ? messages::kRainTextFileName : messages::kRainCsvFileName, text,
               [&](const std::string& path) { return Export(report, flags, path); });
}

void Copy(HWND dialog, const Report& report) {
    const uint32_t flags = Flags(report);
    CopyExportToClipboard(dialog, [&] { return Export(report, flags, std::string()); });
}

INT_PTR CALLBACK ReportProcedure(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    Report* report = small_dialogs::StateOf<Report>(dialog, message, lParam);
    if (report == nullptr) return FALSE;
    switch (message) {
        case WM_INITDIALOG:
            Open(dialog, *report);
            return TRUE;
        case WM_COMMAND:
            switch (LOWORD(wParam)) {
                case IDC_SAVE: Save(dialog, *report); return TRUE;
                case IDC_COPY: Copy(dialog, *report); return TRUE;
                case IDC_OPTIONS: RunRainExportParametersDialog(dialog, report->context); return TRUE;
                case IDC_CLOSE:
                case IDCANCEL:
                case IDOK: CloseReview(dialog, report->context); return TRUE;
                default: return FALSE;
            }
        case WM_CLOSE:
            CloseReview(dialog, report->context);
            return TRUE;
        case WM_HELP:
            return AnswerHelp(lParam, IDD_RAIN_REPORT);
        default:
            return FALSE;
    }
}

}  // namespace

INT_PTR RunRainReport(HWND owner, AppContext& context) {
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_LISTVIEW_CLASSES};
    InitCommonControlsEx(&controls);
    Report report{context};
    const INT_PTR result = RunDialog(context, IDD_RAIN_REPORT, owner, ReportProcedure, &report);
    if (report.images != nullptr) ImageList_Destroy(report.images);
    return result;
}

}  // namespace kx305mon
