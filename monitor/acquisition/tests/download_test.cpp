// Downloads of the logging memory into the registration file on a simulated
// converter: the firmware's two ways, empty memory, failing files, faults on
// the line, and user operations between downloads.  The registration file is
// read back with the program's reader and compared with what the converter
// held.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>

#include <unistd.h>

#include "acquisition/internal.h"
#include "acquisition/pending_records.h"
#include "memory_file.h"
#include "recording/registration_file.h"
#include "request_timing_scope.h"
#include "simulator_fixture.h"
#include "temporary_directory.h"
#include "time/calendar.h"
#include "time_zone.h"

namespace kx305mon::testing {
namespace {

bool SameTime(const CalendarTime& a, const CalendarTime& b) {
    return a.year == b.year && a.month == b.month && a.day == b.day && a.hour == b.hour && a.minute == b.minute &&
           a.second == b.second;
}

bool SameRecord(const MemoryRecord& a, const MemoryRecord& b) {
    if (!SameTime(a.time, b.time) || a.entries.size() != b.entries.size()) return false;
    for (size_t i = 0; i < a.entries.size(); ++i) {
        const MemoryEntry& x = a.entries[i];
        const MemoryEntry& y = b.entries[i];
        if (x.type != y.type || x.status != y.status || x.serial != y.serial || x.quantity != y.quantity ||
            std::strcmp(x.value, y.value) != 0) {
            return false;
        }
    }
    return true;
}

// `actual` starts with exactly the records of `expected`, in order.
::testing::AssertionResult StartsWith(const RecordList& actual, const RecordList& expected) {
    if (actual.size() < expected.size()) {
        return ::testing::AssertionFailure() << actual.size() << " records, expected at least " << expected.size();
    }
    for (size_t i = 0; i < expected.size(); ++i) {
        if (!SameRecord(actual[i], expected[i])) return ::testing::AssertionFailure() << "record " << i << " differs";
    }
    return ::testing::AssertionSuccess();
}

::testing::AssertionResult NoRecordTwice(const RecordList& records) {
    for (size_t i = 0; i < records.size(); ++i) {
        for (size_t j = i + 1; j < records.size(); ++j) {
            if (SameRecord(records[i], records[j])) {
                return ::testing::AssertionFailure() << "records " << i << " and " << j << " are the same";
            }
        }
    }
    return ::testing::AssertionSuccess();
}

bool IsExportError(const Notice& n) {
    return n.kind == Notice::Failure && n.failure == AcquisitionFailure::RecordsNotStored;
}

// The records follow each other exactly `period` seconds apart: none lost,
// none twice.
::testing::AssertionResult EveryPeriod(const RecordList& records, int64_t period) {
    for (size_t i = 1; i < records.size(); ++i) {
        int64_t gap = SecondsOf(records[i].time) - SecondsOf(records[i - 1].time);
        if (gap != period) {
            return ::testing::AssertionFailure()
                   << "records " << i - 1 << " and " << i << " are " << gap << " s apart, not " << period;
        }
    }
    return ::testing::AssertionSuccess();
}

class Downloads : public AcquisitionOnSimulator {
protected:
    void SetUp() override {
        AcquisitionOnSimulator::SetUp();
        context.recordingInterval = 1;  // one shortened tick between downloads
        context.registrationFile = std::make_unique<SharedFile>(file);
    }

    // The converter's memory as a host reads it without clearing (or, with
    // `take`, as firmware up to 1.12 hands it over), before the worker
    // takes the port.
    std::vector<LogRecord> PeekConverter(bool take = false) {
        std::vector<LogRecord> records = ReadConverterMemory(PortPath(1), take).value_or(std::vector<LogRecord>{});
        Control("received reset");
        return records;
    }

    // The bytes of the first `count` records as the registration file keeps them.
    static std::vector<uint8_t> StoredBytes(const std::vector<LogRecord>& records, size_t count) {
        std::string stored;
        for (size_t i = 0; i < count && i < records.size(); ++i) stored += EncodeRegistrationRecord(records[i]);
        return std::vector<uint8_t>(stored.begin(), stored.end());
    }

    // The records as the registration file keeps them.
    static RecordList AsStored(const std::vector<LogRecord>& records) {
        MemoryFile stored(StoredBytes(records, records.size()));
        RecordList list;
        ReadRegistrationFile(&stored, list);
        return list;
    }

    RecordList FileRecords() {
        MutexLock guard(context.plumbing.lock);
        RecordList list;
        ReadRegistrationFile(context.registrationFile.get(), list);
        return list;
    }

    // Runs `change` on the file's state under the lock the worker writes under.
    void ChangeFile(const std::function<void(MemoryFile&)>& change) {
        MutexLock guard(context.plumbing.lock);
        change(*file);
    }

    bool ConverterEmptied() {
        return WaitUntil([&] { return State("records") == 0; });
    }

    // Five records on the converter; the file fails (`breakFile`) after
    // `written` of them: the error is shown, the file holds exactly those
    // records' bytes (nothing of a torn one) and the converter keeps all
    // five.  Once the file works again (`mendFile`) it holds each record
    // exactly once and the converter is emptied.
    void FailingFileKeepsTheMemory(const std::function<void(MemoryFile&, const std::vector<LogRecord>&)>& breakFile,
                                   size_t written, const std::function<void(MemoryFile&)>& mendFile) {
        StartSimulator({"--firmware", "1.13", "--prefill", "5", "--period", "0"});
        std::vector<LogRecord> held = PeekConverter();
        RecordList expected = AsStored(held);
        ASSERT_EQ(expected.size(), 5u);
        breakFile(*file, held);
        StartWorker();
        ASSERT_TRUE(recorder.WaitFor(IsExportError));
        ASSERT_TRUE(WaitUntil([&] { return Received(kCodePeekLog) >= 3; }));
        EXPECT_EQ(State("records"), 5);
        EXPECT_EQ(Received(kCodeClearLog), 0);
        {
            MutexLock guard(context.plumbing.lock);
            EXPECT_EQ(file->bytes, StoredBytes(held, written));
        }

        ChangeFile(mendFile);
        ASSERT_TRUE(ConverterEmptied());
        RecordList stored = FileRecords();
        EXPECT_EQ(stored.size(), 5u);
        EXPECT_TRUE(StartsWith(stored, expected));
        StopPollingWorker(context);
        EXPECT_EQ(file->bytes, StoredBytes(held, held.size()));
    }

