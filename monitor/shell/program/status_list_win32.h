// What the memory viewer (104) and the rain report (127) share: a report
// list view with the status images of bitmaps 109/110 and columns sized in
// dialog units, "Zapisz", "Kopiuj", "Opcje" and the closing of a review.
// Windows build only.
#pragma once

#include <windows.h>

#include <commctrl.h>

#include <mutex>
#include <string>

#include "acquisition/app_context.h"
#include "resources/messages.h"
#include "resources/resource.h"
#include "shell/program/dialog_frame_win32.h"
#include "shell/program/program_win32.h"
#include "shell/settings_store.h"

namespace kx305mon {

struct ListColumn {
    const char* title;
    int format;  // LVCFMT_*
    int width;   // dialog units
};

// Full-row selection, the small-icon image list of 16 x 16 status images
// (returned: the caller destroys it after the dialog) and the columns.
template <size_t N>
HIMAGELIST SetUpStatusList(HWND list, const ListColumn (&columns)[N]) {
    constexpr int kIconSize = 16;
    HIMAGELIST images = ImageList_Create(kIconSize, kIconSize, ILC_COLOR24 | ILC_MASK, 2, 0);
    HINSTANCE module = GetModuleHandleA(nullptr);
    HBITMAP bitmap = LoadBitmapA(module, MAKEINTRESOURCEA(IDB_STATUS_IMAGES));
    HBITMAP mask = LoadBitmapA(module, MAKEINTRESOURCEA(IDB_STATUS_MASK));
    ImageList_Add(images, bitmap, mask);
    DeleteObject(bitmap);
    DeleteObject(mask);
    SendMessageA(list, LVM_SETIMAGELIST, LVSIL_SMALL, reinterpret_cast<LPARAM>(images));
    SendMessageA(list, LVM_SETEXTENDEDLISTVIEWSTYLE, LVS_EX_FULLROWSELECT, LVS_EX_FULLROWSELECT);
    const int baseUnit = LOWORD(GetDialogBaseUnits());
    for (size_t index = 0; index < N; ++index) {
        LVCOLUMNA item = {};
        item.mask = LVCF_TEXT | LVCF_FMT | LVCF_WIDTH | LVCF_SUBITEM;
        item.fmt = columns[index].format;
        item.cx = columns[index].width * baseUnit / 4;
        item.pszText = const_cast<char*>(columns[index].title);
        item.iSubItem = static_cast<int>(index);
        SendMessageA(list, LVM_INSERTCOLUMNA, index, reinterpret_cast<LPARAM>(&item));
    }
    return images;
}

// A row at the end of the list with its first cell and image; its index.
inline int AppendListRow(HWND list, int row, const std::string& text, int image, LPARAM data = 0) {
    LVITEMA item = {};
    item.mask = LVIF_TEXT | LVIF_IMAGE | LVIF_PARAM;
    item.iItem = row;
    item.pszText = const_cast<char*>(text.c_str());
    item.iImage = image;
    item.lParam = data;
    return static_cast<int>(SendMessageA(list, LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&item)));
}

inline void SetListCell(HWND list, int row, int column, const std::string& text) {
    LVITEMA item = {};
    item.iSubItem = column;
    item.pszText = const_cast<char*>(text.c_str());
    SendMessageA(list, LVM_SETITEMTEXTA, row, reinterpret_cast<LPARAM>(&item));
}

// Frees the records and withdraws only what this dialog asked of the
// converter (a download of the recording timer goes on), then ends it.
inline void CloseReview(HWND dialog, AppContext& context) {
    {
        MutexLock guard(context.plumbing.lock);
        FreeRecordList(context.records);
    }
    WithdrawRequest(context, RequesterOf(dialog));
    EndDialog(dialog, 0);
}

// A file whose records do not fit in the memory is refused: the message,
// then the review ends, and the program goes on without it.
inline void RefuseReviewForMemory(HWND dialog, AppContext& context) {
    ShowMessage(GetWindow(dialog, GW_OWNER), messages::kNoMemory, MB_ICONEXCLAMATION);
    CloseReview(dialog, context);
}

// A review on the dialog frame: every way out of it (OK, Cancel, "Zamknij",
// the close box) closes the review.
class ReviewDialog : public DialogFrame {
public:
    // `options`: the export options' dialog of this review, saving into
    // `settings`.  Registers the list view's window class for the template.
    ReviewDialog(AppContext& context, SettingsStore& settings, INT_PTR (*options)(HWND, AppContext&, SettingsStore&))
        : DialogFrame(context), settings_(settings), options_(options) {
        INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_LISTVIEW_CLASSES};
        InitCommonControlsEx(&controls);
    }
    ~ReviewDialog() override {
        if (images_ != nullptr) ImageList_Destroy(images_);
    }

protected:
    virtual void Save(HWND dialog) = 0;
    virtual void Copy(HWND dialog) = 0;

    void Accept(HWND dialog) override { CloseReview(dialog, Context()); }
    void Cancel(HWND dialog) override { CloseReview(dialog, Context()); }
    bool Command(HWND dialog, int id, int) override {
        switch (id) {
        case IDC_SAVE:
            Save(dialog);
            return true;
        case IDC_COPY:
            Copy(dialog);
            return true;
        case IDC_OPTIONS:
            options_(dialog, Context(), settings_);
            return true;
        case IDC_CLOSE:
            CloseReview(dialog, Context());
            return true;
        default:
            return false;
        }
    }

    HIMAGELIST images_ = nullptr;  // the list's, set up by Open

private:
    SettingsStore& settings_;
    INT_PTR (*const options_)(HWND, AppContext&, SettingsStore&);
};

}  // namespace kx305mon
