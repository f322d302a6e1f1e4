// Drives a Windows program from another process, as a user or a script would:
// start it, find its windows, read and operate its controls, answer its
// message boxes, look at the clipboard, the registry and its DDE services,
// and take screenshots.  Used by the end-to-end tests of kx305mon (GoogleTest
// programs under Wine) and by the kx305ui console tool.
//
// Texts are bytes in the ANSI code page of the process (1250 in the test
// prefix), exactly as the program's A functions see them.  Failures are
// return values: an empty optional or false, with the reason in LastError().
// Everything here is meant for one thread; the DDE client and the clipboard
// hold belong to the thread that made them.
#pragma once

#include <windows.h>
#include <dde.h>
#include <ddeml.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace kx305::ui {

using Milliseconds = std::chrono::milliseconds;

// Why the last call of this thread failed ("" after a success is not
// guaranteed: read it only after a failure).
const std::string& LastError();
// Sets LastError() to `reason` and returns false, for drivers of particular
// programs built on this one (`return ui::Fail(...)`).
bool Fail(std::string reason);

// ---- Processes -------------------------------------------------------------

struct StartOptions {
    std::vector<std::string> arguments;  // quoted as needed
    // Added to (or replacing) the variables of this process; an empty value
    // removes the variable.
    std::map<std::string, std::string> environment;
    std::string workingDirectory;  // "" = this process's
    std::string standardOutput;    // file for the child's stdout and stderr; "" = inherit
};

class Process {
public:
    Process() = default;
    Process(Process&& other) noexcept;
    Process& operator=(Process&& other) noexcept;
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;
    ~Process();  // leaves a running program running

    bool valid() const { return process_ != nullptr; }
    DWORD id() const { return id_; }
    HANDLE handle() const { return process_; }
    bool Running() const;
    // The exit code once the program has ended within `timeout`.
    std::optional<DWORD> WaitExit(Milliseconds timeout) const;
    // TerminateProcess with `exitCode`, then waits for the end.
    bool Kill(DWORD exitCode = 1);

private:
    friend std::optional<Process> Start(const std::string&, const StartOptions&);
    HANDLE process_ = nullptr;
    DWORD id_ = 0;
};

std::optional<Process> Start(const std::string& program, const StartOptions& options = {});
// The command line Start builds (program and arguments, quoted for
// CommandLineToArgvW and the C runtime).
std::string QuoteCommandLine(const std::string& program, const std::vector<std::string>& arguments);
// The directory of this process's executable, without a trailing backslash.
std::string ExecutableDirectory();

// ---- Windows and controls -----------------------------------------------------

struct WindowQuery {
    std::string title;      // exact; "" matches any
    std::string className;  // exact; "" matches any
    DWORD processId = 0;    // 0 = any process
    bool visible = true;    // only visible windows
};

// Polls the top-level windows until one matches or `timeout` passes.
std::optional<HWND> WaitForWindow(const WindowQuery& query, Milliseconds timeout);
// Until no top-level window matches (a dialog has closed).
bool WaitForNoWindow(const WindowQuery& query, Milliseconds timeout);
std::vector<HWND> FindWindows(const WindowQuery& query);

struct ControlInfo {
    HWND hwnd = nullptr;
    HWND parent = nullptr;
    int id = 0;
    std::string className;
    std::string text;
    bool visible = false;
    bool enabled = false;
    int checked = -1;  // BST_UNCHECKED/CHECKED/INDETERMINATE for check and radio buttons, else -1
};

std::string WindowText(HWND window);
std::string WindowClass(HWND window);
// Every descendant of `window` in Z order (children before grandchildren of
// the next child), so a ComboBox's Edit follows its ComboBox.
std::vector<ControlInfo> ListControls(HWND window);
// The first descendant with this id; with a class, the first of that class.
std::optional<HWND> FindControl(HWND window, int id, const std::string& className = "");

// A control's state now (text, visible, enabled, checked).
ControlInfo Describe(HWND control);

// Posts BM_CLICK, as a mouse click would: the click runs in the program, so
// a click that opens a modal dialog does not block the driver.  Refused for
// a hidden or disabled control, which a user could not click either.
bool Click(HWND control);
// Posts WM_COMMAND(id, BN_CLICKED/0) to `window`: menu and accelerator
// commands, and buttons by id.
bool PostCommand(HWND window, int id, int notification = 0, HWND control = nullptr);
// Polls until `done` holds; false after `timeout`.
bool WaitUntil(const std::function<bool()>& done, Milliseconds timeout);
// Until the window's text is `text` (a status line after a posted click).
bool WaitForText(HWND window, const std::string& text, Milliseconds timeout);

