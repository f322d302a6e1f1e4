// Clipboard, registry, screenshots and the simulators' control channel.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <thread>

#include "internal.h"
#include "png_writer.h"

namespace kx305::ui {

using namespace detail;

// ---- Clipboard ---------------------------------------------------------------

namespace {

bool OpenClipboardRetrying(Milliseconds retry) {
    const Deadline deadline(retry);
    while (!OpenClipboard(nullptr)) {
        if (deadline.Passed()) return FailWin32("OpenClipboard");
        std::this_thread::sleep_for(Milliseconds(10));
    }
    return true;
}

}  // namespace

std::optional<std::string> ReadClipboard(UINT format, Milliseconds retry) {
    if (!OpenClipboardRetrying(retry)) return std::nullopt;
    std::optional<std::string> bytes;
    if (HANDLE data = GetClipboardData(format)) {
        if (const void* p = GlobalLock(data)) {
            bytes.emplace(static_cast<const char*>(p), GlobalSize(data));
            GlobalUnlock(data);
        } else {
            FailWin32("GlobalLock of the clipboard data");
        }
    } else {
        FailWin32("no clipboard data of format " + std::to_string(format));
    }
    CloseClipboard();
    return bytes;
}

bool WriteClipboard(const std::string& bytes, UINT format, Milliseconds retry) {
    if (!OpenClipboardRetrying(retry)) return false;
    bool ok = false;
    EmptyClipboard();
    if (HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, bytes.size() ? bytes.size() : 1)) {
        if (void* p = GlobalLock(block)) {
            memcpy(p, bytes.data(), bytes.size());
            GlobalUnlock(block);
            ok = SetClipboardData(format, block) != nullptr;
        }
        // The clipboard owns the block only once SetClipboardData took it.
        if (!ok) {
            FailWin32("SetClipboardData");
            GlobalFree(block);
        }
    } else {
        FailWin32("GlobalAlloc");
    }
    CloseClipboard();
    return ok;
}

std::unique_ptr<ClipboardHold> ClipboardHold::Take(Milliseconds retry) {
    if (!OpenClipboardRetrying(retry)) return nullptr;
    return std::unique_ptr<ClipboardHold>(new ClipboardHold());
}

ClipboardHold::~ClipboardHold() { CloseClipboard(); }

// ---- Registry --------------------------------------------------------------------

std::optional<DWORD> RegistryValue::AsDword() const {
    if (type != REG_DWORD || data.size() != 4) return std::nullopt;
    DWORD v = 0;
    memcpy(&v, data.data(), 4);
    return v;
}

namespace {

std::optional<RegistryValue> ReadValue(const std::string& key, const std::string& name) {
    HKEY k = nullptr;
    LONG status = RegOpenKeyExA(HKEY_CURRENT_USER, key.c_str(), 0, KEY_QUERY_VALUE, &k);
    if (status != ERROR_SUCCESS) {
        Fail("HKCU\\" + key + ": " + Win32Message(static_cast<DWORD>(status)));
        return std::nullopt;
    }
    RegistryValue value;
    DWORD size = 0;
    status = RegQueryValueExA(k, name.c_str(), nullptr, &value.type, nullptr, &size);
    if (status == ERROR_SUCCESS) {
        value.data.resize(size);
        status =
            RegQueryValueExA(k, name.c_str(), nullptr, &value.type, reinterpret_cast<BYTE*>(value.data.data()), &size);
        value.data.resize(size);
    }
    RegCloseKey(k);
    if (status != ERROR_SUCCESS) {
        Fail("HKCU\\" + key + " value \"" + name + "\": " + Win32Message(static_cast<DWORD>(status)));
        return std::nullopt;
    }
    if ((value.type == REG_SZ || value.type == REG_EXPAND_SZ) && !value.data.empty() && value.data.back() == '\0')
        value.data.pop_back();
    return value;
}

bool WriteValue(const std::string& key, const std::string& name, DWORD type, const void* data, DWORD size) {
    HKEY k = nullptr;
    LONG status = RegCreateKeyExA(HKEY_CURRENT_USER, key.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &k, nullptr);
    if (status != ERROR_SUCCESS) return Fail("HKCU\\" + key + ": " + Win32Message(static_cast<DWORD>(status)));
    status = RegSetValueExA(k, name.c_str(), 0, type, static_cast<const BYTE*>(data), size);
    RegCloseKey(k);
    return status == ERROR_SUCCESS ||
           Fail("HKCU\\" + key + " value \"" + name + "\": " + Win32Message(static_cast<DWORD>(status)));
}

}  // namespace

