// The rain report (126, then 127) in kx305mon.exe over a registration file
// of an hourly record of rain with a counter reset: the list against the
// recording core's rows for the same file, and "Kopiuj" against its export.
#include "program_fixture.h"

#include "instruments/catalogue.h"
#include "instruments/locale.h"
#include "recording/export.h"
#include "recording/rain_report.h"
#include "recording/registration_file.h"
#include "resources/resource.h"

namespace kx305::e2e {
namespace {

using RainReport = ProgramTest;

// Records every 10 minutes from 14:00 to 17:10 (UTC) on 2007-02-19; the
// totals in tenths of a millimetre: 10.2 at 14:00, 12.5 at 15:00, 12.9 at
// 16:00, then the counter reset before 17:00 (2.4).
void WriteHourlyRain(const std::string& path) {
    const int totals[] = {102, 104, 108, 112, 116, 120,  // 14:00 .. 14:50
                          125, 126, 126, 127, 128, 128,  // 15:00 .. 15:50
                          129, 130, 131, 133, 134, 135,  // 16:00 .. 16:50
                          24,  30};                      // 17:00, 17:10
    // 0.1 mm per impulse: the value texts carry one decimal.
    kx305mon::rainGaugeSettings().calibration = 100;
    std::unique_ptr<kx305mon::FileStream> file;
    ASSERT_EQ(kx305mon::OpenRecordingFile(path, true, [] { return kx305mon::ExistingFileChoice::Cancel; }, file),
              kx305mon::RecordingOpen::Opened);
    int minutes = 14 * 60;
    for (int total : totals) {
        LogRecord record{};
        record.year = 2007;
        record.month = 2;
        record.day = 19;
        record.hour = static_cast<uint8_t>(minutes / 60);
        record.minute = static_cast<uint8_t>(minutes % 60);
        record.results[0].type = kx305mon::kTypeRainGauge;
        record.results[0].data[0] = total;
        ASSERT_TRUE(kx305mon::WriteRegistrationRecord(*file, record));
        minutes += 10;
    }
    kx305mon::ResetRainGaugeSettings();
}

TEST_F(RainReport, HourlyReportOfAnotherFileShowsAndCopiesTheRowsOfTheRecordingCore) {
    const std::string archive = TempFile("deszcz.kxg");
    ASSERT_NO_FATAL_FAILURE(WriteHourlyRain(archive));
    kx305mon::RecordList records;
    {
        auto file = kx305mon::OpenFile(archive, kx305mon::FileMode::Reading);
        ASSERT_EQ(kx305mon::ReadRegistrationFile(file.get(), records), 20);
    }
    const std::vector<kx305mon::RainReportRow> expected =
        kx305mon::BuildRainReport(records, kx305mon::RainInterval::Hours);
    // The example's two hours, then the reset: 12 - 10, 12 - 12, and 2 (not 2 - 12).
    ASSERT_EQ(expected.size(), 3u);
    const char* amounts[] = {"2", "0", "2"};
    for (size_t i = 0; i < expected.size(); ++i) EXPECT_EQ(expected[i].amount, amounts[i]) << i;

    const std::string port = EnvironmentPort("KX305_PORT_FW113");
    ASSERT_TRUE(WriteQuickStart(port));
    ASSERT_TRUE(Launch());
    ASSERT_TRUE(WaitMainWindow());
    ASSERT_TRUE(Command(IDM_RAIN_REPORT));
    const auto source = WaitDialog("Odczyt danych z deszczomierza");
    ASSERT_TRUE(source) << ui::LastError();
    const HWND combo = *ui::FindControl(*source, IDC_REPORT_INTERVAL);
    EXPECT_EQ(ui::ComboEntries(combo), (std::vector<std::string>{"godziny", "dni", "miesiące"}));
    EXPECT_EQ(ui::ComboSelection(combo), std::optional<int>(1)) << "the stored interval: days";
    const HWND edit = *ui::FindControl(*source, IDC_FILE_NAME);
    EXPECT_FALSE(IsWindowEnabled(edit)) << "the file in use is ticked at the start";
    ASSERT_TRUE(ui::Click(*ui::FindControl(*source, IDC_USE_CURRENT_FILE)));
    ASSERT_TRUE(ui::WaitUntil([&] { return IsWindowEnabled(edit) != FALSE; }, Milliseconds(5000)));
    ASSERT_TRUE(ui::SetEditText(edit, archive));
    ASSERT_TRUE(ui::PickComboText(combo, "godziny"));
    ASSERT_TRUE(PressButton(*source, IDC_OK));

    const auto report = WaitDialog("Raport opadów");
    ASSERT_TRUE(report) << ui::LastError();
    const HWND list = *ui::FindControl(*report, IDC_RECORD_LIST);
    ASSERT_TRUE(ui::WaitUntil(
        [&] {
            const auto content = ui::ReadListView(list);
            return content && content->rows.size() == expected.size();
        },
        Milliseconds(5000)));
    const auto shown = ui::ReadListView(list);
    ASSERT_TRUE(shown);
    ASSERT_EQ(shown->columns.size(), 3u);
    EXPECT_EQ(shown->columns[0].text, "Data i czas");
    EXPECT_EQ(shown->columns[1].text, "Wynik [mm]");
    EXPECT_EQ(shown->columns[2].text, "Status");
    EXPECT_TRUE(IsWindowEnabled(list));
    for (size_t i = 0; i < expected.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(shown->rows[i].cells,
                  (std::vector<std::string>{expected[i].timeLabel, expected[i].amount, "Pomiar --> OK"}));
        EXPECT_EQ(shown->rows[i].image, 1);
        EXPECT_EQ(expected[i].timeLabel.substr(13), ":00:00") << expected[i].timeLabel;
    }

    // "Kopiuj": exactly the bytes of the rain export with the stored flags.
    ASSERT_TRUE(ui::WriteClipboard(std::string("leer", 5)));
    ASSERT_TRUE(ui::Click(*ui::FindControl(*report, IDC_COPY)));
    const kx305mon::ExportContext context = kx305mon::MakeExportContext(
        kx305mon::kDefaultExportFlags, true, records, kx305mon::CurrentLocale());
    const std::string exportPath = TempFile("oczekiwane.txt");
    {
        kx305mon::ExportResult written = kx305mon::ExportRainReport(context, exportPath, expected);
        ASSERT_TRUE(written.file && written.written);
    }
    std::string bytes;
    {
        auto file = kx305mon::OpenFile(exportPath, kx305mon::FileMode::Reading);
        ASSERT_TRUE(file);
        char buffer[4096];
        for (long n; (n = file->Read(buffer, sizeof buffer)) > 0;) bytes.append(buffer, static_cast<size_t>(n));
    }
    ASSERT_FALSE(bytes.empty());
    bytes.push_back('\0');
    std::optional<std::string> copied;
    EXPECT_TRUE(ui::WaitUntil(
        [&] {
            copied = ui::ReadClipboard();
            return copied && *copied == bytes;
        },
        Milliseconds(5000)))
        << (copied ? *copied : std::string("(no clipboard)"));

    ASSERT_TRUE(PressButton(*report, IDC_CLOSE));
    EXPECT_EQ(Close(), std::optional<DWORD>(0));
    kx305mon::FreeRecordList(records);
}

}  // namespace
}  // namespace kx305::e2e
