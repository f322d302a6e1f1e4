// The port dialog (103), the registration dialog (121), the read-source
// dialog (122) and the memory viewer (104) in kx305mon.exe, opened from the
// menu while the program shows live readings of a simulated converter.
#include "program_fixture.h"

#include <algorithm>
#include <cstdlib>
#include <set>

#include "instruments/catalogue.h"
#include "instruments/locale.h"
#include "recording/export.h"
#include "recording/registration_file.h"
#include "resources/messages.h"
#include "resources/resource.h"

namespace kx305::e2e {
namespace {

namespace msg = kx305mon::messages;

using FileDialogs = ProgramTest;

std::string ComName(int number) { return "COM" + std::to_string(number); }

int RecordsIn(const std::string& path) {
    auto file = kx305mon::OpenFile(path, kx305mon::FileMode::Reading);
    kx305mon::RecordList records;
    const int count = kx305mon::ReadRegistrationFile(file.get(), records);
    kx305mon::FreeRecordList(records);
    return count;
}

// The record count n of a viewer caption "Rekord i/n z dnia ..."; 0 when
// the caption is another.
int CaptionCount(const std::string& caption) {
    const size_t slash = caption.find('/');
    return caption.rfind("Rekord ", 0) == 0 && slash != std::string::npos ? std::atoi(caption.c_str() + slash + 1) : 0;
}

// The copies' temporary files in the temporary directory, which the
// program shares with this process (GetTempFileName keeps three letters of
// the prefix "KX305").
std::set<std::string> TemporaryExportFiles() {
    char directory[MAX_PATH] = {};
    GetTempPathA(sizeof directory, directory);
    std::set<std::string> names;
    WIN32_FIND_DATAA entry;
    const HANDLE find = FindFirstFileA((std::string(directory) + "KX3*.tmp").c_str(), &entry);
    if (find == INVALID_HANDLE_VALUE) return names;
    do names.insert(entry.cFileName);
    while (FindNextFileA(find, &entry));
    FindClose(find);
    return names;
}

// Wine's probe lists COM1..COM9; the simulators of this run in that range
// show, and choosing another one moves the live readings there.
TEST_F(FileDialogs, PortDialogListsTheLinksAndMovesToTheChosenConverter) {
    const std::string first = EnvironmentPort("KX305_PORT_FW113");
    const std::string second = EnvironmentPort("KX305_PORT_FW104");
    ASSERT_TRUE(WriteQuickStart(first));
    ASSERT_TRUE(Launch());
    ASSERT_TRUE(WaitMainWindow());
    ASSERT_TRUE(WaitLive(first));
    ASSERT_TRUE(Command(IDM_PORT));
    const auto dialog = WaitDialog("Port szeregowy");
    ASSERT_TRUE(dialog) << ui::LastError();
    EXPECT_EQ(ui::WindowText(*ui::FindControl(*dialog, IDC_CURRENT_PORT)), ComName(PortNumber(first)));
    const auto combo = ui::FindControl(*dialog, IDC_PORT_COMBO);
    ASSERT_TRUE(combo);
    const auto entries = ui::ComboEntries(*combo);
    ASSERT_TRUE(entries);
    for (const std::string& port : {first, second}) {
        if (PortNumber(port) > 9) continue;
        EXPECT_NE(std::find(entries->begin(), entries->end(), ComName(PortNumber(port))), entries->end()) << port;
    }
    GuidePicture(GuideImage{"port-szeregowy"}, *dialog);
    if (PortNumber(second) > 9) {
        ASSERT_TRUE(PressButton(*dialog, IDC_CANCEL));
        EXPECT_EQ(Close(), std::optional<DWORD>(0));
        GTEST_SKIP() << "the second converter is beyond COM9 in this slot";
    }
    ASSERT_TRUE(ui::PickComboText(*combo, ComName(PortNumber(second))));
    ASSERT_TRUE(PressButton(*dialog, IDC_OK));
    EXPECT_EQ(ui::ReadRegistryDword(kSettingsKey, "Port"), std::optional<DWORD>(PortNumber(second)));
    EXPECT_TRUE(WaitLive(second)) << Panel(IDC_CONVERTER_STATUS);
    EXPECT_EQ(Close(), std::optional<DWORD>(0));
}

// A new registration file takes over; a path that cannot be opened is told
// and leaves recording in that file, where the next download lands.  The
// viewer reads that file in use while recording goes on, with and without
// the KX-125 average, and the download after it still appends after the
// last record.
TEST_F(FileDialogs, RegistrationFileChangedKeptWhenTheNextCannotBeOpenedAndReadWhileRecording) {
    const std::string port = EnvironmentPort("KX305_PORT_FW113");
    ASSERT_TRUE(WriteQuickStart(port));
    ASSERT_TRUE(Launch());
    ASSERT_TRUE(WaitMainWindow());
    ASSERT_TRUE(WaitLive(port));
    const std::string next = TempFile("nowy.kxg");

    ASSERT_TRUE(Command(IDM_REGISTRATION));
    auto dialog = WaitDialog("Rejestracja");
    ASSERT_TRUE(dialog) << ui::LastError();
    EXPECT_EQ(ui::WindowText(*ui::FindControl(*dialog, IDC_FILE_NAME)), TempFile("pomiary.kxg"));
    ASSERT_TRUE(ui::SetEditText(*ui::FindControl(*dialog, IDC_FILE_NAME), next));
    ASSERT_TRUE(PressButton(*dialog, IDC_OK));
    EXPECT_STREQ(ui::ReadRegistryString(kSettingsKey, "Logfile").value_or("").c_str(), next.c_str());

    ASSERT_TRUE(Command(IDM_REGISTRATION));
    dialog = WaitDialog("Rejestracja");
    ASSERT_TRUE(dialog) << ui::LastError();
    EXPECT_EQ(ui::WindowText(*ui::FindControl(*dialog, IDC_FILE_NAME)), next);
    ASSERT_TRUE(ui::SetEditText(*ui::FindControl(*dialog, IDC_FILE_NAME), TempFile("brak\\inny.kxg")));
    ASSERT_TRUE(ui::Click(*ui::FindControl(*dialog, IDC_OK)));
    ASSERT_TRUE(AnswerMessageBox(msg::kRegistrationFileUnavailable, IDOK, kStartWait, GuideImage{"plik-niedostepny"}));
    EXPECT_EQ(LastMessageIcon(), std::optional<UINT>(MB_ICONEXCLAMATION));
    EXPECT_TRUE(IsWindowVisible(*dialog));
    ASSERT_TRUE(PressButton(*dialog, IDC_CANCEL));
    EXPECT_STREQ(ui::ReadRegistryString(kSettingsKey, "Logfile").value_or("").c_str(), next.c_str());

    // The converter logs records (only these: its own logging stops); the
    // recording timer's next download (20 s after the choice) brings them
    // into the file in use.
    const auto downloaded = [&] {
        return ui::WaitUntil([&] { return ReplyField(Simulator(port, "state"), "records") == "0"; },
                             Milliseconds(60000));
    };
    ASSERT_EQ(Simulator(port, "period 0").rfind("ok", 0), 0u);
    ASSERT_EQ(Simulator(port, "fill 5").rfind("ok", 0), 0u);
    ASSERT_TRUE(downloaded());

    // The file in use through 122 (its box ticked) and the viewer: the
    // record count, and the rows of the last record.
    struct Viewed {
        int count = 0;
        std::vector<std::vector<std::string>> rows;
    };
    const auto viewLastRecord = [&](Viewed& viewed) {
        ASSERT_TRUE(Command(IDM_READ_MEMORY));
        const auto source = WaitDialog("Odczyt pamięci");
        ASSERT_TRUE(source) << ui::LastError();
        EXPECT_EQ(ui::Describe(*ui::FindControl(*source, IDC_USE_CURRENT_FILE)).checked, BST_CHECKED);
        ASSERT_TRUE(PressButton(*source, IDC_OK));
        const auto viewer = WaitDialog("Zawartość pamięci rejestrującej");
        ASSERT_TRUE(viewer) << ui::LastError();
        const HWND caption = *ui::FindControl(*viewer, IDC_RECORD_CAPTION);
        ASSERT_TRUE(ui::WaitUntil([&] { return CaptionCount(ui::WindowText(caption)) > 0; }, Milliseconds(5000)))
            << ui::WindowText(caption);
        viewed.count = CaptionCount(ui::WindowText(caption));
        ASSERT_TRUE(ui::Click(*ui::FindControl(*viewer, IDC_LAST_RECORD)));
        const std::string last = "Rekord " + std::to_string(viewed.count) + "/" + std::to_string(viewed.count) + " ";
        ASSERT_TRUE(ui::WaitUntil([&] { return ui::WindowText(caption).rfind(last, 0) == 0; }, Milliseconds(5000)))
            << ui::WindowText(caption);
        const auto content = ui::ReadListView(*ui::FindControl(*viewer, IDC_RECORD_LIST));
        ASSERT_TRUE(content) << ui::LastError();
        for (const ui::ListViewRow& row : content->rows) viewed.rows.push_back(row.cells);
        ASSERT_TRUE(PressButton(*viewer, IDC_CLOSE));
    };
    const auto isKX125 = [](const std::vector<std::string>& row) { return row.at(0) == "Termometr KX-125"; };
    const auto isAverage = [&](const std::vector<std::string>& row) {
        return isKX125(row) && row.at(2) == "Temperatura";
    };
    Viewed withAverage;
    ASSERT_NO_FATAL_FAILURE(viewLastRecord(withAverage));
    EXPECT_GE(withAverage.count, 5);
    const auto firstKX125 = std::find_if(withAverage.rows.begin(), withAverage.rows.end(), isKX125);
    ASSERT_NE(firstKX125, withAverage.rows.end()) << "the converter's input 2";
    EXPECT_TRUE(isAverage(*firstKX125)) << "the average comes first";
    EXPECT_EQ(std::count_if(withAverage.rows.begin(), withAverage.rows.end(), isKX125), 9);

    // KX125AV off in the additional settings: the same record without the
    // average row, every other row as before.
    ASSERT_TRUE(Command(IDM_EXTRA_SETTINGS));
    const auto extra = WaitDialog("Ustawienia dodatkowe");
    ASSERT_TRUE(extra) << ui::LastError();
    const HWND average = *ui::FindControl(*extra, IDC_SHOW_KX125_AVERAGE);
    ASSERT_EQ(ui::Describe(average).checked, BST_CHECKED);
    GuidePicture(GuideImage{"ustawienia-dodatkowe"}, *extra);
    ASSERT_TRUE(ui::Click(average));
    ASSERT_TRUE(ui::WaitUntil([&] { return ui::Describe(average).checked == BST_UNCHECKED; }, Milliseconds(5000)));
    ASSERT_TRUE(PressButton(*extra, IDC_OK));
    Viewed withoutAverage;
    ASSERT_NO_FATAL_FAILURE(viewLastRecord(withoutAverage));
    EXPECT_EQ(withoutAverage.count, withAverage.count);
    std::vector<std::vector<std::string>> expected = withAverage.rows;
    expected.erase(std::remove_if(expected.begin(), expected.end(), isAverage), expected.end());
    EXPECT_EQ(expected.size() + 1, withAverage.rows.size());
    EXPECT_EQ(withoutAverage.rows, expected);

    // After the reads through the recording handle the next download
    // follows the last record.
    ASSERT_EQ(Simulator(port, "fill 3").rfind("ok", 0), 0u);
    EXPECT_TRUE(downloaded());
    EXPECT_EQ(Close(), std::optional<DWORD>(0));
    EXPECT_EQ(RecordsIn(next), withAverage.count + 3);
    EXPECT_EQ(Simulator(port, "period 60").rfind("ok", 0), 0u);
}

// Another registration file of three good records and a damaged one
// through 122 and the viewer: caption, rows and navigation as the user sees
// them, only the good records; "Kopiuj" while another program holds the
// clipboard, and again once it is free.
TEST_F(FileDialogs, ViewerShowsTheGoodRecordsOfAnotherFileAndCopiesOnceTheClipboardIsFree) {
    const std::string archive = TempFile("archiwum.kxg");
    {
        std::unique_ptr<kx305mon::FileStream> file;
        ASSERT_EQ(kx305mon::OpenRecordingFile(
                      archive, true, [] { return kx305mon::ExistingFileChoice::Cancel; }, file),
                  kx305mon::RecordingOpen::Opened);
        int64_t damaged = -1;
        for (int minute : {1, 9, 2, 3}) {
            if (minute == 9) damaged = file->Position();
            LogRecord record{};
            record.year = 2026;
            record.month = 3;
            record.day = 14;
            record.hour = 10;
            record.minute = static_cast<uint8_t>(minute);
            record.results[0].type = kx305mon::kTypeRainGauge;
            record.results[0].data[0] = minute;
            if (minute == 2) {
                record.results[1].type = kx305mon::kTypeKX124;
                record.results[1].data[3] = 5678;
                record.results[1].data[4] = 453;
                record.results[1].data[5] = 215;
            }
            ASSERT_TRUE(kx305mon::WriteRegistrationRecord(*file, record));
        }
        // One digit of the second record's time stamp changes (its stored
        // byte is the negated plain byte): the checksum no longer fits.
        unsigned char stored = 0;
        ASSERT_TRUE(file->SeekTo(damaged + 3) && file->Read(&stored, 1) == 1);
        stored = static_cast<unsigned char>(stored - 1);
        ASSERT_TRUE(file->SeekTo(damaged + 3) && file->Write(&stored, 1));
    }
    kx305mon::RecordList records;
    {
        auto file = kx305mon::OpenFile(archive, kx305mon::FileMode::Reading);
        ASSERT_EQ(kx305mon::ReadRegistrationFile(file.get(), records), 3);
    }
    const std::set<std::string> temporaryBefore = TemporaryExportFiles();
    const std::string port = EnvironmentPort("KX305_PORT_FW113");
    ASSERT_TRUE(WriteQuickStart(port));
    ASSERT_TRUE(Launch());
    ASSERT_TRUE(WaitMainWindow());
    ASSERT_TRUE(Command(IDM_READ_MEMORY));
    const auto source = WaitDialog("Odczyt pamięci");
    ASSERT_TRUE(source) << ui::LastError();
    ASSERT_TRUE(ui::Click(*ui::FindControl(*source, IDC_USE_CURRENT_FILE)));
    ASSERT_TRUE(ui::WaitUntil([&] { return IsWindowEnabled(*ui::FindControl(*source, IDC_FILE_NAME)) != FALSE; },
                              Milliseconds(5000)));
    ASSERT_TRUE(ui::SetEditText(*ui::FindControl(*source, IDC_FILE_NAME), archive));
    GuidePicture(GuideImage{"odczyt-pamieci"}, *source);
    ASSERT_TRUE(PressButton(*source, IDC_OK));

    const auto viewer = WaitDialog("Zawartość pamięci rejestrującej");
    ASSERT_TRUE(viewer) << ui::LastError();
    const HWND caption = *ui::FindControl(*viewer, IDC_RECORD_CAPTION);
    const HWND list = *ui::FindControl(*viewer, IDC_RECORD_LIST);
    const auto shows = [&](const std::string& head, size_t rows) {
        return ui::WaitUntil(
            [&] {
                const auto content = ui::ReadListView(list);
                return ui::WindowText(caption).rfind(head, 0) == 0 && content && content->rows.size() == rows;
            },
            Milliseconds(5000));
    };
    EXPECT_TRUE(shows("Rekord 1/3 z dnia ", 1)) << ui::WindowText(caption);
    const auto first = ui::ReadListView(list);
    ASSERT_TRUE(first && first->columns.size() == 5u);
    EXPECT_EQ(first->rows.at(0).cells,
              (std::vector<std::string>{"Deszczomierz KX-305", "0", "Opad", "1 mm", "Pomiar --> OK"}));
    EXPECT_EQ(first->rows.at(0).image, 1);
    ASSERT_TRUE(ui::Click(*ui::FindControl(*viewer, IDC_NEXT_RECORD)));
    EXPECT_TRUE(shows("Rekord 2/3 z dnia ", 3)) << ui::WindowText(caption);
    const auto second = ui::ReadListView(list);
    ASSERT_TRUE(second && second->rows.size() == 3u);
    EXPECT_EQ(second->rows.at(1).cells.at(0), "Termohigrometr KX-124");
    EXPECT_EQ(second->rows.at(1).cells.at(1), "5678");
    GuidePicture(GuideImage{"przegladarka"}, *viewer);
    ASSERT_TRUE(ui::Click(*ui::FindControl(*viewer, IDC_LAST_RECORD)));
    EXPECT_TRUE(shows("Rekord 3/3 z dnia ", 1)) << ui::WindowText(caption);
    ASSERT_TRUE(ui::Click(*ui::FindControl(*viewer, IDC_NEXT_RECORD)));
    EXPECT_TRUE(shows("Rekord 3/3 z dnia ", 1)) << ui::WindowText(caption);
    ASSERT_TRUE(ui::Click(*ui::FindControl(*viewer, IDC_FIRST_RECORD)));
    EXPECT_TRUE(shows("Rekord 1/3 z dnia ", 1)) << ui::WindowText(caption);

    // "Kopiuj" while this process holds the clipboard open (longer than the
    // program retries): told, the clipboard untouched, no temporary file left.
    ASSERT_TRUE(ui::WriteClipboard(std::string("zajety", 7)));
    {
        const auto hold = ui::ClipboardHold::Take();
        ASSERT_TRUE(hold) << ui::LastError();
        ASSERT_TRUE(ui::Click(*ui::FindControl(*viewer, IDC_COPY)));
        EXPECT_TRUE(AnswerMessageBox(msg::kClipboardUnavailable, IDOK));
        EXPECT_EQ(LastMessageIcon(), std::optional<UINT>(MB_ICONEXCLAMATION));
    }
    WaitClipboardText("zajety");
    // Free again: the export of all (good) records with the stored flags.
    ASSERT_TRUE(ui::Click(*ui::FindControl(*viewer, IDC_COPY)));
    const std::string exportPath = TempFile("oczekiwane.txt");
    {
        const kx305mon::ExportContext context =
            kx305mon::MakeExportContext(kx305mon::kDefaultExportFlags, true, records, kx305mon::CurrentLocale());
        const kx305mon::ExportResult written = kx305mon::ExportRecords(context, exportPath, kx305mon::kAllRecords);
        ASSERT_TRUE(written.file && written.written);
    }
    const std::optional<std::string> bytes = FileBytes(exportPath);
    ASSERT_TRUE(bytes && !bytes->empty());
    WaitClipboardText(*bytes);
    EXPECT_EQ(TemporaryExportFiles(), temporaryBefore);
    ASSERT_TRUE(PressButton(*viewer, IDC_CLOSE));
    EXPECT_EQ(Close(), std::optional<DWORD>(0));
    kx305mon::FreeRecordList(records);
}

}  // namespace
}  // namespace kx305::e2e
