// Choosing the registration file with real files in a temporary directory:
// the file in use is given up only when its successor is open, choosing it
// again answers the question on its own handle, and the quick-start open.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "instruments/catalogue.h"
#include "shell/memory_review.h"
#include "shell/rain_review.h"
#include "shell/registration.h"
#include "shell_fixture.h"
#include "temporary_directory.h"

namespace kx305mon::testing {
namespace {

namespace fs = std::filesystem;

class RegistrationTest : public ShellTest {
protected:
    void SetUp() override {
        ShellTest::SetUp();
        ASSERT_TRUE(directory.Create(std::string("kx305_shell_") +
                                     ::testing::UnitTest::GetInstance()->current_test_info()->name()));
        inUse = Path("stacja.kxg");
        // Recording into the file in use, as after the start-up.
        std::snprintf(context.registrationPath, sizeof context.registrationPath, "%s", inUse.c_str());
        ASSERT_EQ(OpenRegistrationFile(context, true, Never()), RecordingOpen::Opened);
        ASSERT_TRUE(context.registrationFile);
        Record("old;");
        context.recordingInterval = 300;
        context.recordingEvent.Reset();
    }
    void TearDown() override { context.registrationFile.reset(); }

    std::string Path(const std::string& name) const { return directory.Path(name); }

    // What a download appends to the file being recorded into.
    void Record(const std::string& bytes) {
        ASSERT_TRUE(context.registrationFile);
        ASSERT_TRUE(context.registrationFile->Write(bytes.data(), bytes.size()));
        ASSERT_TRUE(context.registrationFile->Flush());
    }

    static std::string Contents(const std::string& path) {
        std::ifstream file(path, std::ios::binary);
        std::stringstream text;
        text << file.rdbuf();
        return text.str();
    }

    std::function<ExistingFileChoice()> Answer(ExistingFileChoice choice) {
        return [this, choice] {
            ++questions;
            return choice;
        };
    }
    std::function<ExistingFileChoice()> Never() {
        return [this] {
            ++questions;
            return ExistingFileChoice::Cancel;
        };
    }

    // Recording still goes into the file in use, unchanged in every respect.
    void ExpectStillRecordingInto(FileStream* handle) {
        EXPECT_EQ(context.registrationFile.get(), handle);
        EXPECT_EQ(std::string(context.registrationPath), inUse);
        EXPECT_EQ(context.recordingInterval, 300u);
        EXPECT_FALSE(context.recordingEvent.IsSet());
        EXPECT_EQ(store.ValueCount(), 0u);
        Record("more;");
        EXPECT_EQ(Contents(inUse), "old;more;");
    }

