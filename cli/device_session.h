// The device commands of kx305cli.  Each runs the acquisition core as the
// Windows program does: the polling worker owns the connection, the
// recording timer asks for downloads, and every operation on the converter
// is a device request that the worker performs between two polls.  The
// commands only place requests, wait for their notices and print.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kx305mon {
struct AppContext;
}

namespace kx305cli {

struct DeviceOptions {
    std::string port;                  // a tty path; "" = the built-in simulator
    std::vector<std::string> simArgs;  // extra arguments of the built-in simulator
    double timeoutSeconds = 10;        // for the converter's first answer and each operation; 0 = no limit
    bool averageKX125 = true;          // "KX125AV": the KX-125 description starts with the average
};

// Ctrl-C and SIGTERM end a running command cleanly (the worker finishes its
// current write and the file is flushed; a recording first finishes a
// download that firmware up to 1.12 has already handed over); a second one
// ends it at once.  A closed stdout is not fatal.
void InstallStopSignals();

// Firmware version, firmware date and serial number.
int RunInfo(const DeviceOptions& options);
// The converter clock in UTC and in local time.
int RunTime(const DeviceOptions& options);
// One block per polling cycle; `count` 0 = until interrupted.
int RunRead(const DeviceOptions& options, int count);

struct RecordOptions {
    std::string file;
    double durationSeconds = 0;  // 0 = until interrupted
    uint32_t interval = 20;      // seconds between downloads, at least 20
};
// Told, on the recording's main thread, what the recording has done; it
// must not wait for anything (the converter's events queue up meanwhile).
class RecordingObserver {
public:
    virtual ~RecordingObserver() = default;
    // After every polling cycle with the converter's readings.
    virtual void Cycle(kx305mon::AppContext& context) = 0;
    // A download ended: whatever it stored is in the file.
    virtual void DownloadEnded() = 0;
    // The converter is no longer polled and the file is closed; the last
    // records are in it.  Called once, before the summary, unless the
    // recording never began.
    virtual void Finish() = 0;
};

// Headless recording into a registration file, telling `observer` (if any)
// what happens.
int RunRecord(const DeviceOptions& options, const RecordOptions& record, RecordingObserver* observer = nullptr);

// Device operations.
int RunSyncClock(const DeviceOptions& options);
// Local date and time as dialog 124 takes them (the year is the current
// one); a day the month does not have is a usage error.
int RunSetTime(const DeviceOptions& options, int month, int day, int hour, int minute, int second);
int RunGetPeriod(const DeviceOptions& options);
// 0 is refused by the caller; values above 65535 are cut to 65535.
int RunSetPeriod(const DeviceOptions& options, uint32_t seconds);
int RunResetRain(const DeviceOptions& options);

}  // namespace kx305cli