    std::shared_ptr<MemoryFile> file = std::make_shared<MemoryFile>();
};

TEST_F(Downloads, FirmwareBefore113GetsTheMemoryAndNeverClears) {
    StartSimulator({"--firmware", "1.12", "--prefill", "5", "--period", "0", "--no-drift"});
    StartWorker();
    ASSERT_TRUE(ConverterEmptied());
    ASSERT_TRUE(WaitUntil([&] { return FileRecords().size() == 5; }));
    ASSERT_TRUE(WaitUntil([&] { return Received(kCodeGetLog) >= 3; }));
    EXPECT_EQ(Received(kCodePeekLog), 0);
    EXPECT_EQ(Received(kCodeClearLog), 0);
    EXPECT_EQ(FileRecords().size(), 5u);
    EXPECT_EQ(recorder.Count(IsExportError), 0u);
}

TEST_F(Downloads, Firmware113PeeksWritesFlushesThenClears) {
    StartSimulator({"--firmware", "1.13", "--prefill", "5", "--period", "0"});
    RecordList expected = AsStored(PeekConverter());
    ASSERT_EQ(expected.size(), 5u);
    StartWorker();
    ASSERT_TRUE(ConverterEmptied());
    ASSERT_TRUE(WaitUntil([&] { return Received(kCodePeekLog) >= 3; }));
    StopPollingWorker(context);

    RecordList stored = FileRecords();
    EXPECT_EQ(stored.size(), 5u);
    EXPECT_TRUE(StartsWith(stored, expected));
    EXPECT_EQ(Received(kCodeGetLog), 0);
    EXPECT_EQ(Received(kCodeClearLog), 1);  // later downloads found nothing to clear
    EXPECT_GE(file->flushes, 3);
    EXPECT_EQ(recorder.Count(IsExportError), 0u);

    // The main window saw the download: started, progress, progress back
    // at 0, finished.
    auto toMain = [](Notice::Kind kind) {
        return [kind](const Notice& n) { return n.kind == kind && n.window == kMain; };
    };
    EXPECT_GE(recorder.Count(toMain(Notice::DownloadStarted)), 3u);
    EXPECT_EQ(recorder.Count(toMain(Notice::DownloadStarted)), recorder.Count(toMain(Notice::DownloadFinished)));
    EXPECT_GE(recorder.Count(IsWith(Notice::DownloadProgress, 0)), 3u);
}

TEST_F(Downloads, ClearIsDoneBeforeTheNextCycleStarts) {
    // No pause between cycles: a clear that was only started would be
    // replaced in the driver by the next cycle's first request, and its
    // record delivered again.  A record is stored at the start of every
    // download, before the transfer is asked for.
    context.plumbing.timing.cyclePause = 0ms;
    StartSimulator({"--firmware", "1.13", "--period", "0"});
    constexpr int kRounds = 30;
    std::atomic<int> filled{0};
    recorder.onNotice = [&](const Notice& n) {
        if (n.kind == Notice::DownloadStarted && filled < kRounds) {
            filled += static_cast<int>(ReplyField(Control("fill 1"), "stored"));
        }
    };
    StartWorker();
    ASSERT_TRUE(WaitUntil([&] { return filled == kRounds && State("records") == 0; }));
    StopPollingWorker(context);
    EXPECT_EQ(FileRecords().size(), static_cast<size_t>(kRounds));
    EXPECT_EQ(Received(kCodeClearLog), kRounds);
}

TEST_F(Downloads, EmptyMemoryWritesNothingAndSendsNoClear) {
    StartSimulator({"--firmware", "1.13", "--period", "0"});
    StartWorker();
    ASSERT_TRUE(WaitUntil([&] { return Received(kCodePeekLog) >= 3; }));
    StopPollingWorker(context);
    EXPECT_TRUE(file->bytes.empty());
    EXPECT_GE(file->flushes, 2);
    EXPECT_EQ(Received(kCodeClearLog), 0);
}

TEST_F(Downloads, WriteFailureKeepsTheMemoryAndTheNextDownloadCompletesTheFile) {
    // Two records reach the file, the third fails.
    FailingFileKeepsTheMemory([](MemoryFile& f, const std::vector<LogRecord>&) { f.writesLeft = 2; }, 2,
                              [](MemoryFile& f) { f.writesLeft = -1; });
}

TEST_F(Downloads, FullDiskIsCutBackToTheLastWholeRecord) {
    // The disk fills up inside the third record: what it took of that one
    // is cut off again, so the next download's records follow whole ones.
    FailingFileKeepsTheMemory(
        [](MemoryFile& f, const std::vector<LogRecord>& held) {
            size_t two = StoredBytes(held, 2).size();
            size_t three = StoredBytes(held, 3).size();
            f.capacity = two + (three - two) / 2;
        },
        2, [](MemoryFile& f) { f.capacity = SIZE_MAX; });
}

TEST_F(Downloads, FlushFailureKeepsTheMemoryWithoutWritingTwice) {
    FailingFileKeepsTheMemory([](MemoryFile& f, const std::vector<LogRecord>&) { f.failFlush = true; }, 5,
                              [](MemoryFile& f) { f.failFlush = false; });
}

using Clear = DownloadReport::Clear;

TEST_F(Downloads, OneSecondLogPeriodIsNeverClearedAndLosesNothing) {
    // Ten records at the line's pace take longer than the log period: a
    // record is stored during every transfer of them, so a clear would
    // erase one that the file never got.  The memory stays.
    StartSimulator({"--firmware", "1.13", "--prefill", "10", "--period", "1", "--pace", "--clock", "06-01 00:00:00"});
    StartWorker();
    ASSERT_TRUE(recorder.WaitForDownloads(2, 30s));
    StopPollingWorker(context);

    std::vector<DownloadReport> reports = recorder.Downloads();
    for (const DownloadReport& report : reports) {
        EXPECT_TRUE(report.transferred);
        EXPECT_EQ(report.store, DownloadReport::Store::Stored);
        EXPECT_TRUE(report.clear == Clear::LoggedDuringTransfer || report.clear == Clear::TransferLongerThanLogPeriod)
            << static_cast<int>(report.clear);
    }
    ASSERT_GE(reports.size(), 2u);
    EXPECT_EQ(reports[1].alreadyInFile, reports[0].received);
    EXPECT_GT(reports[1].received, reports[0].received);
    EXPECT_EQ(Received(kCodeClearLog), 0);
    RecordList stored = FileRecords();
    EXPECT_EQ(stored.size(), reports[1].received);
    EXPECT_TRUE(EveryPeriod(stored, 1));
    EXPECT_GE(State("records"), static_cast<long>(stored.size()));
}

TEST_F(Downloads, SixtySecondLogPeriodClearsOnlyWhenNoRecordWasStoredMeanwhile) {
    // The converter's clock is put one second before a log instant as the
    // first download begins: the record of that instant is stored during
    // the transfer and must survive.  The next download brings it and clears.
    StartSimulator({"--firmware", "1.13", "--prefill", "12", "--period", "60", "--pace", "--no-drift", "--clock",
                    "06-01 00:00:00"});
    std::atomic<bool> moved{false};
    recorder.onNotice = [&](const Notice& n) {
        if (n.kind == Notice::DownloadStarted && !moved.exchange(true)) {
            Control("clock 06-01 00:00:59");
        }
    };
    StartWorker();
    auto cleared = [&] {
        std::vector<DownloadReport> reports = recorder.Downloads();
        return !reports.empty() && reports.back().clear == Clear::Cleared;
    };
    ASSERT_TRUE(WaitUntil(cleared, 30s));
    StopPollingWorker(context);

    // A download that begins in the second of the instant keeps the memory
    // too (the clock shows whole seconds); one of the next ones clears it.
    std::vector<DownloadReport> reports = recorder.Downloads();
    EXPECT_EQ(reports[0].received, 12u);
    EXPECT_EQ(reports[0].clear, Clear::LoggedDuringTransfer);
    size_t firstClear = 1;
    while (firstClear < reports.size() && reports[firstClear].clear != Clear::Cleared) ++firstClear;
    ASSERT_LT(firstClear, reports.size());
    for (size_t i = 1; i <= firstClear; ++i) {
        EXPECT_EQ(reports[i].received, 13u) << i;
        EXPECT_GE(reports[i].alreadyInFile, 12u) << i;
        EXPECT_EQ(reports[i].clear, i == firstClear ? Clear::Cleared : Clear::LoggedDuringTransfer) << i;
    }
    EXPECT_EQ(Received(kCodeClearLog), 1);
    RecordList stored = FileRecords();
    EXPECT_EQ(stored.size(), 13u);
    EXPECT_TRUE(EveryPeriod(stored, 60));
}

TEST_F(Downloads, RestartAfterAnUnconfirmedClearWritesNothingTwice) {
    // A run wrote the converter's records (all, or the first three) and
    // ended before its clear was confirmed; the new run knows them from the
    // end of the file.  Two more were stored in between.
    for (size_t before : {size_t{5}, size_t{3}}) {
        SCOPED_TRACE(before);
        StartSimulator({"--firmware", "1.13", "--prefill", "5", "--period", "0", "--clock", "06-01 00:00:00"});
        std::vector<LogRecord> held = PeekConverter();
        ASSERT_EQ(held.size(), 5u);
        {
            MutexLock guard(context.plumbing.lock);
            file->bytes = StoredBytes(held, before);
            file->position = file->bytes.size();
        }
        Control("clock 06-01 01:00:00");
        Control("fill 2");
        StartWorker();
        ASSERT_TRUE(ConverterEmptied());
        StopPollingWorker(context);
        RecordList stored = FileRecords();
        EXPECT_EQ(stored.size(), 7u);
        EXPECT_TRUE(StartsWith(stored, AsStored(held)));
        EXPECT_TRUE(NoRecordTwice(stored));
        ChangeFile([](MemoryFile& f) { f = MemoryFile(); });
        context.registrationFile = std::make_unique<SharedFile>(file);
        context.worker->downloadMayRepeatFile = true;  // what the worker knows at a new start
    }
}

TEST_F(Downloads, RecordsTheFileHoldsInAnotherFormAreNotWrittenAgain) {
    // A run wrote the converter's five records and ended before its clear
    // was confirmed, and the file's end is not what this run would write for
    // them: the last record torn by a kill during the write burst (cut at
    // several of its bytes), the stamps written in another time zone, or the
    // rain gauge renamed since.  Two more were logged in between.  The next
    // download writes exactly what the file lacks.
    const struct {
        const char* name;
        long torn;  // bytes of the fifth record in the file, from its end when negative; 0: whole
        const char* zoneThen;
        int32_t serialThen;
    } cases[] = {
        {"torn after 1 byte", 1, "UTC0", 1234},
        {"torn after the stamp", 15, "UTC0", 1234},
        {"torn in a line", 40, "UTC0", 1234},
        {"torn in the trailer", -2, "UTC0", 1234},
        {"torn before the last byte", -1, "UTC0", 1234},
        {"written three hours east", 0, "UTC-3", 1234},
        {"written in summer time", 0, "CET-1CEST,M3.5.0,M10.5.0/3", 1234},
        {"rain gauge renamed", 0, "UTC0", 4321},
    };
    ScopedTimeZone now("UTC0");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        StartSimulator({"--firmware", "1.13", "--prefill", "5", "--period", "0", "--clock", "06-01 00:00:00"});
        std::vector<LogRecord> held = PeekConverter();
        ASSERT_EQ(held.size(), 5u);
        std::vector<uint8_t> whole;
        std::vector<uint8_t> before;
        {
            ScopedTimeZone then(c.zoneThen);
            rainGaugeSettings().serial = c.serialThen;
            whole = StoredBytes(held, c.torn == 0 ? 5 : 4);
            before = whole;
            if (c.torn != 0) {
                std::vector<uint8_t> last = StoredBytes({held[4]}, 1);
                size_t cut = c.torn > 0 ? static_cast<size_t>(c.torn) : last.size() - static_cast<size_t>(-c.torn);
                before.insert(before.end(), last.begin(), last.begin() + static_cast<ptrdiff_t>(cut));
            }
            rainGaugeSettings().serial = 1234;
        }
        {
            MutexLock guard(context.plumbing.lock);
            file->bytes = before;
            file->position = file->bytes.size();
        }
        Control("clock 06-01 01:00:00");
        Control("fill 2");
        size_t mark = recorder.Downloads().size();
        StartWorker();
        ASSERT_TRUE(ConverterEmptied());
        StopPollingWorker(context);

        std::vector<DownloadReport> reports = recorder.Downloads();
        ASSERT_GT(reports.size(), mark);
        EXPECT_EQ(reports[mark].received, 7u);
        EXPECT_EQ(reports[mark].alreadyInFile, c.torn == 0 ? 5u : 4u);
        EXPECT_EQ(reports[mark].written, c.torn == 0 ? 2u : 3u);
        RecordList stored = FileRecords();
        EXPECT_EQ(stored.size(), 7u);
        EXPECT_TRUE(NoRecordTwice(stored));
        EXPECT_TRUE(std::equal(whole.begin(), whole.end(), file->bytes.begin()));
        // What this run wrote follows the whole records directly.
        if (c.torn != 0) {
            std::vector<uint8_t> fifth = StoredBytes({held[4]}, 1);
            EXPECT_TRUE(
                std::equal(fifth.begin(), fifth.end(), file->bytes.begin() + static_cast<ptrdiff_t>(whole.size())));
        }
        ChangeFile([](MemoryFile& f) { f = MemoryFile(); });
        context.registrationFile = std::make_unique<SharedFile>(file);
        context.worker->downloadMayRepeatFile = true;  // what the worker knows at a new start
    }
}

TEST_F(Downloads, RecordsEqualToTheFilesLastAfterAConfirmedClearAreWritten) {
    // Once the clear is confirmed the converter holds nothing of the file,
    // so records stored later are new even where they equal the last ones
    // written (same stamp, same readings: a clock set back, a quiet station).
    StartSimulator(
        {"--firmware", "1.13", "--prefill", "2", "--period", "0", "--no-drift", "--clock", "06-01 00:00:00"});
    StartWorker();
    ASSERT_TRUE(WaitUntil([&] { return FileRecords().size() == 2 && Received(kCodeClearLog) == 1; }));
    Control("fill 2");
    ASSERT_TRUE(WaitUntil([&] { return Received(kCodeClearLog) == 2; }));
    StopPollingWorker(context);
    RecordList stored = FileRecords();
    ASSERT_EQ(stored.size(), 4u);
    EXPECT_TRUE(SameRecord(stored[0], stored[2]));
    EXPECT_TRUE(SameRecord(stored[1], stored[3]));
}

TEST_F(Downloads, Firmware112KeepsWhatTheFileRefusedAndWritesItFirst) {
    // The download empties the converter; the file takes two of five.  The
    // other three wait in the program, nothing more is downloaded while they
    // cannot be written, and they go first once the file takes writes.
    StartSimulator({"--firmware", "1.12", "--prefill", "5", "--period", "0", "--clock", "06-01 00:00:00"});
    file->writesLeft = 2;
    StartWorker();
    ASSERT_TRUE(recorder.WaitForDownloads(3));
    EXPECT_EQ(Received(kCodeGetLog), 1);
    EXPECT_EQ(State("records"), 0);
    std::vector<DownloadReport> reports = recorder.Downloads();
    EXPECT_EQ(reports[0].received, 5u);
    EXPECT_EQ(reports[0].written, 2u);
    EXPECT_EQ(reports[0].waiting, 3u);
    EXPECT_EQ(reports[2].store, DownloadReport::Store::WriteFailed);
    EXPECT_EQ(reports[2].waiting, 3u);
    EXPECT_GE(recorder.Count(IsExportError), 3u);
    Control("clock 06-01 01:00:00");
    Control("fill 2");

    ChangeFile([](MemoryFile& f) { f.writesLeft = -1; });
    ASSERT_TRUE(ConverterEmptied());
    ASSERT_TRUE(WaitUntil([&] { return FileRecords().size() == 7; }));
    StopPollingWorker(context);
    RecordList stored = FileRecords();
    ASSERT_EQ(stored.size(), 7u);
    for (size_t i = 1; i < stored.size(); ++i) {
        EXPECT_LT(SecondsOf(stored[i - 1].time), SecondsOf(stored[i].time)) << i;
    }
}

// The registration file beside its waiting file in a directory of the test.
class WaitingRecords : public Downloads {
protected:
    void SetUp() override {
        Downloads::SetUp();
        ASSERT_TRUE(dir.Create("kx305_waiting"));
        std::strcpy(context.registrationPath, dir.Path("pomiary.kxg").c_str());
        pendingPath = dir.Path("pomiary.kxg.pending");
    }

