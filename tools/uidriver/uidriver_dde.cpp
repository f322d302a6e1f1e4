// The DDE client: DDEML conversations, and the raw WM_DDE_INITIATE broadcast.
#include <dde.h>

#include <thread>

#include "internal.h"

namespace kx305::ui {

using namespace detail;

namespace {
// DDEML calls its callback with the instance, not with our object: one
// client per thread, found through this pointer.
thread_local DdeClient* currentClient = nullptr;
}  // namespace

std::unique_ptr<DdeClient> DdeClient::Create() {
    if (currentClient) {
        Fail("this thread has a DDE client already");
        return nullptr;
    }
    std::unique_ptr<DdeClient> client(new DdeClient());
    const UINT status = DdeInitializeA(&client->instance_, &DdeClient::Callback, APPCMD_CLIENTONLY, 0);
    if (status != DMLERR_NO_ERROR) {
        Fail("DdeInitialize: DMLERR " + std::to_string(status));
        return nullptr;
    }
    currentClient = client.get();
    return client;
}

DdeClient::~DdeClient() {
    for (HSZ s : strings_) DdeFreeStringHandle(instance_, s);
    if (instance_) DdeUninitialize(instance_);
    currentClient = nullptr;
}

std::string DdeClient::LastDdeError() const {
    const UINT error = DdeGetLastError(instance_);
    char hex[16];
    snprintf(hex, sizeof hex, "0x%04X", error);
    return std::string("DMLERR ") + hex;
}

HSZ DdeClient::Hsz(const std::string& text) {
    const HSZ s = DdeCreateStringHandleA(instance_, text.c_str(), CP_WINANSI);
    if (s) strings_.push_back(s);
    return s;
}

std::string DdeClient::HszText(HSZ hsz) const {
    char text[256] = {};
    const DWORD n = DdeQueryStringA(instance_, hsz, text, sizeof text, CP_WINANSI);
    return std::string(text, n);
}

HDDEDATA CALLBACK DdeClient::Callback(UINT type, UINT, HCONV conv, HSZ, HSZ item, HDDEDATA data, ULONG_PTR, ULONG_PTR) {
    DdeClient* self = currentClient;
    if (!self || type != XTYP_ADVDATA) return nullptr;
    Link& link = self->links_[{conv, self->HszText(item)}];
    ++link.count;
    link.last.clear();
    if (data) {
        const DWORD size = DdeGetData(data, nullptr, 0, 0);
        std::string bytes(size, '\0');
        DdeGetData(data, reinterpret_cast<BYTE*>(bytes.data()), size, 0);
        // CF_TEXT ends at its zero.
        const size_t zero = bytes.find('\0');
        if (zero != std::string::npos) bytes.resize(zero);
        link.last = std::move(bytes);
    }
    return reinterpret_cast<HDDEDATA>(DDE_FACK);
}

void DdeClient::Pump(Milliseconds duration) {
    PumpUntil([] { return false; }, duration);
}

bool DdeClient::PumpUntil(const std::function<bool()>& done, Milliseconds timeout) {
    const Deadline deadline(timeout);
    for (;;) {
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        if (done()) return true;
        if (deadline.Passed()) return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    }
}

HCONV DdeClient::Connect(const std::string& service, const std::string& topic) {
    Pump(Milliseconds(0));
    const HCONV conv =
        DdeConnect(instance_, service.empty() ? nullptr : Hsz(service), topic.empty() ? nullptr : Hsz(topic), nullptr);
    if (!conv) Fail("DdeConnect " + service + "|" + topic + ": " + LastDdeError());
    return conv;
}

void DdeClient::Disconnect(HCONV conversation) {
    DdeDisconnect(conversation);
    for (auto it = links_.begin(); it != links_.end();) it = it->first.first == conversation ? links_.erase(it) : ++it;
}

std::optional<std::string> DdeClient::Request(HCONV conversation, const std::string& item, Milliseconds timeout) {
    Pump(Milliseconds(0));
    const HDDEDATA data = DdeClientTransaction(nullptr, 0, conversation, Hsz(item), CF_TEXT, XTYP_REQUEST,
                                               static_cast<DWORD>(timeout.count()), nullptr);
    if (!data) {
        Fail("XTYP_REQUEST " + item + ": " + LastDdeError());
        return std::nullopt;
    }
    const DWORD size = DdeGetData(data, nullptr, 0, 0);
    std::string bytes(size, '\0');
    DdeGetData(data, reinterpret_cast<BYTE*>(bytes.data()), size, 0);
    DdeFreeDataHandle(data);
    const size_t zero = bytes.find('\0');
    if (zero != std::string::npos) bytes.resize(zero);
    return bytes;
}

PokeResult DdeClient::Poke(HCONV conversation, const std::string& item, const std::string& data, Milliseconds timeout) {
    Pump(Milliseconds(0));
    PokeResult result;
    DWORD status = 0;
    const HDDEDATA answer = DdeClientTransaction(reinterpret_cast<BYTE*>(const_cast<char*>(data.c_str())),
                                                 static_cast<DWORD>(data.size() + 1), conversation, Hsz(item), CF_TEXT,
                                                 XTYP_POKE, static_cast<DWORD>(timeout.count()), &status);
    result.transactionOk = answer != nullptr;
    result.status = status;
    if (!answer) Fail("XTYP_POKE " + item + ": " + LastDdeError());
    return result;
}

bool DdeClient::Execute(HCONV conversation, const std::string& command, Milliseconds timeout) {
    Pump(Milliseconds(0));
    const HDDEDATA answer = DdeClientTransaction(reinterpret_cast<BYTE*>(const_cast<char*>(command.c_str())),
                                                 static_cast<DWORD>(command.size() + 1), conversation, nullptr, CF_TEXT,
                                                 XTYP_EXECUTE, static_cast<DWORD>(timeout.count()), nullptr);
    return answer != nullptr || Fail("XTYP_EXECUTE: " + LastDdeError());
}

bool DdeClient::StartAdvise(HCONV conversation, const std::string& item, Milliseconds timeout) {
    Pump(Milliseconds(0));
    links_[{conversation, item}];
    const HDDEDATA answer = DdeClientTransaction(nullptr, 0, conversation, Hsz(item), CF_TEXT, XTYP_ADVSTART,
                                                 static_cast<DWORD>(timeout.count()), nullptr);
    return answer != nullptr || Fail("XTYP_ADVSTART " + item + ": " + LastDdeError());
}

bool DdeClient::StopAdvise(HCONV conversation, const std::string& item, Milliseconds timeout) {
    Pump(Milliseconds(0));
    const HDDEDATA answer = DdeClientTransaction(nullptr, 0, conversation, Hsz(item), CF_TEXT, XTYP_ADVSTOP,
                                                 static_cast<DWORD>(timeout.count()), nullptr);
    return answer != nullptr || Fail("XTYP_ADVSTOP " + item + ": " + LastDdeError());
}

int DdeClient::AdviseCount(HCONV conversation, const std::string& item) const {
    const auto it = links_.find({conversation, item});
    return it == links_.end() ? 0 : it->second.count;
}

std::string DdeClient::LastAdvise(HCONV conversation, const std::string& item) const {
    const auto it = links_.find({conversation, item});
    return it == links_.end() ? std::string() : it->second.last;
}

// ---- Raw initiate ------------------------------------------------------------

namespace {

struct InitiateState {
    std::vector<DdePair> answers;
};

std::string AtomText(ATOM atom) {
    char text[256] = {};
    const UINT n = atom ? GlobalGetAtomNameA(atom, text, sizeof text) : 0;
    return std::string(text, n);
}

LRESULT CALLBACK InitiateWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_DDE_ACK) {
        // The answer to an initiate: wParam is the server's window, the low
        // and high words of lParam its service and topic atoms, which now
        // belong to us.
        auto* state = reinterpret_cast<InitiateState*>(GetWindowLongPtrA(window, GWLP_USERDATA));
        const ATOM service = LOWORD(lParam), topic = HIWORD(lParam);
        if (state) state->answers.push_back({AtomText(service), AtomText(topic), reinterpret_cast<HWND>(wParam)});
        if (service) GlobalDeleteAtom(service);
        if (topic) GlobalDeleteAtom(topic);
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

}  // namespace

std::optional<std::vector<DdePair>> DdeInitiate(const std::string& service, const std::string& topic,
                                                Milliseconds timeout) {
    static const char* const kClass = "KX305UiDdeInitiate";
    WNDCLASSA wc{};
    wc.lpfnWndProc = InitiateWindowProc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = kClass;
    RegisterClassA(&wc);  // fails harmlessly when registered before
    // A top-level window, not a message-only one: servers answer by sending
    // to the window named in the broadcast.
    const HWND window = CreateWindowA(kClass, "", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr, wc.hInstance, nullptr);
    if (!window) {
        FailWin32("CreateWindow");
        return std::nullopt;
    }
    InitiateState state;
    SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&state));
    const ATOM serviceAtom = service.empty() ? 0 : GlobalAddAtomA(service.c_str());
    const ATOM topicAtom = topic.empty() ? 0 : GlobalAddAtomA(topic.c_str());
    DWORD_PTR ignored = 0;
    // Each server answers by sending WM_DDE_ACK before its WM_DDE_INITIATE
    // handling returns, so the answers are in when the broadcast is through.
    SendMessageTimeoutA(HWND_BROADCAST, WM_DDE_INITIATE, reinterpret_cast<WPARAM>(window),
                        MAKELPARAM(serviceAtom, topicAtom), SMTO_ABORTIFHUNG, static_cast<UINT>(timeout.count()),
                        &ignored);
    // Late answers (servers that post) still get a moment.
    const Deadline settle(Milliseconds(100));
    while (!settle.Passed()) {
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
        std::this_thread::sleep_for(Milliseconds(10));
    }
    if (serviceAtom) GlobalDeleteAtom(serviceAtom);
    if (topicAtom) GlobalDeleteAtom(topicAtom);
    // Every acknowledged initiate opened a conversation: end each.
    for (const DdePair& p : state.answers)
        PostMessageA(p.server, WM_DDE_TERMINATE, reinterpret_cast<WPARAM>(window), 0);
    SetWindowLongPtrA(window, GWLP_USERDATA, 0);
    DestroyWindow(window);
    return state.answers;
}

}  // namespace kx305::ui
