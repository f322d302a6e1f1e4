// Windows and controls of another process: finding, listing, clicking,
// typing, combo boxes, list views, progress bars, up-downs, message boxes.
#include "internal.h"

#include <commctrl.h>

#include <thread>

namespace kx305::ui {

using namespace detail;

std::string WindowText(HWND window) {
    const auto length = Send(window, WM_GETTEXTLENGTH, 0, 0);
    if (!length) return "";
    std::string text(static_cast<size_t>(*length) + 1, '\0');
    const auto copied = Send(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()));
    text.resize(copied ? static_cast<size_t>(*copied) : 0);
    return text;
}

std::string WindowClass(HWND window) {
    char name[256] = {};
    const int n = GetClassNameA(window, name, sizeof name);
    return std::string(name, n > 0 ? n : 0);
}

namespace {

bool Matches(HWND window, const WindowQuery& q) {
    if (q.visible && !IsWindowVisible(window)) return false;
    if (q.processId) {
        DWORD pid = 0;
        GetWindowThreadProcessId(window, &pid);
        if (pid != q.processId) return false;
    }
    if (!q.className.empty() && WindowClass(window) != q.className) return false;
    // GetWindowText, not WM_GETTEXT: a hung program must not stall the search.
    if (!q.title.empty()) {
        char title[1024] = {};
        const int n = GetWindowTextA(window, title, sizeof title);
        if (std::string(title, n > 0 ? n : 0) != q.title) return false;
    }
    return true;
}

}  // namespace

