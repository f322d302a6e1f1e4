// The port dialog (103), the registration dialog (121), the read-source
// dialog (122) and the memory viewer (104) under Wine, from their templates,
// operated through the UI driver: the simulators' COM links of the prefix in
// the port list, a busy port refused, the registration file changed, chosen
// again and kept when the new one cannot be opened, and the viewer over a
// registration file of three records.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "acquisition/tests/recording_events.h"
#include "dialog_fixture.h"
#include "instruments/catalogue.h"
#include "recording/export.h"
#include "recording/registration_file.h"
#include "resources/resource.h"
#include "shell/memory_review.h"
#include "shell/program/dialogs.h"
#include "shell/registration.h"
#include "wine_sim.h"

namespace kx305mon::testing {
namespace {

std::string ComName(int32_t port) { return "COM" + std::to_string(port); }

constexpr char kPortTitle[] = "Port szeregowy";
constexpr char kRegistrationTitle[] = "Rejestracja";
constexpr char kReadSourceTitle[] = "Odczyt pamięci";
constexpr char kViewerTitle[] = "Zawartość pamięci rejestrującej";

class PortDialog : public DialogTest {
protected:
    void SetUp() override {
        DialogTest::SetUp();
        context.plumbing.events = &events;
    }
    void TearDown() override {
        DialogTest::TearDown();
        context.plumbing.events = nullptr;
    }
    RecordingEvents events;
};

// Wine's probe answers for COM1..COM9: the simulators of this run in that
// range are listed.  A listed port whose device went away cannot be opened
// (the port test's failure).
TEST_F(PortDialog, ListsTheLinksRefusesAPortThatCannotBeOpenedAndStoresAGoodOne) {
    std::vector<int32_t> simulators;
    for (const char* name :
         {"KX305_PORT_FW113", "KX305_PORT_FW101", "KX305_PORT_FW104", "KX305_PORT_FW112", "KX305_PORT_SILENT"}) {
        simulators.push_back(kx305::support::SimPortNumber(name, PORT_NONE));
    }
    const int32_t inUse = simulators.front();
    context.port = inUse;
    HWND window = Open(RunPortDialog, kPortTitle);
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(Control(window, IDC_CURRENT_PORT).text, ComName(inUse));
    HWND combo = Handle(window, IDC_PORT_COMBO);
    const std::optional<std::vector<std::string>> entries = ui::ComboEntries(combo);
    ASSERT_TRUE(entries.has_value());
    const auto listed = [&](int32_t port) {
        return std::find(entries->begin(), entries->end(), ComName(port)) != entries->end();
    };
    // The second simulator of COM1..COM9 is chosen; the third is taken away
    // once the list shows it.
    std::vector<int32_t> candidates;
    for (int32_t port : simulators) {
        if (port > 9) continue;
        EXPECT_TRUE(listed(port)) << ComName(port);
        if (port != inUse) candidates.push_back(port);
    }
    const std::optional<int32_t> good = candidates.size() > 0 ? std::optional<int32_t>(candidates[0]) : std::nullopt;
    std::optional<int32_t> deviceless;
    if (candidates.size() > 1) {
        const std::string device = ComName(candidates[1]);
        const std::optional<std::string> reply = ui::SimulatorCommand(device, "vanish 30");
        ASSERT_TRUE(reply && reply->rfind("ok", 0) == 0) << ui::LastError();
        deviceless = candidates[1];
    }
    EXPECT_EQ(ui::ComboSelection(combo), std::optional<int>(-1));

    // OK without a choice does nothing.
    Click(window, IDC_OK);
    Sleep(200);
    EXPECT_TRUE(IsOpen());

    if (deviceless) {
        // The port cannot be opened: the failure, owned by the dialog, which stays.
        ASSERT_TRUE(ui::PickComboText(combo, ComName(*deviceless)));
        Click(window, IDC_OK);
        EXPECT_TRUE(events.WaitFor(IsFailure(AcquisitionFailure::PortInUse), 1, 0, 10s));
        EXPECT_EQ(events.Count([&](const Notice& n) {
            return n.kind == Notice::Failure && n.window == reinterpret_cast<WindowRef>(window);
        }),
                  1u);
        EXPECT_TRUE(IsOpen());
        EXPECT_EQ(context.port, inUse);
        EXPECT_FALSE(ui::ReadRegistryDword(kSettingsKeyPath, "Port").has_value());
    }
    if (!good) {
        Click(window, IDC_CANCEL);
        EXPECT_EQ(Closed(), 0);
        GTEST_SKIP() << "no second simulator among COM1..COM9 in this slot";
    }
    // A simulator's port: tested, stored, saved.
    ASSERT_TRUE(ui::PickComboText(combo, ComName(*good)));
    Click(window, IDC_OK);
    EXPECT_EQ(Closed(), 1);
    EXPECT_EQ(context.port, *good);
    EXPECT_EQ(ui::ReadRegistryDword(kSettingsKeyPath, "Port"), std::optional<DWORD>(*good));
    EXPECT_EQ(events.Count(Notice::Failure), deviceless ? 1u : 0u);

    // Cancel changes nothing.
    window = Open(RunPortDialog, kPortTitle);
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(Control(window, IDC_CURRENT_PORT).text, ComName(*good));
    ASSERT_TRUE(ui::PickComboText(Handle(window, IDC_PORT_COMBO), ComName(inUse)));
    Screenshot();
    Click(window, IDC_CANCEL);
    EXPECT_EQ(Closed(), 0);
    EXPECT_EQ(context.port, *good);
}

// Real registration files in a directory of the prefix.
class FileDialogs : public DialogTest {
protected:
    void SetUp() override {
        DialogTest::SetUp();
        char temp[MAX_PATH] = {};
        GetTempPathA(sizeof temp, temp);
        directory = std::string(temp) + "kx305_dialogs_" + std::to_string(GetCurrentProcessId());
        CreateDirectoryA(directory.c_str(), nullptr);
    }
    void TearDown() override {
        DialogTest::TearDown();
        {
            MutexLock guard(context.plumbing.lock);
            context.registrationFile.reset();
            context.readFile.reset();
        }
        for (const std::string& file : created) DeleteFileA(file.c_str());
        RemoveDirectoryA(directory.c_str());
    }
    std::string Path(const std::string& name) {
        created.push_back(directory + "\\" + name);
        return created.back();
    }

