#include "shell/program/export_save_dialog_win32.h"

#include <commdlg.h>

#include <cstring>

#include "program_win32.h"
#include "resources/messages.h"
#include "shell/export_parameters.h"

namespace kx305mon {

namespace {

constexpr DWORD kClipboardRetryMs = 100;
constexpr DWORD kClipboardRetryStepMs = 10;

void Tell(HWND owner, const char* text) { ShowMessage(owner, text, MB_ICONEXCLAMATION); }

void Tell(HWND owner, const ExportNotice& notice) {
    if (notice.text != nullptr) Tell(notice.owned ? owner : nullptr, notice.text);
}

bool OpenClipboardWithRetry(HWND owner) {
    const DWORD start = GetTickCount();
    while (!OpenClipboard(owner)) {
        if (GetTickCount() - start >= kClipboardRetryMs) return false;
        Sleep(kClipboardRetryStepMs);
    }
    return true;
}

// The whole file, zero-terminated, in a movable shareable block; null when
// the block cannot be had or the file not read.
HGLOBAL ReadIntoBlock(FileStream& file, bool& noMemory) {
    const int64_t size = file.Size();
    noMemory = false;
    if (size < 0) return nullptr;
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE | GMEM_SHARE, static_cast<SIZE_T>(size) + 1);
    if (block == nullptr) {
        noMemory = true;
        return nullptr;
    }
    char* bytes = static_cast<char*>(GlobalLock(block));
    int64_t done = 0;
    if (bytes != nullptr && file.SeekToStart()) {
        while (done < size) {
            const long got = file.Read(bytes + done, static_cast<size_t>(size - done));
            if (got <= 0) break;
            done += got;
        }
    }
    if (bytes != nullptr) bytes[done] = '\0';
    GlobalUnlock(block);
    if (bytes == nullptr || done != size) {
        GlobalFree(block);
        return nullptr;
    }
    return block;
}

}  // namespace

bool ChooseExportFile(HWND owner, char (&path)[260], bool textLayout) {
    OPENFILENAMEA dialog = {};
    dialog.lStructSize = sizeof dialog;
    dialog.hwndOwner = owner;
    dialog.lpstrFilter = textLayout ? messages::kTextExportFileTypes : messages::kCsvExportFileTypes;
    dialog.nFilterIndex = 1;
    dialog.lpstrFile = path;
    dialog.nMaxFile = sizeof path;
    dialog.lpstrTitle = textLayout ? messages::kChooseTextExportTitle : messages::kChooseCsvExportTitle;
    dialog.lpstrDefExt = textLayout ? messages::kTextExportExtension : messages::kCsvExportExtension;
    dialog.Flags = OFN_EXPLORER | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT;
    return GetSaveFileNameA(&dialog) != FALSE;
}

void CopyExportToClipboard(HWND owner, const std::function<ExportResult()>& exportInto) {
    ExportResult result = exportInto();
    const ExportCopyStep step = AfterCopyExport(result.file != nullptr, result.written);
    Tell(owner, step.notice);
    if (!step.copy) return;
    bool noMemory = false;
    HGLOBAL block = ReadIntoBlock(*result.file, noMemory);
    result.file.reset();  // the temporary file goes
    if (block == nullptr) {
        Tell(owner, noMemory ? messages::kNoMemory : messages::kClipboardCopyFailed);
        return;
    }
    if (!OpenClipboardWithRetry(owner)) {
        GlobalFree(block);
        Tell(owner, messages::kClipboardUnavailable);
        return;
    }
    EmptyClipboard();
    const bool taken = SetClipboardData(CF_TEXT, block) != nullptr;
    CloseClipboard();
    if (!taken) {
        GlobalFree(block);
        Tell(owner, messages::kClipboardCopyFailed);
    }
}

void SaveExport(HWND owner, const char* proposedName, bool textLayout,
                const std::function<ExportResult(const std::string& path)>& exportInto) {
    char path[260] = {};
    std::strncpy(path, proposedName, sizeof path - 1);
    if (!ChooseExportFile(owner, path, textLayout)) return;
    const ExportResult result = exportInto(path);
    Tell(owner, AfterSaveExport(result.file != nullptr, result.written));
}

}  // namespace kx305mon
