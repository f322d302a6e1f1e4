// The DDEML server of the program.  Names and answers come from
// dde_names.h; this file holds the instance, the string handles and the
// callback, all on the UI thread.
#include "dde/dde_server.h"

#include <windows.h>
#include <ddeml.h>

#include <algorithm>
#include <cstring>
#include <mutex>
#include <utility>
#include <vector>

#include "dde/dde_names.h"
#include "memory/alloc_or_die.h"

namespace kx305mon {
namespace {

// The library's filters: no executes, no pokes, no notices about other
// servers' names.
constexpr UINT kServerFlags =
    APPCLASS_STANDARD | CBF_FAIL_EXECUTES | CBF_FAIL_POKES | CBF_SKIP_REGISTRATIONS | CBF_SKIP_UNREGISTRATIONS;
static_assert(kServerFlags == 0x198000);

struct ServerState {
    DWORD instance = 0;
    AppContext* context = nullptr;
    const InputReading* readings[kDdeInputs] = {};
    DdeNameTable names;
};
ServerState server;

HSZ Handle(DdeName name) { return reinterpret_cast<HSZ>(name); }
DdeName Name(HSZ handle) { return reinterpret_cast<DdeName>(handle); }

DdeName CreateName(const char* text) { return Name(DdeCreateStringHandleA(server.instance, text, CP_WINANSI)); }

void FreeName(DdeName& name) {
    if (name) DdeFreeStringHandle(server.instance, Handle(name));
    name = 0;
}

InputReading CopyReading(int input) {
    MutexLock hold(server.context->plumbing.lock);
    return *server.readings[input];
}

HDDEDATA Answer(const InputReading& reading, const DdeMatch& match, HSZ item) {
    const std::string text = BuildDdeAnswer(reading.type, reading, match.quantity, match.item);
    return DdeCreateDataHandle(server.instance, reinterpret_cast<LPBYTE>(const_cast<char*>(text.c_str())),
                               static_cast<DWORD>(text.size() + 1), 0, item, CF_TEXT, 0);
}

// The topic of the conversation that asks.  An advise may be posted for one
// topic and still reach the links of another topic with the same item
// (Wine matches advises by item alone), so an advise request is answered
// for the conversation's own topic.
HSZ ConversationTopic(HCONV conversation, HSZ fallback) {
    CONVINFO info = {};
    info.cb = sizeof info;
    if (DdeQueryConvInfo(conversation, QID_SYNC, &info) == 0 || !info.hszTopic) return fallback;
    return info.hszTopic;
}

HDDEDATA WildcardList(UINT format, HSZ topic, HSZ service) {
    const auto pairs = DdeWildcardPairs(server.names, Name(topic), Name(service));
    // The platform's own pair size, closed by a pair of zeros.
    const size_t size = (pairs.size() + 1) * sizeof(HSZPAIR);
    auto* list = static_cast<HSZPAIR*>(AllocOrDie(size));
    for (size_t i = 0; i < pairs.size(); ++i) list[i] = HSZPAIR{Handle(pairs[i].first), Handle(pairs[i].second)};
    const HDDEDATA data = DdeCreateDataHandle(server.instance, reinterpret_cast<LPBYTE>(list), static_cast<DWORD>(size),
                                              0, nullptr, format, 0);
    FreeOrDie(list);
    return data;
}

// The hot links that clients hold, as their advise starts, advise stops and
// disconnects report them.  Every value goes out as an advise for the links
// it is meant for: the advise request of any other link it wakes is
// answered with nothing.
struct HotLink {
    HCONV conversation;
    HSZ topic;
    HSZ item;
};
std::vector<HotLink> hotLinks;

void KeepLink(HCONV conversation, HSZ topic, HSZ item) {
    for (const HotLink& link : hotLinks)
        if (link.conversation == conversation && link.item == item) return;
    DdeKeepStringHandle(server.instance, topic);
    DdeKeepStringHandle(server.instance, item);
    hotLinks.push_back(HotLink{conversation, topic, item});
}

// The links of the conversation with this item, or all of them (item 0).
void DropLinks(HCONV conversation, HSZ item) {
    auto gone = [&](const HotLink& link) {
        if (link.conversation != conversation || (item && link.item != item)) return false;
        DdeFreeStringHandle(server.instance, link.topic);
        DdeFreeStringHandle(server.instance, link.item);
        return true;
    };
    hotLinks.erase(std::remove_if(hotLinks.begin(), hotLinks.end(), gone), hotLinks.end());
}

// The links an advise being posted is meant for, each answered once, and
// their answers' source.
struct AdviseTarget {
    HCONV conversation;
    DdeMatch match;
    bool answered;
};
struct AdviseBatch {
    std::vector<AdviseTarget> targets;  // sorted by conversation
    const InputReading* reading;
};
AdviseBatch* adviseBatch = nullptr;

AdviseTarget* FindTarget(AdviseBatch& batch, HCONV conversation) {
    auto before = [](const AdviseTarget& target, HCONV c) { return target.conversation < c; };
    const auto found = std::lower_bound(batch.targets.begin(), batch.targets.end(), conversation, before);
    return found != batch.targets.end() && found->conversation == conversation ? &*found : nullptr;
}

void PostAdvise(AdviseBatch& batch, HSZ topic, HSZ item) {
    std::sort(batch.targets.begin(), batch.targets.end(),
              [](const AdviseTarget& a, const AdviseTarget& b) { return a.conversation < b.conversation; });
    adviseBatch = &batch;
    DdePostAdvise(server.instance, topic, item);
    adviseBatch = nullptr;
}

void PostLinkAdvise(const HotLink& link, const DdeMatch& match, const InputReading& reading) {
    AdviseBatch batch{{AdviseTarget{link.conversation, match, false}}, &reading};
    PostAdvise(batch, link.topic, link.item);
}

// How the library finds the links an advise wakes.  Windows' DDEML wakes
// the links of the posted topic and item, each with its own advise
// request, so one advise per (topic, item) serves all of them (one per
// link would cost links² requests).  Wine's wakes every link of the item,
// whatever its topic, so one advise per item serves all of an input's links.
DdeAdviseRule adviseRule = DdeAdviseRule::Detect;
unsigned long adviseRequests = 0;

bool UnderWine() {
    static const bool wine = GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version") != nullptr;
    return wine;
}

bool ItemWideAdvises() {
    if (adviseRule == DdeAdviseRule::Detect) return UnderWine();
    return adviseRule == DdeAdviseRule::ItemOnly;
}

// One advise for the batch's links, which share item `item`; `topic` is the
// topic of one of them.  Under Wine the values of one advise share the one
// reference on the item's global atom that the advise takes, and each
// client drops one: the server adds the missing references first, one per
// further link, so that the atom outlives the last client's value.  (A
// reference too many, should a post fail, only keeps the name in the atom
// table.)
void PostBatchAdvise(AdviseBatch& batch, HSZ topic, int item) {
    if (UnderWine())
        for (size_t extra = 1; extra < batch.targets.size(); ++extra) GlobalAddAtomA(kDdeItemNames[item]);
    PostAdvise(batch, topic, Handle(server.names.items[item]));
}

HDDEDATA AdviseAnswer(HCONV conversation, HSZ topic, HSZ item, bool text) {
    ++adviseRequests;
    if (adviseBatch) {
        AdviseTarget* target = FindTarget(*adviseBatch, conversation);
        if (!target || target->answered) return nullptr;
        target->answered = true;
        return Answer(*adviseBatch->reading, target->match, item);
    }
    // An advise that the library posts by itself.
    const DdeMatch match =
        MatchDdeRequest(server.names, text, Name(ConversationTopic(conversation, topic)), Name(item));
    return match.Found() ? Answer(CopyReading(match.input), match, item) : nullptr;
}

// A link exists only once its advise start has been accepted, so the
// first value of a new link is posted just after the callback returns, on
// the next turn of the message loop (a thread timer needs no window).
std::vector<std::pair<HCONV, HSZ>> pendingAdvises;
UINT_PTR pendingTimer = 0;

void CALLBACK PostPendingAdvises(HWND, UINT, UINT_PTR, DWORD) {
    KillTimer(nullptr, pendingTimer);
    pendingTimer = 0;
    std::vector<std::pair<HCONV, HSZ>> advises;
    advises.swap(pendingAdvises);
    for (const auto& [conversation, item] : advises) {
        for (const HotLink& link : hotLinks) {
            if (link.conversation != conversation || link.item != item) continue;
            const DdeMatch match = MatchDdeRequest(server.names, true, Name(link.topic), Name(link.item));
            if (match.Found()) PostLinkAdvise(link, match, CopyReading(match.input));
            break;
        }
    }
}

void PostAdviseSoon(HCONV conversation, HSZ item) {
    pendingAdvises.emplace_back(conversation, item);
    if (pendingTimer == 0) pendingTimer = SetTimer(nullptr, 0, 0, &PostPendingAdvises);
}

HDDEDATA CALLBACK DdeCallback(UINT type, UINT format, HCONV conversation, HSZ name1, HSZ name2, HDDEDATA, ULONG_PTR,
                              ULONG_PTR) {
    const bool text = format == CF_TEXT;
    switch (type) {
    case XTYP_CONNECT:
        return reinterpret_cast<HDDEDATA>(MatchDdeConnect(server.names, Name(name1), Name(name2)) ? TRUE : FALSE);
    case XTYP_WILDCONNECT:
        return WildcardList(format, name1, name2);
    case XTYP_REQUEST: {
        const DdeMatch match = MatchDdeRequest(server.names, text, Name(name1), Name(name2));
        return match.Found() ? Answer(CopyReading(match.input), match, name2) : nullptr;
    }
    case XTYP_ADVREQ:
        return AdviseAnswer(conversation, name1, name2, text);
    case XTYP_ADVSTART:
        if (!MatchDdeRequest(server.names, text, Name(name1), Name(name2)).Found())
            return reinterpret_cast<HDDEDATA>(FALSE);
        KeepLink(conversation, name1, name2);
        PostAdviseSoon(conversation, name2);
        return reinterpret_cast<HDDEDATA>(TRUE);
    case XTYP_ADVSTOP:
        DropLinks(conversation, name2);
        return reinterpret_cast<HDDEDATA>(
            MatchDdeRequest(server.names, text, Name(name1), Name(name2)).Found() ? TRUE : FALSE);
    case XTYP_DISCONNECT:
        DropLinks(conversation, nullptr);
        return nullptr;
    default:
        return nullptr;
    }
}

bool IsInput(int input) { return input >= 0 && input < kDdeInputs; }

}  // namespace

bool DdeServerStart(AppContext& context) {
    {
        MutexLock hold(context.plumbing.lock);
        server.context = &context;
        for (int i = 0; i < kDdeInputs; ++i) server.readings[i] = &context.inputs[i];
    }
    if (server.instance != 0) return false;
    DWORD instance = 0;
    if (DdeInitializeA(&instance, &DdeCallback, kServerFlags, 0) != DMLERR_NO_ERROR) return false;
    server.instance = instance;
    for (int i = 0; i < kDdeItems; ++i) server.names.items[i] = CreateName(kDdeItemNames[i]);
    return true;
}

void DdeServerStop() {
    if (server.instance == 0) return;
    if (pendingTimer != 0) KillTimer(nullptr, pendingTimer);
    pendingTimer = 0;
    pendingAdvises.clear();
    hotLinks.clear();  // their handles go with the instance
    for (DdeName& item : server.names.items) FreeName(item);
    DdeUninitialize(server.instance);
    server.instance = 0;
    // The library has dropped every handle of the instance with it.
    for (DdeInputNames& input : server.names.inputs) input = DdeInputNames{};
}

void DdeInputRegister(int input) {
    if (!IsInput(input) || server.instance == 0) return;
    const InputReading reading = CopyReading(input);
    DdeInputNames& names = server.names.inputs[input];
    names.topicCount = 0;
    if (reading.type == 0) return;
    const DdeInputTexts texts = BuildDdeInputTexts(reading.type, reading);
    names.service = CreateName(texts.service.c_str());
    int count = 0;
    for (const std::string& topic : texts.topics) names.topics[count++] = CreateName(topic.c_str());
    names.topicCount = count;
    if (count == 0) {
        FreeName(names.service);  // an unknown instrument: nothing to publish
    } else if (!DdeServiceShared(server.names, input)) {
        // Connects for other names do not reach this service's window.
        DdeNameService(server.instance, Handle(names.service), nullptr, DNS_REGISTER | DNS_FILTERON);
    }
}

void DdeInputUnregister(int input) {
    if (!IsInput(input) || server.instance == 0) return;
    DdeInputNames& names = server.names.inputs[input];
    if (names.topicCount == 0) return;
    for (int q = 0; q < names.topicCount; ++q) FreeName(names.topics[q]);
    names.topicCount = 0;
    if (!DdeServiceShared(server.names, input))
        DdeNameService(server.instance, Handle(names.service), nullptr, DNS_UNREGISTER);
    FreeName(names.service);
}

void DdeInputAdvise(int input) {
    if (!IsInput(input) || server.instance == 0) return;
    if (server.names.inputs[input].topicCount == 0) return;
    const InputReading reading = CopyReading(input);
    // The input's links grouped as one advise reaches them: by topic and
    // item, or by item alone.
    struct Group {
        int quantity;
        int item;
        HSZ topic;
        AdviseBatch batch;
    };
    std::vector<Group> groups;
    const bool byItem = ItemWideAdvises();
    for (const HotLink& link : hotLinks) {
        const DdeMatch match = MatchDdeRequest(server.names, true, Name(link.topic), Name(link.item));
        if (match.input != input) continue;
        const int quantity = byItem ? 0 : match.quantity;
        auto group = std::find_if(groups.begin(), groups.end(),
                                  [&](const Group& g) { return g.quantity == quantity && g.item == match.item; });
        if (group == groups.end())
            group = groups.insert(groups.end(), Group{quantity, match.item, link.topic, {{}, &reading}});
        group->batch.targets.push_back(AdviseTarget{link.conversation, match, false});
    }
    for (Group& group : groups) PostBatchAdvise(group.batch, group.topic, group.item);
}

void DdeSetAdviseRule(DdeAdviseRule rule) { adviseRule = rule; }

unsigned long DdeAdviseRequestCount() { return adviseRequests; }

}  // namespace kx305mon