    RecordList PendingRecords() {
        RecordList list;
        std::unique_ptr<FileStream> pending = OpenFile(pendingPath, FileMode::Reading);
        ReadRegistrationFile(pending.get(), list);
        return list;
    }

    // Firmware 1.12 hands five records over; the registration file takes
    // two.  The other three wait in the waiting file, or, where that cannot
    // be written either, in memory, and nothing more is downloaded.  Once
    // the file takes writes, they go first: every record is in it once, in
    // order, and the waiting file is gone.
    void RefusedRecordsWaitUntilTheFileTakesThem(bool waitingFileWritable) {
        StartSimulator({"--firmware", "1.12", "--prefill", "5", "--period", "0", "--clock", "06-01 00:00:00"});
        if (!waitingFileWritable) {
            // A directory where the waiting file belongs: it cannot be opened.
            std::filesystem::create_directories(pendingPath + "/occupied");
        }
        file->writesLeft = 2;
        StartWorker();
        ASSERT_TRUE(recorder.WaitForDownloads(3));
        EXPECT_EQ(Received(kCodeGetLog), 1);
        EXPECT_EQ(State("records"), 0);
        EXPECT_EQ(recorder.Downloads()[0].written, 2u);
        EXPECT_EQ(RecordsOnlyInMemory(context), waitingFileWritable ? 0u : 3u);
        EXPECT_EQ(PendingRecordCount(pendingPath), waitingFileWritable ? 3u : 0u);
        if (waitingFileWritable) {
            EXPECT_EQ(PendingRecords().size(), 3u);
        } else {
            std::filesystem::remove_all(pendingPath);
            ASSERT_TRUE(WaitUntil([&] { return RecordsOnlyInMemory(context) == 0; }));
            EXPECT_EQ(PendingRecordCount(pendingPath), 3u);
            // Moved to the waiting file, they still hold the downloads back.
            ASSERT_TRUE(recorder.WaitForDownloads(recorder.Downloads().size() + 1));
            EXPECT_EQ(Received(kCodeGetLog), 1);
        }
        Control("clock 06-01 01:00:00");
        Control("fill 2");
        ChangeFile([](MemoryFile& f) { f.writesLeft = -1; });
        ASSERT_TRUE(ConverterEmptied());
        ASSERT_TRUE(WaitUntil([&] { return FileRecords().size() >= 7; }));
        StopPollingWorker(context);
        RecordList stored = FileRecords();
        ASSERT_EQ(stored.size(), 7u);
        for (size_t i = 1; i < stored.size(); ++i) {
            EXPECT_LT(SecondsOf(stored[i - 1].time), SecondsOf(stored[i].time)) << i;
        }
        EXPECT_FALSE(std::filesystem::exists(pendingPath));
        EXPECT_EQ(RecordsOnlyInMemory(context), 0u);
    }

