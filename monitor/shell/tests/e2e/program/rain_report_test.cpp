// The rain report (126, then 127) in kx305mon.exe over a registration file
// of an hourly record of rain with a counter reset and a few later days and
// months: the list of each interval against the recording core's rows for
// the same file, "Kopiuj" and "Zapisz" against its export, and a file that
// cannot be written.
#include "program_fixture.h"

#include "instruments/catalogue.h"
#include "instruments/locale.h"
#include "recording/export.h"
#include "recording/rain_report.h"
#include "recording/registration_file.h"
#include "resources/messages.h"
#include "resources/resource.h"

namespace kx305::e2e {
namespace {

namespace msg = kx305mon::messages;

using RainReport = ProgramTest;

struct RainRecord {
    int month, day, hour, minute;
    int total;  // tenths of a millimetre
};

// Every 10 minutes from 14:00 to 17:10 (UTC) on 2007-02-19: 10.2 at 14:00,
// 12.5 at 15:00, 12.9 at 16:00, then the counter reset before 17:00 (2.4);
// then two records on 02-20, one in March and one in April.
void WriteRain(const std::string& path) {
    std::vector<RainRecord> rain;
    const int totals[] = {102, 104, 108, 112, 116, 120,  // 14:00 .. 14:50
                          125, 126, 126, 127, 128, 128,  // 15:00 .. 15:50
                          129, 130, 131, 133, 134, 135,  // 16:00 .. 16:50
                          24,  30};                      // 17:00, 17:10
    int minutes = 14 * 60;
    for (int total : totals) {
        rain.push_back({2, 19, minutes / 60, minutes % 60, total});
        minutes += 10;
    }
    for (const RainRecord& later : {RainRecord{2, 20, 9, 0, 40}, RainRecord{2, 20, 9, 30, 41},
                                    RainRecord{3, 5, 10, 0, 60}, RainRecord{4, 1, 8, 0, 75}}) {
        rain.push_back(later);
    }
    // 0.1 mm per impulse: the value texts carry one decimal.
    kx305mon::rainGaugeSettings().calibration = 100;
    std::unique_ptr<kx305mon::FileStream> file;
    ASSERT_EQ(kx305mon::OpenRecordingFile(
                  path, true, [] { return kx305mon::ExistingFileChoice::Cancel; }, file),
              kx305mon::RecordingOpen::Opened);
    for (const RainRecord& r : rain) {
        LogRecord record{};
        record.year = 2007;
        record.month = static_cast<uint8_t>(r.month);
        record.day = static_cast<uint8_t>(r.day);
        record.hour = static_cast<uint8_t>(r.hour);
        record.minute = static_cast<uint8_t>(r.minute);
        record.results[0].type = kx305mon::kTypeRainGauge;
        record.results[0].data[0] = r.total;
        ASSERT_TRUE(kx305mon::WriteRegistrationRecord(*file, record));
    }
    kx305mon::ResetRainGaugeSettings();
}

TEST_F(RainReport, EveryIntervalShowsTheRowsOfTheRecordingCoreAndIsCopiedAndSavedAsExported) {
    const std::string archive = TempFile("deszcz.kxg");
    ASSERT_NO_FATAL_FAILURE(WriteRain(archive));
    kx305mon::RecordList records;
    {
        auto file = kx305mon::OpenFile(archive, kx305mon::FileMode::Reading);
        ASSERT_EQ(kx305mon::ReadRegistrationFile(file.get(), records), 24);
    }
    using kx305mon::RainInterval;
    const std::vector<kx305mon::RainReportRow> hours = kx305mon::BuildRainReport(records, RainInterval::Hours);
    // The example's two hours, then the reset: 12 - 10, 12 - 12, and 2 (not
    // 2 - 12); then one row for each later hour with records.
    ASSERT_EQ(hours.size(), 6u);
    const char* amounts[] = {"2", "0", "2"};
    for (size_t i = 0; i < 3; ++i) EXPECT_EQ(hours[i].amount, amounts[i]) << i;

    const std::string port = EnvironmentPort("KX305_PORT_FW113");
    ASSERT_TRUE(WriteQuickStart(port));
    ASSERT_TRUE(Launch());
    ASSERT_TRUE(WaitMainWindow());

    // 126 over the archive with this interval (the stored one selected at
    // first), then 127 once it shows as many rows as the core gives; its
    // list must equal them.
    const auto openReport = [&](int stored, const std::string& interval,
                                const std::vector<kx305mon::RainReportRow>& expected, HWND& report) {
        ASSERT_TRUE(Command(IDM_RAIN_REPORT));
        const auto source = WaitDialog("Odczyt danych z deszczomierza");
        ASSERT_TRUE(source) << ui::LastError();
        const HWND combo = *ui::FindControl(*source, IDC_REPORT_INTERVAL);
        EXPECT_EQ(ui::ComboEntries(combo), (std::vector<std::string>{"godziny", "dni", "miesiące"}));
        EXPECT_EQ(ui::ComboSelection(combo), std::optional<int>(stored));
        const HWND edit = *ui::FindControl(*source, IDC_FILE_NAME);
        EXPECT_FALSE(IsWindowEnabled(edit)) << "the file in use is ticked at the start";
        ASSERT_TRUE(ui::Click(*ui::FindControl(*source, IDC_USE_CURRENT_FILE)));
        ASSERT_TRUE(ui::WaitUntil([&] { return IsWindowEnabled(edit) != FALSE; }, Milliseconds(5000)));
        ASSERT_TRUE(ui::SetEditText(edit, archive));
        ASSERT_TRUE(ui::PickComboText(combo, interval));
        // The hourly report, the first one, goes into the user guide.
        const bool pictured = interval == "godziny";
        if (pictured) GuidePicture(GuideImage{"odczyt-deszczomierza"}, *source);
        ASSERT_TRUE(PressButton(*source, IDC_OK));

        const auto shown = WaitDialog("Raport opadów");
        ASSERT_TRUE(shown) << ui::LastError();
        report = *shown;
        const HWND list = *ui::FindControl(report, IDC_RECORD_LIST);
        std::optional<ui::ListViewContent> content;
        ASSERT_TRUE(ui::WaitUntil(
            [&] {
                content = ui::ReadListView(list);
                return content && content->rows.size() == expected.size();
            },
            Milliseconds(5000)))
            << (content ? content->rows.size() : 0);
        ASSERT_EQ(content->columns.size(), 3u);
        EXPECT_EQ(content->columns[0].text, "Data i czas");
        EXPECT_EQ(content->columns[1].text, "Wynik [mm]");
        EXPECT_EQ(content->columns[2].text, "Status");
        EXPECT_TRUE(IsWindowEnabled(list));
        for (size_t i = 0; i < expected.size(); ++i) {
            SCOPED_TRACE(i);
            EXPECT_EQ(content->rows[i].cells,
                      (std::vector<std::string>{expected[i].timeLabel, expected[i].amount, "Pomiar --> OK"}));
            EXPECT_EQ(content->rows[i].image, 1);
        }
        if (pictured) GuidePicture(GuideImage{"raport-opadow"}, report);
    };

    HWND report = nullptr;
    ASSERT_NO_FATAL_FAILURE(openReport(1, "godziny", hours, report));
    for (size_t i = 0; i < 3; ++i) EXPECT_EQ(hours[i].timeLabel.substr(13), ":00:00") << hours[i].timeLabel;

    // What "Kopiuj" and "Zapisz" must give: the rain export with the stored
    // flags (descriptive layout, so the text variant of the save dialog).
    const std::string exportPath = TempFile("oczekiwane.txt");
    {
        const kx305mon::ExportContext context =
            kx305mon::MakeExportContext(kx305mon::kDefaultExportFlags, true, records, kx305mon::CurrentLocale());
        const kx305mon::ExportResult written = kx305mon::ExportRainReport(context, exportPath, hours);
        ASSERT_TRUE(written.file && written.written);
    }
    const std::optional<std::string> bytes = FileBytes(exportPath);
    ASSERT_TRUE(bytes && !bytes->empty());

    ASSERT_TRUE(ui::WriteClipboard(std::string("leer", 5)));
    ASSERT_TRUE(ui::Click(*ui::FindControl(report, IDC_COPY)));
    WaitClipboardText(*bytes);

    // "Zapisz" through the save-as dialog, which proposes RainMeter.txt.
    const std::string saved = TempFile("raport.txt");
    const auto saveAs = [&]() -> std::optional<HWND> {
        if (!ui::Click(*ui::FindControl(report, IDC_SAVE))) return std::nullopt;
        return WaitDialog(msg::kChooseTextExportTitle, Milliseconds(10000));
    };
    auto dialog = saveAs();
    ASSERT_TRUE(dialog) << ui::LastError();
    bool proposed = false;
    for (const ui::ControlInfo& control : ui::ListControls(*dialog)) {
        proposed = proposed || (control.className == "Edit" && control.text == msg::kRainTextFileName);
    }
    EXPECT_TRUE(proposed);
    GuidePicture(GuideImage{"zapisz-raport"}, *dialog);
    ASSERT_TRUE(ui::AnswerSaveAs(*dialog, saved)) << ui::LastError();
    EXPECT_TRUE(ui::WaitUntil([&] { return FileBytes(saved) == bytes; }, Milliseconds(5000)));

    // The same file again while another program holds it open without
    // sharing: the overwrite question, then the failure; the file keeps
    // what it had.
    {
        const HANDLE held = CreateFileA(saved.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(held, INVALID_HANDLE_VALUE);
        dialog = saveAs();
        EXPECT_TRUE(dialog) << ui::LastError();
        if (dialog) {
            EXPECT_TRUE(ui::AnswerSaveAs(*dialog, saved)) << ui::LastError();
            const auto question = WaitMessageBox();
            EXPECT_TRUE(question && question->hwnd != *dialog && ui::PressMessageBoxButton(*question, IDYES))
                << ui::LastError();
            EXPECT_TRUE(AnswerMessageBox(msg::kExportFailed, IDOK, kStartWait, GuideImage{"blad-eksportu"}));
            EXPECT_EQ(LastMessageIcon(), std::optional<UINT>(MB_ICONEXCLAMATION));
        }
        CloseHandle(held);
    }
    EXPECT_EQ(FileBytes(saved), bytes);

    // "Opcje": the report's own export parameters (separator and layout),
    // holding the stored flags; cancelled, they stay as they were.
    ASSERT_TRUE(ui::Click(*ui::FindControl(report, IDC_OPTIONS)));
    const auto options = WaitDialog("Parametry eksportu");
    ASSERT_TRUE(options) << ui::LastError();
    EXPECT_EQ(ui::Describe(*ui::FindControl(*options, IDC_LAYOUT_DESCRIPTIVE)).checked, BST_CHECKED);
    GuidePicture(GuideImage{"parametry-eksportu-opadow"}, *options);
    ASSERT_TRUE(PressButton(*options, IDC_CANCEL));
    EXPECT_EQ(ui::ReadRegistryDword(kSettingsKey, "Flags"), std::optional<DWORD>(kx305mon::kDefaultExportFlags));
    ASSERT_TRUE(PressButton(report, IDC_CLOSE));

    // Days and months over the same file; the last choice is stored.
    const std::vector<kx305mon::RainReportRow> days = kx305mon::BuildRainReport(records, RainInterval::Days);
    const std::vector<kx305mon::RainReportRow> months = kx305mon::BuildRainReport(records, RainInterval::Months);
    EXPECT_EQ(days.size(), 3u);
    EXPECT_EQ(months.size(), 2u);
    ASSERT_NO_FATAL_FAILURE(openReport(0, "dni", days, report));
    ASSERT_TRUE(PressButton(report, IDC_CLOSE));
    ASSERT_NO_FATAL_FAILURE(openReport(1, "miesiące", months, report));
    for (const kx305mon::RainReportRow& row : months) EXPECT_EQ(row.timeLabel.substr(7), "-01 00:00:00");
    ASSERT_TRUE(PressButton(report, IDC_CLOSE));
    EXPECT_EQ(ui::ReadRegistryDword(kSettingsKey, "RainMeter Period"), std::optional<DWORD>(2));
    EXPECT_EQ(Close(), std::optional<DWORD>(0));
    kx305mon::FreeRecordList(records);
}

}  // namespace
}  // namespace kx305::e2e