std::vector<HWND> FindWindows(const WindowQuery& query) {
    struct Search {
        const WindowQuery* query;
        std::vector<HWND> found;
    } search{&query, {}};
    EnumWindows(
        [](HWND window, LPARAM context) -> BOOL {
            auto* s = reinterpret_cast<Search*>(context);
            if (Matches(window, *s->query)) s->found.push_back(window);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
}

std::optional<HWND> WaitForWindow(const WindowQuery& query, Milliseconds timeout) {
    const Deadline deadline(timeout);
    for (;;) {
        const std::vector<HWND> found = FindWindows(query);
        if (!found.empty()) return found.front();
        if (deadline.Passed()) break;
        PumpWhileWaiting(kPollStep);
    }
    Fail("no window titled \"" + query.title + "\"" + (query.className.empty() ? "" : " of class " + query.className) +
         " within " + std::to_string(timeout.count()) + " ms");
    return std::nullopt;
}

bool WaitForNoWindow(const WindowQuery& query, Milliseconds timeout) {
    const Deadline deadline(timeout);
    while (!FindWindows(query).empty()) {
        if (deadline.Passed()) return Fail("the window \"" + query.title + "\" is still there");
        PumpWhileWaiting(kPollStep);
    }
    return true;
}

ControlInfo Describe(HWND control) {
    ControlInfo c;
    c.hwnd = control;
    c.parent = GetParent(control);
    c.id = GetDlgCtrlID(control);
    c.className = WindowClass(control);
    c.text = WindowText(control);
    c.visible = IsWindowVisible(control) != FALSE;
    c.enabled = IsWindowEnabled(control) != FALSE;
    if (c.className == WC_BUTTONA || c.className == "Button") {
        const LONG type = GetWindowLongA(control, GWL_STYLE) & BS_TYPEMASK;
        const bool checkable = type == BS_CHECKBOX || type == BS_AUTOCHECKBOX || type == BS_3STATE ||
                               type == BS_AUTO3STATE || type == BS_RADIOBUTTON || type == BS_AUTORADIOBUTTON;
        if (checkable) {
            const auto state = Send(control, BM_GETCHECK, 0, 0);
            if (state) c.checked = static_cast<int>(*state);
        }
    }
    return c;
}

std::vector<ControlInfo> ListControls(HWND window) {
    std::vector<ControlInfo> controls;
    // EnumChildWindows walks every descendant, children first in Z order,
    // each followed by its own descendants.
    EnumChildWindows(
        window,
        [](HWND child, LPARAM context) -> BOOL {
            reinterpret_cast<std::vector<ControlInfo>*>(context)->push_back(Describe(child));
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&controls));
    return controls;
}

std::optional<HWND> FindControl(HWND window, int id, const std::string& className) {
    for (const ControlInfo& c : ListControls(window))
        if (c.id == id && (className.empty() || c.className == className)) return c.hwnd;
    Fail("no control " + std::to_string(id) + (className.empty() ? "" : " of class " + className));
    return std::nullopt;
}

bool Click(HWND control) {
    if (!IsWindow(control)) return Fail("no such control");
    if (!IsWindowVisible(control)) return Fail("control " + std::to_string(GetDlgCtrlID(control)) + " is hidden");
    if (!IsWindowEnabled(control)) return Fail("control " + std::to_string(GetDlgCtrlID(control)) + " is disabled");
    return PostMessageA(control, BM_CLICK, 0, 0) || FailWin32("PostMessage BM_CLICK");
}

bool PostCommand(HWND window, int id, int notification, HWND control) {
    return PostMessageA(window, WM_COMMAND, MAKEWPARAM(id, notification), reinterpret_cast<LPARAM>(control)) ||
           FailWin32("PostMessage WM_COMMAND");
}

bool WaitUntil(const std::function<bool()>& done, Milliseconds timeout) {
    const Deadline deadline(timeout);
    while (!done()) {
        if (deadline.Passed())
            return Fail("the condition did not come true within " + std::to_string(timeout.count()) + " ms");
        PumpWhileWaiting(kPollStep);
    }
    return true;
}

bool WaitForText(HWND window, const std::string& text, Milliseconds timeout) {
    std::string seen;
    if (WaitUntil([&] { return (seen = WindowText(window)) == text; }, timeout)) return true;
    return Fail("the text stayed \"" + seen + "\", not \"" + text + "\"");
}

bool SetEditText(HWND edit, const std::string& text) {
    if (!IsWindowEnabled(edit)) return Fail("the edit is disabled");
    const auto set = Send(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
    if (!set) return false;
    if (!*set) return Fail("WM_SETTEXT refused");
    if (GetWindowLongA(edit, GWL_STYLE) & ES_MULTILINE) {
        const HWND parent = GetParent(edit);
        if (!Send(parent, WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(edit), EN_CHANGE), reinterpret_cast<LPARAM>(edit)))
            return false;
    }
    return true;
}

bool TypeChars(HWND edit, const std::string& text, bool replace) {
    if (!IsWindowEnabled(edit)) return Fail("the edit is disabled");
    // Replacing selects everything; appending puts the caret at the end.
    const auto length = Send(edit, WM_GETTEXTLENGTH, 0, 0);
    if (!length || !Send(edit, EM_SETSEL, replace ? 0 : *length, *length)) return false;
    // Sent, not posted: each character has been handled when the call
    // returns, so the caller can read the result at once.
    for (const char c : text)
        if (!Send(edit, WM_CHAR, static_cast<unsigned char>(c), 1)) return false;
    return true;
}

namespace {

std::string ToAnsi(const std::wstring& wide) {
    if (wide.empty()) return "";
    const int n =
        WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(wide.size()), out.data(), n, nullptr, nullptr);
    return out;
}

std::optional<LRESULT> SendWide(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutW(window, message, wParam, lParam, SMTO_NORMAL | SMTO_ABORTIFHUNG, kSendTimeoutMs,
                             &result)) {
        FailWin32("message " + std::to_string(message) + " not answered");
        return std::nullopt;
    }
    return static_cast<LRESULT>(result);
}

}  // namespace