    kx305::support::TemporaryDirectory dir;
    std::string pendingPath;
};

TEST_F(WaitingRecords, Firmware112KeepsRefusedRecordsInTheWaitingFile) {
    RefusedRecordsWaitUntilTheFileTakesThem(true);
}

TEST_F(WaitingRecords, Firmware112KeepsRefusedRecordsInMemoryWhenTheWaitingFileIsRefusedToo) {
    RefusedRecordsWaitUntilTheFileTakesThem(false);
}

TEST_F(WaitingRecords, WaitingFileFoundAtStartIsWrittenFirstAndNeverTwice) {
    // A run before left records 3 to 5 waiting, with a record torn at the
    // end of the waiting file; the file holds 1 and 2, or (the run ended
    // between the append and the removal) 1 to 4.
    const struct { size_t inFile; } cases[] = {{2}, {4}};
    StartSimulator({"--firmware", "1.12", "--prefill", "5", "--period", "0", "--clock", "06-01 00:00:00"});
    const std::vector<LogRecord> held = PeekConverter(true);
    ASSERT_EQ(held.size(), 5u);
    const RecordList expected = AsStored(held);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.inFile);
        file->bytes = StoredBytes(held, c.inFile);
        std::vector<uint8_t> all = StoredBytes(held, 5);
        std::vector<uint8_t> waiting(all.begin() + static_cast<ptrdiff_t>(StoredBytes(held, 2).size()), all.end());
        waiting.insert(waiting.end(), all.begin(), all.begin() + 20);
        std::ofstream(pendingPath, std::ios::binary)
            .write(reinterpret_cast<const char*>(waiting.data()), static_cast<std::streamsize>(waiting.size()));
        ASSERT_EQ(PendingRecordCount(pendingPath), 3u);

