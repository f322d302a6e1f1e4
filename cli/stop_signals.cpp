#include "stop_signals.h"

#include "device_session.h"

namespace kx305cli {

volatile sig_atomic_t g_stopSignal = 0;
volatile sig_atomic_t g_finishing = 0;

namespace {

// The first signal asks for a clean stop (the worker finishes its write, the
// file is flushed, a GetLog download is finished); a second one ends the
// program at once, whatever it is busy with.
extern "C" void OnStopSignal(int signalNumber) {
    if (g_stopSignal != 0 && g_finishing == 0) {
        signal(signalNumber, SIG_DFL);
        raise(signalNumber);
        return;
    }
    if (g_stopSignal < 2) g_stopSignal = g_stopSignal + 1;
}

}  // namespace

bool StopRequested() { return g_stopSignal != 0; }

void InstallStopSignals() {
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGHUP, &action, nullptr);
    signal(SIGPIPE, SIG_IGN);
    // A file size limit makes the write fail with EFBIG, which is reported,
    // instead of ending the program in the middle of a download.
    signal(SIGXFSZ, SIG_IGN);
}

}  // namespace kx305cli
