// The 16 exported functions.  Each but KX305Open first checks the handle:
// a null pointer, a null handle or one that is not open gives 9 and nothing
// else happens.  A null record pointer is refused the same way.  The check
// holds the handle (HandleUse) until the call returns, so a close on another
// thread waits for the call instead of freeing the link under it.
#include <new>

#include "converter_link.h"
#include "handle_registry.h"
#include "kx305.h"

using kx305::ConverterLink;

namespace {

// The handle in *ph, held for the caller's scope; empty for a bad handle.
kx305::HandleUse Use(const KX305Handle* ph) {
    if (ph == nullptr || *ph == nullptr) return {};
    return kx305::UseHandle(*ph);
}

ConverterLink& LinkOf(const kx305::HandleUse& use) { return *static_cast<ConverterLink*>(use.handle()); }

// Starts a request that fills or reads `record`.
template <typename Record, typename Start>
KX305Status StartWith(KX305Handle* ph, Record* record, Start start) {
    const kx305::HandleUse use = Use(ph);
    if (!use || record == nullptr) return KX305_STATUS_BAD_HANDLE;
    start(LinkOf(use), *record);
    return KX305_STATUS_OK;
}

}  // namespace

extern "C" {

KX305Status KX305_API KX305Open(KX305Handle* ph, const char* portPath) {
    if (ph == nullptr) return KX305_STATUS_BAD_HANDLE;
    auto* link = new (std::nothrow) ConverterLink;
    if (link == nullptr) {
        *ph = nullptr;
        return KX305_STATUS_NO_MEMORY;
    }
    *ph = link;
    const KX305Status status = link->Open(portPath != nullptr ? portPath : "");
    if (status != KX305_STATUS_OK) {
        delete link;
        *ph = nullptr;
        return status;
    }
    if (!kx305::RegisterHandle(link)) {
        delete link;
        *ph = nullptr;
        return KX305_STATUS_NO_MEMORY;
    }
    return KX305_STATUS_OK;
}

KX305Status KX305_API KX305Close(KX305Handle* ph) {
    // Leaving the registry first makes a second, concurrent close of the
    // same handle fail with 9 instead of freeing it twice, and every later
    // call on it fail with 9.  Calls already running hold the entry: closing
    // the link ends their waits, and the link is freed once they are out.
    if (ph == nullptr || *ph == nullptr) return KX305_STATUS_BAD_HANDLE;
    kx305::RegistryEntry* entry = kx305::WithdrawHandle(*ph);
    if (entry == nullptr) return KX305_STATUS_BAD_HANDLE;
    auto* link = static_cast<ConverterLink*>(*ph);
    link->Close();
    kx305::ReleaseEntry(entry);
    delete link;
    *ph = nullptr;
    return KX305_STATUS_OK;
}

KX305Status KX305_API KX305DoneWait(KX305Handle* ph, uint32_t* percent) {
    const kx305::HandleUse use = Use(ph);
    if (!use) return KX305_STATUS_BAD_HANDLE;
    uint32_t ignored = 0;
    return LinkOf(use).DoneWait(percent != nullptr ? *percent : ignored);
}

KX305Status KX305_API KX305UserBreak(KX305Handle* ph) {
    const kx305::HandleUse use = Use(ph);
    if (!use) return KX305_STATUS_BAD_HANDLE;
    LinkOf(use).BreakOff();
    return KX305_STATUS_OK;
}

KX305Status KX305_API KX305GetInfo(KX305Handle* ph, ConverterInfo* info) {
    return StartWith(ph, info, [](ConverterLink& link, ConverterInfo& r) { link.GetInfo(r); });
}

KX305Status KX305_API KX305SetSerialNumber(KX305Handle* ph, const uint16_t* serialNumber) {
    return StartWith(ph, serialNumber, [](ConverterLink& link, const uint16_t& v) { link.SetSerialNumber(v); });
}

KX305Status KX305_API KX305GetTime(KX305Handle* ph, ClockRecord* clock) {
    return StartWith(ph, clock, [](ConverterLink& link, ClockRecord& r) { link.GetTime(r); });
}

KX305Status KX305_API KX305SetTime(KX305Handle* ph, const ClockRecord* clock) {
    return StartWith(ph, clock, [](ConverterLink& link, const ClockRecord& r) { link.SetTime(r); });
}

KX305Status KX305_API KX305GetLogPeriod(KX305Handle* ph, uint16_t* period) {
    return StartWith(ph, period, [](ConverterLink& link, uint16_t& r) { link.GetLogPeriod(r); });
}

KX305Status KX305_API KX305SetLogPeriod(KX305Handle* ph, const uint16_t* period) {
    return StartWith(ph, period, [](ConverterLink& link, const uint16_t& v) { link.SetLogPeriod(v); });
}

KX305Status KX305_API KX305GetResults(KX305Handle* ph, InputReading* results) {
    return StartWith(ph, results, [](ConverterLink& link, InputReading& r) { link.GetResults(&r); });
}

KX305Status KX305_API KX305GetLog(KX305Handle* ph, LogBuffer* log) {
    return StartWith(ph, log, [](ConverterLink& link, LogBuffer& r) { link.GetLog(r, kx305::CMD_GET_LOG); });
}

KX305Status KX305_API KX305PeekLog(KX305Handle* ph, LogBuffer* log) {
    return StartWith(ph, log, [](ConverterLink& link, LogBuffer& r) { link.GetLog(r, kx305::CMD_PEEK_LOG); });
}

KX305Status KX305_API KX305FreeLog(KX305Handle* ph, LogBuffer* log) {
    return StartWith(ph, log, [](ConverterLink& link, LogBuffer& r) { link.FreeLog(r); });
}

KX305Status KX305_API KX305ResetRainCounter(KX305Handle* ph) {
    const kx305::HandleUse use = Use(ph);
    if (!use) return KX305_STATUS_BAD_HANDLE;
    LinkOf(use).ResetRainCounter();
    return KX305_STATUS_OK;
}

KX305Status KX305_API KX305ClearLog(KX305Handle* ph) {
    const kx305::HandleUse use = Use(ph);
    if (!use) return KX305_STATUS_BAD_HANDLE;
    LinkOf(use).ClearLog();
    return KX305_STATUS_OK;
}

}  // extern "C"