// Replaces an edit's text with WM_SETTEXT, byte-exact and independent of
// keyboard layouts.  A single-line edit notifies its parent with EN_CHANGE
// itself; for a multi-line edit, which does not, EN_CHANGE is sent.  Bypasses
// what the edit does with keystrokes (EM_LIMITTEXT, ES_NUMBER): use TypeChars
// for those.
bool SetEditText(HWND edit, const std::string& text);
// Types each byte as a WM_CHAR, as the keyboard would after the key
// translation: the edit applies its limits and styles and notifies as usual
// (one EN_CHANGE per character).
// With `replace`, selects all first (EM_SETSEL) so that the typing replaces.
bool TypeChars(HWND edit, const std::string& text, bool replace = true);

std::optional<std::vector<std::string>> ComboEntries(HWND combo);
std::optional<int> ComboSelection(HWND combo);  // -1 when nothing is selected
// CB_SETCURSEL, then CBN_SELCHANGE to the owner as a user's pick would give.
bool PickComboIndex(HWND combo, int index);
bool PickComboText(HWND combo, const std::string& text);  // exact entry text

struct ListViewColumn {
    std::string text;
    int width = 0;
};
struct ListViewRow {
    std::vector<std::string> cells;  // one per column (sub-item 0 first)
    int image = -1;                  // image index of the item
    bool selected = false;
};
struct ListViewContent {
    std::vector<ListViewColumn> columns;
    std::vector<ListViewRow> rows;
};
// Reads a list view of any process: the structures and text buffers go
// through memory allocated in the owner (the list view messages carry
// pointers that Windows does not marshal between processes).
std::optional<ListViewContent> ReadListView(HWND listView);

struct Range {
    int low = 0;
    int high = 0;
    bool operator==(const Range&) const = default;
};
std::optional<int> ProgressPosition(HWND progress);
std::optional<Range> ProgressRange(HWND progress);
std::optional<int> UpDownPosition(HWND upDown);
std::optional<Range> UpDownRange(HWND upDown);

// ---- Message boxes -------------------------------------------------------------

struct MessageBoxButton {
    int id = 0;  // IDOK, IDYES, ...
    std::string text;
};
struct MessageBoxInfo {
    HWND hwnd = nullptr;
    std::string caption;
    std::string text;
    std::vector<MessageBoxButton> buttons;
};
// A visible message box (dialog class #32770 with the text static 0xFFFF) of
// `processId` (0 = any) within `timeout`.
std::optional<MessageBoxInfo> WaitForMessageBox(DWORD processId, Milliseconds timeout);
// Presses the button with this id and waits until the box is gone.
bool PressMessageBoxButton(const MessageBoxInfo& box, int buttonId, Milliseconds timeout = Milliseconds(5000));

// ---- Save-as dialog ----------------------------------------------------------------

// Puts `path` into the file-name box of an explorer-style save-as dialog (the
// Edit inside the ComboBox of the ComboBoxEx32 1148) and posts its IDOK.
// The dialog may answer with its own message box (an overwrite question).
bool AnswerSaveAs(HWND dialog, const std::string& path);

// ---- Clipboard -------------------------------------------------------------------

// The whole data block of `format` (GlobalSize bytes: for CF_TEXT the text
// and its terminating zero as the program put them).  Opening is retried for
// `retry`, since the clipboard stays busy for a moment after another program
// used it.
std::optional<std::string> ReadClipboard(UINT format = CF_TEXT, Milliseconds retry = Milliseconds(500));
// Empties the clipboard and puts these bytes under `format` (add the zero of
// a text yourself).
bool WriteClipboard(const std::string& bytes, UINT format = CF_TEXT, Milliseconds retry = Milliseconds(500));

// Keeps the clipboard open for as long as it lives, so that every other
// program's OpenClipboard fails.
class ClipboardHold {
public:
    ClipboardHold(const ClipboardHold&) = delete;
    ClipboardHold& operator=(const ClipboardHold&) = delete;
    ~ClipboardHold();
    static std::unique_ptr<ClipboardHold> Take(Milliseconds retry = Milliseconds(500));

private:
    ClipboardHold() = default;
};

// ---- Registry (HKEY_CURRENT_USER) ---------------------------------------------------

