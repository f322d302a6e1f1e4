// The UI driver against the fixture program, a separate process, under Wine
// with a display: every function of the driver and of the kx305ui tool.
#include <fstream>
#include <set>
#include <sstream>

#include <gtest/gtest.h>

#include "fixture_ids.h"
#include "png_writer.h"
#include "uidriver.h"

#include <shellapi.h>

namespace kx305::ui {
namespace {

namespace fx = kx305::fixture;
using std::chrono::milliseconds;

constexpr milliseconds kWait{10000};
const std::string kEnvironmentTag = "znacznik ąę";
const std::vector<std::string> kArguments = {"--exit-code", "3", "zwykły", "ze spacją",
                                             "cudzy\"słów", "",  "a b\\",  "c\\\\d"};

std::string Join(const std::vector<std::string>& parts, const std::string& separator) {
    std::string out;
    for (size_t i = 0; i < parts.size(); ++i) out += (i ? separator : "") + parts[i];
    return out;
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

std::string Utf8(const std::string& ansi) {
    std::wstring wide(ansi.size(), L'\0');
    wide.resize(MultiByteToWideChar(CP_ACP, 0, ansi.data(), static_cast<int>(ansi.size()), wide.data(),
                                    static_cast<int>(wide.size())));
    std::string out(wide.size() * 3, '\0');
    out.resize(WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), out.data(),
                                   static_cast<int>(out.size()), nullptr, nullptr));
    return out;
}

// ---- A PNG reader for what the writer makes (stored deflate blocks only) ----

struct Picture {
    uint32_t width = 0, height = 0;
    std::string rgb;
    std::string error;
};

uint32_t Big32(const std::string& s, size_t at) {
    return uint32_t(uint8_t(s[at])) << 24 | uint32_t(uint8_t(s[at + 1])) << 16 | uint32_t(uint8_t(s[at + 2])) << 8 |
           uint8_t(s[at + 3]);
}

Picture Broken(std::string why) {
    Picture p;
    p.error = std::move(why);
    return p;
}

Picture DecodePng(const std::string& png) {
    Picture p;
    if (png.compare(0, 8, "\x89PNG\r\n\x1a\n") != 0) return Broken("no PNG signature");
    std::string idat;
    bool ended = false;
    for (size_t at = 8; at < png.size() && !ended;) {
        if (at + 12 > png.size()) return Broken("chunk cut short");
        const uint32_t length = Big32(png, at);
        if (at + 12 + length > png.size()) return Broken("chunk cut short");
        const std::string type = png.substr(at + 4, 4), data = png.substr(at + 8, length);
        if (Crc32(png.substr(at + 4, 4 + length)) != Big32(png, at + 8 + length)) return Broken("bad CRC in " + type);
        if (type == "IHDR") {
            p.width = Big32(data, 0);
            p.height = Big32(data, 4);
            if (data.substr(8) != std::string("\x08\x02\0\0\0", 5)) return Broken("not 8-bit RGB");
        } else if (type == "IDAT") {
            idat += data;
        } else if (type == "IEND") {
            ended = true;
        }
        at += 12 + length;
    }
    if (!ended) return Broken("no IEND");
    if (idat.size() < 6 || (uint8_t(idat[0]) * 256 + uint8_t(idat[1])) % 31 != 0) return Broken("bad zlib header");
    std::string raw;
    size_t at = 2;
    for (bool last = false; !last;) {
        if (at + 5 > idat.size()) return Broken("deflate cut short");
        const uint8_t head = uint8_t(idat[at]);
        last = head & 1;
        if ((head >> 1) != 0) return Broken("not a stored block");
        const uint16_t n = uint8_t(idat[at + 1]) | uint8_t(idat[at + 2]) << 8;
        const uint16_t notN = uint8_t(idat[at + 3]) | uint8_t(idat[at + 4]) << 8;
        if (uint16_t(~n) != notN || at + 5 + n > idat.size()) return Broken("bad stored block length");
        raw.append(idat, at + 5, n);
        at += 5 + n;
    }
    if (at + 4 != idat.size() || Big32(idat, at) != Adler32(raw)) return Broken("bad Adler-32");
    const size_t row = size_t(p.width) * 3 + 1;
    if (raw.size() != row * p.height) return Broken("image data of the wrong size");
    for (size_t y = 0; y < p.height; ++y) {
        if (raw[y * row] != 0) return Broken("row filter other than 0");
        p.rgb.append(raw, y * row + 1, row - 1);
    }
    return p;
}

TEST(PngWriter, ChecksumsMatchTheirPublishedCheckValues) {
    EXPECT_EQ(Crc32("123456789"), 0xCBF43926u);
    EXPECT_EQ(Crc32("IEND"), 0xAE426082u);  // the CRC every PNG file ends with
    EXPECT_EQ(Adler32("Wikipedia"), 0x11E60398u);
    // Split input continues the sums.
    EXPECT_EQ(Crc32("6789", Crc32("12345")), Crc32("123456789"));
    EXPECT_EQ(Adler32(std::string(10000, 'x').substr(5000), Adler32(std::string(5000, 'x'))),
              Adler32(std::string(10000, 'x')));
}

TEST(PngWriter, ImagesReadBackPixelForPixel) {
    struct Case {
        uint32_t width, height;
    };
    // One stored block, exactly one full block of raw data, several blocks.
    for (const Case c : {Case{1, 1}, Case{21845, 1}, Case{200, 120}, Case{7, 3000}}) {
        std::string rgb(size_t(c.width) * c.height * 3, '\0');
        for (size_t i = 0; i < rgb.size(); ++i) rgb[i] = static_cast<char>((i * 7 + i / 3) & 0xFF);
        const Picture p = DecodePng(EncodePng(c.width, c.height, rgb));
        EXPECT_EQ(p.error, "") << c.width << "x" << c.height;
        EXPECT_EQ(p.width, c.width);
        EXPECT_EQ(p.height, c.height);
        EXPECT_TRUE(p.rgb == rgb) << c.width << "x" << c.height;
    }
    EXPECT_EQ(EncodePng(0, 5, ""), "");
    EXPECT_EQ(EncodePng(2, 2, std::string(11, 'x')), "");
}

// ---- The fixture program, started once for the suite ----------------------

class Fixture : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        ASSERT_TRUE(DeleteRegistryTree(fx::kRegistryKey)) << LastError();
        ASSERT_TRUE(WriteRegistryDword(fx::kRegistryKey, "Licznik", 5)) << LastError();
        ASSERT_TRUE(WriteRegistryString(fx::kRegistryKey, "Nazwa", "źródło")) << LastError();
        workingDirectory = ExecutableDirectory() + "\\ui-fixture-cwd";
        CreateDirectoryA(workingDirectory.c_str(), nullptr);
        StartOptions options;
        options.arguments = kArguments;
        options.environment["KX305_FIXTURE_TAG"] = kEnvironmentTag;
        options.workingDirectory = workingDirectory;
        auto started = Start(FixturePath(), options);
        ASSERT_TRUE(started) << LastError();
        process = new Process(std::move(*started));
        const auto found = WaitForWindow({fx::kTitle, "#32770", process->id(), true}, kWait);
        ASSERT_TRUE(found) << LastError();
        window = *found;
        ASSERT_TRUE(WaitForText(Control(IDC_FIX_STATUS), "ready", kWait)) << LastError();
    }
    static void TearDownTestSuite() {
        if (process && process->Running()) process->Kill(1);
        delete process;
        process = nullptr;
    }
    void SetUp() override {
        ASSERT_NE(process, nullptr);
        ASSERT_TRUE(process->Running());
    }

    static std::string FixturePath() { return ExecutableDirectory() + "\\kx305_ui_fixture.exe"; }
    static HWND Control(int id) {
        const auto c = FindControl(window, id);
        EXPECT_TRUE(c) << LastError();
        return c.value_or(nullptr);
    }
    static std::string Status() { return WindowText(Control(IDC_FIX_STATUS)); }
    static bool WaitStatus(const std::string& text) { return WaitForText(Control(IDC_FIX_STATUS), text, kWait); }

    static inline Process* process = nullptr;
    static inline HWND window = nullptr;
    static inline std::string workingDirectory;
};