    // Records into `path` as after the start-up.
    void RecordInto(const std::string& path) {
        std::snprintf(context.registrationPath, sizeof context.registrationPath, "%s", path.c_str());
        ASSERT_EQ(OpenRegistrationFile(context, true, [] { return ExistingFileChoice::Cancel; }),
                  RecordingOpen::Opened);
    }
    // What a download appends.
    void Download(const LogRecord& record) {
        MutexLock guard(context.plumbing.lock);
        ASSERT_TRUE(context.registrationFile);
        ASSERT_TRUE(WriteRegistrationRecord(*context.registrationFile, record));
        ASSERT_TRUE(context.registrationFile->Flush());
    }
    static int RecordsIn(const std::string& path) {
        std::unique_ptr<FileStream> file = OpenFile(path, FileMode::Reading);
        RecordList records;
        return ReadRegistrationFile(file.get(), records);
    }
    int RecordsInUse() {
        MutexLock guard(context.plumbing.lock);
        RecordList records;
        return ReadRegistrationFile(context.registrationFile.get(), records);
    }
    FileStream* InUse() {
        MutexLock guard(context.plumbing.lock);
        return context.registrationFile.get();
    }

    static LogRecord Record(int minute) {
        LogRecord record{};
        record.year = 2026;
        record.month = 3;
        record.day = 14;
        record.hour = 10;
        record.minute = static_cast<uint8_t>(minute);
        record.results[0].type = kTypeRainGauge;
        record.results[0].data[0] = minute;
        return record;
    }