std::optional<std::vector<std::string>> ComboEntries(HWND combo) {
    // The entries are read in UTF-16 and converted here: Wine 8 hands an
    // ANSI caller of another process the UTF-16 bytes of CB_GETLBTEXT.
    const auto count = Send(combo, CB_GETCOUNT, 0, 0);
    if (!count) return std::nullopt;
    if (*count < 0) {
        Fail("CB_GETCOUNT failed");
        return std::nullopt;
    }
    std::vector<std::string> entries;
    for (LRESULT i = 0; i < *count; ++i) {
        const auto length = SendWide(combo, CB_GETLBTEXTLEN, i, 0);
        if (!length || *length < 0) {
            Fail("CB_GETLBTEXTLEN failed for entry " + std::to_string(i));
            return std::nullopt;
        }
        std::wstring text(static_cast<size_t>(*length) + 1, L'\0');
        const auto copied = SendWide(combo, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(text.data()));
        if (!copied || *copied < 0) {
            Fail("CB_GETLBTEXT failed for entry " + std::to_string(i));
            return std::nullopt;
        }
        text.resize(static_cast<size_t>(*copied));
        entries.push_back(ToAnsi(text));
    }
    return entries;
}

std::optional<int> ComboSelection(HWND combo) {
    const auto selection = Send(combo, CB_GETCURSEL, 0, 0);
    if (!selection) return std::nullopt;
    return static_cast<int>(*selection);
}

bool PickComboIndex(HWND combo, int index) {
    if (!IsWindowEnabled(combo)) return Fail("the combo box is disabled");
    const auto set = Send(combo, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
    if (!set) return false;
    if (*set != index) return Fail("the combo box has no entry " + std::to_string(index));
    const auto sent = Send(GetParent(combo), WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(combo), CBN_SELCHANGE),
                           reinterpret_cast<LPARAM>(combo));
    return sent.has_value();
}

bool PickComboText(HWND combo, const std::string& text) {
    const auto entries = ComboEntries(combo);
    if (!entries) return false;
    for (size_t i = 0; i < entries->size(); ++i)
        if ((*entries)[i] == text) return PickComboIndex(combo, static_cast<int>(i));
    return Fail("the combo box has no entry \"" + text + "\"");
}

namespace {

// A block of memory in another process, freed with the object.
class RemoteBlock {
public:
    RemoteBlock(HANDLE process, size_t size) : process_(process), size_(size) {
        address_ = VirtualAllocEx(process, nullptr, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
    }
    ~RemoteBlock() {
        if (address_) VirtualFreeEx(process_, address_, 0, MEM_RELEASE);
    }
    RemoteBlock(const RemoteBlock&) = delete;
    RemoteBlock& operator=(const RemoteBlock&) = delete;

    bool valid() const { return address_ != nullptr; }
    char* at(size_t offset) const { return static_cast<char*>(address_) + offset; }
    bool Write(size_t offset, const void* data, size_t n) const {
        SIZE_T written = 0;
        return offset + n <= size_ && WriteProcessMemory(process_, at(offset), data, n, &written) && written == n;
    }
    bool Read(size_t offset, void* data, size_t n) const {
        SIZE_T read = 0;
        return offset + n <= size_ && ReadProcessMemory(process_, at(offset), data, n, &read) && read == n;
    }

private:
    HANDLE process_;
    size_t size_;
    void* address_ = nullptr;
};

class OwnerProcess {
public:
    explicit OwnerProcess(HWND window) {
        DWORD pid = 0;
        GetWindowThreadProcessId(window, &pid);
        handle_ = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE | PROCESS_QUERY_INFORMATION,
                              FALSE, pid);
    }
    ~OwnerProcess() {
        if (handle_) CloseHandle(handle_);
    }
    OwnerProcess(const OwnerProcess&) = delete;
    OwnerProcess& operator=(const OwnerProcess&) = delete;
    HANDLE handle() const { return handle_; }

private:
    HANDLE handle_ = nullptr;
};

constexpr size_t kTextCapacity = 1024;

}  // namespace