TEST_F(Fixture, ControlsAreListedWithTheirState) {
    const std::vector<ControlInfo> controls = ListControls(window);
    struct Expected {
        int id;
        const char* className;
        const char* text;
        bool visible, enabled;
        int checked;
    };
    const Expected table[] = {
        {IDC_FIX_EDIT, "Edit", "", true, true, -1},
        {IDC_FIX_COMBO, "ComboBox", "", true, true, -1},
        {IDC_FIX_MESSAGE, "Button", "Komunikat", true, true, -1},
        {IDC_FIX_CHECK, "Button", "Zaznacz", true, true, BST_CHECKED},
        {IDC_FIX_DISABLED, "Button", "Nieczynny", true, false, -1},
        {IDC_FIX_HIDDEN, "Static", "Ukryty", false, true, -1},
        {IDC_FIX_LIST, "SysListView32", "", true, true, -1},
        {IDC_FIX_PROGRESS, "msctls_progress32", "", true, true, -1},
        {IDC_FIX_UPDOWN, "msctls_updown32", "", true, true, -1},
        {IDC_FIX_BUDDY, "Edit", "42", true, true, -1},
        {IDC_FIX_ENV, "Static", kEnvironmentTag.c_str(), true, true, -1},
        {IDC_FIX_REGISTRY, "Static", "Licznik=5 Nazwa=źródło", true, true, -1},
    };
    for (const Expected& e : table) {
        const auto it =
            std::find_if(controls.begin(), controls.end(), [&](const ControlInfo& c) { return c.id == e.id; });
        ASSERT_NE(it, controls.end()) << "control " << e.id;
        EXPECT_EQ(it->className, e.className) << e.id;
        EXPECT_EQ(it->text, e.text) << e.id;
        EXPECT_EQ(it->visible, e.visible) << e.id;
        EXPECT_EQ(it->enabled, e.enabled) << e.id;
        EXPECT_EQ(it->checked, e.checked) << e.id;
        EXPECT_EQ(it->parent, window) << e.id;
    }
    // Descendants follow their parent: the list view's header comes right after it.
    const auto list =
        std::find_if(controls.begin(), controls.end(), [](const ControlInfo& c) { return c.id == IDC_FIX_LIST; });
    ASSERT_NE(list + 1, controls.end());
    EXPECT_EQ((list + 1)->className, "SysHeader32");
    EXPECT_EQ((list + 1)->parent, list->hwnd);
    EXPECT_FALSE(FindControl(window, 4711));
}

