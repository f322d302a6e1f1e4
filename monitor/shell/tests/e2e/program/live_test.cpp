// Live readings of kx305mon.exe against the simulated converters: the
// panels follow the simulator's instruments, the connection is lost and
// found again, and the logging memory reaches the registration file, also
// when the user acts or closes the program while it downloads.
#include "live_fixture.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "recording/file.h"
#include "recording/registration_file.h"
#include "resources/resource.h"

namespace kx305::e2e {
namespace {

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// A simulator value ("21.5") as the panels show it in the Polish locale.
std::string Shown(std::string value) {
    for (char& c : value) {
        if (c == '.') c = ',';
    }
    return value;
}

// A control's client area as it stands on the screen (read back like a
// screenshot), 0x00RRGGBB per pixel, rows from the top.
std::vector<uint32_t> ScreenPixels(HWND control, int* width = nullptr) {
    RECT r;
    if (!GetClientRect(control, &r) || r.right <= 0 || r.bottom <= 0) return {};
    POINT origin{0, 0};
    ClientToScreen(control, &origin);
    const int w = r.right, h = r.bottom;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, w, h);
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, w, h, screen, origin.x, origin.y, SRCCOPY);
    SelectObject(memory, old);
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = w;
    info.bmiHeader.biHeight = -h;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    std::vector<uint32_t> pixels(size_t(w) * h);
    GetDIBits(memory, bitmap, 0, h, pixels.data(), &info, DIB_RGB_COLORS);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    for (uint32_t& p : pixels) p &= 0xFFFFFF;
    if (width) *width = w;
    return pixels;
}

// The colours painted inside a control, without its sunken edge: one colour
// means nothing is drawn there.
size_t PaintedColours(HWND control) {
    int width = 0;
    const std::vector<uint32_t> pixels = ScreenPixels(control, &width);
    const int height = width ? int(pixels.size()) / width : 0;
    std::set<uint32_t> colours;
    for (int y = 2; y < height - 2; ++y) {
        for (int x = 2; x < width - 2; ++x) colours.insert(pixels[size_t(y) * width + x]);
    }
    return colours.size();
}

// The picture of an input as shown: the bitmap with an instrument (112) and
// the one without (113) differ.
std::vector<uint32_t> Picture(HWND main, int input) {
    const auto control = ui::FindControl(main, IDC_INPUT_PICTURE_0 + input);
    return control ? ScreenPixels(*control) : std::vector<uint32_t>{};
}

// The lines of the driver's diagnostic log (KX305_LOG) of a program run,
// without their time stamps ("2024.05.17 12:00:00 "); a line without one
// is kept whole, so that it fails the comparisons.
std::vector<std::string> DriverLogMessages(const std::string& log) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < log.size()) {
        size_t end = log.find('\n', start);
        if (end == std::string::npos) end = log.size();
        std::string line = log.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        const bool stamped = line.size() > 20 && line[4] == '.' && line[7] == '.' && line[10] == ' ' &&
                             line[13] == ':' && line[16] == ':' && line[19] == ' ';
        lines.push_back(stamped ? line.substr(20) : line);
        start = end + 1;
    }
    return lines;
}

// The driver library reads KX305_LOG when the program loads it: set for the
// programs started while this lives.
class ScopedDriverLog {
public:
    explicit ScopedDriverLog(const std::string& path) { SetEnvironmentVariableA("KX305_LOG", path.c_str()); }
    ~ScopedDriverLog() { SetEnvironmentVariableA("KX305_LOG", nullptr); }
    ScopedDriverLog(const ScopedDriverLog&) = delete;
    ScopedDriverLog& operator=(const ScopedDriverLog&) = delete;
};