std::optional<DWORD> ReadRegistryDword(const std::string& key, const std::string& name) {
    const auto value = ReadValue(key, name);
    if (!value) return std::nullopt;
    const auto dword = value->AsDword();
    if (!dword)
        Fail("HKCU\\" + key + " value \"" + name + "\" is not a REG_DWORD (type " + std::to_string(value->type) + ")");
    return dword;
}

std::optional<std::string> ReadRegistryString(const std::string& key, const std::string& name) {
    const auto value = ReadValue(key, name);
    if (!value) return std::nullopt;
    if (value->type != REG_SZ) {
        Fail("HKCU\\" + key + " value \"" + name + "\" is not a REG_SZ (type " + std::to_string(value->type) + ")");
        return std::nullopt;
    }
    return value->data;
}

std::optional<std::map<std::string, RegistryValue>> ReadRegistryValues(const std::string& key) {
    HKEY k = nullptr;
    const LONG status = RegOpenKeyExA(HKEY_CURRENT_USER, key.c_str(), 0, KEY_QUERY_VALUE, &k);
    if (status != ERROR_SUCCESS) {
        Fail("HKCU\\" + key + ": " + Win32Message(static_cast<DWORD>(status)));
        return std::nullopt;
    }
    std::vector<std::string> names;
    for (DWORD i = 0;; ++i) {
        char name[16384];
        DWORD length = sizeof name;
        if (RegEnumValueA(k, i, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        names.emplace_back(name, length);
    }
    RegCloseKey(k);
    std::map<std::string, RegistryValue> values;
    for (const std::string& name : names) {
        auto value = ReadValue(key, name);
        if (!value) return std::nullopt;
        values[name] = std::move(*value);
    }
    return values;
}

bool WriteRegistryDword(const std::string& key, const std::string& name, DWORD value) {
    return WriteValue(key, name, REG_DWORD, &value, sizeof value);
}

bool WriteRegistryString(const std::string& key, const std::string& name, const std::string& value) {
    return WriteValue(key, name, REG_SZ, value.c_str(), static_cast<DWORD>(value.size() + 1));
}

bool DeleteRegistryTree(const std::string& key) {
    if (key.empty()) return Fail("refusing to delete all of HKEY_CURRENT_USER");
    // With a subkey name, RegDeleteTree removes that key itself as well.
    const LONG status = RegDeleteTreeA(HKEY_CURRENT_USER, key.c_str());
    if (status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND) return true;
    return Fail("HKCU\\" + key + ": " + Win32Message(static_cast<DWORD>(status)));
}

bool RegistryKeyExists(const std::string& key) {
    HKEY k = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, key.c_str(), 0, KEY_QUERY_VALUE, &k) != ERROR_SUCCESS) return false;
    RegCloseKey(k);
    return true;
}

// ---- Screenshots -----------------------------------------------------------------

namespace {

// The rectangle (screen coordinates) of the screen as a PNG file.
bool SaveScreenArea(const std::string& path, int left, int top, int width, int height) {
    if (width <= 0 || height <= 0) return Fail("no screen (is there a display?)");

    HDC screen = GetDC(nullptr);
    if (!screen) return FailWin32("GetDC of the screen");
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
    bool ok = memory && bitmap;
    std::string bgra;
    if (ok) {
        HGDIOBJ old = SelectObject(memory, bitmap);
        ok = BitBlt(memory, 0, 0, width, height, screen, left, top, SRCCOPY | CAPTUREBLT) != FALSE;
        SelectObject(memory, old);
        if (!ok) FailWin32("BitBlt from the screen");
    } else {
        FailWin32("CreateCompatibleBitmap");
    }
    if (ok) {
        BITMAPINFO info{};
        info.bmiHeader.biSize = sizeof info.bmiHeader;
        info.bmiHeader.biWidth = width;
        info.bmiHeader.biHeight = -height;  // top row first
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        info.bmiHeader.biCompression = BI_RGB;
        bgra.resize(size_t(width) * height * 4);
        ok = GetDIBits(memory, bitmap, 0, height, bgra.data(), &info, DIB_RGB_COLORS) == height;
        if (!ok) FailWin32("GetDIBits");
    }
    if (bitmap) DeleteObject(bitmap);
    if (memory) DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    if (!ok) return false;

    std::string rgb(size_t(width) * height * 3, '\0');
    for (size_t i = 0, o = 0; i < bgra.size(); i += 4, o += 3) {
        rgb[o] = bgra[i + 2];
        rgb[o + 1] = bgra[i + 1];
        rgb[o + 2] = bgra[i];
    }
    const std::string png = EncodePng(static_cast<uint32_t>(width), static_cast<uint32_t>(height), rgb);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(png.data(), static_cast<std::streamsize>(png.size()));
    out.close();
    return (!png.empty() && out) || Fail("cannot write " + path);
}

}  // namespace