        const size_t from = recorder.Size();
        StartWorker();
        ASSERT_TRUE(recorder.WaitFor(Is(Notice::DownloadFinished), 1, from));
        StopPollingWorker(context);
        RecordList stored = FileRecords();
        EXPECT_EQ(stored.size(), 5u);
        EXPECT_TRUE(StartsWith(stored, expected));
        EXPECT_FALSE(std::filesystem::exists(pendingPath));
    }
}

TEST_F(Downloads, ClearLostOnTheLineDoesNotWriteRecordsTwice) {
    StartSimulator({"--firmware", "1.13", "--prefill", "5", "--period", "0"});
    RecordList expected = AsStored(PeekConverter());
    ASSERT_EQ(expected.size(), 5u);
    // The converter goes away between the end of the first transfer and the
    // clear: the records are in the file and still in its memory.  Two new
    // ones are stored while it is away.
    std::atomic<bool> done{false};
    recorder.onNotice = [&](const Notice& n) {
        if (n.kind == Notice::DownloadProgress && n.value == 0 && !done.exchange(true)) {
            Control("vanish 0.5");
            Control("fill 2");
        }
    };
    StartWorker();
    ASSERT_TRUE(WaitUntil([&] { return done.load() && State("records") == 0; }));
    StopPollingWorker(context);

    RecordList stored = FileRecords();
    EXPECT_EQ(stored.size(), 7u);
    EXPECT_TRUE(StartsWith(stored, expected));
    EXPECT_TRUE(NoRecordTwice(stored));
    EXPECT_EQ(recorder.Count(IsExportError), 0u);
}