TEST_F(Fixture, StartPassesArgumentsEnvironmentAndWorkingDirectory) {
    EXPECT_EQ(WindowText(Control(IDC_FIX_ARGS)), Join(kArguments, "|"));
    EXPECT_EQ(WindowText(Control(IDC_FIX_ENV)), kEnvironmentTag);
    EXPECT_EQ(CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, WindowText(Control(IDC_FIX_CWD)).c_str(), -1,
                             workingDirectory.c_str(), -1),
              CSTR_EQUAL)
        << WindowText(Control(IDC_FIX_CWD));
}

TEST_F(Fixture, TypingNotifiesTheDialogAndCharactersObeyTheEditLimit) {
    const HWND edit = Control(IDC_FIX_EDIT);
    ASSERT_TRUE(SetEditText(edit, "źdźbło 1,5")) << LastError();
    EXPECT_TRUE(WaitStatus("EN_CHANGE: źdźbło 1,5")) << LastError();
    EXPECT_EQ(WindowText(edit), "źdźbło 1,5");

    // Characters go through the edit's own handling: the limit cuts them.
    const std::string typed = "abcdefghijklmnopqrstu";
    ASSERT_GT(typed.size(), size_t(fx::kFixtureEditLimit));
    ASSERT_TRUE(TypeChars(edit, typed)) << LastError();
    EXPECT_EQ(WindowText(edit), typed.substr(0, fx::kFixtureEditLimit));
    EXPECT_EQ(Status(), "EN_CHANGE: " + typed.substr(0, fx::kFixtureEditLimit));
    // Appending keeps what is there.
    ASSERT_TRUE(SetEditText(edit, "12")) << LastError();
    ASSERT_TRUE(TypeChars(edit, "3", false)) << LastError();
    EXPECT_EQ(WindowText(edit), "123");
    // WM_SETTEXT sets the text whole, as a program's own SetDlgItemText does.
    ASSERT_TRUE(SetEditText(edit, typed)) << LastError();
    EXPECT_EQ(WindowText(edit), typed);
}

