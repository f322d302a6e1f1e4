// "Velmor - promocja QMV" (157), shown at start-up while SHOW_QMV is set:
// our promotion document (resource 240/157, RTF) in rich edit 1075 and, when
// it can be read, the file d:\qmv.rtf in rich edit 1054.  "Zamknij" ends with
// 1, closing with 0; the line under the boxes does nothing.
#include <windows.h>

#include <richedit.h>

#include <cstdio>
#include <cstring>

#include "resources/resource.h"
#include "shell/program/dialog_frame_win32.h"
#include "shell/program/dialogs.h"

namespace kx305mon {
namespace {

constexpr char kPromotionFile[] = "d:\\qmv.rtf";

// A block of memory handed to the rich edit in the pieces it asks for.
struct MemoryStream {
    const char* data;
    size_t left;
};

DWORD CALLBACK FromMemory(DWORD_PTR cookie, LPBYTE buffer, LONG wanted, LONG* given) {
    MemoryStream& stream = *reinterpret_cast<MemoryStream*>(cookie);
    const size_t count = stream.left < static_cast<size_t>(wanted) ? stream.left : static_cast<size_t>(wanted);
    std::memcpy(buffer, stream.data, count);
    stream.data += count;
    stream.left -= count;
    *given = static_cast<LONG>(count);
    return 0;
}

DWORD CALLBACK FromFile(DWORD_PTR cookie, LPBYTE buffer, LONG wanted, LONG* given) {
    *given = static_cast<LONG>(std::fread(buffer, 1, static_cast<size_t>(wanted), reinterpret_cast<FILE*>(cookie)));
    return 0;
}

void StreamRtf(HWND dialog, int id, EDITSTREAMCALLBACK callback, DWORD_PTR cookie) {
    EDITSTREAM stream{};
    stream.dwCookie = cookie;
    stream.pfnCallback = callback;
    SendDlgItemMessageA(dialog, id, EM_STREAMIN, SF_RTF, reinterpret_cast<LPARAM>(&stream));
}

void ShowDocument(HWND dialog, HINSTANCE module) {
    HRSRC found =
        FindResourceA(module, MAKEINTRESOURCEA(IDR_PROMOTION_DOCUMENT), MAKEINTRESOURCEA(RT_PROMOTION_DOCUMENT));
    HGLOBAL loaded = found != nullptr ? LoadResource(module, found) : nullptr;
    const void* data = loaded != nullptr ? LockResource(loaded) : nullptr;
    if (data == nullptr) return;
    MemoryStream stream{static_cast<const char*>(data), SizeofResource(module, found)};
    StreamRtf(dialog, IDC_PROMOTION_VIEW, FromMemory, reinterpret_cast<DWORD_PTR>(&stream));
}

// A missing or unreadable file is not reported: the box stays empty.
void ShowPromotionFile(HWND dialog) {
    FILE* file = std::fopen(kPromotionFile, "rb");
    if (file == nullptr) return;
    StreamRtf(dialog, IDC_PROMOTION_FILE, FromFile, reinterpret_cast<DWORD_PTR>(file));
    std::fclose(file);
}

// "Zamknij" (1) is the template's OK; the dialog has no context help.
class PromotionDialog final : public DialogFrame {
public:
    explicit PromotionDialog(AppContext& context) : DialogFrame(context, false) {}

private:
    void Open(HWND dialog) override {
        ShowDocument(dialog, TemplateModule(&Context()));
        ShowPromotionFile(dialog);
    }
};

}  // namespace

INT_PTR RunPromotionDialog(HWND owner, AppContext& context) {
    // The template's rich edits are of the riched20 class.
    HMODULE richEdit = LoadLibraryA("riched20.dll");
    PromotionDialog dialog(context);
    const INT_PTR result = dialog.Run(owner, IDD_PROMOTION);
    if (richEdit != nullptr) FreeLibrary(richEdit);
    return result;
}

}  // namespace kx305mon