TEST_F(Downloads, TransferInterruptedByFaultsLosesNothing) {
    // Tries of 1 s instead of 2.5 s: a stalled try is noticed sooner, and a
    // paced record frame still arrives well within it.
    kx305::testing::ScopedRequestTiming timing(1000);
    StartSimulator({"--firmware", "1.13", "--prefill", "6", "--period", "0", "--pace", "--seed", "7"});
    RecordList expected = AsStored(PeekConverter());
    ASSERT_EQ(expected.size(), 6u);
    // The first transfer loses frames on the line (the driver asks again);
    // its next try is cut off by the converter vanishing half-way (the
    // worker reconnects and downloads anew).
    std::atomic<bool> dropping{false};
    std::atomic<bool> linesClear{false};
    std::atomic<bool> vanished{false};
    recorder.onNotice = [&](const Notice& n) {
        if (n.kind == Notice::DownloadStarted && !dropping.exchange(true)) {
            Control("fault drop 0.5");
        } else if (n.kind == Notice::DownloadProgress && n.value >= 30 && n.value < 100 && linesClear &&
                   !vanished.exchange(true)) {
            Control("vanish 0.3");
        }
    };
    StartWorker();
    ASSERT_TRUE(WaitUntil([&] { return dropping.load(); }));
    std::this_thread::sleep_for(300ms);
    ASSERT_EQ(Control("fault off").rfind("ok", 0), 0u);
    linesClear = true;
    ASSERT_TRUE(WaitUntil([&] { return vanished && State("records") == 0; }, 60s));
    StopPollingWorker(context);

    EXPECT_GT(ReplyField(Control("sent"), "dropped"), 0);
    // The cut-off transfer is told as one: nothing received, nothing stored.
    std::vector<DownloadReport> reports = recorder.Downloads();
    auto broken = std::find_if(reports.begin(), reports.end(), [](const DownloadReport& r) { return !r.transferred; });
    ASSERT_NE(broken, reports.end());
    EXPECT_EQ(broken->received, 0u);
    EXPECT_EQ(broken->written, 0u);
    EXPECT_EQ(broken->clear, Clear::NotAsked);
    EXPECT_TRUE(reports.back().transferred);
    RecordList stored = FileRecords();
    EXPECT_EQ(stored.size(), 6u);
    EXPECT_TRUE(StartsWith(stored, expected));
}

// Firmware 1.12 hands its memory over and the line loses the count frame
// with records: the first (the previous download emptied the memory, so
// the records' schedule tells it was there), one in the middle and the
// last.  The number reported lost is the number of records the file lacks
// on the one-second schedule of the records it has.
TEST_F(Downloads, Firmware112CountsTheRecordsLostWithTheCountFrame) {
    StartSimulator({"--firmware", "1.12", "--period", "1", "--no-drift"});
    StartWorker();
    ASSERT_TRUE(recorder.WaitFor(Notice::DownloadFinished, 1, 0, 30s));
    // The converter logs undisturbed for a while, the worker's clock reads
    // narrowing its phase.
    context.recordingEvent.Reset();
    std::this_thread::sleep_for(5500ms);
    ASSERT_GE(State("records"), 4);
    ASSERT_EQ(Control("fault drop-reply 8 0,1,3,-1").rfind("ok", 0), 0u);
    // The oldest record the converter holds, "MM-DD HH:MM:SS.hh": the
    // previous download emptied the memory, and this one is to be lost.
    const std::string listing = Control("memory");
    const size_t at = listing.find(':', listing.find(" count="));
    ASSERT_NE(at, std::string::npos) << listing;
    const int64_t oldest = std::stoi(listing.substr(at + 1, 2)) * 60 + std::stoi(listing.substr(at + 4, 2));
    size_t mark = recorder.Size();
    context.recordingEvent.Set();
    ASSERT_TRUE(WaitUntil([&] { return ReplyField(Control("sent"), "dropped") == 4; }));
    // And one more download for what was logged since.
    ASSERT_TRUE(recorder.WaitFor(Notice::DownloadFinished, 2, mark, 30s));
    StopPollingWorker(context);

    std::vector<DownloadReport> reports = recorder.Downloads();
    size_t lost = 0;
    for (const DownloadReport& r : reports) {
        EXPECT_FALSE(r.lostUnknown);
        lost += r.lost;
    }
    auto cut = std::find_if(reports.begin(), reports.end(), [](const DownloadReport& r) { return r.lost > 0; });
    ASSERT_NE(cut, reports.end());
    EXPECT_EQ(cut->lost, 3u);
    EXPECT_EQ(lost, 3u);
    RecordList stored = FileRecords();
    ASSERT_GE(stored.size(), 3u);
    // Minutes and seconds only: the file keeps local time, and no time
    // zone is off UTC by other than whole half hours.  The first download
    // may have found a record logged before the lost one: then the lost
    // one shows as a gap between stored records, not in front of them.
    int64_t ahead = ((stored[0].time.minute * 60 + stored[0].time.second - oldest) % 1800 + 1800) % 1800;
    if (ahead > 900) ahead -= 1800;
    int64_t missing = std::max<int64_t>(ahead, 0);
    for (size_t i = 1; i < stored.size(); ++i) missing += SecondsOf(stored[i].time) - SecondsOf(stored[i - 1].time) - 1;
    EXPECT_EQ(missing, 3);
}

// Records missing from the file on the schedule of those it has, one
// record every `period` seconds.
int64_t MissingOnSchedule(const RecordList& stored, int64_t period) {
    int64_t missing = 0;
    for (size_t i = 1; i < stored.size(); ++i)
        missing += (SecondsOf(stored[i].time) - SecondsOf(stored[i - 1].time)) / period - 1;
    return missing;
}

struct SwallowedCase {
    const char* what;
    const char* fault;  // armed before the download; swallows its first reply whole
    // Seconds until the converter answers again (0: the fault ends by itself).
    int silentSeconds;
};

class SwallowedGetLogReply : public Downloads, public ::testing::WithParamInterface<SwallowedCase> {};

