// The port dialog (103), the registration dialog (121), the read-source
// dialog (122) and the memory viewer (104) in kx305mon.exe, opened from the
// menu while the program shows live readings of a simulated converter.
#include "program_fixture.h"

#include <algorithm>

#include "instruments/catalogue.h"
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
    return kx305mon::ReadRegistrationFile(file.get(), records);
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
// and leaves recording in that file, where the next download lands.
TEST_F(FileDialogs, RegistrationFileChangedThenKeptWhenTheNextCannotBeOpened) {
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
    ASSERT_TRUE(AnswerMessageBox(msg::kRegistrationFileUnavailable, IDOK));
    EXPECT_EQ(LastMessageIcon(), std::optional<UINT>(MB_ICONEXCLAMATION));
    EXPECT_TRUE(IsWindowVisible(*dialog));
    ASSERT_TRUE(PressButton(*dialog, IDC_CANCEL));
    EXPECT_STREQ(ui::ReadRegistryString(kSettingsKey, "Logfile").value_or("").c_str(), next.c_str());

    // The converter logs records; the recording timer's next download
    // (20 s after the choice) brings them into the file in use.
    ASSERT_EQ(Simulator(port, "fill 5").rfind("ok", 0), 0u);
    EXPECT_TRUE(ui::WaitUntil([&] { return ReplyField(Simulator(port, "state"), "records") == "0"; },
                              Milliseconds(60000)));
    EXPECT_EQ(Close(), std::optional<DWORD>(0));
    EXPECT_GE(RecordsIn(next), 5);
}

// Another registration file of three records through 122 and the viewer:
// caption, rows and navigation as the user sees them.
TEST_F(FileDialogs, ViewerShowsTheRecordsOfAnotherFile) {
    const std::string archive = TempFile("archiwum.kxg");
    {
        std::unique_ptr<kx305mon::FileStream> file;
        ASSERT_EQ(kx305mon::OpenRecordingFile(archive, true, [] { return kx305mon::ExistingFileChoice::Cancel; },
                                              file),
                  kx305mon::RecordingOpen::Opened);
        for (int minute : {1, 2, 3}) {
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
    }
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
    ASSERT_TRUE(ui::Click(*ui::FindControl(*viewer, IDC_LAST_RECORD)));
    EXPECT_TRUE(shows("Rekord 3/3 z dnia ", 1)) << ui::WindowText(caption);
    ASSERT_TRUE(ui::Click(*ui::FindControl(*viewer, IDC_NEXT_RECORD)));
    EXPECT_TRUE(shows("Rekord 3/3 z dnia ", 1)) << ui::WindowText(caption);
    ASSERT_TRUE(ui::Click(*ui::FindControl(*viewer, IDC_FIRST_RECORD)));
    EXPECT_TRUE(shows("Rekord 1/3 z dnia ", 1)) << ui::WindowText(caption);
    ASSERT_TRUE(PressButton(*viewer, IDC_CLOSE));
    EXPECT_EQ(Close(), std::optional<DWORD>(0));
}

}  // namespace
}  // namespace kx305::e2e