TEST_F(Fixture, ComboEntriesArePickedWithTheirNotification) {
    const HWND combo = Control(IDC_FIX_COMBO);
    const auto entries = ComboEntries(combo);
    ASSERT_TRUE(entries) << LastError();
    EXPECT_EQ(*entries, std::vector<std::string>(std::begin(fx::kComboEntries), std::end(fx::kComboEntries)));
    EXPECT_EQ(ComboSelection(combo), -1);

    ASSERT_TRUE(PickComboText(combo, "trzy")) << LastError();
    EXPECT_TRUE(WaitStatus("CBN_SELCHANGE: 2 trzy")) << LastError();
    EXPECT_EQ(ComboSelection(combo), 2);
    ASSERT_TRUE(PickComboIndex(combo, 3)) << LastError();
    EXPECT_TRUE(WaitStatus("CBN_SELCHANGE: 3 Wilgotność")) << LastError();

    EXPECT_FALSE(PickComboText(combo, "cztery"));
    EXPECT_FALSE(PickComboIndex(combo, 9));
    EXPECT_EQ(ComboSelection(combo), 3);
}

TEST_F(Fixture, ClicksReachEnabledVisibleControlsOnly) {
    const HWND check = Control(IDC_FIX_CHECK);
    ASSERT_TRUE(Click(check)) << LastError();
    EXPECT_TRUE(WaitStatus("check: 0")) << LastError();
    EXPECT_EQ(Describe(check).checked, BST_UNCHECKED);
    ASSERT_TRUE(Click(check)) << LastError();
    EXPECT_TRUE(WaitStatus("check: 1")) << LastError();
    EXPECT_EQ(Describe(check).checked, BST_CHECKED);

    EXPECT_FALSE(Click(Control(IDC_FIX_DISABLED)));
    EXPECT_NE(LastError().find("disabled"), std::string::npos) << LastError();
    EXPECT_FALSE(Click(Control(IDC_FIX_HIDDEN)));
    EXPECT_NE(LastError().find("hidden"), std::string::npos) << LastError();
    // The refused click did not happen behind our back.
    ASSERT_TRUE(PostCommand(window, IDM_FIX_SAVE));
    EXPECT_TRUE(WaitStatus("saved")) << LastError();
}

TEST_F(Fixture, ListViewOfAnotherProcessReadsColumnsRowsAndImages) {
    const auto content = ReadListView(Control(IDC_FIX_LIST));
    ASSERT_TRUE(content) << LastError();
    ASSERT_EQ(content->columns.size(), std::size(fx::kColumns));
    for (size_t c = 0; c < std::size(fx::kColumns); ++c) {
        EXPECT_EQ(content->columns[c].text, fx::kColumns[c].text);
        EXPECT_EQ(content->columns[c].width, fx::kColumns[c].width);
    }
    ASSERT_EQ(content->rows.size(), std::size(fx::kRows));
    for (size_t r = 0; r < std::size(fx::kRows); ++r) {
        EXPECT_EQ(content->rows[r].cells,
                  std::vector<std::string>(std::begin(fx::kRows[r].cells), std::end(fx::kRows[r].cells)));
        EXPECT_EQ(content->rows[r].image, fx::kRows[r].image) << "row " << r;
        EXPECT_FALSE(content->rows[r].selected);
    }
}

