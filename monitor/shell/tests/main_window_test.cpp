// The main window's decisions: which start results of the charting
// program the user hears of, the cycle log's line, and the message boxes
// that the acquisition's reports give.
#include <gtest/gtest.h>

#include <vector>

#include "shell/main_window.h"

namespace kx305mon::testing {
namespace {

TEST(VizoStart, ResultCodesByClass) {
    struct Case {
        uintptr_t code;
        VizoStart start;
    };
    const Case cases[] = {
        {0, VizoStart::CannotStart},   // out of resources
        {11, VizoStart::CannotStart},  // bad executable format
        {2, VizoStart::NotFound},      // file not found
        {3, VizoStart::NotFound},      // path not found
        {5, VizoStart::Started},       // access denied: not told
        {8, VizoStart::Started},       // out of memory: not told
        {31, VizoStart::Started},      // no association: not told
        {32, VizoStart::Started},      // the first success code
        {33, VizoStart::Started},     {0x7FFF0000u, VizoStart::Started},
    };
    for (const Case& c : cases) EXPECT_EQ(ClassifyVizoStart(c.code), c.start) << "code " << c.code;
}

TEST(CycleLog, OneLineWithEveryShareInMicroseconds) {
    CycleTiming timing;
    timing.cycleMicros = 8123;
    timing.transactionMicros = 7900;
    timing.operationMicros = 12;
    timing.eventsMicros = 170;
    EXPECT_EQ(CycleLogLine(timing, 115, 40),
              "cycle 8123 transaction 7900 operation 12 events 170 livedata 115 display 40 program 210\n");
    // A long cycle (a download) keeps its digits.
    timing.cycleMicros = 12345678901;
    EXPECT_NE(CycleLogLine(timing, 0, 0).find("cycle 12345678901 "), std::string::npos);
}

// Downloads one after another in one run, with what each tells the user.
TEST(DownloadNotices, LossesEveryTimeTheShortIntervalOnce) {
    using Clear = DownloadReport::Clear;
    auto report = [](size_t lost, bool unknown, Clear clear) {
        DownloadReport r;
        r.transferred = true;
        r.lost = lost;
        r.lostUnknown = unknown;
        r.clear = clear;
        return r;
    };
    struct Step {
        const char* name;
        DownloadReport report;
        std::vector<PendingNotice> notices;
    };
    const Step steps[] = {
        {"clean", report(0, false, Clear::Cleared), {}},
        {"lost 3", report(3, false, Clear::NotAsked), {{Notice::RecordsLost, 3}}},
        {"lost, count unknown", report(0, true, Clear::NotAsked), {{Notice::RecordsLostUnknown, 0}}},
        {"unknown with a partial count", report(2, true, Clear::NotAsked), {{Notice::RecordsLostUnknown, 0}}},
        {"other refusals of the clear say nothing", report(0, false, Clear::LoggedDuringTransfer), {}},
        {"interval too short",
         report(0, false, Clear::TransferLongerThanLogPeriod),
         {{Notice::LogIntervalTooShort, 0}}},
        {"too short again: told already", report(0, false, Clear::TransferLongerThanLogPeriod), {}},
        {"a loss is still told", report(1, false, Clear::TransferLongerThanLogPeriod), {{Notice::RecordsLost, 1}}},
    };
    DownloadNotices notices;
    for (const Step& step : steps) EXPECT_EQ(notices.After(step.report), step.notices) << step.name;
    // A new run tells it again, with a loss first.
    EXPECT_EQ(DownloadNotices().After(report(300, false, Clear::TransferLongerThanLogPeriod)),
              (std::vector<PendingNotice>{{Notice::RecordsLost, 300}, {Notice::LogIntervalTooShort, 0}}));
}

TEST(DownloadNotices, TextsAndIcons) {
    struct Case {
        uint32_t notice;
        size_t count;
        const char* text;
        NoticeIcon icon;
    };
    const Case cases[] = {
        {uint32_t(Notice::RecordsLost), 4294967295u,
         "Liczba rekordów utraconych podczas pobierania pamięci konwertera: 4294967295.", NoticeIcon::Exclamation},
        {uint32_t(Notice::RecordsLost), 1, "Liczba rekordów utraconych podczas pobierania pamięci konwertera: 1.",
         NoticeIcon::Exclamation},
        {uint32_t(Notice::RecordsLostUnknown), 0, "Część rekordów pobieranych z pamięci konwertera została utracona.",
         NoticeIcon::Exclamation},
        {uint32_t(Notice::LogIntervalTooShort), 0,
         "Interwał rejestracji konwertera jest zbyt krótki, aby jego pamięć mogła być opróżniana na bieżąco. "
         "Pamięć zapełni się i konwerter przestanie zapisywać pomiary. Wydłuż interwał rejestracji.",
         NoticeIcon::Information},
        // The failures keep their texts and icons.
        {uint32_t(FailureNotice(AcquisitionFailure::RecordsNotStored)), 0, "Wystąpił błąd podczas eksportu danych.",
         NoticeIcon::Exclamation},
        {uint32_t(FailureNotice(AcquisitionFailure::PortInUse)), 0, "Wybrany port szeregowy jest już zajęty.",
         NoticeIcon::Warning},
        {0, 0, "", NoticeIcon::Information},
        {99, 0, "", NoticeIcon::Information},
    };
    for (const Case& c : cases) {
        const NoticeBox box = NoticeMessage(c.notice, c.count);
        EXPECT_EQ(box.text, c.text) << c.notice;
        EXPECT_EQ(box.icon, c.icon) << c.notice;
    }
}

}  // namespace
}  // namespace kx305mon::testing
