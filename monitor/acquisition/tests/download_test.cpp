// Downloads of the logging memory into the registration file on a simulated
// converter: the firmware's two ways, empty memory, failing files, faults on
// the line, and user operations between downloads.  The registration file is
// read back with the program's reader and compared with what the converter
// held.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>

#include "memory_file.h"
#include "recording/registration_file.h"
#include "resources/messages.h"
#include "simulator_fixture.h"

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

bool IsExportError(const Notice& n) { return n.kind == Notice::Message && n.text == messages::kExportFailed; }

class Downloads : public AcquisitionOnSimulator {
protected:
    void SetUp() override {
        AcquisitionOnSimulator::SetUp();
        context.recordingInterval = 1;  // one shortened tick between downloads
        context.registrationFile = std::make_unique<MemoryFile>(file);
    }

    // The converter's memory as a host reads it without clearing, before
    // the worker takes the port.
    std::vector<LogRecord> PeekConverter() {
        std::vector<LogRecord> records;
        KX305Handle handle = nullptr;
        if (KX305Open(&handle, PortPath(1).c_str()) != 0) return records;
        ConverterInfo info{};
        KX305GetInfo(&handle, &info);
        if (WaitDone(&handle) == 1) {
            LogBuffer log{};
            KX305PeekLog(&handle, &log);
            if (WaitDone(&handle) == 1) records.assign(log.records, log.records + log.count);
        }
        KX305Close(&handle);
        Control("received reset");
        return records;
    }

    // The records as the registration file keeps them.
    static RecordList AsStored(const std::vector<LogRecord>& records) {
        auto state = std::make_shared<MemoryFileState>();
        MemoryFile stored(state);
        for (const LogRecord& record : records) WriteRegistrationRecord(stored, record);
        RecordList list;
        ReadRegistrationFile(&stored, list);
        return list;
    }

    RecordList FileRecords() {
        std::lock_guard<std::mutex> guard(context.lock);
        RecordList list;
        ReadRegistrationFile(context.registrationFile.get(), list);
        return list;
    }

    // Runs `change` on the file's state under the lock the worker writes under.
    void ChangeFile(const std::function<void(MemoryFileState&)>& change) {
        std::lock_guard<std::mutex> guard(context.lock);
        change(*file);
    }

    bool ConverterEmptied() {
        return WaitUntil([&] { return State("records") == 0; });
    }

    // Five records on the converter; the file fails (`breakFile`) after
    // `written` of them: the error is shown and the converter keeps all
    // five.  Once the file works again (`mendFile`) it holds each record
    // exactly once and the converter is emptied.
    void FailingFileKeepsTheMemory(const std::function<void(MemoryFileState&)>& breakFile, size_t written,
                                   const std::function<void(MemoryFileState&)>& mendFile) {
        StartSimulator({"--firmware", "1.13", "--prefill", "5", "--period", "0"});
        RecordList expected = AsStored(PeekConverter());
        ASSERT_EQ(expected.size(), 5u);
        breakFile(*file);
        StartWorker();
        ASSERT_TRUE(notifier.WaitFor(IsExportError));
        ASSERT_TRUE(WaitUntil([&] { return Received(kCodePeekLog) >= 3; }));
        EXPECT_EQ(State("records"), 5);
        EXPECT_EQ(Received(kCodeClearLog), 0);
        RecordList meanwhile = FileRecords();
        EXPECT_EQ(meanwhile.size(), written);
        EXPECT_TRUE(StartsWith(meanwhile, RecordList(expected.begin(), expected.begin() + written)));

        ChangeFile(mendFile);
        ASSERT_TRUE(ConverterEmptied());
        RecordList stored = FileRecords();
        EXPECT_EQ(stored.size(), 5u);
        EXPECT_TRUE(StartsWith(stored, expected));
    }

    std::shared_ptr<MemoryFileState> file = std::make_shared<MemoryFileState>();
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
    EXPECT_EQ(notifier.Count(IsExportError), 0u);
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
    EXPECT_EQ(notifier.Count(IsExportError), 0u);

    // The main window saw the download: text shown, progress, text hidden,
    // progress back at 0.
    std::vector<Notice> all = notifier.All();
    auto shown = [](const Notice& n) { return n.kind == Notice::Show && n.control == kIdRecordingText && n.flag; };
    auto hidden = [](const Notice& n) { return n.kind == Notice::Show && n.control == kIdRecordingText && !n.flag; };
    EXPECT_GE(notifier.Count(shown), 3u);
    EXPECT_EQ(notifier.Count(shown), notifier.Count(hidden));
    EXPECT_GE(notifier.CountPostsWith(WMU_PROGRESS, 0), 3u);
}

