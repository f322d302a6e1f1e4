// A registration file whose records do not fit in the memory, for the
// memory viewer and the rain report: the read gives up, frees what it held
// and says so, instead of letting std::bad_alloc out of the dialog.  This
// executable replaces the global allocation functions so that allocations
// can be made to fail, which is why it stands apart from the shell's tests.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <new>
#include <string>

#include "instruments/catalogue.h"
#include "shell/memory_review.h"
#include "shell_fixture.h"

namespace {

std::atomic<long> allocationsMade{0};
std::atomic<long> allocationsLeft{-1};  // -1: no limit; 0: memory is exhausted

}  // namespace

// The replacements pair malloc with free; GCC, seeing the new-expression
// inlined beside free, mistakes them for a mismatch.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif

void* operator new(std::size_t size) {
    long left = allocationsLeft.load();
    while (left >= 0) {
        if (left == 0) throw std::bad_alloc();
        if (allocationsLeft.compare_exchange_weak(left, left - 1)) break;
    }
    ++allocationsMade;
    if (void* block = std::malloc(size != 0 ? size : 1)) return block;
    throw std::bad_alloc();
}
void operator delete(void* block) noexcept { std::free(block); }
void operator delete(void* block, std::size_t) noexcept { std::free(block); }

namespace kx305mon::testing {
namespace {

namespace fs = std::filesystem;

constexpr int kRecords = 3000;

class ReviewMemoryTest : public ShellTest {
protected:
    void SetUp() override {
        ShellTest::SetUp();
        path = (fs::temp_directory_path() /
                ("kx305_review_memory_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + ".kxg"))
                   .string();
        fs::remove(path);
        std::unique_ptr<FileStream> file;
        ASSERT_TRUE(Record(file));
        for (int i = 0; i < kRecords; ++i) ASSERT_TRUE(WriteRegistrationRecord(*file, Record()));
    }
    void TearDown() override {
        allocationsLeft = -1;
        context.registrationFile.reset();
        context.readFile.reset();
        fs::remove(path);
    }

    // Opens the file for recording, appending.
    bool Record(std::unique_ptr<FileStream>& file) {
        return OpenRecordingFile(
                   path, true, [] { return ExistingFileChoice::Cancel; }, file) == RecordingOpen::Opened;
    }

    static LogRecord Record() {
        LogRecord record{};
        record.year = 2007;
        record.month = 2;
        record.day = 19;
        record.results[1].type = kTypeKX124;
        record.results[1].data[3] = 5678;
        return record;
    }

    // The review's read with only `allocations` more allocations possible.
    int ReadWithin(long allocations) {
        struct Limit {
            explicit Limit(long n) { allocationsLeft = n; }
            ~Limit() { allocationsLeft = -1; }
        } limit(allocations);
        return ReadRecordsForReview(context);
    }

    std::string path;
};

TEST_F(ReviewMemoryTest, AFileTooLargeForTheMemoryIsRefusedAndRecordingGoesOn) {
    // Another registration file, chosen in the read-source dialog.  How
    // many allocations its whole list takes: the memory runs out halfway.
    context.readFile = OpenFile(path, FileMode::Reading);
    ASSERT_TRUE(context.readFile);
    const long before = allocationsMade;
    ASSERT_EQ(ReadRecordsForReview(context), kRecords);
    const long whole = allocationsMade - before;
    ASSERT_GT(whole, 20) << "the list should take many allocations";
    FreeRecordList(context.records);
    context.readFile = OpenFile(path, FileMode::Reading);
    ASSERT_TRUE(context.readFile);
    EXPECT_EQ(ReadWithin(whole / 2), kReadOutOfMemory);
    EXPECT_TRUE(context.records.empty());
    EXPECT_FALSE(context.readFile) << "closed after its read";

    // The file in use, read through its recording handle: the next record
    // still follows the last one.
    ASSERT_TRUE(Record(context.registrationFile));
    EXPECT_EQ(ReadWithin(whole / 2), kReadOutOfMemory);
    EXPECT_TRUE(context.records.empty());
    EXPECT_EQ(ReadWithin(0), kReadOutOfMemory) << "no memory at all";
    ASSERT_TRUE(WriteRegistrationRecord(*context.registrationFile, Record()));
    EXPECT_EQ(ReadRecordsForReview(context), kRecords + 1);
    EXPECT_EQ(context.records.size(), static_cast<size_t>(kRecords + 1));
}

}  // namespace
}  // namespace kx305mon::testing