// With the driver's diagnostic log switched on, as a user would for a
// support case: the program's session is written there by kx305.dll.
TEST_F(QuickStart, PanelsFollowTheSimulatorsInstruments) {
    const std::string log = TempFile("kx305.log");
    {
        const ScopedDriverLog driverLog(log);
        ASSERT_NO_FATAL_FAILURE(Start("KX305_PORT_FW113"));
    }
    // Input 1 carries the KX-124 the simulator names, with its serial number.
    const std::string kx124 = Simulator(port_, "input 1");
    ASSERT_EQ(kx124.rfind("ok kx124,", 0), 0u) << kx124;
    EXPECT_TRUE(WaitPanel(
        IDC_INPUT_NAME_0 + 1,
        [&](const std::string& t) { return Contains(t, "KX-124") && Contains(t, "nr " + ReplyField(kx124, "serial")); },
        Milliseconds(5000)))
        << Panel(IDC_INPUT_NAME_0 + 1);
    EXPECT_TRUE(Contains(Panel(IDC_INPUT_DESCRIPTION_0 + 1), Shown(ReplyField(kx124, "t"))))
        << Panel(IDC_INPUT_DESCRIPTION_0 + 1) << " / " << kx124;
    // The rain gauge on input 0, the other instruments on 2 and 3, nothing on 4.
    EXPECT_FALSE(Panel(IDC_INPUT_NAME_0).empty());
    for (int input : {2, 3}) {
        EXPECT_FALSE(Panel(IDC_INPUT_NAME_0 + input).empty()) << input;
        EXPECT_FALSE(Panel(IDC_INPUT_DESCRIPTION_0 + input).empty()) << input;
    }
    EXPECT_EQ(Panel(IDC_INPUT_DESCRIPTION_0 + 4), "");
    EXPECT_NE(Picture(main(), 1), Picture(main(), 4));

    // A changed value reaches the panel within a few cycles.
    const std::string changed = Simulator(port_, "set 1 t=12.5");
    ASSERT_EQ(changed.rfind("ok", 0), 0u) << changed;
    EXPECT_TRUE(WaitPanel(
        IDC_INPUT_DESCRIPTION_0 + 1, [](const std::string& t) { return Contains(t, "12,5"); }, Milliseconds(10000)))
        << Panel(IDC_INPUT_DESCRIPTION_0 + 1);
    GuidePicture(GuideImage{"okno-glowne"}, main());
    // The rain gauge makes its menu item usable.
    const auto rainItem = MenuState(IDM_RAIN_GAUGE);
    ASSERT_TRUE(rainItem) << "menu hook";
    EXPECT_EQ(*rainItem & MF_GRAYED, 0u);
    EXPECT_EQ(Close(), std::optional<DWORD>(0));

    // The library's start, the connection with the identity first, cycles
    // of clock and results, and at the end the worker's close before the
    // library's own end, with no handle left open.
    const auto bytes = FileBytes(log);
    ASSERT_TRUE(bytes) << log << " was not written";
    const std::vector<std::string> lines = DriverLogMessages(*bytes);
    ASSERT_GE(lines.size(), 7u) << *bytes;
    EXPECT_EQ(lines.front(), "Start programu") << *bytes;
    const std::string open = "Open(\"\\\\.\\COM" + std::to_string(PortNumber(port_)) + "\"): Ok";
    const auto first = [&](const std::string& prefix) {
        return std::find_if(lines.begin(), lines.end(),
                            [&](const std::string& line) { return line.rfind(prefix, 0) == 0; });
    };
    const auto opened = first(open);
    const auto info = first("GetInfo(): Ok (wersja 1.13 (");
    const auto clock = first("GetTime(): Ok (");
    const auto results = first("GetResults(): Ok");
    ASSERT_NE(opened, lines.end()) << open << " in\n" << *bytes;
    ASSERT_NE(info, lines.end()) << *bytes;
    ASSERT_NE(clock, lines.end()) << *bytes;
    ASSERT_NE(results, lines.end()) << *bytes;
    EXPECT_LT(opened, info);
    EXPECT_LT(info, clock);
    EXPECT_LT(clock, results);
    EXPECT_NE(info->find(", SN " + ReplyField(Simulator(port_, "state"), "serial") + ")"), std::string::npos) << *info;
    // Polled four times a second for seconds: many cycles.
    EXPECT_GE(std::count(lines.begin(), lines.end(), "GetResults(): Ok"), 3) << *bytes;
    EXPECT_EQ(lines[lines.size() - 2], "Close(): Ok") << *bytes;
    EXPECT_EQ(lines.back(), "Koniec programu") << *bytes;
    EXPECT_EQ(first("Niezamkniety uchwyt"), lines.end()) << *bytes;
}

