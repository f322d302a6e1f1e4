// The acquisition of the Windows build under Wine, on the simulated
// converters that scripts/wine-sim-run puts on COM ports: the program's own
// port naming ("\\.\COMn"), the port test, polling and a download into the
// registration file with the converter's memory cleared afterwards.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <thread>

#include "acquisition/events.h"
#include "acquisition_fixture.h"
#include "instruments/catalogue.h"
#include "memory_file.h"
#include "recording/registration_file.h"
#include "wine_sim.h"

namespace kx305mon::testing {
namespace {

using namespace std::chrono_literals;

// The COM number of a simulator of wine-sim-run ("\\.\COM5" gives 5).
int32_t SimPortNumber(const char* variable) { return kx305::support::SimPortNumber(variable, PORT_NONE); }

using WindowsAcquisition = AcquisitionTest;

TEST_F(WindowsAcquisition, PortTestOpensTheDevicePathOfTheComNumber) {
    EXPECT_EQ(DefaultPortName(12), "\\\\.\\COM12");
    EXPECT_EQ(PortTest(context, kMain, SimPortNumber("KX305_PORT_FW112")), 1);
    EXPECT_EQ(recorder.Size(), 0u);
    EXPECT_EQ(PortTest(context, kMain, SimPortNumber("KX305_PORT_MISSING")), 0);
    ASSERT_EQ(recorder.Size(), 1u);
    EXPECT_EQ(recorder.Count(IsFailure(AcquisitionFailure::PortInUse)), 1u);
}

TEST_F(WindowsAcquisition, PollsAndDownloadsTheLoggingMemoryIntoTheFile) {
    const int32_t port = SimPortNumber("KX305_PORT_FW113");
    const long prefilled = static_cast<long>(kx305::support::SimNumber("KX305_FW113_RECORDS"));
    ASSERT_GT(prefilled, 0);
    auto file = std::make_shared<MemoryFile>();
    context.registrationFile = std::make_unique<SharedFile>(file);
    context.recordingInterval = 1;
    context.port = port;
    ASSERT_TRUE(StartPollingWorker(context));

    ASSERT_TRUE(recorder.WaitFor(Notice::CycleDone, 2, 0, 30s));
    {
        MutexLock guard(context.plumbing.lock);
        EXPECT_EQ(context.info.serialNumber, 3051);
        EXPECT_EQ(context.inputs[1].type, kTypeKX124);
        EXPECT_EQ(InstrumentSerial(context.inputs[1].type, context.inputs[1]), 1201);
    }
    // The converter sends at the line's 9600 baud: the first download takes
    // a while.
    ASSERT_TRUE(recorder.WaitFor(
        [](const Notice& n) { return n.kind == Notice::DownloadFinished && n.window == kMain; }, 1, 0, 120s));
    StopPollingWorker(context);

    RecordList records;
    ReadRegistrationFile(context.registrationFile.get(), records);
    EXPECT_GE(static_cast<long>(records.size()), prefilled);
    EXPECT_LE(static_cast<long>(records.size()), prefilled + 1);  // one more at a minute boundary
    EXPECT_EQ(recorder.Count(Notice::Failure), 0u);

    // The memory was cleared after the download.
    const auto held = ReadConverterMemory(DefaultPortName(port));
    ASSERT_TRUE(held.has_value()) << "the converter's memory did not read";
    EXPECT_LE(held->size(), 1u);
}

}  // namespace
}  // namespace kx305mon::testing