    std::string directory;
    std::vector<std::string> created;
};

TEST_F(FileDialogs, RegistrationChangesTheFileTakesItAgainAndKeepsItWhenTheNewOneFails) {
    const std::string first = Path("pierwszy.kxg");
    const std::string second = Path("drugi.kxg");
    RecordInto(first);
    Download(Record(1));

    // A new file: recording goes there, "Logfile" is saved.
    HWND window = Open(RunRegistrationDialog, kRegistrationTitle);
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(Control(window, IDC_FILE_NAME).text, first);
    ASSERT_TRUE(ui::SetEditText(Handle(window, IDC_FILE_NAME), second));
    Click(window, IDC_OK);
    EXPECT_EQ(Closed(), 1);
    EXPECT_EQ(ui::ReadRegistryString(kSettingsKeyPath, "Logfile").value_or("").c_str(), second);
    Download(Record(2));
    EXPECT_EQ(RecordsIn(first), 1);

    // The file in use again: the question, Yes appends on the same handle.
    FileStream* handle = InUse();
    window = Open(RunRegistrationDialog, kRegistrationTitle);
    ASSERT_NE(window, nullptr);
    Click(window, IDC_OK);
    EXPECT_EQ(AnswerMessageBox(IDYES), messages::kRegistrationFileExists);
    EXPECT_EQ(Closed(), 1);
    EXPECT_EQ(InUse(), handle);
    Download(Record(3));
    EXPECT_EQ(RecordsInUse(), 2);

    // A file that cannot be opened: the message, the dialog stays, Cancel;
    // recording still goes into the file in use.
    window = Open(RunRegistrationDialog, kRegistrationTitle);
    ASSERT_NE(window, nullptr);
    ASSERT_TRUE(ui::SetEditText(Handle(window, IDC_FILE_NAME), directory + "\\brak\\trzeci.kxg"));
    Click(window, IDC_OK);
    EXPECT_EQ(AnswerMessageBox(IDOK), messages::kRegistrationFileUnavailable);
    EXPECT_TRUE(IsOpen());
    Screenshot();
    Click(window, IDC_CANCEL);
    EXPECT_EQ(Closed(), 0);
    EXPECT_EQ(InUse(), handle);
    EXPECT_EQ(std::string(context.registrationPath), second);
    Download(Record(4));
    EXPECT_EQ(RecordsInUse(), 3);
}

TEST_F(FileDialogs, ReadSourceRefusesTheFileInUseByNameAndTheViewerShowsAnotherFile) {
    const std::string inUse = Path("stacja.kxg");
    const std::string archive = Path("archiwum.kxg");
    RecordInto(inUse);
    Download(Record(1));
    {
        std::unique_ptr<FileStream> file;
        ASSERT_EQ(OpenRecordingFile(
                      archive, true, [] { return ExistingFileChoice::Cancel; }, file),
                  RecordingOpen::Opened);
        LogRecord withKX124 = Record(5);
        withKX124.results[1].type = kTypeKX124;
        withKX124.results[1].data[3] = 5678;
        withKX124.results[1].data[4] = 453;
        withKX124.results[1].data[5] = 215;
        for (const LogRecord& record : {Record(5), withKX124, Record(7)}) {
            ASSERT_TRUE(WriteRegistrationRecord(*file, record));
        }
    }
    RecordList expected;
    {
        std::unique_ptr<FileStream> file = OpenFile(archive, FileMode::Reading);
        ASSERT_EQ(ReadRegistrationFile(file.get(), expected), 3);
    }

    HWND window = Open(RunReadSourceDialog, kReadSourceTitle);
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(Control(window, IDC_USE_CURRENT_FILE).checked, BST_CHECKED);
    EXPECT_FALSE(Control(window, IDC_FILE_NAME).enabled);
    EXPECT_FALSE(Control(window, IDC_BROWSE).enabled);
    Click(window, IDC_USE_CURRENT_FILE);
    ASSERT_TRUE(
        Eventually([&] { return Control(window, IDC_FILE_NAME).enabled && Control(window, IDC_BROWSE).enabled; }));

    // The file in use by its name: refused, everything usable again.
    ASSERT_TRUE(ui::SetEditText(Handle(window, IDC_FILE_NAME), inUse));
    Click(window, IDC_OK);
    EXPECT_EQ(AnswerMessageBox(IDOK), messages::kRegistrationFileUnavailable);
    ASSERT_TRUE(Eventually([&] { return Control(window, IDC_OK).enabled; }));
    for (int id : {IDC_FILE_NAME, IDC_BROWSE, IDC_USE_CURRENT_FILE, IDC_CANCEL}) {
        EXPECT_TRUE(Control(window, id).enabled) << id;
    }
    ASSERT_TRUE(ui::SetEditText(Handle(window, IDC_FILE_NAME), archive));
    Click(window, IDC_OK);
    EXPECT_EQ(Closed(), 1);
    EXPECT_EQ(std::string(context.readPath), archive);

    // The viewer over the archive.
    window = Open(RunMemoryViewer, kViewerTitle);
    ASSERT_NE(window, nullptr);
    const std::string caption = RecordCaption(0, 3, expected[0].time);
    EXPECT_TRUE(TextBecomes(window, IDC_RECORD_CAPTION, caption)) << Control(window, IDC_RECORD_CAPTION).text;
    EXPECT_EQ(caption.rfind("Rekord 1/3 z dnia ", 0), 0u);
    for (int id : {IDC_FIRST_RECORD, IDC_PREVIOUS_RECORD, IDC_NEXT_RECORD, IDC_LAST_RECORD, IDC_RECORD_LIST, IDC_SAVE,
                   IDC_COPY, IDC_OPTIONS, IDC_CLOSE}) {
        EXPECT_TRUE(Control(window, id).enabled) << id;
    }
    const auto expectRecord = [&](int index) {
        SCOPED_TRACE(index);
        EXPECT_TRUE(TextBecomes(window, IDC_RECORD_CAPTION, RecordCaption(index, 3, expected[index].time)))
            << Control(window, IDC_RECORD_CAPTION).text;
        const std::vector<ViewerRow> rows = ViewerRows(expected[index], false);
        std::optional<ui::ListViewContent> list = ui::ReadListView(Handle(window, IDC_RECORD_LIST));
        ASSERT_TRUE(list.has_value()) << ui::LastError();
        ASSERT_EQ(list->columns.size(), 5u);
        EXPECT_EQ(list->columns[0].text, "Przyrząd");
        EXPECT_EQ(list->columns[4].text, "Status");
        ASSERT_EQ(list->rows.size(), rows.size());
        for (size_t i = 0; i < rows.size(); ++i) {
            EXPECT_EQ(list->rows[i].cells,
                      (std::vector<std::string>{rows[i].instrument, rows[i].serial, rows[i].quantity, rows[i].result,
                                                rows[i].status}));
            EXPECT_EQ(list->rows[i].image, rows[i].image);
        }
    };
    expectRecord(0);
    EXPECT_EQ(ui::ReadListView(Handle(window, IDC_RECORD_LIST))->rows.at(0).cells.at(0), "Deszczomierz KX-305");
    Click(window, IDC_NEXT_RECORD);
    expectRecord(1);
    EXPECT_EQ(ui::ReadListView(Handle(window, IDC_RECORD_LIST))->rows.size(), 3u) << "rain, temperature, humidity";
    Click(window, IDC_LAST_RECORD);
    expectRecord(2);
    Click(window, IDC_NEXT_RECORD);
    expectRecord(2);
    Click(window, IDC_FIRST_RECORD);
    expectRecord(0);
    Click(window, IDC_PREVIOUS_RECORD);
    expectRecord(0);

    // "Kopiuj": the bytes of the same export, zero-terminated.
    {
        MutexLock guard(context.plumbing.lock);
        context.exportFlags = kDefaultExportFlags;
    }
    Click(window, IDC_COPY);
    const std::string exported = Path("kopia.txt");
    {
        ExportResult result = ExportRecords(MakeExportContext(kDefaultExportFlags, false, expected, CurrentLocale()),
                                            exported, kAllRecords);
        ASSERT_TRUE(result.written);
    }
    std::string bytes;
    {
        std::unique_ptr<FileStream> file = OpenFile(exported, FileMode::Reading);
        ASSERT_TRUE(file);
        char buffer[4096];
        for (long got; (got = file->Read(buffer, sizeof buffer)) > 0;) bytes.append(buffer, static_cast<size_t>(got));
    }
    EXPECT_TRUE(Eventually([&] { return ui::ReadClipboard() == std::optional<std::string>(bytes + '\0'); }));

    // "Zapisz" through the save-as dialog writes the same bytes.
    const std::string saved = Path("zapis.txt");
    Click(window, IDC_SAVE);
    std::optional<HWND> saveAs =
        ui::WaitForWindow({"Wybierz plik tekstowy do zapisu pamięci", "", GetCurrentProcessId()}, 10s);
    ASSERT_TRUE(saveAs.has_value()) << ui::LastError();
    ASSERT_TRUE(ui::AnswerSaveAs(*saveAs, saved)) << ui::LastError();
    EXPECT_TRUE(Eventually([&] {
        std::unique_ptr<FileStream> file = OpenFile(saved, FileMode::Reading);
        if (!file || file->Size() != static_cast<int64_t>(bytes.size())) return false;
        std::string content(bytes.size(), '\0');
        return file->Read(&content[0], content.size()) == static_cast<long>(content.size()) && content == bytes;
    }));
    Click(window, IDC_NEXT_RECORD);
    expectRecord(1);
    Screenshot();
    Click(window, IDC_CLOSE);
    EXPECT_EQ(Closed(), 0);
    EXPECT_TRUE(context.records.empty());
    EXPECT_FALSE(context.readFile);
}

TEST_F(FileDialogs, ViewerOfTheFileInUseAndOfAnEmptyFile) {
    RecordInto(Path("stacja.kxg"));
    Download(Record(1));
    HWND window = Open(RunMemoryViewer, kViewerTitle);
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(
        Eventually([&] { return Control(window, IDC_RECORD_CAPTION).text.rfind("Rekord 1/1 z dnia ", 0) == 0; }));
    Click(window, IDC_CLOSE);
    EXPECT_EQ(Closed(), 0);
    Download(Record(2));
    EXPECT_EQ(RecordsInUse(), 2) << "the next download follows the last record";

    const std::string empty = Path("pusty.kxg");
    CloseHandle(CreateFileA(empty.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    ASSERT_TRUE(ConfirmReadSource(context, false, empty));
    window = Open(RunMemoryViewer, kViewerTitle);
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(TextBecomes(window, IDC_RECORD_CAPTION, messages::kNoRecords));
    for (int id : {IDC_FIRST_RECORD, IDC_PREVIOUS_RECORD, IDC_NEXT_RECORD, IDC_LAST_RECORD, IDC_RECORD_LIST, IDC_SAVE,
                   IDC_COPY}) {
        EXPECT_FALSE(Control(window, id).enabled) << id;
    }
    EXPECT_TRUE(Control(window, IDC_OPTIONS).enabled);
    Screenshot();
    Click(window, IDC_CLOSE);
    EXPECT_EQ(Closed(), 0);
}

}  // namespace
}  // namespace kx305mon::testing
