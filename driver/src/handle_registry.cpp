#include "handle_registry.h"

#include <condition_variable>
#include <mutex>
#include <new>

namespace kx305 {

struct RegistryEntry {
    KX305Handle handle;
    RegistryEntry* next;
    uint32_t uses;  // HandleUse objects holding the entry
};

namespace {

std::mutex g_mutex;
// Signalled when the last use of a withdrawn entry ends.
std::condition_variable g_unused;
constinit RegistryEntry* g_head = nullptr;

// Unlinks the first entry that `match` accepts; mutex held.
template <typename Match>
RegistryEntry* Unlink(Match match) {
    for (RegistryEntry** link = &g_head; *link != nullptr; link = &(*link)->next) {
        if (!match(**link)) continue;
        RegistryEntry* found = *link;
        *link = found->next;
        found->next = nullptr;
        return found;
    }
    return nullptr;
}

}  // namespace

HandleUse::~HandleUse() {
    if (entry_ == nullptr) return;
    std::lock_guard<std::mutex> lock(g_mutex);
    if (--entry_->uses == 0) g_unused.notify_all();
}

KX305Handle HandleUse::handle() const { return entry_ != nullptr ? entry_->handle : nullptr; }

bool RegisterHandle(KX305Handle handle) {
    RegistryEntry* entry = new (std::nothrow) RegistryEntry{handle, nullptr, 0};
    if (entry == nullptr) return false;
    std::lock_guard<std::mutex> lock(g_mutex);
    RegistryEntry** tail = &g_head;
    while (*tail != nullptr) tail = &(*tail)->next;
    *tail = entry;
    return true;
}

HandleUse UseHandle(KX305Handle handle) {
    std::lock_guard<std::mutex> lock(g_mutex);
    for (RegistryEntry* e = g_head; e != nullptr; e = e->next) {
        if (e->handle != handle) continue;
        ++e->uses;
        return HandleUse(e);
    }
    return HandleUse();
}

RegistryEntry* WithdrawHandle(KX305Handle handle) {
    std::lock_guard<std::mutex> lock(g_mutex);
    return Unlink([handle](const RegistryEntry& e) { return e.handle == handle; });
}

RegistryEntry* WithdrawFirst(KX305Handle& handle) {
    std::lock_guard<std::mutex> lock(g_mutex);
    RegistryEntry* first = Unlink([](const RegistryEntry&) { return true; });
    if (first != nullptr) handle = first->handle;
    return first;
}

uintptr_t EntryAddress(const RegistryEntry* entry) { return reinterpret_cast<uintptr_t>(entry); }

void ReleaseEntry(RegistryEntry* entry) {
    if (entry == nullptr) return;
    {
        std::unique_lock<std::mutex> lock(g_mutex);
        g_unused.wait(lock, [entry] { return entry->uses == 0; });
    }
    delete entry;
}

void ClearRegistry() {
    RegistryEntry* list = nullptr;
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        list = g_head;
        g_head = nullptr;
    }
    while (list != nullptr) {
        RegistryEntry* next = list->next;
        delete list;
        list = next;
    }
}

}  // namespace kx305
