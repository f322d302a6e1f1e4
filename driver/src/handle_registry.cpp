#include "handle_registry.h"

#include <mutex>
#include <new>

namespace kx305 {
namespace {

struct Entry {
    KX305Handle handle;
    Entry* next;
};

std::mutex g_mutex;
constinit Entry* g_head = nullptr;

}  // namespace

bool RegisterHandle(KX305Handle handle) {
    Entry* entry = new (std::nothrow) Entry{handle, nullptr};
    if (entry == nullptr) return false;
    std::lock_guard<std::mutex> lock(g_mutex);
    Entry** tail = &g_head;
    while (*tail != nullptr) tail = &(*tail)->next;
    *tail = entry;
    return true;
}

bool IsRegistered(KX305Handle handle) {
    std::lock_guard<std::mutex> lock(g_mutex);
    for (const Entry* e = g_head; e != nullptr; e = e->next)
        if (e->handle == handle) return true;
    return false;
}

bool UnregisterHandle(KX305Handle handle) {
    Entry* found = nullptr;
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        for (Entry** link = &g_head; *link != nullptr; link = &(*link)->next) {
            if ((*link)->handle != handle) continue;
            found = *link;
            *link = found->next;
            break;
        }
    }
    delete found;
    return found != nullptr;
}

bool TakeFirstHandle(KX305Handle& handle, uintptr_t& entryAddress) {
    Entry* first = nullptr;
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        first = g_head;
        if (first == nullptr) return false;
        g_head = first->next;
    }
    handle = first->handle;
    entryAddress = reinterpret_cast<uintptr_t>(first);
    delete first;
    return true;
}

void ClearRegistry() {
    Entry* list = nullptr;
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        list = g_head;
        g_head = nullptr;
    }
    while (list != nullptr) {
        Entry* next = list->next;
        delete list;
        list = next;
    }
}

}  // namespace kx305
