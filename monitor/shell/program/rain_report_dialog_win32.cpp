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

class Report final : public ReviewDialog {
public:
    Report(AppContext& context, SettingsStore& settings)
        : ReviewDialog(context, settings, RunRainExportParametersDialog) {}

private:
    void Open(HWND dialog) override {
        HWND list = GetDlgItem(dialog, IDC_RECORD_LIST);
        images_ = SetUpStatusList(list, kColumns);
        const int count = ReadRecordsForReview(Context());
        if (count == kReadOutOfMemory) {
            RefuseReviewForMemory(dialog, Context());
            return;
        }
        if (count == 0) return;
        RainInterval interval;
        {
            MutexLock guard(Context().plumbing.lock);
            interval = static_cast<RainInterval>(Context().rainReportInterval);
        }
        rows_ = BuildRainReport(Context().records, interval);
        const std::vector<RainListRow> shown = RainListRows(rows_);
        for (size_t i = 0; i < shown.size(); ++i) {
            const int at = AppendListRow(list, static_cast<int>(i), shown[i].label, shown[i].image);
            SetListCell(list, at, 1, shown[i].amount);
            SetListCell(list, at, 2, shown[i].status);
        }
        EnableWindow(list, TRUE);
        if (!shown.empty()) SendMessageA(list, LVM_ENSUREVISIBLE, shown.size() - 1, FALSE);
    }

    ExportResult Export(uint32_t flags, const std::string& path) const {
        const ExportContext context = MakeExportContext(flags, true, Context().records, CurrentLocale());
        return ExportRainReport(context, path, rows_);
    }

    uint32_t Flags() const {
        MutexLock guard(Context().plumbing.lock);
        return Context().exportFlags;
    }

    void Save(HWND dialog) override {
        const uint32_t flags = Flags();
        const bool text = (flags & kExportDescriptive) != 0;
        SaveExport(dialog, text ? messages::kRainTextFileName : messages::kRainCsvFileName, text,
                   [&](const std::string& path) { return Export(flags, path); });
    }

    void Copy(HWND dialog) override {
        const uint32_t flags = Flags();
        CopyExportToClipboard(dialog, [&] { return Export(flags, std::string()); });
    }

    std::vector<RainReportRow> rows_{};
};

}  // namespace

INT_PTR RunRainReport(HWND owner, AppContext& context, SettingsStore& settings) {
    return RunDialog<Report>(owner, IDD_RAIN_REPORT, context, settings);
}

}  // namespace kx305mon