TEST_F(Fixture, ProgressBarAndUpDownPositionsAndRanges) {
    EXPECT_EQ(ProgressPosition(Control(IDC_FIX_PROGRESS)), fx::kProgressPosition);
    EXPECT_EQ(ProgressRange(Control(IDC_FIX_PROGRESS)), (Range{fx::kProgressLow, fx::kProgressHigh}));
    EXPECT_EQ(UpDownPosition(Control(IDC_FIX_UPDOWN)), fx::kUpDownPosition);
    EXPECT_EQ(UpDownRange(Control(IDC_FIX_UPDOWN)), (Range{fx::kUpDownLow, fx::kUpDownHigh}));
}

TEST_F(Fixture, MessageBoxIsReadAndAnswered) {
    EXPECT_FALSE(WaitForMessageBox(process->id(), milliseconds(100)));
    ASSERT_TRUE(Click(Control(IDC_FIX_MESSAGE))) << LastError();
    const auto box = WaitForMessageBox(process->id(), kWait);
    ASSERT_TRUE(box) << LastError();
    EXPECT_EQ(box->caption, fx::kMessageCaption);
    EXPECT_EQ(box->text, fx::kMessageText);
    std::vector<int> ids;
    for (const MessageBoxButton& b : box->buttons) ids.push_back(b.id);
    EXPECT_EQ(ids, (std::vector<int>{IDYES, IDNO, IDCANCEL}));
    ASSERT_EQ(box->buttons.size(), 3u);
    EXPECT_EQ(box->buttons[0].text, "&Tak");
    EXPECT_EQ(box->buttons[1].text, "&Nie");
    EXPECT_EQ(Status(), "message box open");

    EXPECT_FALSE(PressMessageBoxButton(*box, IDOK));  // not one of its buttons
    ASSERT_TRUE(PressMessageBoxButton(*box, IDNO)) << LastError();
    EXPECT_TRUE(WaitStatus("message box: " + std::to_string(IDNO))) << LastError();
    EXPECT_FALSE(WaitForMessageBox(process->id(), milliseconds(200)));
}

TEST_F(Fixture, ClipboardBytesAndHold) {
    ASSERT_TRUE(WriteClipboard(std::string("stare\0", 6))) << LastError();
    ASSERT_TRUE(PostCommand(window, IDM_FIX_COPY));
    ASSERT_TRUE(WaitStatus("clipboard: ok")) << LastError();
    EXPECT_EQ(ReadClipboard(), std::string(fx::kClipboard, sizeof fx::kClipboard));

    {
        const auto hold = ClipboardHold::Take();
        ASSERT_TRUE(hold) << LastError();
        ASSERT_TRUE(PostCommand(window, IDM_FIX_COPY));
        EXPECT_TRUE(WaitStatus("clipboard: busy")) << LastError();
    }
    ASSERT_TRUE(PostCommand(window, IDM_FIX_COPY));
    EXPECT_TRUE(WaitStatus("clipboard: ok")) << LastError();
}