    kx305::support::TemporaryDirectory directory;
    std::string inUse;
    int questions = 0;
};

TEST_F(RegistrationTest, UnavailableNewFileLeavesRecordingInTheFileInUse) {
    FileStream* handle = context.registrationFile.get();
    EXPECT_EQ(ConfirmRegistrationFile(context, Path("brak/nowy.kxg"), Never(), store), RecordingOpen::Unavailable);
    EXPECT_EQ(questions, 0);
    ExpectStillRecordingInto(handle);
}

TEST_F(RegistrationTest, CancelledQuestionLeavesRecordingInTheFileInUse) {
    const std::string other = Path("inny.kxg");
    std::ofstream(other, std::ios::binary) << "x";
    FileStream* handle = context.registrationFile.get();
    EXPECT_EQ(ConfirmRegistrationFile(context, other, Answer(ExistingFileChoice::Cancel), store),
              RecordingOpen::Cancelled);
    EXPECT_EQ(questions, 1);
    ExpectStillRecordingInto(handle);
    EXPECT_EQ(Contents(other), "x");
}

TEST_F(RegistrationTest, NewFileTakesOverAfterTheOldOneIsComplete) {
    const std::string next = Path("nowy.kxg");
    EXPECT_EQ(ConfirmRegistrationFile(context, next, Never(), store), RecordingOpen::Opened);
    EXPECT_EQ(questions, 0) << "a new file needs no question";
    EXPECT_EQ(std::string(context.registrationPath), next);
    EXPECT_EQ(context.recordingInterval, 20u);
    EXPECT_TRUE(context.recordingEvent.IsSet());
    EXPECT_EQ(StoredNames(), (std::set<std::string>{"Logfile", "RainMeter Period"}));
    Record("new;");
    EXPECT_EQ(Contents(next), "new;");
    EXPECT_EQ(Contents(inUse), "old;");
}

TEST_F(RegistrationTest, ExistingNewFileIsAppendedToOrErasedAsAnswered) {
    for (ExistingFileChoice choice : {ExistingFileChoice::Append, ExistingFileChoice::Erase}) {
        const bool append = choice == ExistingFileChoice::Append;
        SCOPED_TRACE(append ? "append" : "erase");
        const std::string next = Path(append ? "a.kxg" : "e.kxg");
        std::ofstream(next, std::ios::binary) << "before;";
        EXPECT_EQ(ConfirmRegistrationFile(context, next, Answer(choice), store), RecordingOpen::Opened);
        Record("after;");
        EXPECT_EQ(Contents(next), append ? "before;after;" : "after;");
    }
    EXPECT_EQ(questions, 2);
}

// The file in use chosen again (its handle admits no second writer on
// Windows): the question is answered on the open handle.
TEST_F(RegistrationTest, FileInUseChosenAgainStillWorks) {
    FileStream* handle = context.registrationFile.get();
    EXPECT_EQ(ConfirmRegistrationFile(context, inUse, Answer(ExistingFileChoice::Cancel), store),
              RecordingOpen::Cancelled);
    ExpectStillRecordingInto(handle);

    EXPECT_EQ(ConfirmRegistrationFile(context, inUse, Answer(ExistingFileChoice::Append), store),
              RecordingOpen::Opened);
    EXPECT_EQ(context.registrationFile.get(), handle);
    EXPECT_EQ(context.recordingInterval, 20u);
    EXPECT_TRUE(context.recordingEvent.IsSet());
    EXPECT_EQ(StoredNames(), (std::set<std::string>{"Logfile", "RainMeter Period"}));
    Record("appended;");
    EXPECT_EQ(Contents(inUse), "old;more;appended;");

    EXPECT_EQ(ConfirmRegistrationFile(context, inUse, Answer(ExistingFileChoice::Erase), store), RecordingOpen::Opened);
    EXPECT_EQ(context.registrationFile.get(), handle);
    Record("fresh;");
    EXPECT_EQ(Contents(inUse), "fresh;");
    EXPECT_EQ(questions, 3);
}

// The file in use under another spelling is still the file in use: the
// question is answered on its handle instead of a second open, and the
// read-source dialog refuses it by any name.
TEST_F(RegistrationTest, FileInUseIsKnownUnderAnotherSpelling) {
    FileStream* handle = context.registrationFile.get();
    fs::create_directories(directory.path() / "sub");
    fs::create_hard_link(inUse, directory.path() / "dowiazanie.kxg");
    const fs::path before = fs::current_path();
    fs::current_path(directory.path());
    const std::string spellings[] = {"stacja.kxg", "sub/../stacja.kxg", Path("sub/../stacja.kxg"),
                                     Path("dowiazanie.kxg")};
    int asked = 0;
    for (const std::string& spelling : spellings) {
        SCOPED_TRACE(spelling);
        EXPECT_EQ(ConfirmRegistrationFile(context, spelling, Answer(ExistingFileChoice::Append), store),
                  RecordingOpen::Opened);
        EXPECT_EQ(questions, ++asked);
        EXPECT_EQ(context.registrationFile.get(), handle);
        EXPECT_EQ(std::string(context.registrationPath), spelling);
        EXPECT_FALSE(ConfirmReadSource(context, false, spelling));
    }
    fs::current_path(before);
    Record("more;");
    EXPECT_EQ(Contents(inUse), "old;more;");
}

TEST_F(RegistrationTest, QuickStartOpenAppendsWithoutAskingAndReportsUnavailableFiles) {
    // A file already open is kept.
    FileStream* handle = context.registrationFile.get();
    EXPECT_EQ(OpenRegistrationFile(context, true, Never()), RecordingOpen::Opened);
    EXPECT_EQ(context.registrationFile.get(), handle);

    context.registrationFile.reset();
    EXPECT_EQ(OpenRegistrationFile(context, true, Never()), RecordingOpen::Opened);
    Record("next;");
    EXPECT_EQ(Contents(inUse), "old;next;");

    context.registrationFile.reset();
    std::snprintf(context.registrationPath, sizeof context.registrationPath, "%s", Path("brak/x.kxg").c_str());
    EXPECT_EQ(OpenRegistrationFile(context, true, Never()), RecordingOpen::Unavailable);
    EXPECT_FALSE(context.registrationFile);
    EXPECT_EQ(questions, 0);
}

// The read-source dialog's OK and the viewer's read: another file is read
// through its own handle, the file in use only through the recording
// handle, and recording goes on appending after the read.
TEST_F(RegistrationTest, ReviewReadsTheChosenSourceAndRecordingGoesOn) {
    LogRecord record{};
    record.year = 2007;
    record.month = 2;
    record.day = 19;
    record.results[1].type = kTypeKX124;
    record.results[1].data[3] = 5678;
    context.registrationFile->SeekToStart();
    context.registrationFile->Truncate();
    ASSERT_TRUE(WriteRegistrationRecord(*context.registrationFile, record));
    ASSERT_TRUE(WriteRegistrationRecord(*context.registrationFile, record));
    const std::string other = Path("inny.kxg");
    {
        std::unique_ptr<FileStream> file;
        ASSERT_EQ(OpenRecordingFile(other, true, Never(), file), RecordingOpen::Opened);
        for (int i = 0; i < 3; ++i) ASSERT_TRUE(WriteRegistrationRecord(*file, record));
    }
    struct Case {
        const char* name;
        bool useFileInUse;
        std::string path;
        bool accepted;
        int records;  // read at the viewer's opening; -1: not opened
    };
    const Case cases[] = {
        {"the file in use, ticked", true, Path("pominiety.kxg"), true, 2},
        {"another file", false, other, true, 3},
        {"the file in use by its name", false, inUse, false, -1},
        {"the file in use by another spelling", false, Path("STACJA.KXG"), false, -1},
        {"a missing file", false, Path("brak.kxg"), false, -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(ConfirmReadSource(context, c.useFileInUse, c.path), c.accepted);
        EXPECT_EQ(std::string(context.readPath), c.useFileInUse ? "" : c.path);
        EXPECT_EQ(context.readFile != nullptr, c.accepted && !c.useFileInUse);
        if (c.records < 0) continue;
        EXPECT_EQ(ReadRecordsForReview(context), c.records);
        EXPECT_EQ(context.records.size(), static_cast<size_t>(c.records));
        EXPECT_FALSE(context.readFile) << "closed after one read";
        FreeRecordList(context.records);
    }
    // The next download follows the last record of the file in use.
    ASSERT_TRUE(WriteRegistrationRecord(*context.registrationFile, record));
    ASSERT_TRUE(context.registrationFile->Flush());
    context.registrationFile.reset();
    std::unique_ptr<FileStream> check = OpenFile(inUse, FileMode::Reading);
    RecordList records;
    EXPECT_EQ(ReadRegistrationFile(check.get(), records), 3);
    // Neither file open: nothing to read.
    EXPECT_TRUE(ConfirmReadSource(context, true, ""));
    EXPECT_EQ(ReadRecordsForReview(context), 0);
}

TEST(SameFilePath, LettersRegardlessOfCaseAndEitherSeparator) {
    EXPECT_TRUE(SameFilePath("C:\\Dane\\Stacja.KXG", "c:/dane/stacja.kxg"));
    EXPECT_FALSE(SameFilePath("C:\\dane\\stacja.kxg", "C:\\dane\\stacja2.kxg"));
    EXPECT_FALSE(SameFilePath("C:\\dane\\a.kxg", "C:\\dane\\b.kxg"));
}

// OK of the rain report's source dialog: no interval stays, an unreadable
// file stays with the interval already taken, everything else stores the
// source and saves "RainMeter Period" with the registration group.
TEST_F(RegistrationTest, RainSourceNeedsAnIntervalAndAReadableFile) {
    const std::string other = Path("deszcz.kxg");
    {
        std::unique_ptr<FileStream> file;
        ASSERT_EQ(OpenRecordingFile(other, true, Never(), file), RecordingOpen::Opened);
    }
    // A name longer than readPath holds is cut to its 259 characters.
    const std::string tooLong = Path(std::string(300, 'x') + ".kxg");
    struct Case {
        const char* name;
        int interval;
        bool useFileInUse;
        std::string path;
        RainSourceAnswer answer;
        std::string readPath;  // after the answer
    };
    const Case cases[] = {
        {"no interval", -1, true, "", RainSourceAnswer::NoInterval, "unchanged"},
        {"an interval past the box", 3, false, other, RainSourceAnswer::NoInterval, "unchanged"},
        {"hours from another file", 0, false, other, RainSourceAnswer::Accepted, other},
        {"months from the file in use", 2, true, other, RainSourceAnswer::Accepted, ""},
        {"days from a missing file", 1, false, Path("brak.kxg"), RainSourceAnswer::Unavailable, Path("brak.kxg")},
        {"the file in use by its name", 0, false, inUse, RainSourceAnswer::Unavailable, inUse},
        {"a name too long", 2, false, tooLong, RainSourceAnswer::Unavailable, tooLong.substr(0, 259)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::snprintf(context.readPath, sizeof context.readPath, "%s", "unchanged");
        context.rainReportInterval = 1;
        store = MemorySettingsStore();
        EXPECT_EQ(ConfirmRainSource(context, c.interval, c.useFileInUse, c.path, store), c.answer);
        EXPECT_EQ(std::string(context.readPath), c.readPath);
        EXPECT_EQ(context.rainReportInterval, c.answer == RainSourceAnswer::NoInterval ? 1 : c.interval);
        EXPECT_EQ(context.readFile != nullptr, c.answer == RainSourceAnswer::Accepted && !c.useFileInUse);
        if (c.answer == RainSourceAnswer::Accepted) {
            EXPECT_EQ(StoredNumber("RainMeter Period"), static_cast<uint32_t>(c.interval));
            EXPECT_EQ(StoredNames(), (std::set<std::string>{"Logfile", "RainMeter Period"}));
        } else {
            EXPECT_TRUE(StoredNames().empty());
        }
        context.readFile.reset();
    }
    // The box opens on the stored interval, or on none when it is out of range.
    for (const auto& [stored, selection] : {std::pair{0, 0}, {2, 2}, {3, -1}, {-1, -1}}) {
        context.rainReportInterval = stored;
        EXPECT_EQ(RainIntervalSelection(context), selection) << stored;
    }
}

// The rows of the report as the list shows them: the status text of the
// record that closed the interval and its image.
TEST(RainListRows, StatusTextAndImageOfEachRow) {
    const std::vector<RainReportRow> rows = {
        {"2007-02-19 15:00:00", "2", kStrMeasurementOk},
        {"2007-02-19 16:00:00", "0", kStrTemperatureError},
    };
    const std::vector<RainListRow> list = RainListRows(rows);
    ASSERT_EQ(list.size(), 2u);
    const struct {
        int image;
        const char* label;
        const char* amount;
        std::string status;
    } expected[] = {
        {kRowImageTick, "2007-02-19 15:00:00", "2", "Pomiar --> OK"},
        {kRowImageWarning, "2007-02-19 16:00:00", "0",
         "B\xb3\xb9"
         "d pomiaru temperatury"},
    };
    for (size_t i = 0; i < list.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(list[i].image, expected[i].image);
        EXPECT_EQ(list[i].label, expected[i].label);
        EXPECT_EQ(list[i].amount, expected[i].amount);
        EXPECT_EQ(list[i].status, expected[i].status);
    }
}

}  // namespace
}  // namespace kx305mon::testing
