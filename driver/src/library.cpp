#include "library.h"

#include <cstdint>
#include <cstdlib>

#include "converter_link.h"
#include "diagnostic_log.h"
#include "handle_registry.h"

namespace kx305 {

void LibraryLoad() {
    ClearRegistry();
    const char* path = std::getenv("KX305_LOG");
    if (path != nullptr && *path != '\0') {
        const char* limit = std::getenv("KX305_LOG_LIMIT");
        OpenDiagnosticLog(path, limit != nullptr ? std::strtoull(limit, nullptr, 10) : 0);
    }
    LogMessage("Start programu");
}

void LibraryUnload(bool processExit) {
    LogMessage("Koniec programu");
    KX305Handle handle = nullptr;
    while (RegistryEntry* entry = WithdrawFirst(handle)) {
        LogMessage("Niezamkniety uchwyt: %x", static_cast<unsigned>(EntryAddress(entry)));
        auto* link = static_cast<ConverterLink*>(handle);
        if (processExit) {
            // A thread ended by the system in the middle of a call never
            // lets go of the entry: nothing waits, entry and link are left
            // to the system.
            link->Abandon();
        } else {
            link->Close();
            ReleaseEntry(entry);
            delete link;
        }
    }
    CloseDiagnosticLog();
}

}  // namespace kx305