TEST_F(Fixture, RegistryValuesWrittenByTheProgramAreReadWithTheirTypes) {
    ASSERT_TRUE(SetEditText(Control(IDC_FIX_EDIT), "zapis ąę")) << LastError();
    ASSERT_TRUE(PostCommand(window, IDM_FIX_COPY));  // a status other than "saved" first
    ASSERT_TRUE(WaitStatus("clipboard: ok")) << LastError();
    ASSERT_TRUE(PostCommand(window, IDM_FIX_SAVE));
    ASSERT_TRUE(WaitStatus("saved")) << LastError();

    const auto values = ReadRegistryValues(fx::kRegistryKey);
    ASSERT_TRUE(values) << LastError();
    std::map<std::string, std::pair<DWORD, std::string>> seen;
    for (const auto& [name, v] : *values) seen[name] = {v.type, v.AsDword() ? std::to_string(*v.AsDword()) : v.data};
    const std::map<std::string, std::pair<DWORD, std::string>> expected = {
        {"Licznik", {REG_DWORD, "5"}},
        {"Nazwa", {REG_SZ, "źródło"}},
        {"Tekst", {REG_SZ, "zapis ąę"}},
        {"Długość", {REG_DWORD, "8"}},
    };
    EXPECT_EQ(seen, expected);
    EXPECT_EQ(ReadRegistryDword(fx::kRegistryKey, "Długość"), 8u);
    EXPECT_EQ(ReadRegistryString(fx::kRegistryKey, "Tekst"), "zapis ąę");
    EXPECT_FALSE(ReadRegistryDword(fx::kRegistryKey, "Tekst"));  // wrong type
    EXPECT_FALSE(ReadRegistryString(fx::kRegistryKey, "Długość"));
    EXPECT_FALSE(ReadRegistryString(fx::kRegistryKey, "Brak"));

    const std::string sub = std::string(fx::kRegistryKey) + "\\Pod\\Głębiej";
    ASSERT_TRUE(WriteRegistryDword(sub, "x", 1)) << LastError();
    EXPECT_TRUE(DeleteRegistryTree(fx::kRegistryKey)) << LastError();
    EXPECT_FALSE(RegistryKeyExists(sub));
    EXPECT_FALSE(RegistryKeyExists(fx::kRegistryKey));
    EXPECT_TRUE(DeleteRegistryTree(fx::kRegistryKey));  // gone already
    EXPECT_FALSE(DeleteRegistryTree(""));
}

TEST_F(Fixture, DdeRequestAdvisePokeExecuteAndWildcardInitiate) {
    auto client = DdeClient::Create();
    ASSERT_TRUE(client) << LastError();
    EXPECT_EQ(client->Connect(fx::kDdeService, "Inny"), nullptr);
    const HCONV conv = client->Connect(fx::kDdeService, fx::kDdeTopic);
    ASSERT_NE(conv, nullptr) << LastError();
    const HWND edit = Control(IDC_FIX_EDIT);

    ASSERT_TRUE(SetEditText(edit, "pierwszy"));
    EXPECT_EQ(client->Request(conv, fx::kDdeItem), "pierwszy");
    EXPECT_FALSE(client->Request(conv, "Nieznany"));

    ASSERT_TRUE(client->StartAdvise(conv, fx::kDdeItem)) << LastError();
    const int before = client->AdviseCount(conv, fx::kDdeItem);
    ASSERT_TRUE(SetEditText(edit, "drugi"));
    EXPECT_TRUE(client->PumpUntil([&] { return client->LastAdvise(conv, fx::kDdeItem) == "drugi"; }, kWait));
    EXPECT_EQ(client->AdviseCount(conv, fx::kDdeItem), before + 1);

    // A refused poke still completes; only the missing DDE_FACK tells.
    const PokeResult poke = client->Poke(conv, fx::kDdeItem, "wpis");
    EXPECT_FALSE(poke.Accepted()) << std::hex << poke.status;
    EXPECT_TRUE(WaitStatus("poke refused 1")) << LastError();
    EXPECT_EQ(client->Request(conv, fx::kDdeItem), "drugi");

    EXPECT_TRUE(client->Execute(conv, "[Pomiar(1)]")) << LastError();
    EXPECT_TRUE(WaitStatus("execute: [Pomiar(1)]")) << LastError();

    ASSERT_TRUE(client->StopAdvise(conv, fx::kDdeItem)) << LastError();
    const int stopped = client->AdviseCount(conv, fx::kDdeItem);
    ASSERT_TRUE(SetEditText(edit, "trzeci"));
    client->Pump(milliseconds(300));
    EXPECT_EQ(client->AdviseCount(conv, fx::kDdeItem), stopped);
    client->Disconnect(conv);

    const DdePair ours{fx::kDdeService, fx::kDdeTopic};
    struct Case {
        const char* service;
        const char* topic;
        bool answered;
    };
    for (const Case c :
         {Case{"", "", true}, Case{fx::kDdeService, "", true}, Case{"", fx::kDdeTopic, true},
          Case{fx::kDdeService, fx::kDdeTopic, true}, Case{"NIEMA", "", false}, Case{"", "Inny", false}}) {
        const auto pairs = DdeInitiate(c.service, c.topic);
        ASSERT_TRUE(pairs) << LastError();
        const auto n = std::count(pairs->begin(), pairs->end(), ours);
        EXPECT_EQ(n, c.answered ? 1 : 0) << "initiate '" << c.service << "' '" << c.topic << "'";
    }
}