bool SaveScreenshot(const std::string& path) {
    return SaveScreenArea(path, GetSystemMetrics(SM_XVIRTUALSCREEN), GetSystemMetrics(SM_YVIRTUALSCREEN),
                          GetSystemMetrics(SM_CXVIRTUALSCREEN), GetSystemMetrics(SM_CYVIRTUALSCREEN));
}

bool SaveWindowScreenshot(HWND window, const std::string& path) {
    RECT r{};
    if (!IsWindow(window) || !GetWindowRect(window, &r)) return Fail("no window to photograph");
    // Clipped to the screen: a window partly off the screen has nothing to
    // show there.
    const int screenLeft = GetSystemMetrics(SM_XVIRTUALSCREEN), screenTop = GetSystemMetrics(SM_YVIRTUALSCREEN);
    const int screenRight = screenLeft + GetSystemMetrics(SM_CXVIRTUALSCREEN);
    const int screenBottom = screenTop + GetSystemMetrics(SM_CYVIRTUALSCREEN);
    const int left = (std::max)(int(r.left), screenLeft), top = (std::max)(int(r.top), screenTop);
    const int right = (std::min)(int(r.right), screenRight), bottom = (std::min)(int(r.bottom), screenBottom);
    return SaveScreenArea(path, left, top, right - left, bottom - top);
}

// ---- Simulator control -----------------------------------------------------------

std::optional<std::string> SimulatorControlAddress(const std::string& port) {
    std::string name = port;
    if (name.rfind("\\\\.\\", 0) == 0) name = name.substr(4);
    for (char& c : name) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
    const std::string variable = "KX305_CONTROL_" + name;
    char value[256] = {};
    const DWORD n = GetEnvironmentVariableA(variable.c_str(), value, sizeof value);
    if (n == 0 || n >= sizeof value) {
        Fail(variable + " is not set (the tests get it from scripts/wine-sim-run)");
        return std::nullopt;
    }
    return std::string(value, n);
}

namespace {

class Winsock {
public:
    Winsock() {
        WSADATA data;
        ok_ = WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }
    ~Winsock() {
        if (ok_) WSACleanup();
    }
    Winsock(const Winsock&) = delete;
    Winsock& operator=(const Winsock&) = delete;
    bool ok() const { return ok_; }

private:
    bool ok_ = false;
};

bool FailSocket(const std::string& what) {
    return Fail(what + ": " + Win32Message(static_cast<DWORD>(WSAGetLastError())));
}

}  // namespace

std::optional<std::string> SimulatorCommand(const std::string& port, const std::string& command, Milliseconds timeout) {
    const auto address = SimulatorControlAddress(port);
    if (!address) return std::nullopt;
    const size_t colon = address->rfind(':');
    if (colon == std::string::npos) {
        Fail("control address \"" + *address + "\" is not host:port");
        return std::nullopt;
    }
    if (command.find('\n') != std::string::npos) {
        Fail("one command per call");
        return std::nullopt;
    }
    Winsock winsock;
    if (!winsock.ok()) {
        FailSocket("WSAStartup");
        return std::nullopt;
    }
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (getaddrinfo(address->substr(0, colon).c_str(), address->substr(colon + 1).c_str(), &hints, &found) != 0 ||
        !found) {
        FailSocket("getaddrinfo " + *address);
        return std::nullopt;
    }
    const SOCKET s = socket(found->ai_family, found->ai_socktype, found->ai_protocol);
    std::optional<std::string> reply;
    if (s == INVALID_SOCKET) {
        FailSocket("socket");
    } else {
        const DWORD ms = static_cast<DWORD>(timeout.count());
        setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&ms), sizeof ms);
        setsockopt(s, SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&ms), sizeof ms);
        const std::string line = command + "\n";
        if (connect(s, found->ai_addr, static_cast<int>(found->ai_addrlen)) != 0) {
            FailSocket("connect " + *address);
        } else if (send(s, line.data(), static_cast<int>(line.size()), 0) != static_cast<int>(line.size())) {
            FailSocket("send");
        } else {
            std::string in;
            char buffer[4096];
            for (;;) {
                const size_t newline = in.find('\n');
                if (newline != std::string::npos) {
                    in.resize(newline);
                    if (!in.empty() && in.back() == '\r') in.pop_back();
                    reply = in;
                    break;
                }
                const int n = recv(s, buffer, sizeof buffer, 0);
                if (n <= 0) {
                    if (n == 0)
                        Fail("the simulator closed the control connection without a reply");
                    else
                        FailSocket("recv");
                    break;
                }
                in.append(buffer, static_cast<size_t>(n));
            }
        }
        closesocket(s);
    }
    freeaddrinfo(found);
    return reply;
}

}  // namespace kx305::ui
