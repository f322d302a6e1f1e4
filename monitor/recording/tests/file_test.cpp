#include "recording/file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "recording/registration_file.h"
#include "temporary_directory.h"
#include "test_environment.h"

namespace kx305mon {
namespace {

namespace fs = std::filesystem;

// A private directory per test, removed afterwards.
class PlatformFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        ASSERT_TRUE(dir_.Create(std::string("kx305_file_") + info->name()));
    }

    std::string PathOf(const char* name) const { return dir_.Path(name); }

    static std::string ReadAll(FileStream& file) {
        EXPECT_TRUE(file.SeekToStart());
        std::string text;
        char block[7];  // small, to read in several steps
        long got;
        while ((got = file.Read(block, sizeof block)) > 0) {
            text.append(block, static_cast<size_t>(got));
        }
        EXPECT_EQ(got, 0);
        return text;
    }

    kx305::support::TemporaryDirectory dir_;
};

// What a download needs to cut a failed write back and to read the end of
// the file: the position, moving to an offset, cutting there.
TEST_F(PlatformFileTest, PositionSeekAndCutBackToAnOffset) {
    auto file = OpenFile(PathOf("cut.kxg"), FileMode::Recording);
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(file->Position(), 0);
    ASSERT_TRUE(file->Write("whole;", 6));
    const int64_t end = file->Position();
    EXPECT_EQ(end, 6);
    ASSERT_TRUE(file->Write("torn", 4));
    EXPECT_EQ(file->Position(), 10);
    ASSERT_TRUE(file->SeekTo(end));
    ASSERT_TRUE(file->Truncate());
    EXPECT_EQ(file->Size(), 6);
    EXPECT_EQ(file->Position(), 6);
    ASSERT_TRUE(file->Write("next;", 5));
    EXPECT_EQ(ReadAll(*file), "whole;next;");
    ASSERT_TRUE(file->SeekTo(2));
    char middle[3] = {};
    EXPECT_EQ(file->Read(middle, 2), 2);
    EXPECT_EQ(std::string(middle), "ol");
    EXPECT_EQ(file->Position(), 4);
    EXPECT_FALSE(file->SeekTo(-1));
}

TEST_F(PlatformFileTest, RecordingCreatesOrReopensAndTellsWhichHappened) {
    const std::string path = PathOf("log.kxg");
    bool existed = true;
    {
        auto file = OpenFile(path, FileMode::Recording, &existed);
        ASSERT_NE(file, nullptr);
        EXPECT_FALSE(existed);
        ASSERT_TRUE(file->Write("abcdef", 6));
        EXPECT_TRUE(file->Flush());
    }
    auto file = OpenFile(path, FileMode::Recording, &existed);
    ASSERT_NE(file, nullptr);
    EXPECT_TRUE(existed);
    EXPECT_EQ(file->Size(), 6);
    // Appending after a move to the end, then cutting at the start.
    ASSERT_TRUE(file->SeekToEnd());
    ASSERT_TRUE(file->Write("gh", 2));
    EXPECT_EQ(ReadAll(*file), "abcdefgh");
    ASSERT_TRUE(file->SeekToStart());
    ASSERT_TRUE(file->Truncate());
    EXPECT_EQ(file->Size(), 0);
}

TEST_F(PlatformFileTest, FileInUseForRecordingAdmitsNoSecondOpen) {
    const std::string path = PathOf("log.kxg");
    auto recording = OpenFile(path, FileMode::Recording);
    ASSERT_NE(recording, nullptr);
    EXPECT_EQ(OpenFile(path, FileMode::Reading), nullptr);
    EXPECT_EQ(OpenFile(path, FileMode::Recording), nullptr);
    EXPECT_EQ(OpenFile(path, FileMode::Export), nullptr);
    recording.reset();

    auto reader = OpenFile(path, FileMode::Reading);
    ASSERT_NE(reader, nullptr);
    EXPECT_NE(OpenFile(path, FileMode::Reading), nullptr);  // readers share
    EXPECT_EQ(OpenFile(path, FileMode::Recording), nullptr);
    EXPECT_FALSE(reader->Write("x", 1));
}