TEST_F(Fixture, ConsoleToolPrintsWhatTheDriverSees) {
    ASSERT_TRUE(SetEditText(Control(IDC_FIX_EDIT), "narzędzie"));
    const std::string tool = ExecutableDirectory() + "\\kx305ui.exe";
    const std::string out = ExecutableDirectory() + "\\kx305ui-test.out";
    struct Case {
        std::vector<std::string> arguments;
        DWORD exitCode;
        std::vector<std::string> lines;  // expected among the output lines (UTF-8)
    };
    const Case cases[] = {
        {{"controls", fx::kTitle},
         0,
         {std::to_string(IDC_FIX_CHECK) + "\tButton\tZaznacz",
          std::to_string(IDC_FIX_EDIT) + "\tEdit\t" + Utf8("narzędzie"),
          std::to_string(IDC_FIX_ENV) + "\tStatic\t" + Utf8(kEnvironmentTag)}},
        {{"controls", "--long", fx::kTitle}, 0, {std::to_string(IDC_FIX_DISABLED) + "\tButton\t1\t0\t-1\tNieczynny"}},
        {{"dde", "request", fx::kDdeService, fx::kDdeTopic, fx::kDdeItem}, 0, {Utf8("narzędzie")}},
        {{"progress", fx::kTitle, std::to_string(IDC_FIX_PROGRESS)}, 0, {"120\t0\t200"}},
        {{"controls", "Nie ma takiego okna", "--timeout-ms", "200"}, 1, {}},
        {{"dde", "poke", fx::kDdeService, fx::kDdeTopic, fx::kDdeItem, "x"}, 1, {}},
        {{"nieznane"}, 2, {}},
    };
    for (const Case& c : cases) {
        StartOptions options;
        options.arguments = c.arguments;
        options.standardOutput = out;
        auto run = Start(tool, options);
        ASSERT_TRUE(run) << LastError();
        EXPECT_EQ(run->WaitExit(kWait), c.exitCode) << Join(c.arguments, " ");
        std::istringstream text(ReadFile(out));
        std::set<std::string> lines;
        for (std::string line; std::getline(text, line);) lines.insert(line);
        for (const std::string& want : c.lines)
            EXPECT_TRUE(lines.count(want)) << Join(c.arguments, " ") << ": " << want;
    }
    // One line per control.
    StartOptions options;
    options.arguments = {"controls", fx::kTitle};
    options.standardOutput = out;
    auto run = Start(tool, options);
    ASSERT_TRUE(run) << LastError();
    ASSERT_EQ(run->WaitExit(kWait), 0u);
    const std::string printed = ReadFile(out);
    EXPECT_EQ(static_cast<size_t>(std::count(printed.begin(), printed.end(), '\n')), ListControls(window).size());
}