// Firmware 1.12 empties its memory for a GetLog whose reply never arrives
// at all; the driver asks again and the converter hands over only what it
// logged since (the same request once, or after a reconnection when every
// try went unanswered).  The records the swallowed reply carried are
// reported lost with their number: the gap in the file.
TEST_P(SwallowedGetLogReply, ReportsTheRecordsItCarriedAsLost) {
    const SwallowedCase& c = GetParam();
    StartSimulator({"--firmware", "1.12", "--period", "1", "--no-drift"});
    auto downloadsWithRecords = [&] {
        std::vector<DownloadReport> reports = recorder.Downloads();
        return std::count_if(reports.begin(), reports.end(),
                             [](const DownloadReport& r) { return r.transferred && r.received > 0; });
    };
    StartWorker();
    // The file begins before the gap.
    ASSERT_TRUE(WaitUntil([&] { return downloadsWithRecords() >= 1; }, 30s));
    context.recordingEvent.Reset();
    std::this_thread::sleep_for(5500ms);
    ASSERT_GE(State("records"), 4);
    ASSERT_EQ(Control(c.fault).rfind("ok", 0), 0u);
    context.recordingEvent.Set();
    if (c.silentSeconds > 0) {
        ASSERT_TRUE(WaitUntil([&] { return ReplyField(Control("sent"), "silenced") >= 1; }));
        std::this_thread::sleep_for(std::chrono::seconds(c.silentSeconds));
        ASSERT_EQ(Control("fault silent off").rfind("ok", 0), 0u);
    }
    // A download whose records arrived after the swallowed reply.
    const long before = downloadsWithRecords();
    ASSERT_TRUE(WaitUntil([&] { return downloadsWithRecords() > before; }, 60s));
    StopPollingWorker(context);

    size_t lost = 0;
    for (const DownloadReport& r : recorder.Downloads()) {
        SCOPED_TRACE(::testing::Message() << "received " << r.received << " lost " << r.lost);
        EXPECT_FALSE(r.lostUnknown);
        lost += r.lost;
    }
    const int64_t missing = MissingOnSchedule(FileRecords(), 1);
    EXPECT_GE(missing, 4);
    EXPECT_EQ(static_cast<int64_t>(lost), missing);
}

INSTANTIATE_TEST_SUITE_P(
    Firmware112, SwallowedGetLogReply,
    ::testing::Values(SwallowedCase{"ResentAtOnce",
                                    "fault drop-reply 8 0,1,2,3,4,5,6,7,8,9,10,11,12,13,14,15,16,17,18,19,20", 0},
                      SwallowedCase{"EveryTryAfterAReconnection", "fault silent-from 8", 11}),
    [](const ::testing::TestParamInfo<SwallowedCase>& info) { return std::string(info.param.what); });

TEST_F(Downloads, UserOperationsBetweenDownloadsAllRunAndNoRecordIsLostOrDoubled) {
    StartSimulator({"--firmware", "1.13", "--period", "0", "--pace"});
    StartWorker();
    ASSERT_TRUE(WaitCycles(1));
    long stored = 0;
    for (int round = 0; round < 4; ++round) {
        stored += ReplyField(Control("fill 2"), "stored");
        // Somewhere in the next download (two records at the line's pace).
        ASSERT_TRUE(WaitUntil([&] { return Received(kCodePeekLog) > round; }));
        size_t mark = recorder.Size();
        PlaceRequest(context, RequesterOf(kMain), kOpSyncClock, 0);
        ASSERT_TRUE(recorder.WaitFor(Notice::ClockSet, 1, mark));
        EXPECT_EQ(recorder.Count(IsAnswer(Notice::ClockSet, true), mark), 1u) << round;
    }
    ASSERT_TRUE(ConverterEmptied());
    StopPollingWorker(context);
    EXPECT_EQ(stored, 8);
    RecordList records = FileRecords();
    EXPECT_EQ(static_cast<long>(records.size()), stored);
}

// --- a GetLog transfer (firmware up to 1.12 empties its memory as the
// request arrives) is never abandoned ---

struct OperationCase {
    const char* what;
    uint32_t operation;
    uint32_t parameter;
    WindowRef requester;
    Notice::Kind answer;
};

class OperationDuringGetLog : public Downloads, public ::testing::WithParamInterface<OperationCase> {};

