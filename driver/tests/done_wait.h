// Waiting for requests in the driver's tests: one KX305DoneWait answer as a
// value, polling a request to its end, and waiting for a condition instead
// of sleeping.  Uses only the exported interface, so the tests of the shared
// library (also kx305.dll under Wine) use it too.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <ostream>
#include <thread>
#include <vector>

#include "kx305.h"

namespace kx305::testing {

// One answer of KX305DoneWait.
struct Outcome {
    KX305Status status;
    uint32_t percent;
    bool operator==(const Outcome&) const = default;
};

inline std::ostream& operator<<(std::ostream& os, const Outcome& o) {
    return os << "{" << o.status << ", " << o.percent << "%}";
}
inline void PrintTo(const Outcome& o, std::ostream* os) { *os << o; }

// One KX305DoneWait; the marks show a percentage the call did not write.
inline Outcome WaitOnce(KX305Handle* handle) {
    Outcome o{-1, 12345};
    o.status = KX305DoneWait(handle, &o.percent);
    return o;
}

inline bool StillRunning(KX305Status status) { return status == KX305_STATUS_BUSY || status == KX305_STATUS_PROGRESS; }

// KX305DoneWait until a final status (anything but 1 and 2); every answer.
inline std::vector<Outcome> PollToEnd(KX305Handle* handle, size_t maxCalls = 100000) {
    std::vector<Outcome> answers;
    do {
        answers.push_back(WaitOnce(handle));
    } while (StillRunning(answers.back().status) && answers.size() < maxCalls);
    return answers;
}

// The final status; counts the tries that failed (answers 1) in `retries`.
inline KX305Status Finish(KX305Handle* handle, int* retries = nullptr) {
    for (;;) {
        const Outcome o = WaitOnce(handle);
        if (o.status == KX305_STATUS_BUSY && retries != nullptr) ++*retries;
        if (!StillRunning(o.status)) return o.status;
    }
}

// Polls `condition` until it holds or `limit` has passed; true if it held.
// A slow machine only makes the wait longer.
template <typename Condition>
bool WaitUntil(Condition condition, std::chrono::milliseconds limit = std::chrono::seconds(20)) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

}  // namespace kx305::testing