std::optional<ListViewContent> ReadListView(HWND listView) {
    OwnerProcess owner(listView);
    if (!owner.handle()) {
        FailWin32("OpenProcess of the list view's owner");
        return std::nullopt;
    }
    // Layout of the block: the structure, then the text buffer.
    constexpr size_t kStructure = 256;
    static_assert(sizeof(LVITEMA) <= kStructure && sizeof(LVCOLUMNA) <= kStructure);
    RemoteBlock block(owner.handle(), kStructure + kTextCapacity);
    if (!block.valid()) {
        FailWin32("VirtualAllocEx");
        return std::nullopt;
    }
    char* remoteText = block.at(kStructure);
    auto readText = [&](std::string& out) {
        char text[kTextCapacity] = {};
        if (!block.Read(kStructure, text, sizeof text)) return false;
        text[kTextCapacity - 1] = '\0';
        out = text;
        return true;
    };

    ListViewContent content;
    const HWND header = reinterpret_cast<HWND>(Send(listView, LVM_GETHEADER, 0, 0).value_or(0));
    const int columns = header ? static_cast<int>(Send(header, HDM_GETITEMCOUNT, 0, 0).value_or(0)) : 0;
    for (int c = 0; c < columns; ++c) {
        LVCOLUMNA column{};
        column.mask = LVCF_TEXT | LVCF_WIDTH;
        column.pszText = remoteText;
        column.cchTextMax = static_cast<int>(kTextCapacity);
        if (!block.Write(0, &column, sizeof column) || !block.Write(kStructure, "", 1)) {
            FailWin32("WriteProcessMemory");
            return std::nullopt;
        }
        const auto ok = Send(listView, LVM_GETCOLUMNA, c, reinterpret_cast<LPARAM>(block.at(0)));
        if (!ok || !*ok || !block.Read(0, &column, sizeof column)) {
            Fail("LVM_GETCOLUMN failed for column " + std::to_string(c));
            return std::nullopt;
        }
        ListViewColumn out;
        out.width = column.cx;
        if (!readText(out.text)) {
            FailWin32("ReadProcessMemory");
            return std::nullopt;
        }
        content.columns.push_back(std::move(out));
    }

    const auto rows = Send(listView, LVM_GETITEMCOUNT, 0, 0);
    if (!rows) return std::nullopt;
    const int cellCount = columns > 0 ? columns : 1;
    for (int r = 0; r < *rows; ++r) {
        ListViewRow row;
        for (int s = 0; s < cellCount; ++s) {
            LVITEMA item{};
            item.mask = LVIF_TEXT | (s == 0 ? LVIF_IMAGE | LVIF_STATE : 0);
            item.iItem = r;
            item.iSubItem = s;
            item.stateMask = LVIS_SELECTED;
            item.pszText = remoteText;
            item.cchTextMax = static_cast<int>(kTextCapacity);
            if (!block.Write(0, &item, sizeof item) || !block.Write(kStructure, "", 1)) {
                FailWin32("WriteProcessMemory");
                return std::nullopt;
            }
            const auto ok = Send(listView, LVM_GETITEMA, 0, reinterpret_cast<LPARAM>(block.at(0)));
            if (!ok || !*ok || !block.Read(0, &item, sizeof item)) {
                Fail("LVM_GETITEM failed for row " + std::to_string(r) + " column " + std::to_string(s));
                return std::nullopt;
            }
            std::string text;
            // The list view may answer with a pointer to its own copy of the text.
            if (item.pszText == remoteText) {
                if (!readText(text)) {
                    FailWin32("ReadProcessMemory");
                    return std::nullopt;
                }
            } else if (item.pszText && item.pszText != LPSTR_TEXTCALLBACKA) {
                char buffer[kTextCapacity] = {};
                SIZE_T got = 0;
                ReadProcessMemory(owner.handle(), item.pszText, buffer, sizeof buffer - 1, &got);
                text = buffer;
            }
            if (s == 0) {
                row.image = item.iImage;
                row.selected = (item.state & LVIS_SELECTED) != 0;
            }
            row.cells.push_back(std::move(text));
        }
        content.rows.push_back(std::move(row));
    }
    return content;
}

std::optional<int> ProgressPosition(HWND progress) {
    const auto pos = Send(progress, PBM_GETPOS, 0, 0);
    if (!pos) return std::nullopt;
    return static_cast<int>(*pos);
}