// The panels hold their texts as window texts (WM_GETTEXT answers what is
// shown) and the window paints them: a panel with text has drawn pixels, an
// empty one has none.
TEST_F(QuickStart, PanelsAnswerWithTheirTextsAndPaintThem) {
    ASSERT_NO_FATAL_FAILURE(Start("KX305_PORT_FW112"));
    SetForegroundWindow(main());  // nothing may cover the panels
    for (int input = 0; input < 5; ++input) {
        for (int id : {IDC_INPUT_NAME_0 + input, IDC_INPUT_DESCRIPTION_0 + input, IDC_INPUT_STATUS_0 + input}) {
            SCOPED_TRACE(id);
            const auto control = ui::FindControl(main(), id);
            ASSERT_TRUE(control);
            char buffer[512] = {};
            const LRESULT n = SendMessageA(*control, WM_GETTEXT, sizeof buffer, reinterpret_cast<LPARAM>(buffer));
            // Inputs 0..3 carry instruments, input 4 none (its name field
            // still names the empty input).
            if (id == IDC_INPUT_NAME_0 + input) {
                EXPECT_GT(n, 0);
            } else {
                EXPECT_EQ(n > 0, input < 4) << buffer;
                EXPECT_EQ(PaintedColours(*control) > 1, input < 4) << buffer;
            }
        }
    }
    const std::string status = Panel(IDC_CONVERTER_STATUS);
    EXPECT_NE(status.find("\r\n"), std::string::npos) << "two lines: " << status;
    EXPECT_GT(PaintedColours(*ui::FindControl(main(), IDC_CONVERTER_STATUS)), 1u);
    EXPECT_EQ(Close(), std::optional<DWORD>(0));
}

TEST_F(QuickStart, LostConverterShowsQuestionMarksUntilItReturns) {
    // Nothing logged or held: a download the vanishing cuts short loses no
    // record, so no notice of lost records stands in the way of the close.
    const std::string port = EnvironmentPort("KX305_PORT_FW112");
    ASSERT_NO_FATAL_FAILURE(Configure(port, "period 0", "period " + ReplyField(Simulator(port, "state"), "period")));
    ASSERT_NO_FATAL_FAILURE(Configure(port, "clear-log"));
    ASSERT_NO_FATAL_FAILURE(Start("KX305_PORT_FW112"));
    SetForegroundWindow(main());
    const std::vector<uint32_t> present = Picture(main(), 1);
    const std::vector<uint32_t> absent = Picture(main(), 4);
    ASSERT_FALSE(present.empty());
    ASSERT_NE(present, absent);
    // Input 0 carries the rain gauge: its settings command is usable.
    const auto rainGaugeGreyed = [&] {
        const auto state = MenuState(IDM_RAIN_GAUGE);
        return state ? std::optional<bool>((*state & MF_GRAYED) != 0) : std::nullopt;
    };
    EXPECT_TRUE(ui::WaitUntil([&] { return rainGaugeGreyed() == std::optional<bool>(false); }, Milliseconds(5000)));
    const std::string gone = Simulator(port_, "vanish 6");
    ASSERT_EQ(gone.rfind("ok", 0), 0u) << gone;
    EXPECT_TRUE(WaitPanel(
        IDC_CONVERTER_STATUS, [](const std::string& t) { return t.rfind("KX-305 wersja ?.?, nr ????", 0) == 0; },
        Milliseconds(5000)))
        << Panel(IDC_CONVERTER_STATUS);
    EXPECT_TRUE(Contains(Panel(IDC_CONVERTER_STATUS), "?????, ?????")) << Panel(IDC_CONVERTER_STATUS);
    for (int input = 0; input < 5; ++input) {
        EXPECT_TRUE(ui::WaitUntil([&] { return Picture(main(), input) == absent; }, Milliseconds(2000))) << input;
    }
    // No rain gauge is known while the converter is away.
    EXPECT_TRUE(ui::WaitUntil([&] { return rainGaugeGreyed() == std::optional<bool>(true); }, Milliseconds(2000)));
    // Back after six seconds: the worker reopens the port by itself.
    EXPECT_TRUE(WaitLive(port_, Milliseconds(20000))) << Panel(IDC_CONVERTER_STATUS);
    EXPECT_TRUE(ui::WaitUntil([&] { return Picture(main(), 1) == present; }, Milliseconds(5000)));
    EXPECT_TRUE(ui::WaitUntil([&] { return rainGaugeGreyed() == std::optional<bool>(false); }, Milliseconds(5000)));
    EXPECT_EQ(Close(), std::optional<DWORD>(0));
}