// The dialog's operation waits for the next cycle and gets its answer; all
// 300 records reach the file.
TEST_P(OperationDuringGetLog, WaitsForTheNextCycleAndNoRecordIsLost) {
    const OperationCase& c = GetParam();
    StartSimulator({"--firmware", "1.12", "--prefill", "300", "--period", "0"});
    std::atomic<bool> placed{false};
    recorder.onNotice = [&](const Notice& n) {
        if (n.kind == Notice::DownloadProgress && n.value > 0 && n.value < 100 && !placed.exchange(true)) {
            PlaceRequest(context, RequesterOf(c.requester), c.operation, c.parameter);
        }
    };
    StartWorker();
    ASSERT_TRUE(recorder.WaitFor(c.answer, 1, 0, 30s));
    ASSERT_TRUE(placed);
    ASSERT_TRUE(WaitUntil([&] { return FileRecords().size() >= 300; }));
    StopPollingWorker(context);

    EXPECT_EQ(FileRecords().size(), 300u);
    EXPECT_EQ(State("records"), 0);
    std::vector<DownloadReport> reports = recorder.Downloads();
    ASSERT_FALSE(reports.empty());
    EXPECT_TRUE(reports[0].transferred);
    EXPECT_EQ(reports[0].received, 300u);
    EXPECT_EQ(reports[0].written, 300u);
    // Answered after the download, in a later cycle, and as done.
    std::vector<Notice> all = recorder.All();
    auto finished = std::find_if(all.begin(), all.end(), Is(Notice::DownloadFinished));
    auto answer = std::find_if(all.begin(), all.end(), Is(c.answer));
    EXPECT_LT(finished, answer);
    if (c.answer != Notice::LogPeriodRead) {
        EXPECT_TRUE(answer->flag);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Downloads, OperationDuringGetLog,
    ::testing::Values(OperationCase{"SyncClock", kOpSyncClock, 0, kMain, Notice::ClockSet},
                      OperationCase{"WriteLogPeriod", kOpWriteLogPeriod, 600, kDialog, Notice::LogPeriodWritten},
                      OperationCase{"ReadLogPeriod", kOpReadLogPeriod, 0, kDialog, Notice::LogPeriodRead}),
    [](const ::testing::TestParamInfo<OperationCase>& info) { return std::string(info.param.what); });

// At the line's pace (a second for about ten records), so that a break
// would end the transfer half-way.
struct StopCase {
    const char* firmware;
    bool mustFinish;   // a stop waits for the transfer
    size_t inFile;     // records in the file afterwards
    long inConverter;  // records the converter keeps
};

class StopDuringTransfer : public Downloads, public ::testing::WithParamInterface<StopCase> {};

// A stop lets a GetLog transfer finish and its records reach the file; a
// peek is broken off as any transaction (the converter keeps its records).
TEST_P(StopDuringTransfer, FinishesOnlyWhatTheConverterLetGoOf) {
    const StopCase& c = GetParam();
    StartSimulator({"--firmware", c.firmware, "--prefill", "30", "--period", "0", "--pace"});
    std::atomic<bool> midway{false};
    std::atomic<bool> stopGiven{false};
    std::atomic<bool> mustFinish{false};
    recorder.onNotice = [&](const Notice& n) {
        if (n.kind == Notice::DownloadProgress && n.value > 0 && n.value < 100 && !midway.exchange(true)) {
            StopMeanwhile();
            mustFinish = LogTransferMustFinish(context);
            stopGiven = true;
        }
    };
    StartWorker();
    ASSERT_TRUE(WaitUntil([&] { return stopGiven.load(); }));
    JoinStop();
    EXPECT_EQ(mustFinish, c.mustFinish);
    EXPECT_FALSE(LogTransferMustFinish(context));
    EXPECT_EQ(FileRecords().size(), c.inFile);
    EXPECT_EQ(State("records"), c.inConverter);
    EXPECT_EQ(Received(kCodeGetLog) + Received(kCodePeekLog), 1);
    EXPECT_EQ(Received(kCodeClearLog), 0);
}

INSTANTIATE_TEST_SUITE_P(Downloads, StopDuringTransfer,
                         ::testing::Values(StopCase{"1.12", true, 30, 0}, StopCase{"1.13", false, 0, 30}),
                         [](const ::testing::TestParamInfo<StopCase>& info) {
                             return std::string(
                                 info.param.firmware[2] == '1' && info.param.firmware[3] == '2' ? "GetLog" : "PeekLog");
                         });

// The converter stops answering and the program closes: the stop ends the
// worker within a second, whether it came while a transaction waited for
// its reply or between two of them (where a break finds nothing to break).
TEST_F(Downloads, StopWithASilentConverterEndsAtOnce) {
    const struct {
        const char* firmware;
        Notice::Kind at;     // the converter goes silent at this event
        bool fromTheWorker;  // stop at once from that event, between two transactions
    } cases[] = {
        {"1.12", Notice::DownloadStarted, true},
        {"1.13", Notice::DownloadStarted, true},
        {"1.13", Notice::CycleDone, true},
        {"1.13", Notice::CycleDone, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.firmware) + (c.at == Notice::CycleDone ? " cycle" : " download") +
                     (c.fromTheWorker ? " between" : " waiting"));
        StartSimulator({"--firmware", c.firmware, "--prefill", "5", "--period", "0"});
        context.mainWindow = kMain;  // a stop clears it
        std::atomic<bool> seen{false};
        std::atomic<bool> silent{false};
        recorder.onNotice = [&](const Notice& n) {
            if (n.kind != c.at || seen.exchange(true)) return;
            Control("fault silent on");
            if (c.fromTheWorker) StopMeanwhile();
            silent = true;
        };
        StartWorker();
        ASSERT_TRUE(WaitUntil([&] { return silent.load(); }));
        if (!c.fromTheWorker) {
            std::this_thread::sleep_for(300ms);
            StopMeanwhile();
        }
        JoinStop();
        EXPECT_LT(stopTime, 1500ms) << std::chrono::duration_cast<std::chrono::milliseconds>(stopTime).count();
        recorder.onNotice = nullptr;
    }
}

// The registration file is deleted while recording: the converter's memory
// is not handed over or cleared into a file nobody can read, recording stops
// and the user is told.
TEST_F(Downloads, RegistrationFileDeletedKeepsTheConvertersMemory) {
    namespace fs = std::filesystem;
    for (const char* firmware : {"1.12", "1.13"}) {
        SCOPED_TRACE(firmware);
        const fs::path path = fs::temp_directory_path() / ("kx305_gone_" + std::to_string(getpid()) + ".kxg");
        context.registrationFile = OpenFile(path.string(), FileMode::Recording);
        ASSERT_NE(context.registrationFile, nullptr);
        std::snprintf(context.registrationPath, sizeof context.registrationPath, "%s", path.c_str());
        StartSimulator({"--firmware", firmware, "--prefill", "5", "--period", "0"});
        context.mainWindow = kMain;  // a stop clears it
        std::atomic<bool> deleted{false};
        recorder.onNotice = [&](const Notice& n) {
            if (n.kind == Notice::DownloadStarted && !deleted.exchange(true)) fs::remove(path);
        };
        size_t mark = recorder.Size();
        StartWorker();
        ASSERT_TRUE(recorder.WaitFor(Is(Notice::DownloadFinished), 1, mark));
        ASSERT_TRUE(WaitCycles(3));
        StopPollingWorker(context);

        std::vector<Notice> notices = recorder.All();
        std::vector<DownloadReport> reports;
        for (size_t i = mark; i < notices.size(); ++i) {
            if (notices[i].kind == Notice::DownloadFinished) reports.push_back(notices[i].download);
        }
        ASSERT_EQ(reports.size(), 1u);  // recording stopped
        EXPECT_EQ(reports[0].store, DownloadReport::Store::FileGone);
        EXPECT_EQ(recorder.Count(IsExportError, mark), 1u);
        EXPECT_EQ(context.registrationFile, nullptr);
        EXPECT_EQ(State("records"), 5);
        EXPECT_EQ(Received(kCodeGetLog), 0);
        EXPECT_EQ(Received(kCodeClearLog), 0);
        recorder.onNotice = nullptr;
    }
}

}  // namespace
}  // namespace kx305mon::testing