std::optional<Range> ProgressRange(HWND progress) {
    // With a null PBRANGE pointer the answer is the low (TRUE) or high (FALSE) end.
    const auto low = Send(progress, PBM_GETRANGE, TRUE, 0);
    const auto high = Send(progress, PBM_GETRANGE, FALSE, 0);
    if (!low || !high) return std::nullopt;
    return Range{static_cast<int>(*low), static_cast<int>(*high)};
}

std::optional<int> UpDownPosition(HWND upDown) {
    // UDM_GETPOS32 with a null error pointer: nothing to marshal.
    const auto pos = Send(upDown, UDM_GETPOS32, 0, 0);
    if (!pos) return std::nullopt;
    return static_cast<int>(*pos);
}

std::optional<Range> UpDownRange(HWND upDown) {
    OwnerProcess owner(upDown);
    if (!owner.handle()) {
        FailWin32("OpenProcess of the up-down's owner");
        return std::nullopt;
    }
    RemoteBlock block(owner.handle(), 2 * sizeof(int));
    if (!block.valid()) {
        FailWin32("VirtualAllocEx");
        return std::nullopt;
    }
    const auto sent = Send(upDown, UDM_GETRANGE32, reinterpret_cast<WPARAM>(block.at(0)),
                           reinterpret_cast<LPARAM>(block.at(sizeof(int))));
    int ends[2] = {};
    if (!sent || !block.Read(0, ends, sizeof ends)) {
        Fail("UDM_GETRANGE32 failed");
        return std::nullopt;
    }
    return Range{ends[0], ends[1]};
}

// ---- Message boxes ---------------------------------------------------------

namespace {

constexpr int kMessageBoxTextId = 0xFFFF;

std::optional<MessageBoxInfo> ReadMessageBox(HWND box) {
    MessageBoxInfo info;
    info.hwnd = box;
    bool hasText = false;
    for (const ControlInfo& c : ListControls(box)) {
        if (c.id == kMessageBoxTextId && (c.className == "Static")) {
            info.text = c.text;
            hasText = true;
        } else if (c.className == "Button" && c.visible) {
            info.buttons.push_back({c.id, c.text});
        }
    }
    if (!hasText) return std::nullopt;
    info.caption = WindowText(box);
    return info;
}

}  // namespace

std::optional<MessageBoxInfo> WaitForMessageBox(DWORD processId, Milliseconds timeout) {
    const Deadline deadline(timeout);
    for (;;) {
        for (HWND window : FindWindows({"", "#32770", processId, true}))
            if (auto box = ReadMessageBox(window)) return box;
        if (deadline.Passed()) break;
        PumpWhileWaiting(kPollStep);
    }
    Fail("no message box within " + std::to_string(timeout.count()) + " ms");
    return std::nullopt;
}

bool PressMessageBoxButton(const MessageBoxInfo& box, int buttonId, Milliseconds timeout) {
    bool known = false;
    for (const MessageBoxButton& b : box.buttons) known = known || b.id == buttonId;
    if (!known) return Fail("the message box has no button " + std::to_string(buttonId));
    const HWND button = GetDlgItem(box.hwnd, buttonId);
    if (!PostCommand(box.hwnd, buttonId, BN_CLICKED, button)) return false;
    const Deadline deadline(timeout);
    while (IsWindow(box.hwnd) && IsWindowVisible(box.hwnd)) {
        if (deadline.Passed()) return Fail("the message box is still open");
        PumpWhileWaiting(kPollStep);
    }
    return true;
}

// ---- Save-as dialog ------------------------------------------------------------

bool AnswerSaveAs(HWND dialog, const std::string& path) {
    constexpr int kFileNameBox = 1148;
    const auto box = FindControl(dialog, kFileNameBox);
    if (!box) return Fail("the dialog has no file-name box 1148");
    const HWND combo = FindWindowExA(*box, nullptr, "ComboBox", nullptr);
    const HWND edit = combo ? FindWindowExA(combo, nullptr, "Edit", nullptr) : nullptr;
    if (!edit) return Fail("the file-name box holds no edit");
    return SetEditText(edit, path) && PostCommand(dialog, IDOK);
}

}  // namespace kx305::ui