// The firmware 1.13 converter holds records at the start; the first download
// shows its text and progress, and every record lands in the file.
TEST_F(QuickStart, DownloadFillsTheRegistrationFile) {
    // Earlier scenarios may have emptied the memory already.
    const std::string port = EnvironmentPort("KX305_PORT_FW113");
    ASSERT_EQ(Simulator(port, "fill 40").rfind("ok", 0), 0u);
    const std::string count = ReplyField(Simulator(port, "state"), "records");
    ASSERT_FALSE(count.empty());
    const int stored = std::stoi(count);
    ASSERT_GE(stored, 40);
    ASSERT_NO_FATAL_FAILURE(Start("KX305_PORT_FW113"));
    const auto text = ui::FindControl(main(), IDC_RECORDING_TEXT);
    const auto bar = ui::FindControl(main(), IDC_DOWNLOAD_PROGRESS);
    ASSERT_TRUE(text && bar);
    bool textShown = false;
    int highest = 0;
    // Paced at 9600 baud the transfer takes seconds; watch it run.
    ui::WaitUntil(
        [&] {
            textShown = textShown || IsWindowVisible(*text);
            highest = std::max(highest, ui::ProgressPosition(*bar).value_or(0));
            return ReplyField(Simulator(port, "state"), "records") == "0";
        },
        Milliseconds(60000));
    EXPECT_TRUE(textShown);
    EXPECT_GT(highest, 0);
    EXPECT_EQ(ui::WindowText(*text), "Trwa rejestracja pomiarów...");
    EXPECT_TRUE(ui::WaitUntil([&] { return !IsWindowVisible(*text); }, Milliseconds(10000)));
    EXPECT_EQ(Close(), std::optional<DWORD>(0));

    auto file = kx305mon::OpenFile(TempFile("pomiary.kxg"), kx305mon::FileMode::Reading);
    ASSERT_TRUE(file);
    kx305mon::RecordList records;
    EXPECT_GE(kx305mon::ReadRegistrationFile(file.get(), records), stored);
    kx305mon::FreeRecordList(records);
}

// Firmware 1.12 hands its whole memory over when the download begins: from
// then on its records exist only in the transfer.  300 records at the real
// 9600-baud rate take long enough to act while they travel.
class PacedDownload : public QuickStart {
protected:
    static constexpr int kRecords = 300;
    static constexpr Milliseconds kTransferWait{90000};

