#include "operations.h"

#include "console.h"

namespace kx305cli {

using namespace kx305mon;

OperationResult RunOperation(Session& session, uint32_t operation, uint32_t parameter) {
    const Requester requester = session.NewRequester();
    if (operation == kOpWriteLogPeriod) {
        PlaceLogPeriodRequest(session.context, requester, parameter);
    } else {
        PlaceRequest(session.context, requester, operation, parameter);
    }
    const uint64_t placement = session.Arm();
    const Clock::time_point deadline = session.Deadline();
    OperationResult result;
    Event event;
    for (;;) {
        switch (session.Next(event, deadline)) {
        case WaitResult::Timeout:
            return result;
        case WaitResult::Interrupted:
            result.outcome = Outcome::Interrupted;
            return result;
        case WaitResult::Event:
            break;
        }
        if (event.kind == Event::Answer && event.requester == requester) {
            result.outcome = event.done ? Outcome::Done : Outcome::Failed;
            return result;
        }
        if (operation == kOpReadLogPeriod && event.kind == Event::PeriodRead && event.requester == requester) {
            result.outcome = Outcome::Done;
            result.value = event.value;
            return result;
        }
        if (IsNewData(event) && event.slotEmpty && event.placement == placement) {
            result.outcome = Outcome::Done;
            return result;
        }
        if (IsConnectionLost(event)) return result;
    }
}

int OperationExit(const Session& session, Outcome outcome, const char* failure) {
    switch (outcome) {
    case Outcome::Done:
        return kExitOk;
    case Outcome::Interrupted:
        return kExitInterrupted;
    case Outcome::Failed:
        break;
    }
    Console::Error(session.port(), failure);
    return kExitFailure;
}

}  // namespace kx305cli