TEST_F(Downloads, ClearIsDoneBeforeTheNextCycleStarts) {
    // No pause between cycles: a clear that was only started would be
    // replaced in the driver by the next cycle's first request, and its
    // record delivered again.  A record is stored at the start of every
    // download, before the transfer is asked for.
    context.timing.cyclePause = 0ms;
    StartSimulator({"--firmware", "1.13", "--period", "0"});
    constexpr int kRounds = 30;
    std::atomic<int> filled{0};
    notifier.onNotice = [&](const Notice& n) {
        if (n.kind == Notice::Show && n.control == kIdRecordingText && n.flag && filled < kRounds) {
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
    FailingFileKeepsTheMemory([](MemoryFileState& f) { f.writesLeft = 2; }, 2,
                              [](MemoryFileState& f) { f.writesLeft = -1; });
}

TEST_F(Downloads, FlushFailureKeepsTheMemoryWithoutWritingTwice) {
    FailingFileKeepsTheMemory([](MemoryFileState& f) { f.failFlush = true; }, 5,
                              [](MemoryFileState& f) { f.failFlush = false; });
}

TEST_F(Downloads, ClearLostOnTheLineDoesNotWriteRecordsTwice) {
    StartSimulator({"--firmware", "1.13", "--prefill", "5", "--period", "0"});
    RecordList expected = AsStored(PeekConverter());
    ASSERT_EQ(expected.size(), 5u);
    // The converter goes away between the end of the first transfer and the
    // clear: the records are in the file and still in its memory.  Two new
    // ones are stored while it is away.
    std::atomic<bool> done{false};
    notifier.onNotice = [&](const Notice& n) {
        if (n.kind == Notice::Post && n.message == WMU_PROGRESS && n.wParam == 0 && !done.exchange(true)) {
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
    EXPECT_EQ(notifier.Count(IsExportError), 0u);
}

TEST_F(Downloads, TransferInterruptedByFaultsLosesNothing) {
    StartSimulator({"--firmware", "1.13", "--prefill", "6", "--period", "0", "--pace", "--seed", "7"});
    RecordList expected = AsStored(PeekConverter());
    ASSERT_EQ(expected.size(), 6u);
    // The first transfer loses frames on the line (the driver asks again);
    // its next try is cut off by the converter vanishing half-way (the
    // worker reconnects and downloads anew).
    std::atomic<bool> dropping{false};
    std::atomic<bool> linesClear{false};
    std::atomic<bool> vanished{false};
    notifier.onNotice = [&](const Notice& n) {
        if (n.kind == Notice::Show && n.flag && !dropping.exchange(true)) {
            Control("fault drop 0.5");
        } else if (n.kind == Notice::Post && n.message == WMU_PROGRESS && n.wParam >= 30 && n.wParam < 100 &&
                   linesClear && !vanished.exchange(true)) {
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
    RecordList stored = FileRecords();
    EXPECT_EQ(stored.size(), 6u);
    EXPECT_TRUE(StartsWith(stored, expected));
}

TEST_F(Downloads, UserOperationsBetweenDownloadsAllRunAndNoRecordIsLostOrDoubled) {
    StartSimulator({"--firmware", "1.13", "--period", "0", "--pace"});
    StartWorker();
    ASSERT_TRUE(WaitCycles(1));
    long stored = 0;
    for (int round = 0; round < 4; ++round) {
        stored += ReplyField(Control("fill 2"), "stored");
        // Somewhere in the next download (two records at the line's pace).
        ASSERT_TRUE(WaitUntil([&] { return Received(kCodePeekLog) > round; }));
        size_t mark = notifier.Size();
        PlaceRequest(context, kMain, kOpSyncClock, 0);
        ASSERT_TRUE(notifier.WaitForPost(WMU_TIME_SET, 1, mark));
        EXPECT_EQ(notifier.CountPostsWith(WMU_TIME_SET, 1, mark), 1u) << round;
    }
    ASSERT_TRUE(ConverterEmptied());
    StopPollingWorker(context);
    EXPECT_EQ(stored, 8);
    RecordList records = FileRecords();
    EXPECT_EQ(static_cast<long>(records.size()), stored);
}

}  // namespace
}  // namespace kx305mon::testing