// A recording must not go on into a file that its path no longer names:
// what it writes would reach no file anyone reads.  (Windows refuses to
// delete or rename the file in use; the file then still is the named one.)
TEST_F(PlatformFileTest, RecordingFileKnowsWhetherItsPathStillNamesIt) {
    const struct {
        const char* what;
        void (*change)(const fs::path& path, std::error_code& error);
    } cases[] = {
        {"untouched", [](const fs::path&, std::error_code& error) { error.clear(); }},
        {"deleted", [](const fs::path& path, std::error_code& error) { fs::remove(path, error); }},
        {"renamed",
         [](const fs::path& path, std::error_code& error) { fs::rename(path, path.string() + ".old", error); }},
        {"replaced",
         [](const fs::path& path, std::error_code& error) {
             fs::rename(path, path.string() + ".old", error);
             if (!error) std::ofstream(path) << "another file";
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string path = PathOf(c.what);
        auto file = OpenFile(path, FileMode::Recording);
        ASSERT_NE(file, nullptr);
        ASSERT_TRUE(file->Write("abc", 3));
        EXPECT_TRUE(file->NamedBy(path));
        std::error_code error;
        c.change(path, error);
        const bool changed = !error && std::string(c.what) != "untouched";
        EXPECT_EQ(file->NamedBy(path), !changed);
    }
}

TEST_F(PlatformFileTest, ReadingNeedsAnExistingFile) {
    EXPECT_EQ(OpenFile(PathOf("missing.kxg"), FileMode::Reading), nullptr);
    EXPECT_FALSE(fs::exists(PathOf("missing.kxg")));
    EXPECT_EQ(OpenFile(PathOf("no/such/dir.csv"), FileMode::Export), nullptr);
}

TEST_F(PlatformFileTest, ExportOverwritesAnExistingFile) {
    const std::string path = PathOf("Memory.csv");
    std::ofstream(path) << "old content that must go";
    auto file = OpenFile(path, FileMode::Export);
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(file->Size(), 0);
    ASSERT_TRUE(file->Write("new", 3));
    EXPECT_EQ(ReadAll(*file), "new");
}

TEST_F(PlatformFileTest, TemporaryFileVanishesWhenClosed) {
    // The other tests keep the usual directory of temporary files.
    struct Restore {
        std::string directory = fs::temp_directory_path().string();
        ~Restore() { testing::UseTemporaryDirectory(directory); }
    } restore;
    ASSERT_TRUE(testing::UseTemporaryDirectory(dir_.path().string()));
    {
        auto file = OpenFile("", FileMode::Temporary);
        ASSERT_NE(file, nullptr);
        ASSERT_TRUE(file->Write("clipboard text", 14));
        EXPECT_EQ(file->Size(), 14);
        EXPECT_EQ(ReadAll(*file), "clipboard text");
    }
    EXPECT_TRUE(fs::is_empty(dir_.path()));
}

TEST_F(PlatformFileTest, ExistingRegistrationFileIsAppendedErasedOrLeftAlone) {
    const std::string path = PathOf("log.kxg");
    int asked = 0;
    ExistingFileChoice answer = ExistingFileChoice::Append;
    const auto ask = [&] {
        ++asked;
        return answer;
    };
    std::unique_ptr<FileStream> file;
    auto contents = [&] {
        file.reset();
        auto reader = OpenFile(path, FileMode::Reading);
        return reader ? ReadAll(*reader) : std::string("(unreadable)");
    };

    ASSERT_EQ(OpenRecordingFile(path, false, ask, file), RecordingOpen::Opened);
    EXPECT_EQ(asked, 0);  // a new file: nothing to ask
    ASSERT_TRUE(file->Write("abc", 3));

    file.reset();
    ASSERT_EQ(OpenRecordingFile(path, false, ask, file), RecordingOpen::Opened);
    EXPECT_EQ(asked, 1);
    ASSERT_TRUE(file->Write("def", 3));
    EXPECT_EQ(contents(), "abcdef");

    answer = ExistingFileChoice::Cancel;
    EXPECT_EQ(OpenRecordingFile(path, false, ask, file), RecordingOpen::Cancelled);
    EXPECT_EQ(file, nullptr);
    EXPECT_EQ(contents(), "abcdef");

    ASSERT_EQ(OpenRecordingFile(path, true, ask, file), RecordingOpen::Opened);
    EXPECT_EQ(asked, 2);  // appended without asking
    ASSERT_TRUE(file->Write("g", 1));
    EXPECT_EQ(contents(), "abcdefg");

    answer = ExistingFileChoice::Erase;
    ASSERT_EQ(OpenRecordingFile(path, false, ask, file), RecordingOpen::Opened);
    EXPECT_EQ(file->Size(), 0);
    ASSERT_TRUE(file->Write("new", 3));

    // In use for recording, the file cannot be opened a second time.
    std::unique_ptr<FileStream> second;
    EXPECT_EQ(OpenRecordingFile(path, true, ask, second), RecordingOpen::Unavailable);
    EXPECT_EQ(second, nullptr);
    EXPECT_EQ(contents(), "new");
    EXPECT_EQ(OpenRecordingFile(PathOf("no/such/dir.kxg"), false, ask, file), RecordingOpen::Unavailable);
    EXPECT_EQ(asked, 3);
}

}  // namespace
}  // namespace kx305mon