struct RegistryValue {
    DWORD type = REG_NONE;
    std::string data;  // REG_SZ: the text without its zero; REG_DWORD: 4 bytes, little-endian
    std::optional<DWORD> AsDword() const;
};
std::optional<DWORD> ReadRegistryDword(const std::string& key, const std::string& name);
std::optional<std::string> ReadRegistryString(const std::string& key, const std::string& name);
// name -> value for every value of the key.
std::optional<std::map<std::string, RegistryValue>> ReadRegistryValues(const std::string& key);
bool WriteRegistryDword(const std::string& key, const std::string& name, DWORD value);
bool WriteRegistryString(const std::string& key, const std::string& name, const std::string& value);
// The key, its values and every subkey; true when it is gone (also when it
// never existed).
bool DeleteRegistryTree(const std::string& key);
bool RegistryKeyExists(const std::string& key);

// ---- DDE client --------------------------------------------------------------------

struct PokeResult {
    bool transactionOk = false;  // DdeClientTransaction returned non-zero
    DWORD status = 0;            // the result word; DDE_FACK (0x8000) when the server took the data
    bool Accepted() const { return transactionOk && (status & DDE_FACK) != 0; }
};

// A DDEML client (CF_TEXT in the ANSI code page).  Pumps this thread's
// messages between transactions, which DDEML needs for a second transaction
// on one conversation.  One per thread.
class DdeClient {
public:
    static std::unique_ptr<DdeClient> Create();
    ~DdeClient();
    DdeClient(const DdeClient&) = delete;
    DdeClient& operator=(const DdeClient&) = delete;

    // A conversation handle, nullptr with the DMLERR in LastError.
    HCONV Connect(const std::string& service, const std::string& topic);
    void Disconnect(HCONV conversation);
    std::optional<std::string> Request(HCONV conversation, const std::string& item,
                                       Milliseconds timeout = Milliseconds(5000));
    PokeResult Poke(HCONV conversation, const std::string& item, const std::string& data,
                    Milliseconds timeout = Milliseconds(5000));
    bool Execute(HCONV conversation, const std::string& command, Milliseconds timeout = Milliseconds(5000));

    // A hot link: every XTYP_ADVDATA for (conversation, item) is counted and
    // its data kept.
    bool StartAdvise(HCONV conversation, const std::string& item, Milliseconds timeout = Milliseconds(5000));
    bool StopAdvise(HCONV conversation, const std::string& item, Milliseconds timeout = Milliseconds(5000));
    int AdviseCount(HCONV conversation, const std::string& item) const;
    std::string LastAdvise(HCONV conversation, const std::string& item) const;
    // Pumps messages until `done` holds or `timeout` passes; the final value of done().
    bool PumpUntil(const std::function<bool()>& done, Milliseconds timeout);
    void Pump(Milliseconds duration);

    DWORD instance() const { return instance_; }
    std::string LastDdeError() const;

private:
    DdeClient() = default;
    static HDDEDATA CALLBACK Callback(UINT type, UINT format, HCONV conv, HSZ hsz1, HSZ hsz2, HDDEDATA data,
                                      ULONG_PTR data1, ULONG_PTR data2);
    std::string HszText(HSZ hsz) const;
    HSZ Hsz(const std::string& text);

    struct Link {
        int count = 0;
        std::string last;
    };
    DWORD instance_ = 0;
    std::map<std::pair<HCONV, std::string>, Link> links_;
    std::vector<HSZ> strings_;
};

struct DdePair {
    std::string service;
    std::string topic;
    HWND server = nullptr;
    bool operator==(const DdePair& o) const { return service == o.service && topic == o.topic; }
};
// Broadcasts WM_DDE_INITIATE itself ("" = a null atom, the wildcard) and
// collects the WM_DDE_ACK answers, one per (service, topic) a server offers;
// each conversation is terminated again.  DdeConnectList cannot be used for
// this under Wine, where it returns an empty list.
std::optional<std::vector<DdePair>> DdeInitiate(const std::string& service, const std::string& topic,
                                                Milliseconds timeout = Milliseconds(2000));

// ---- Screenshots ---------------------------------------------------------------------

// The whole screen (virtual screen) as a PNG file.
bool SaveScreenshot(const std::string& path);
// The part of the screen that a top-level window covers (its frame
// included), as shown at that moment: what overlaps it is in the picture.
bool SaveWindowScreenshot(HWND window, const std::string& path);

// ---- Simulated converters --------------------------------------------------------------

// The TCP address (host:port) of the control channel of the simulator on a
// COM port ("COM5", "\\.\COM5" or "com5"), from KX305_CONTROL_<PORT>.
std::optional<std::string> SimulatorControlAddress(const std::string& port);
// Sends one control command and returns the simulator's reply line ("ok ..."
// or "error ...") without its line end.
std::optional<std::string> SimulatorCommand(const std::string& port, const std::string& command,
                                            Milliseconds timeout = Milliseconds(5000));

}  // namespace kx305::ui
