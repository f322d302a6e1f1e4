// Flicker-free static texts: the program takes over the window procedure of
// the system's static control class.  A new text is painted at once into an
// off-screen bitmap and copied to the control in one step; the text is also
// kept as the control's own, so that WM_GETTEXT returns what is shown and a
// control that is uncovered paints the current text the same way.
#include <string>

#include "program_win32.h"

namespace kx305mon {

namespace {

WNDPROC previousProcedure = nullptr;
HWND probeWindow = nullptr;
// Marks a control whose text this procedure painted: from then on it also
// paints the control when it is uncovered.  Others (texts set before their
// window showed, such as a message box's) keep the control's own painting.
constexpr char kPaintedProperty[] = "KX305Painted";

bool IsTextStatic(HWND window) {
    switch (GetWindowLongPtrA(window, GWL_STYLE) & SS_TYPEMASK) {
    case SS_LEFT:
    case SS_CENTER:
    case SS_RIGHT:
    case SS_LEFTNOWORDWRAP:
    case SS_SIMPLE:
        return true;
    default:
        return false;
    }
}

UINT DrawFlags(HWND window) {
    const LONG_PTR style = GetWindowLongPtrA(window, GWL_STYLE);
    UINT flags = DT_TOP;
    const LONG_PTR type = style & SS_TYPEMASK;
    if (type == SS_CENTER) {
        flags |= DT_CENTER;
    } else if (type == SS_RIGHT) {
        flags |= DT_RIGHT;
    } else {
        flags |= DT_LEFT;
    }
    if (style & SS_NOPREFIX) flags |= DT_NOPREFIX;
    if (style & SS_CENTERIMAGE) flags |= DT_VCENTER;
    return flags;
}

// Paints `text` over the whole client area of `window` into `target`.
void PaintText(HWND window, HDC target, const char* text, int length) {
    RECT client;
    GetClientRect(window, &client);
    if (client.right <= 0 || client.bottom <= 0) return;
    HDC memory = CreateCompatibleDC(target);
    HBITMAP bitmap = CreateCompatibleBitmap(target, client.right, client.bottom);
    HGDIOBJ oldBitmap = SelectObject(memory, bitmap);
    FillRect(memory, &client, GetSysColorBrush(COLOR_3DFACE));
    HGDIOBJ oldFont = SelectObject(memory, GetStockObject(DEFAULT_GUI_FONT));
    SetBkMode(memory, TRANSPARENT);
    SetTextColor(memory, GetSysColor(COLOR_WINDOWTEXT));
    DrawTextA(memory, text, length, &client, DrawFlags(window));
    BitBlt(target, 0, 0, client.right, client.bottom, memory, 0, 0, SRCCOPY);
    SelectObject(memory, oldFont);
    SelectObject(memory, oldBitmap);
    DeleteObject(bitmap);
    DeleteDC(memory);
}

std::string StoredText(HWND window) {
    std::string text(static_cast<size_t>(GetWindowTextLengthA(window)) + 1, '\0');
    const int length = GetWindowTextA(window, text.data(), static_cast<int>(text.size()));
    text.resize(length > 0 ? static_cast<size_t>(length) : 0);
    return text;
}

LRESULT CALLBACK StaticProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (!IsTextStatic(window)) return CallWindowProcA(previousProcedure, window, message, wParam, lParam);
    switch (message) {
    case WM_SETTEXT: {
        // Kept as the window's text without the control's own repaint.
        const LRESULT stored = DefWindowProcA(window, WM_SETTEXT, wParam, lParam);
        if (IsWindowVisible(window)) {
            const char* text = lParam != 0 ? reinterpret_cast<const char*>(lParam) : "";
            HDC dc = GetDC(window);
            PaintText(window, dc, text, -1);
            ReleaseDC(window, dc);
            SetPropA(window, kPaintedProperty, reinterpret_cast<HANDLE>(1));
        }
        return stored;
    }
    case WM_ERASEBKGND:
        if (GetPropA(window, kPaintedProperty) == nullptr) break;
        return 1;  // WM_PAINT covers every pixel
    case WM_NCDESTROY:
        RemovePropA(window, kPaintedProperty);
        break;
    case WM_PAINT: {
        if (GetPropA(window, kPaintedProperty) == nullptr) break;
        PAINTSTRUCT paint;
        HDC dc = BeginPaint(window, &paint);
        const std::string text = StoredText(window);
        PaintText(window, dc, text.c_str(), static_cast<int>(text.size()));
        EndPaint(window, &paint);
        return 0;
    }
    default:
        break;
    }
    return CallWindowProcA(previousProcedure, window, message, wParam, lParam);
}

}  // namespace

bool InstallStaticPainting(HINSTANCE instance) {
    if (probeWindow != nullptr) return true;
    // A window of the class is the only way to reach the class's procedure.
    probeWindow = CreateWindowExA(0, "STATIC", "STATIC Test", 0, 0, 0, 50, 50, nullptr, nullptr, instance, nullptr);
    if (probeWindow == nullptr) return false;
    previousProcedure = reinterpret_cast<WNDPROC>(
        SetClassLongPtrA(probeWindow, GCLP_WNDPROC, reinterpret_cast<LONG_PTR>(&StaticProcedure)));
    return previousProcedure != nullptr;
}

void RemoveStaticPainting() {
    if (probeWindow == nullptr) return;
    if (previousProcedure != nullptr)
        SetClassLongPtrA(probeWindow, GCLP_WNDPROC, reinterpret_cast<LONG_PTR>(previousProcedure));
    DestroyWindow(probeWindow);
    probeWindow = nullptr;
    previousProcedure = nullptr;
}

}  // namespace kx305mon