    // Fills the converter with kRecords, starts the program and waits until
    // its first download runs (text 1062 shows).
    void StartDownload() {
        simulator_ = EnvironmentPort("KX305_PORT_FW112");
        ASSERT_FALSE(simulator_.empty());
        ASSERT_EQ(Simulator(simulator_, "clear-log").rfind("ok", 0), 0u);
        const std::string filled = Simulator(simulator_, "fill " + std::to_string(kRecords));
        ASSERT_EQ(ReplyField(filled, "records"), std::to_string(kRecords)) << filled;
        ASSERT_NO_FATAL_FAILURE(Configure(simulator_, "pace on", "pace off"));
        ASSERT_NO_FATAL_FAILURE(Start("KX305_PORT_FW112"));
        text_ = ui::FindControl(main(), IDC_RECORDING_TEXT).value_or(nullptr);
        ASSERT_NE(text_, nullptr);
        ASSERT_TRUE(ui::WaitUntil([&] { return IsWindowVisible(text_) != FALSE; }, Milliseconds(30000)))
            << "no download began";
        // The converter has emptied its memory: the transfer runs.
        ASSERT_TRUE(ui::WaitUntil([&] { return ConverterRecords() < kRecords; }, Milliseconds(10000)));
    }
    int ConverterRecords() {
        const std::string n = ReplyField(Simulator(simulator_, "state"), "records");
        return n.empty() ? -1 : std::stoi(n);
    }
    // Records in the registration file; the converter may have logged more
    // meanwhile (one a minute), so at least kRecords when none was lost.
    int FileRecords() {
        auto file = kx305mon::OpenFile(TempFile("pomiary.kxg"), kx305mon::FileMode::Reading);
        if (!file) return -1;
        kx305mon::RecordList records;
        const int n = kx305mon::ReadRegistrationFile(file.get(), records);
        kx305mon::FreeRecordList(records);
        return n;
    }
    std::string simulator_;
    HWND text_ = nullptr;
};

// The log-interval dialog opened while the records travel waits for the
// download, which ends whole, and then gets the converter's interval.
TEST_F(PacedDownload, UserOperationWaitsForTheDownload) {
    ASSERT_NO_FATAL_FAILURE(StartDownload());
    const std::string period = ReplyField(Simulator(simulator_, "state"), "period");
    ASSERT_TRUE(Command(IDM_LOG_INTERVAL));
    const auto dialog = WaitDialog("Interwał rejestracji");
    ASSERT_TRUE(dialog) << ui::LastError();
    const auto ok = ui::FindControl(*dialog, IDC_OK);
    const auto interval = ui::FindControl(*dialog, IDC_INTERVAL);
    ASSERT_TRUE(ok && interval);
    EXPECT_TRUE(ui::WaitUntil([&] { return IsWindowEnabled(*ok) != FALSE; }, kTransferWait))
        << "the dialog got no answer";
    EXPECT_EQ(ui::WindowText(*interval), period);
    EXPECT_TRUE(ui::WaitUntil([&] { return !IsWindowVisible(text_); }, kTransferWait));
    SaveScenarioScreenshot();
    EXPECT_TRUE(PressButton(*dialog, IDC_CANCEL));
    EXPECT_EQ(Close(), std::optional<DWORD>(0));
    EXPECT_GE(FileRecords(), kRecords);
}

// Closing while the records travel: the window stays, served, and says so;
// the program ends once they are in the file.
TEST_F(PacedDownload, ClosingLetsTheDownloadFinish) {
    ASSERT_NO_FATAL_FAILURE(StartDownload());
    ASSERT_TRUE(PostMessageA(main(), WM_CLOSE, 0, 0));
    EXPECT_TRUE(
        ui::WaitUntil([&] { return ui::WindowText(text_) == "Kończenie rejestracji pomiarów..."; }, Milliseconds(5000)))
        << ui::WindowText(text_);
    EXPECT_TRUE(IsWindowVisible(text_));
    SaveScenarioScreenshot();
    // Still served while it waits (the live display, DDE).
    const auto before = std::chrono::steady_clock::now();
    EXPECT_TRUE(LastMessageIcon().has_value());
    EXPECT_LT(std::chrono::steady_clock::now() - before, Milliseconds(2000));
    EXPECT_TRUE(program().Running()) << "ended before the transfer";
    EXPECT_EQ(program().WaitExit(kTransferWait), std::optional<DWORD>(0));
    EXPECT_GE(FileRecords(), kRecords);
}

}  // namespace
}  // namespace kx305::e2e