TEST_F(Fixture, ScreenshotHoldsTheScreenAsShown) {
    char path[MAX_PATH] = {};
    std::string file = GetEnvironmentVariableA("KX305_UI_SCREENSHOT", path, sizeof path) ? path : "";
    if (file.empty())
        file = ExecutableDirectory() + "\\uidriver_wine_test.png";
    else if (file[0] == '/')
        file = "Z:" + file;  // the build tree as Wine sees it
    ASSERT_TRUE(SaveScreenshot(file)) << LastError();
    const Picture p = DecodePng(ReadFile(file));
    ASSERT_EQ(p.error, "");
    ASSERT_EQ(p.width, static_cast<uint32_t>(GetSystemMetrics(SM_CXVIRTUALSCREEN)));
    ASSERT_EQ(p.height, static_cast<uint32_t>(GetSystemMetrics(SM_CYVIRTUALSCREEN)));
    // The fixture's window is in the picture: its pixels match the screen's.
    RECT r{};
    ASSERT_TRUE(GetWindowRect(window, &r));
    HDC screen = GetDC(nullptr);
    std::set<uint32_t> colours;
    int compared = 0;
    for (int y = r.top + 5; y < r.bottom - 5; y += 17) {
        for (int x = r.left + 5; x < r.right - 5; x += 23) {
            if (x < 0 || y < 0 || x >= int(p.width) || y >= int(p.height)) continue;
            const COLORREF c = GetPixel(screen, x, y);
            const size_t at = (size_t(y) * p.width + x) * 3;
            EXPECT_EQ(RGB(uint8_t(p.rgb[at]), uint8_t(p.rgb[at + 1]), uint8_t(p.rgb[at + 2])), c) << x << "," << y;
            colours.insert(c);
            ++compared;
        }
    }
    ReleaseDC(nullptr, screen);
    EXPECT_GT(compared, 50);
    EXPECT_GE(colours.size(), 3u) << "a dialog with text and a list is not one flat colour";
}

// ---- Processes of their own -------------------------------------------------

TEST(Processes, ExitCodesOfAClosedAndOfAKilledProgram) {
    const std::string fixture = ExecutableDirectory() + "\\kx305_ui_fixture.exe";
    StartOptions options;
    options.arguments = {"--title", "Próbnik drugi", "--exit-code", "7"};
    auto closed = Start(fixture, options);
    ASSERT_TRUE(closed) << LastError();
    const auto window = WaitForWindow({"Próbnik drugi", "", closed->id(), true}, kWait);
    ASSERT_TRUE(window) << LastError();
    EXPECT_FALSE(closed->WaitExit(milliseconds(0)));
    ASSERT_TRUE(PostMessageA(*window, WM_CLOSE, 0, 0));
    EXPECT_EQ(closed->WaitExit(kWait), 7u);
    EXPECT_TRUE(WaitForNoWindow({"Próbnik drugi", "", 0, true}, kWait));

    options.arguments = {"--title", "Próbnik trzeci"};
    auto killed = Start(fixture, options);
    ASSERT_TRUE(killed) << LastError();
    ASSERT_TRUE(WaitForWindow({"Próbnik trzeci", "", killed->id(), true}, kWait)) << LastError();
    ASSERT_TRUE(killed->Kill(99)) << LastError();
    EXPECT_EQ(killed->WaitExit(milliseconds(0)), 99u);
    EXPECT_FALSE(killed->Running());

    EXPECT_FALSE(Start(ExecutableDirectory() + "\\nie-ma-takiego.exe"));
    const ULONGLONG before = GetTickCount64();
    EXPECT_FALSE(WaitForWindow({"Nie ma takiego okna", "", 0, true}, milliseconds(300)));
    EXPECT_GE(GetTickCount64() - before, 300u);
}

TEST(Processes, CommandLinesQuoteForTheRuntime) {
    // Built by QuoteCommandLine, split again by the platform.
    const std::vector<std::string> table[] = {
        {"prosty"}, {"ze spacją", ""}, {"cudzy\"słów"}, {"kończy\\"}, {"a b\\"}, {"c\\\\\"d e"}, {"\t"},
    };
    for (const auto& arguments : table) {
        const std::string line = QuoteCommandLine("program.exe", arguments);
        std::wstring wide(line.size() + 1, L'\0');
        wide.resize(MultiByteToWideChar(CP_ACP, 0, line.c_str(), -1, wide.data(), static_cast<int>(wide.size())) - 1);
        int count = 0;
        LPWSTR* split = CommandLineToArgvW(wide.c_str(), &count);
        ASSERT_NE(split, nullptr);
        std::vector<std::string> back;
        for (int i = 1; i < count; ++i) {
            char text[256] = {};
            WideCharToMultiByte(CP_ACP, 0, split[i], -1, text, sizeof text, nullptr, nullptr);
            back.push_back(text);
        }
        LocalFree(split);
        EXPECT_EQ(back, arguments) << line;
    }
}

}  // namespace
}  // namespace kx305::ui
